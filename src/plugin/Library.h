// Start-up and shut-down of the library, in the order the host may rely on.
// The module's load hook calls them in Talvine.so; a host that links the
// library's code directly (the command-line tool, tests) calls them itself.
#pragma once

namespace talvine::tk {
class Application;
}

namespace talvine {

// Starts the library unless it runs already.  False when start-up was
// stopped (the shared memory manager could not be set up): every entry point
// then does nothing, and later calls return false too.  After stopLibrary it
// starts afresh, as a module that was unloaded and loaded again.
bool startLibrary();
void stopLibrary();
bool libraryRunning();

// The library's application object: made by startLibrary, before the five
// dialogs it owns, and destroyed with them by stopLibrary.  Throws
// tk::ToolkitError while the library is not running.
tk::Application& application();
bool hasApplication();

} // namespace talvine
