// Text drawn as a GIF: one line of text in the 9x15 bitmap font, written to standard output.
// The library's only user of gd: kept in its own object file so that programs which never draw
// a GIF do not load the graphics library at start-up.
#include <gd.h>
#include <gdfontg.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "cgi/cgi_request.h"

namespace cgi {

namespace {

// One-pixel white margin on every side of the text.
constexpr int MARGIN = 1;

// Palette in allocation order: the colour argument is the position in this table.
struct Rgb {
    int red, green, blue;
};
constexpr Rgb PALETTE[] = {
    {0, 0, 0},        // black
    {255, 255, 255},  // white: background and transparent colour
    {255, 64, 0},     // orange-red
    {0, 64, 255},     // blue
    {0, 128, 0},      // green
    {128, 0, 255},    // violet
};
constexpr int PALETTE_SIZE = sizeof PALETTE / sizeof PALETTE[0];
constexpr int BLACK = 0;
constexpr int WHITE = 1;

struct ImageDeleter {
    void operator()(gdImage* image) const { gdImageDestroy(image); }
};
using ImageHandle = std::unique_ptr<gdImage, ImageDeleter>;

}  // namespace

int CgiRequest::text_gif(const char* text, int color) {
    const gdFontPtr font = gdFontGiant;
    const std::size_t width = std::strlen(text) * static_cast<std::size_t>(font->w) + 2 * MARGIN;
    const int height = font->h + 2 * MARGIN;
    if (width > MAX_GIF_DIMENSION) return 0;

    ImageHandle image(gdImageCreate(static_cast<int>(width), height));
    if (!image) return 0;

    int colors[PALETTE_SIZE];
    for (int i = 0; i < PALETTE_SIZE; ++i) {
        colors[i] =
            gdImageColorAllocate(image.get(), PALETTE[i].red, PALETTE[i].green, PALETTE[i].blue);
    }
    // A colour outside the palette would reach gd as a raw index (or one of its special negative
    // drawing modes); draw such text in black instead.
    const int ink = (color >= 0 && color < PALETTE_SIZE) ? colors[color] : colors[BLACK];

    gdImageFilledRectangle(image.get(), 0, 0, static_cast<int>(width) - 1, height - 1,
                           colors[WHITE]);
    gdImageColorTransparent(image.get(), colors[WHITE]);
    gdImageInterlace(image.get(), 1);
    // gd reads the text as unsigned bytes (so bytes 128 to 255 draw their own glyphs) and never
    // writes to it; its interface merely lacks the const.
    gdImageString(image.get(), font, MARGIN, MARGIN,
                  reinterpret_cast<unsigned char*>(const_cast<char*>(text)), ink);
    // Encoded in memory, so that the image goes out through the request like every other byte.
    int size = 0;
    std::unique_ptr<void, void (*)(void*)> gif(gdImageGifPtr(image.get(), &size), gdFree);
    if (!gif || size <= 0) return 0;
    write(gif.get(), static_cast<std::size_t>(size));
    flush();
    return 1;
}

}  // namespace cgi
