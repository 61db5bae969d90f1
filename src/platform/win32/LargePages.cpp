#include "platform/LargePages.h"

namespace talvine::platform {

// Windows gives large pages only to processes holding the "lock pages in
// memory" privilege, and only for blocks allocated as such: no hint here.
void adviseLargePages(void*, size_t) {}

} // namespace talvine::platform
