// The command-line host's frame: the subcommands, their arguments, and the
// one error type that becomes a single line on stderr.
#pragma once

#include "ImageIO.h"

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace talvine::cli {

// A failure for the user: printed as "talvine: <message>", exit code 1.
struct UserError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// A command line that does not parse: printed with the usage, exit code 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The arguments after the subcommand's name: options (--name or --name value)
// and positional words, in order.
class Args {
  public:
    // Given the positional words left once the options are taken, a batch
    // returns the IN OUT pair of the one file this process runs.
    using Batch = std::function<std::vector<std::string>(const std::vector<std::string>&)>;

    explicit Args(std::vector<std::string> words) : words_(std::move(words)) {}
    // The positional words are a batch's inputs: positional(2) hands them to
    // `batch`, and any other count is refused.
    void setBatch(Batch batch) { batch_ = std::move(batch); }
    // Removes and returns "--name"'s value (the next word), if present.
    std::optional<std::string> option(const std::string& name);
    // Removes and returns the `count` words after "--name".
    std::optional<std::vector<std::string>> options(const std::string& name, size_t count);
    // Removes "--name" and says whether it was there.
    bool flag(const std::string& name);
    // The sampling asked for: interpolated between neighbouring pixels by
    // default (--bilinear and --smooth say so too), as photographers expect
    // of a turn or a resize; --nearest (or --basic, the dialogs' name) takes
    // the nearest pixel.  Both at once are a usage error.
    bool interpolate();
    // The remaining words; any left-over option ("-x" or "--name", but not
    // "-", standard input or output) is a usage error.
    std::vector<std::string> positional(size_t expected);
    size_t positional_count() const { return words_.size(); }

  private:
    std::vector<std::string> words_;
    Batch batch_;
};

// Parsers for option values; each throws UsageError naming the option.
// What the tool tells besides errors: conversions, metadata left out,
// points picked.  Each line names the file it is about (`about`, or else the
// input being read), so that the lines of a batch can be told apart;
// --quiet silences them.  Warnings are no notes: they are always said.
void note(const std::string& text, const std::string& about = {});
void setQuiet(bool quiet);
void setNoteInput(const std::string& path);
// How an input was converted on reading ("16-bit channels reduced to 8
// bits"): a note, except in a batch, whose summary says each such thing once
// with the files it concerns; `channel` is where a batch's worker sends them
// (-1: none, said as notes).
void conversionNote(const std::string& text);
void setConversionChannel(int channel);

int parseInt(const std::string& text, const std::string& what, int lo, int hi);
// A slider's position as a whole number from lo to hi, or as the dialog
// shows it, a percentage, `perPercent` positions to the percent ("1.9%" of a
// rate is 19 with perPercent 10); any other value is a usage error.
int parsePosition(const std::string& text, const std::string& what, int lo, int hi,
                  double perPercent);
struct IntPoint {
    int x;
    int y;
};
IntPoint parsePoint(const std::string& text, const std::string& what); // "X,Y"

struct Subcommand {
    std::string name;
    std::string synopsis; // one line, after "talvine NAME "
    std::string help;     // what it does, options
    std::function<int(Args&)> run;
};

// Every subcommand, in the order the usage lists them (Subcommands.cpp).
const std::vector<Subcommand>& subcommands();

} // namespace talvine::cli
