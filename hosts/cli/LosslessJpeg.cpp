#include "LosslessJpeg.h"

#include <turbojpeg.h>

#include <array>
#include <memory>

namespace talvine::cli {
namespace {

// Each operation as the matrix that moves a pixel's offset from the centre,
// x to the right and y downwards, in TJXOP order.
using Matrix = std::array<int, 4>; // row-major 2 x 2
constexpr std::array<Matrix, 8> kMatrices = {{
    {1, 0, 0, 1},   // none
    {-1, 0, 0, 1},  // mirror left to right
    {1, 0, 0, -1},  // mirror top to bottom
    {0, 1, 1, 0},   // transpose: across the top-left to bottom-right diagonal
    {0, -1, -1, 0}, // transverse: across the other diagonal
    {0, -1, 1, 0},  // a quarter turn clockwise: the right goes down
    {-1, 0, 0, -1}, // a half turn
    {0, 1, -1, 0},  // a quarter turn counter-clockwise
}};

Matrix times(const Matrix& a, const Matrix& b) {
    return {a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3], a[2] * b[0] + a[3] * b[2],
            a[2] * b[1] + a[3] * b[3]};
}

} // namespace

Dihedral compose(Dihedral first, Dihedral then) {
    const Matrix m = times(kMatrices[size_t(then)], kMatrices[size_t(first)]);
    for (size_t k = 0; k < kMatrices.size(); ++k)
        if (kMatrices[k] == m) return Dihedral(k);
    return Dihedral::None; // the eight are a group: never reached
}

Dihedral uprightFor(int orientation) {
    switch (orientation) {
    case 2:
        return Dihedral::MirrorH;
    case 3:
        return Dihedral::Half;
    case 4:
        return Dihedral::MirrorV;
    case 5:
        return Dihedral::Transpose;
    case 6:
        return Dihedral::Cw;
    case 7:
        return Dihedral::Transverse;
    case 8:
        return Dihedral::Ccw;
    default:
        return Dihedral::None;
    }
}

std::optional<std::vector<uint8_t>> transformJpeg(const std::vector<uint8_t>& jpeg, Dihedral op,
                                                  int64_t maxPixels, int32_t& width,
                                                  int32_t& height, std::string& why) {
    std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitTransform(), tjDestroy);
    if (!handle) {
        why = "TurboJPEG cannot start";
        return std::nullopt;
    }
    int w = 0, h = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(handle.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()), &w,
                            &h, &subsampling, &colourspace) != 0) {
        why = tjGetErrorStr2(handle.get());
        return std::nullopt;
    }
    // Every block takes a bit at least: more blocks than bits is no picture
    // this file holds, and its coefficients would fill memory for nothing.
    const int64_t pixels = int64_t{w} * h;
    if (pixels > maxPixels || pixels / 64 > int64_t(jpeg.size()) * 8) return std::nullopt;
    tjtransform transform{};
    transform.op = static_cast<int>(op);
    transform.options = TJXOPT_PERFECT | TJXOPT_COPYNONE;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (tjTransform(handle.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()), 1, &out,
                    &size, &transform, 0) != 0) {
        // The size that would turn exactly: whole blocks of the chroma's
        // sampling on the sides the operation moves.
        why = tjGetErrorStr2(handle.get());
        if (why.find("not perfect") != std::string::npos && subsampling >= 0 &&
            subsampling < TJ_NUMSAMP)
            why = "its size (" + std::to_string(w) + " x " + std::to_string(h) +
                  ") is not a whole number of its " + std::to_string(tjMCUWidth[subsampling]) +
                  " x " + std::to_string(tjMCUHeight[subsampling]) + " blocks";
        tjFree(out);
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(out, out + size);
    tjFree(out);
    const bool swap = op == Dihedral::Transpose || op == Dihedral::Transverse ||
                      op == Dihedral::Cw || op == Dihedral::Ccw;
    width = swap ? h : w;
    height = swap ? w : h;
    return bytes;
}

} // namespace talvine::cli
