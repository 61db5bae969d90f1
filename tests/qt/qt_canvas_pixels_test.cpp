// The canvas's pixels made from the picture: converted one for one, and
// scaled down as the exact mean of the area each output pixel covers,
// against a reference computed pixel by pixel in floating point.
#include "ViewPixels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace talvine::editor {
namespace {

// A picture with detail at every scale: a ramp, a checkerboard and noise.
std::vector<uint8_t> picture(int width, int height) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    uint32_t state = 12345;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(x * 255 / std::max(1, width - 1));
            p[1] = ((x / 3 + y / 2) % 2) ? 230 : 20;
            p[2] = static_cast<uint8_t>(state >> 24);
        }
    return rgb;
}

// The mean over the output pixel's area, each picture pixel weighted by
// how much of it lies under the output pixel.
uint32_t reference(const std::vector<uint8_t>& rgb, int width, int height, int outWidth,
                   int outHeight, int ox, int oy) {
    const double sx = double(width) / outWidth, sy = double(height) / outHeight;
    const double x0 = ox * sx, x1 = (ox + 1) * sx, y0 = oy * sy, y1 = (oy + 1) * sy;
    double sum[3] = {0, 0, 0};
    for (int y = int(std::floor(y0)); y < std::min(height, int(std::ceil(y1))); ++y)
        for (int x = int(std::floor(x0)); x < std::min(width, int(std::ceil(x1))); ++x) {
            const double w = (std::min(x1, x + 1.0) - std::max(x0, double(x))) *
                             (std::min(y1, y + 1.0) - std::max(y0, double(y)));
            for (int c = 0; c < 3; ++c)
                sum[c] += w * rgb[(size_t(y) * width + x) * 3 + c];
        }
    uint32_t pixel = 0xff000000u;
    for (int c = 0; c < 3; ++c)
        pixel |= uint32_t(std::lround(sum[c] / (sx * sy))) << (16 - 8 * c);
    return pixel;
}

// Within one level of the reference (which rounds in floating point).
void expectNear(uint32_t got, uint32_t want, int x, int y) {
    for (int shift : {0, 8, 16, 24})
        ASSERT_LE(std::abs(int(got >> shift & 0xff) - int(want >> shift & 0xff)), 1)
            << "at " << x << ", " << y << ": " << std::hex << got << " for " << want;
}

TEST(CanvasPixels, ScalingDownIsTheMeanOfTheAreaCovered) {
    // Whole and fractional ratios, one axis unscaled, down to one pixel, and
    // more whole rows under an output row than its 16-bit sums take at once;
    // the largest is big enough to run on several threads.
    const int sizes[][4] = {{640, 480, 320, 240},  {1000, 600, 300, 180}, {997, 613, 211, 97},
                            {300, 200, 300, 57},   {31, 17, 1, 1},        {40, 1201, 3, 2},
                            {2400, 1800, 793, 595}};
    for (const auto& [width, height, outWidth, outHeight] : sizes) {
        SCOPED_TRACE(testing::Message()
                     << width << "x" << height << " to " << outWidth << "x" << outHeight);
        const std::vector<uint8_t> rgb = picture(width, height);
        // Output rows padded, as a QImage's may be.
        const int stride = outWidth + 3;
        std::vector<uint32_t> out(static_cast<size_t>(stride) * outHeight, 0x12345678);
        scaleDownRgb(rgb.data(), width * 3, width, height, out.data(), stride, outWidth, outHeight);
        for (int y = 0; y < outHeight; ++y)
            for (int x = 0; x < outWidth; ++x)
                expectNear(out[size_t(y) * stride + x],
                           reference(rgb, width, height, outWidth, outHeight, x, y), x, y);
        for (int y = 0; y < outHeight; ++y)
            EXPECT_EQ(out[size_t(y) * stride + outWidth], 0x12345678u) << "past the row";
    }
}

