// Writing an output file so that nothing half-written is ever left behind.
//
// A regular file (new, or one written over) is written to a temporary beside
// it and renamed into place once complete and synced: the output appears
// whole or not at all, and a file written over keeps its permissions.  A
// symbolic link is followed: the file it names is replaced, the link stays.
// An output that exists and is not a regular file (a device such as
// /dev/null, a FIFO, a socket) is written to directly, as cp does; it is
// never replaced.
//
// The temporary is named "NAME.talvine-XXXXXX" after the output's name NAME
// (shortened where needed, so that it fits wherever the output's name fits).
// SIGINT, SIGTERM and SIGHUP remove it before the process ends of the signal;
// only SIGKILL, which no process can catch, leaves one, under that name.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace talvine::cli {

// Writes `path` by calling `fill` with a stream open on it (a temporary or,
// for a non-regular output, the output itself).  Any failure, of `fill`
// (by exception) or of the file system, is a PictureError that names `path`,
// and removes the temporary.
void writeFileSafely(const std::string& path, const std::function<void(std::FILE*)>& fill);

// The name a temporary for `name` (a bare file name, no directory) takes:
// "NAME.talvine-" shortened to leave room for six more characters within
// `nameMax` bytes, cut between UTF-8 characters.
std::string temporaryPrefix(const std::string& name, size_t nameMax = 255);

// Installs the handlers that remove live temporaries at SIGINT, SIGTERM and
// SIGHUP, then end the process of that signal; SIGPIPE is ignored, so that a
// write to a closed pipe fails as an error (EPIPE) instead of killing the
// tool.  Called once at start.
void installSignalHandlers();

// For a process that waits on others (a batch): the signals are recorded
// instead of ending it, so that it can stop its workers and report.  After a
// fork, a worker calls it with false.
void deferSignals(bool defer);
// The signal recorded while deferred, or 0.
int deferredSignal();
// Ends the process of `signal` as the default action would.
[[noreturn]] void dieOfSignal(int signal);

} // namespace talvine::cli
