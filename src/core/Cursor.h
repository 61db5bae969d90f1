// The application-wide cursor as the commands see it: the hourglass while a
// picture is computed, then the default arrow (not whatever was there before).
// The form toolkit's application object owns the cursor: it installs itself
// as the sink, so views and tests see every change there.  Without an
// application the setting is only recorded.
#pragma once

namespace talvine {

enum class Cursor { Default, Hourglass };

using CursorSink = void (*)(Cursor);

void setCursor(Cursor cursor);
Cursor currentCursor();
void setCursorSink(CursorSink sink);

// Shows the hourglass for its lifetime, then the default arrow.
class BusyCursor {
  public:
    BusyCursor() { setCursor(Cursor::Hourglass); }
    ~BusyCursor() { setCursor(Cursor::Default); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace talvine
