// Command 6 driven by a subcommand other than crop: straighten ends with it.
#pragma once

#include "HostSession.h"

#include <array>

namespace talvine::cli {

// Types the rectangle (left margin, top margin, width, height: inside the
// host's picture) into the crop dialog in the free format and applies it;
// throws UserError with the dialog's message when it refuses.
void cropPicture(HostSession& host, const std::array<int, 4>& rect);

} // namespace talvine::cli
