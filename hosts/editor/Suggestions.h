// What the editor suggests while the tilt or the perspective dialog waits
// for points: the picture's own lines, found by the upright analysis, turned
// into the two points that level it or the four corners that make its
// verticals vertical.  A pick near a suggestion snaps to it exactly.  No Qt.
#pragma once

#include "EditorCore.h"
#include "Upright.h"

#include <optional>
#include <string>
#include <vector>

namespace talvine::editor {

class Suggestions {
  public:
    // Analyses `picture` for command 3 (two points) or 9 (four corners);
    // any other command clears.
    void analyse(const Picture& picture, int command);
    void clear();

    // The suggested points, numbered as the dialog's pick boxes.
    const std::vector<Marker>& points() const { return points_; }
    // The straight lines found, those the estimate used marked.
    const std::vector<analysis::Line>& lines() const { return lines_; }
    // Why there is no suggestion ("too few straight lines", "lines
    // disagree"); empty when there is one or nothing was asked.
    const std::string& refusal() const { return refusal_; }
    int command() const { return command_; }

    // The suggestion nearest to (x, y) within `tolerance` picture pixels.
    std::optional<Marker> near(double x, double y, double tolerance) const;

  private:
    int command_ = 0;
    std::vector<Marker> points_;
    std::vector<analysis::Line> lines_;
    std::string refusal_;
};

// Two whole points inside a width x height picture whose line has, as the
// tilt dialog computes it, the slope closest to `degrees` (counter-clockwise
// as seen): the first at the centre, the second about 45 % of the width to
// its right (or left for a steep slope).
std::pair<Marker, Marker> levelPoints(int32_t width, int32_t height, double degrees);

} // namespace talvine::editor
