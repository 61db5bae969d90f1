// A picture in memory as the hosts hold it: 8-bit RGB, no gap.
#pragma once

#include <cstdint>
#include <vector>

namespace talvine::hosts {

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb; // width * height * 3 bytes, row-major, top row first
};

} // namespace talvine::hosts
