// What the editor suggests while the tilt or the perspective dialog waits
// for points: the picture's own lines, found by the upright analysis, turned
// into the two points that level it or the four corners that make its
// verticals vertical.  A pick near a suggestion snaps to it exactly.  No Qt.
#pragma once

#include "EditorCore.h"
#include "Upright.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talvine::editor {

class Suggestions {
  public:
    // Analyses `picture` for command 3 (two points) or 9 (four corners);
    // for any other command (0: none) it finds the lines alone.
    void analyse(const Picture& picture, int command);
    void clear();
    // Whether this holds an analysis (possibly a refused one).
    bool analysed() const { return analysed_; }

    // The suggested points, numbered as the dialog's pick boxes.
    const std::vector<Marker>& points() const { return points_; }
    // The straight lines found, those the estimate used marked.
    const std::vector<analysis::Line>& lines() const { return lines_; }
    // Why there is no suggestion ("too few straight lines", "lines
    // disagree"); empty when there is one or nothing was asked.
    const std::string& refusal() const { return refusal_; }
    int command() const { return command_; }
    // What the analysis found for the level, whatever the command: the
    // angle (degrees, counter-clockwise as seen) or, in `refusal`, why not.
    std::optional<double> level() const { return level_; }

    // The suggestion nearest to (x, y) within `tolerance` picture pixels.
    std::optional<Marker> near(double x, double y, double tolerance) const;

  private:
    bool analysed_ = false;
    int command_ = 0;
    std::optional<double> level_;
    std::vector<Marker> points_;
    std::vector<analysis::Line> lines_;
    std::string refusal_;
};

// Two whole points inside a width x height picture whose line has, as the
// tilt dialog computes it, the slope closest to `degrees` (counter-clockwise
// as seen, from -90 to 90): the first at the centre, the second on the line
// through it, from 80 % to 95 % of the way to the picture's edge.  Nothing
// when the picture has no room for a second point.
std::optional<std::pair<Marker, Marker>> levelPoints(int32_t width, int32_t height, double degrees);

} // namespace talvine::editor
