// The command table: nine captions in code page 1252, built at start-up.
#pragma once

#include <cstdint>

namespace talvine::params {

inline constexpr int32_t kCommandCount = 9;

void buildCommandTable();
void releaseCommandTable();

} // namespace talvine::params
