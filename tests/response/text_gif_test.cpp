// Text drawn as a GIF: decodes what text_gif wrote and checks size, palette, transparency,
// interlacing, the white margin and every glyph pixel against the font.
#include <gd.h>
#include <gdfontg.h>

#include <cstring>
#include <memory>
#include <string>

#include "gif_check.h"
#include "response_test_support.h"

TEST_F(ResponseTest, EmptyTextIsATransparentTwoBySeventeenImage) {
    int result = 0;
    const std::string gif = captured_stdout([&] { result = request.text_gif("", 2); });
    EXPECT_NE(result, 0);
    const GifImage image = decode_gif(gif);
    ASSERT_TRUE(image);
    EXPECT_EQ(gdImageSX(image.get()), 2);
    EXPECT_EQ(gdImageSY(image.get()), 17);
    EXPECT_EQ(gdImageGetTransparent(image.get()), 1);
    EXPECT_TRUE(gdImageGetInterlaced(image.get()));
    expect_text_drawn(image.get(), "", 2);

    // The file's global colour table holds the six colours in allocation order (the decoder
    // drops entries above the highest one in use, so the table is read from the bytes).
    const unsigned char palette[6][3] = {{0, 0, 0},    {255, 255, 255}, {255, 64, 0},
                                         {0, 64, 255}, {0, 128, 0},     {128, 0, 255}};
    ASSERT_GT(gif.size(), 13u + sizeof palette);
    const auto flags = static_cast<unsigned char>(gif[10]);
    ASSERT_TRUE(flags & 0x80) << "no global colour table";
    EXPECT_GE(2 << (flags & 7), 6);
    EXPECT_EQ(std::memcmp(gif.data() + 13, palette, sizeof palette), 0);
}

TEST_F(ResponseTest, GlyphsAreDrawnInTheChosenColourInsideAWhiteMargin) {
    for (int color = 0; color < 6; ++color) {
        const GifImage image = decode_gif(captured_stdout([&] { request.text_gif("Ab", color); }));
        ASSERT_TRUE(image);
        EXPECT_EQ(gdImageSX(image.get()), 20);
        EXPECT_EQ(gdImageSY(image.get()), 17);
        EXPECT_EQ(gdImageGetTransparent(image.get()), 1);
        EXPECT_TRUE(gdImageGetInterlaced(image.get()));
        expect_text_drawn(image.get(), "Ab", color);
    }
    // Bytes above 127 draw the font's own glyphs for those codes.
    const GifImage high = decode_gif(captured_stdout([&] { request.text_gif("\xC4\xE9\xFE", 4); }));
    ASSERT_TRUE(high);
    expect_text_drawn(high.get(), "\xC4\xE9\xFE", 4);
}

TEST_F(ResponseTest, ColourOutsideThePaletteDrawsInBlack) {
    for (int color : {6, 300, -2, -7}) {
        const GifImage image = decode_gif(captured_stdout([&] { request.text_gif("W", color); }));
        ASSERT_TRUE(image) << "colour " << color;
        expect_text_drawn(image.get(), "W", 0);
    }
}

TEST_F(ResponseTest, TextWiderThanAGifCanStateWritesNothing) {
    // 7282 bytes make 65540 pixels; 7281 bytes make 65531, which still fits.
    int result = 1;
    EXPECT_EQ(
        captured_stdout([&] { result = request.text_gif(std::string(7282, 'x').c_str(), 0); }), "");
    EXPECT_EQ(result, 0);

    const GifImage widest =
        decode_gif(captured_stdout([&] { request.text_gif(std::string(7281, 'x').c_str(), 0); }));
    ASSERT_TRUE(widest);
    EXPECT_EQ(gdImageSX(widest.get()), 65531);
}
