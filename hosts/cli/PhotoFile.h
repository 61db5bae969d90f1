// A photo's metadata through the tool: read with the input, its EXIF
// orientation applied to the pixels before the command (so that the points a
// user gives refer to the picture as shown), and written back into the output
// with the orientation set upright and the dimensions updated.
#pragma once

#include "Cli.h"
#include "HostSession.h"
#include "ImageIO.h"

#include <string>

namespace talvine::cli {

struct PhotoOptions {
    bool strip = false;     // write no metadata
    bool autoOrient = true; // turn the pixels as the EXIF orientation says
};
PhotoOptions photoOptions(Args& args);
// After the host read `path`: reads its metadata into the host and turns the
// pixels upright, saying so on stderr.  Metadata that cannot be read is told
// on stderr and left out.
void readPhoto(HostSession& host, const std::string& path, const PhotoOptions& options);

// Writes the host's picture with the metadata it kept, as atomically as
// writePicture: the output appears whole or not at all.  Metadata the
// output's format cannot take is told on stderr and left out.
void writePhoto(const HostSession& host, const std::string& path, const WriteOptions& write,
                const PhotoOptions& options);

} // namespace talvine::cli
