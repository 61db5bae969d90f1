// Start-up and shut-down of the library, in the order the host may rely on.
// The module's load hook calls them in Talvine.so; a host that links the
// library's code directly (the command-line tool, tests) calls them itself.
#pragma once

namespace talvine {

// Runs once; later calls return the first outcome.  False when start-up was
// stopped (the shared memory manager could not be set up): every entry point
// then does nothing.
bool startLibrary();
void stopLibrary();
bool libraryRunning();

} // namespace talvine
