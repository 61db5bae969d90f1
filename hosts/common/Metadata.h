// What a photo carries besides its pixels, kept from the file a host opened
// to the file it writes: EXIF, XMP and IPTC, and the ICC colour profile.  Also
// the two things a host needs to open and save photos faithfully: the EXIF
// orientation applied to the pixels, and the JPEG quality a file was written
// at.  No Qt here: every host can link it.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace talvine::hosts {

struct MetadataError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class PhotoMetadata {
  public:
    PhotoMetadata();
    ~PhotoMetadata();
    PhotoMetadata(const PhotoMetadata&);
    PhotoMetadata& operator=(const PhotoMetadata&);

    // False when the library was built without its metadata reader: read()
    // then always gives empty metadata and nothing is written.
    static bool supported();

    // The metadata of a picture file.  A file without any gives empty
    // metadata; a file that cannot be read or parsed throws MetadataError.
    // Metadata over the limits of MetadataScan.h, or damaged, is left out
    // before it is parsed, and so is a colour profile that is not a whole RGB
    // profile; each such omission is told in `notes`.  With `exifOnly`
    // nothing but the EXIF is parsed (for the orientation of a picture whose
    // metadata is not to be kept).
    static PhotoMetadata read(const std::string& path, std::vector<std::string>* notes = nullptr,
                              bool exifOnly = false);
    // The same from a file's bytes.
    static PhotoMetadata fromBytes(const std::vector<uint8_t>& file,
                                   std::vector<std::string>* notes = nullptr,
                                   bool exifOnly = false);

    bool empty() const { return !hasExif() && !hasIcc() && !hasXmp() && !hasIptc(); }
    bool hasExif() const;
    bool hasXmp() const;
    bool hasIptc() const;
    bool hasIcc() const;
    const std::vector<uint8_t>& icc() const;
    // The EXIF orientation, 1 (upright) to 8; 1 when absent or out of range.
    int orientation() const;
    // "Make Model" of the camera, when the EXIF says.
    std::string camera() const;

    // `file`, an encoded JPEG, PNG, TIFF or WebP of a picture of width x
    // height, with this metadata written into it: the orientation set to
    // upright (the pixels are written as shown), the pixel dimensions set to
    // the picture's, the EXIF thumbnail (a picture of what was opened) and
    // every EXIF field that describes how the input stored its pixels
    // (strips, samples, compression) dropped.  `orientation` is what the tag
    // then says where there is one: 1 for pixels turned upright, the stored
    // value for pixels left as stored.  The colour profile is written too
    // when `withProfile` (a writer that put it in with the pixels passes
    // false).  What the format cannot take (IPTC in WebP, an XMP packet
    // too large for a JPEG segment) is left out and told in `notes`; throws
    // MetadataError when the file cannot take the metadata at all.
    std::vector<uint8_t> writeInto(const std::vector<uint8_t>& file, int32_t width, int32_t height,
                                   int orientation = 1, bool withProfile = true,
                                   std::vector<std::string>* notes = nullptr) const;

    struct Data; // what exiv2 read, and the profile

  private:
    std::shared_ptr<const Data> data_;
};

// The quality (1 to 100) whose IJG scaling of the standard tables comes
// closest to the luminance and chrominance quantisation tables of a JPEG
// file's bytes; 0 when the bytes are not a JPEG with quantisation tables.
int estimateJpegQuality(const std::vector<uint8_t>& file);

// Turns a picture of 3 bytes a pixel, top row first, so that it shows as
// EXIF orientation `orientation` says it should (2 to 8; 1 and any other
// value leave it).  5 to 8 swap width and height.
void applyOrientation(std::vector<uint8_t>& rgb, int32_t& width, int32_t& height, int orientation);

// What applyOrientation does, in words for a user ("rotated 90° clockwise");
// empty for upright.
std::string orientationText(int orientation);

} // namespace talvine::hosts
