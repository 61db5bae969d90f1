// A contact sheet: pictures side by side, each scaled into a tile with its
// caption under it.  Captions are drawn with FreeType from a system font.
#pragma once

#include "ImageIO.h"

#include <string>
#include <vector>

namespace talvine::cli {

struct SheetEntry {
    std::string caption; // UTF-8
    Picture picture;
};

// `warning` receives a line when captions could not be drawn (no font).
Picture contactSheet(const std::vector<SheetEntry>& entries, int columns, std::string* warning);

} // namespace talvine::cli
