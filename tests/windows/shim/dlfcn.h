// The few dlfcn calls the test support makes, over LoadLibrary, so that the
// portable tests build for Windows unchanged.  Paths from the build machine
// ("/work/...") are reached through Wine's Z: drive.
#pragma once

#include <windows.h>

#include <string>

#define RTLD_NOW 2
#define RTLD_LOCAL 0

inline const char*& talvineDlError() {
    static const char* error = nullptr;
    return error;
}

inline void* dlopen(const char* path, int) {
    std::string name = path;
    if (!name.empty() && name[0] == '/') name = "Z:" + name;
    HMODULE module = LoadLibraryA(name.c_str());
    talvineDlError() = module ? nullptr : "LoadLibrary failed";
    return reinterpret_cast<void*>(module);
}

inline void* dlsym(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

inline int dlclose(void* module) {
    return FreeLibrary(static_cast<HMODULE>(module)) ? 0 : 1;
}

inline const char* dlerror() {
    const char* error = talvineDlError();
    talvineDlError() = nullptr;
    return error ? error : "no error";
}
