// Decoding a GIF written by text_gif and comparing its pixels with the font's glyphs.
#pragma once

#include <gd.h>
#include <gdfontg.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>

struct GifImageDeleter {
    void operator()(gdImage* image) const { gdImageDestroy(image); }
};
using GifImage = std::unique_ptr<gdImage, GifImageDeleter>;

inline GifImage decode_gif(const std::string& bytes) {
    if (bytes.empty()) return nullptr;
    return GifImage(
        gdImageCreateFromGifPtr(static_cast<int>(bytes.size()), const_cast<char*>(bytes.data())));
}

// Every pixel: a set bit of the glyph of text[i] at (1 + 9i + x, 1 + y) has the palette index
// `ink`; every other pixel, the one-pixel margin included, is white (index 1).
inline void expect_text_drawn(gdImage* image, const std::string& text, int ink) {
    const gdFontPtr font = gdFontGiant;
    const int width = static_cast<int>(text.size()) * font->w + 2;
    const int height = font->h + 2;
    ASSERT_EQ(gdImageSX(image), width);
    ASSERT_EQ(gdImageSY(image), height);
    int ink_pixels = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool set = false;
            if (x >= 1 && x < width - 1 && y >= 1 && y < height - 1) {
                const int glyph =
                    static_cast<unsigned char>(text[(x - 1) / font->w]) - font->offset;
                set = font->data[(glyph * font->h + (y - 1)) * font->w + (x - 1) % font->w] != 0;
            }
            const int expected = set ? ink : 1;
            ink_pixels += set;
            ASSERT_EQ(gdImageGetPixel(image, x, y), expected) << "pixel (" << x << ", " << y << ")";
        }
    }
    // A check against an empty glyph proves little: every non-empty text here draws something.
    if (!text.empty() && text.find_first_not_of(' ') != std::string::npos) {
        EXPECT_GT(ink_pixels, 0);
    }
}