TEST(CanvasPixels, AMirroredPictureScalesToTheMirroredResult) {
    const int width = 1001, height = 700, outWidth = 333, outHeight = 233;
    const std::vector<uint8_t> rgb = picture(width, height);
    std::vector<uint8_t> mirrored(rgb.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                mirrored[(size_t(y) * width + (width - 1 - x)) * 3 + c] =
                    rgb[(size_t(y) * width + x) * 3 + c];
    std::vector<uint32_t> a(size_t(outWidth) * outHeight), b(a.size());
    scaleDownRgb(rgb.data(), width * 3, width, height, a.data(), outWidth, outWidth, outHeight);
    scaleDownRgb(mirrored.data(), width * 3, width, height, b.data(), outWidth, outWidth,
                 outHeight);
    for (int y = 0; y < outHeight; ++y)
        for (int x = 0; x < outWidth; ++x)
            ASSERT_EQ(a[size_t(y) * outWidth + x], b[size_t(y) * outWidth + outWidth - 1 - x])
                << x << ", " << y;
}

TEST(CanvasPixels, SizesItCannotMakeLeaveTheOutputAlone) {
    const std::vector<uint8_t> rgb = picture(10, 10);
    std::vector<uint32_t> out(400, 7);
    scaleDownRgb(rgb.data(), 30, 10, 10, out.data(), 20, 20, 20); // larger: not a scale down
    scaleDownRgb(rgb.data(), 30, 10, 10, out.data(), 20, 0, 5);
    scaleDownRgb(rgb.data(), 30, 0, 10, out.data(), 20, 1, 1);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint32_t v) { return v == 7; }));
}

// A colour laid over a rectangle: each channel the colour's share by its
// alpha and the pixel's by the rest, rounded; the rectangle clipped to the
// pixels (here it starts left of them and runs past their bottom), the
// pixels' alpha and everything outside left alone.
TEST(CanvasPixels, TintingLaysTheColourOverTheRectangleOnly) {
    const int width = 6, height = 4, stride = 8;
    std::vector<uint32_t> pixels(size_t(stride) * height, 0xff804020u);
    tintRect(pixels.data(), stride, width, height, -2, 1, 4, 10, 0x6e000000u);
    tintRect(pixels.data(), stride, width, height, 5, 0, 3, 1, 0x96ffffffu);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < stride; ++x) {
            uint32_t want = 0xff804020u;
            if (x < 2 && y >= 1) // 128, 64, 32 at 145/255
                want = 0xff492412u;
            if (x == 5 && y == 0) // 255 at 150/255 over 128, 64, 32 at 105/255
                want = 0xffcbb0a3u;
            EXPECT_EQ(pixels[size_t(y) * stride + x], want) << x << ", " << y;
        }
    // Wholly outside, or empty: nothing.
    const std::vector<uint32_t> before = pixels;
    tintRect(pixels.data(), stride, width, height, width, 0, 5, 5, 0xff000000u);
    tintRect(pixels.data(), stride, width, height, 0, -9, 5, 9, 0xff000000u);
    tintRect(pixels.data(), stride, width, height, 1, 1, 0, 3, 0xff000000u);
    EXPECT_EQ(pixels, before);
}

TEST(CanvasPixels, APartConvertsOneForOne) {
    // Big enough for several threads.
    const int width = 3000, height = 2000;
    const std::vector<uint8_t> rgb = picture(width, height);
    const int x = 17, y = 1234, w = 2900, h = 700, stride = w + 5;
    std::vector<uint32_t> out(size_t(stride) * h, 0);
    convertRgb(rgb.data(), width * 3, x, y, w, h, out.data(), stride);
    for (int row = 0; row < h; row += 7)
        for (int col = 0; col < w; col += 3) {
            const uint8_t* p = &rgb[(size_t(y + row) * width + x + col) * 3];
            ASSERT_EQ(out[size_t(row) * stride + col],
                      0xff000000u | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2])
                << col << ", " << row;
        }
    EXPECT_EQ(out[size_t(h - 1) * stride + w - 1] >> 24, 0xffu) << "the last pixel";
}

} // namespace
} // namespace talvine::editor
