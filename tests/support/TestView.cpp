// A stand-in for the view module, built twice: with the library's own build
// identifier (TALVINE_TESTVIEW_SAME) and with another one.  Its entry makes
// no backend; it only counts its calls, so that a test sees whether the
// library went as far as calling it.
#ifdef TALVINE_TESTVIEW_SAME
#include "plugin/ViewChoice.h"
#include "toolkit/BuildIdentifier.h"
#endif

#define TESTVIEW_EXPORT extern "C" __attribute__((visibility("default")))

extern "C" {
__attribute__((visibility("default"))) int talvine_testview_calls = 0;
}

TESTVIEW_EXPORT const char* talvine_qt_view_build() {
#ifdef TALVINE_TESTVIEW_SAME
    return talvine::tk::buildIdentifier();
#else
    return "Talvine 0.9, another compiler, toolkit 0";
#endif
}

TESTVIEW_EXPORT void* talvine_qt_view_create(void*) {
    ++talvine_testview_calls;
    return nullptr;
}
