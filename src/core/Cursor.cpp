#include "core/Cursor.h"

namespace talvine {
namespace {
Cursor gCursor = Cursor::Default;
CursorSink gSink = nullptr;
} // namespace

void setCursor(Cursor cursor) {
    gCursor = cursor;
    if (gSink) gSink(cursor);
}

Cursor currentCursor() { return gCursor; }
void setCursorSink(CursorSink sink) { gSink = sink; }

} // namespace talvine
