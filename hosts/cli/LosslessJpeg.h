// Quarter turns and mirrors of a JPEG without decoding it: the compressed
// blocks are rearranged (TurboJPEG's tjTransform), so nothing is lost, as
// jpegtran and photo viewers do.  Only a picture whose sides are whole
// numbers of blocks where the turn needs it can be turned so exactly;
// another goes through the plug-in and is encoded again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talvine::cli {

// The eight ways a picture can be turned or mirrored, as TurboJPEG numbers
// them (TJXOP_*).
enum class Dihedral { None, MirrorH, MirrorV, Transpose, Transverse, Cw, Half, Ccw };

// The one operation that does `then` after `first`.
Dihedral compose(Dihedral first, Dihedral then);
// What turns stored pixels upright for EXIF orientation 1 to 8.
Dihedral uprightFor(int orientation);

// `jpeg` turned by `op` with every block kept; nothing, with `why` set, when
// the picture's size does not allow it exactly or the file cannot be read,
// and nothing with `why` empty when it declares more than `maxPixels` or
// more blocks than its bytes can code (the decoder's refusal says so).  The
// file's own markers (metadata) are not copied.
std::optional<std::vector<uint8_t>> transformJpeg(const std::vector<uint8_t>& jpeg, Dihedral op,
                                                  int64_t maxPixels, int32_t& width,
                                                  int32_t& height, std::string& why);

} // namespace talvine::cli
