// Picture files for the command-line host: PNG through libpng and JPEG
// through libjpeg(-turbo), chosen by the file's extension.  Every picture is
// 8-bit RGB in memory; other inputs are converted and the conversion is
// described in `notes` so that the tool can say so.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace talvine::cli {

struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb; // width * height * 3 bytes, row-major, top row first
};

// Any failure to read or write a picture: one line for the user.
struct PictureError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class Format { Png, Jpeg };

// By extension (.png, .jpg, .jpeg, any case); throws PictureError otherwise.
Format formatOf(const std::string& path);

Picture readPicture(const std::string& path, std::vector<std::string>* notes = nullptr);

// Writes to a temporary file beside `path` and renames it into place, so that
// a failed write never leaves a half-written output.
void writePicture(const std::string& path, const Picture& picture, int jpegQuality = 92);

} // namespace talvine::cli
