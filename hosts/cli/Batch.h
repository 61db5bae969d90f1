// Batches: one subcommand over many pictures, each in a process of its own so
// that every file meets the library as a fresh host would.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace talvine::cli {

// Where a batch's outputs go and how many files run at once.
struct BatchOptions {
    std::optional<std::string> dir;     // -o DIR: DIR/<input's file name>
    std::optional<std::string> pattern; // --output-pattern P: %s, %e, %%
    int jobs = 1;                       // -j N
};

// Takes -o DIR, --output-pattern P and -j N out of the words; nothing when
// the words name no batch.  Throws UsageError for a malformed batch option.
std::optional<BatchOptions> takeBatchOptions(std::vector<std::string>& words);

// The output name a pattern gives an input: %s its file name without the
// extension, %e the extension (without the dot), %% a percent sign.
std::string patternOutput(const std::string& pattern, const std::string& input);

// Thrown in the batch's own process once every file has run; main returns
// its code.
struct BatchFinished {
    int code;
};

// Runs every input in a child process of its own, at most `jobs` at once.
// In each child it returns {input, output}, and the subcommand carries on
// as for a single file; in the calling process it throws BatchFinished.
std::vector<std::string> runBatch(const BatchOptions& options,
                                  const std::vector<std::string>& inputs);

// What a batch's file writes on stderr before its error line: on a terminal,
// what wipes the progress line, so that the error starts a line of its own.
const char* batchLineStart();

// In a worker process of a batch, the input it runs; empty otherwise.  Its
// error names it, so that the lines of several files can be told apart.
const std::string& batchWorkerInput();

inline constexpr const char* kBatchHelp =
    "Batches (subcommands that take IN OUT):\n"
    "  talvine SUBCOMMAND [OPTIONS] -o DIR IN...\n"
    "  talvine SUBCOMMAND [OPTIONS] --output-pattern PATTERN IN...\n"
    "    -o DIR         write each result as DIR/<the input's file name>; DIR must\n"
    "                   exist\n"
    "    --output-pattern PATTERN\n"
    "                   name each result after its input: %s is the input's file\n"
    "                   name without its extension, %e the extension, %% a percent\n"
    "                   sign (out/%s-tilted.jpg)\n"
    "    -j N           run N files at once (default 1; -j alone: one per core)\n"
    "  Each file runs as it would alone; a file that fails does not stop the\n"
    "  others.  A summary ends the run, whose exit code is 1 if any file failed.\n";

} // namespace talvine::cli
