// The plug-in's menu texts are code page 1252; hosts show them as UTF-8.
#pragma once

#include <string>

namespace talvine::hosts {

// Code page 1252 text as UTF-8; null gives an empty text.
std::string fromCp1252(const char* text);

} // namespace talvine::hosts
