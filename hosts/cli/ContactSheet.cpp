#include "ContactSheet.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>

namespace talvine::cli {
namespace {

constexpr int kTileW = 320, kTileH = 240, kCaptionH = 34, kGap = 12;
constexpr const char* kFonts[] = {"/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                  "/usr/share/fonts/TTF/DejaVuSans.ttf"};

void fill(Picture& p, int x0, int y0, int w, int h, uint8_t v) {
    for (int y = std::max(0, y0); y < std::min(p.height, y0 + h); ++y)
        for (int x = std::max(0, x0); x < std::min(p.width, x0 + w); ++x)
            for (int c = 0; c < 3; ++c)
                p.rgb[(size_t(y) * size_t(p.width) + size_t(x)) * 3 + size_t(c)] = v;
}

// Area-averaged scaling into a box, keeping the proportions, centred.
void drawScaled(Picture& sheet, const Picture& src, int x0, int y0) {
    if (src.width <= 0 || src.height <= 0) return;
    const double scale = std::min(double(kTileW) / src.width, double(kTileH) / src.height);
    const int w = std::max(1, int(src.width * scale)), h = std::max(1, int(src.height * scale));
    const int ox = x0 + (kTileW - w) / 2, oy = y0 + (kTileH - h) / 2;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int sx0 = int(x / scale),
                      sx1 = std::max(sx0 + 1, std::min(src.width, int((x + 1) / scale)));
            const int sy0 = int(y / scale),
                      sy1 = std::max(sy0 + 1, std::min(src.height, int((y + 1) / scale)));
            double sum[3] = {0, 0, 0};
            for (int sy = sy0; sy < sy1; ++sy)
                for (int sx = sx0; sx < sx1; ++sx)
                    for (int c = 0; c < 3; ++c)
                        sum[c] +=
                            src.rgb[(size_t(sy) * size_t(src.width) + size_t(sx)) * 3 + size_t(c)];
            const double n = double(sx1 - sx0) * (sy1 - sy0);
            for (int c = 0; c < 3; ++c)
                sheet.rgb[(size_t(oy + y) * size_t(sheet.width) + size_t(ox + x)) * 3 + size_t(c)] =
                    static_cast<uint8_t>(std::lround(sum[c] / n));
        }
}

std::u32string decodeUtf8(const std::string& s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + size_t(k) < s.size(); ++k)
            cp = cp << 6 | (static_cast<unsigned char>(s[i + size_t(k)]) & 0x3F);
        out.push_back(cp);
        i += size_t(extra) + 1;
    }
    return out;
}

class Font {
  public:
    Font() {
        if (FT_Init_FreeType(&library_) != 0) return;
        for (const char* path : kFonts)
            if (FT_New_Face(library_, path, 0, &face_) == 0) break;
        if (face_) FT_Set_Pixel_Sizes(face_, 0, 15);
    }
    ~Font() {
        if (face_) FT_Done_Face(face_);
        if (library_) FT_Done_FreeType(library_);
    }
    bool ok() const { return face_ != nullptr; }

    // Draws dark text centred on (cx, baseline).
    void draw(Picture& p, const std::string& text, int cx, int baseline) {
        const std::u32string chars = decodeUtf8(text);
        int width = 0;
        for (char32_t ch : chars)
            if (FT_Load_Char(face_, ch, FT_LOAD_DEFAULT) == 0)
                width += int(face_->glyph->advance.x >> 6);
        int pen = cx - width / 2;
        for (char32_t ch : chars) {
            if (FT_Load_Char(face_, ch, FT_LOAD_RENDER) != 0) continue;
            const FT_GlyphSlot g = face_->glyph;
            for (unsigned row = 0; row < g->bitmap.rows; ++row)
                for (unsigned col = 0; col < g->bitmap.width; ++col) {
                    const int x = pen + g->bitmap_left + int(col),
                              y = baseline - g->bitmap_top + int(row);
                    if (x < 0 || y < 0 || x >= p.width || y >= p.height) continue;
                    const double a =
                        g->bitmap.buffer[row * unsigned(g->bitmap.pitch) + col] / 255.0;
                    for (int c = 0; c < 3; ++c) {
                        uint8_t& v =
                            p.rgb[(size_t(y) * size_t(p.width) + size_t(x)) * 3 + size_t(c)];
                        v = static_cast<uint8_t>(std::lround(v * (1 - a) + 30 * a));
                    }
                }
            pen += int(g->advance.x >> 6);
        }
    }

  private:
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
};

} // namespace

Picture contactSheet(const std::vector<SheetEntry>& entries, int columns, std::string* warning) {
    const int n = static_cast<int>(entries.size());
    const int rows = (n + columns - 1) / columns;
    Picture sheet;
    sheet.width = kGap + columns * (kTileW + kGap);
    sheet.height = kGap + rows * (kTileH + kCaptionH + kGap);
    sheet.rgb.assign(size_t(sheet.width) * size_t(sheet.height) * 3, 245);
    Font font;
    if (!font.ok() && warning)
        *warning = "no DejaVu Sans font found: the contact sheet has no captions";
    for (int i = 0; i < n; ++i) {
        const int x0 = kGap + (i % columns) * (kTileW + kGap);
        const int y0 = kGap + (i / columns) * (kTileH + kCaptionH + kGap);
        fill(sheet, x0, y0, kTileW, kTileH, 225);
        drawScaled(sheet, entries[size_t(i)].picture, x0, y0);
        if (font.ok())
            font.draw(sheet, entries[size_t(i)].caption, x0 + kTileW / 2, y0 + kTileH + 22);
    }
    return sheet;
}

} // namespace talvine::cli
