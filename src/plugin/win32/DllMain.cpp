// Talvine.dll's load hook: starts the library when a process loads the
// module and shuts it down when the module is freed.
#include "plugin/Library.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        // A start-up that fails leaves the entry points doing nothing; the
        // module stays loaded, as it does on other systems.
        talvine::startLibrary();
        break;
    case DLL_PROCESS_DETACH:
        // At process exit (reserved not null) the other threads are gone
        // already and nothing is left to give back.
        if (!reserved) talvine::stopLibrary();
        break;
    default:
        break;
    }
    return TRUE;
}
