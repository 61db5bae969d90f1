// The message box hook both systems' services share: set by the form
// toolkit once it exists, consulted before the system's own way of showing
// a set-up failure.
#include "platform/SystemServices.h"

namespace talvine::platform {
namespace {
MessageBoxHook gMessageBoxHook = nullptr;
} // namespace

MessageBoxHook setMessageBoxHook(MessageBoxHook hook) {
    const MessageBoxHook previous = gMessageBoxHook;
    gMessageBoxHook = hook;
    return previous;
}

bool showThroughHook(const char* text, const char* caption) {
    const MessageBoxHook hook = gMessageBoxHook;
    if (!hook) return false;
    hook(text, caption);
    return true;
}

} // namespace talvine::platform
