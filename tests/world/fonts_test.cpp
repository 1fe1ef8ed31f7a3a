#include "world/fonts.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/gl_context.h"
#include "support/lit_region.h"
#include "world/font_glyphs.h"

using tide::Fonts;
using tide::glyphBitmaps;

namespace {

const unsigned char* glyph(char c) { return glyphBitmaps[c - tide::kFirstGlyph]; }

// One pixel per unit, origin bottom left: a translation is a raster position.
class FontsTest : public ::testing::Test {
protected:
    void SetUp() override {
        testgl::resetState();
        testgl::setOrtho(0, testgl::kWidth, 0, testgl::kHeight);
    }

    testgl::LitRegion drawAt(Fonts& f, int x, int y) {
        f.setTranslation(x, y, 0);
        f.draw();
        return testgl::litRegion();
    }
};

}  // namespace

TEST(FontGlyphs, CapitalAAndSpaceAreAsDefined) {
    const unsigned char a[13] = {0x00, 0x00, 0xc3, 0xc3, 0xc3, 0xc3, 0xff, 0xc3, 0xc3, 0xc3, 0x66, 0x3c, 0x18};
    for (int row = 0; row < 13; ++row) {
        EXPECT_EQ(glyph('A')[row], a[row]) << "row " << row;
        EXPECT_EQ(glyph(' ')[row], 0) << "row " << row;
    }
}

TEST(FontGlyphs, EveryPrintableGlyphIsDistinctAndVisible) {
    std::set<std::vector<unsigned char>> seen;
    for (int c = tide::kFirstGlyph; c <= tide::kLastGlyph; ++c) {
        const std::vector<unsigned char> rows(glyphBitmaps[c - 32], glyphBitmaps[c - 32] + 13);
        EXPECT_TRUE(seen.insert(rows).second) << "glyph '" << static_cast<char>(c) << "' repeats another";
        if (c != ' ') {
            EXPECT_NE(rows, std::vector<unsigned char>(13, 0)) << "glyph '" << static_cast<char>(c) << "' is blank";
        }
    }
}

TEST(FontGlyphs, CapitalsAndDigitsStandOnTheBaselineAndDescendersGoBelow) {
    for (char c : std::string("ABCDEFGHIJKLMNOPRSTUVWXYZ0123456789")) {
        EXPECT_EQ(glyph(c)[0] | glyph(c)[1], 0) << c;
        EXPECT_NE(glyph(c)[2], 0) << c;
        EXPECT_NE(glyph(c)[12], 0) << c;
    }
    for (char c : std::string("gjpqy")) EXPECT_NE(glyph(c)[0] | glyph(c)[1], 0) << c;
    for (char c : std::string("acemnorsuvwxz")) {
        EXPECT_EQ(glyph(c)[0] | glyph(c)[1], 0) << c;
        EXPECT_NE(glyph(c)[2], 0) << c;
    }
}

// Each glyph cell spans x..x+7 and y-2..y+10 around the raster position (x, y).
TEST_F(FontsTest, TwoLettersCoverTwoGlyphCellsTenPixelsApart) {
    Fonts f;
    std::string text = "AB";
    f.setText(&text);
    const testgl::LitRegion r = drawAt(f, 100, 200);
    EXPECT_EQ(r.minX, 100);
    EXPECT_EQ(r.maxX, 117);
    EXPECT_EQ(r.minY, 200);  // capitals stand on the baseline
    EXPECT_EQ(r.maxY, 210);
    EXPECT_EQ(testgl::pixelAt(108, 205), (testgl::Rgb{0, 0, 0}));  // the 2-pixel gap

    testgl::resetState();
    testgl::setOrtho(0, testgl::kWidth, 0, testgl::kHeight);
    text = "gy";
    f.compile();
    EXPECT_EQ(drawAt(f, 100, 200).minY, 198);
}

TEST_F(FontsTest, GlyphPixelsMatchTheTableBitForBitInTheObjectColour) {
    Fonts f;
    std::string text = "g";
    f.setText(&text);
    f.setColour(1, 0, 0);
    drawAt(f, 50, 60);
    const std::vector<testgl::Rgb> pixels = testgl::readPixels(50, 58, 8, 13);
    for (int row = 0; row < 13; ++row) {
        for (int col = 0; col < 8; ++col) {
            const bool bit = (glyph('g')[row] >> (7 - col)) & 1;
            const testgl::Rgb expected = bit ? testgl::Rgb{255, 0, 0} : testgl::Rgb{0, 0, 0};
            EXPECT_EQ(pixels[row * 8 + col], expected) << "row " << row << " column " << col;
        }
    }
}

TEST_F(FontsTest, EmptyOrMissingTextDrawsNothing) {
    Fonts f;
    std::string empty;
    f.setText(&empty);
    EXPECT_EQ(drawAt(f, 100, 100).count, 0);
    Fonts unset;
    unset.compile();
    EXPECT_EQ(drawAt(unset, 100, 100).count, 0);
}

TEST_F(FontsTest, BytesOutsideThePrintableRangeDrawNothingAndDoNotAdvance) {
    Fonts plain;
    std::string ab = "AB";
    plain.setText(&ab);
    const testgl::LitRegion expected = drawAt(plain, 100, 200);

    testgl::resetState();
    testgl::setOrtho(0, testgl::kWidth, 0, testgl::kHeight);
    Fonts f;
    std::string text = std::string("\x01" "A\x1f\x7f") + static_cast<char>(0xc8) + "B\n";
    f.setText(&text);
    const testgl::LitRegion r = drawAt(f, 100, 200);
    EXPECT_EQ(r.count, expected.count);
    EXPECT_EQ(r.minX, expected.minX);
    EXPECT_EQ(r.maxX, expected.maxX);
}

TEST_F(FontsTest, StringChangesShowOnlyAfterTheNextCompile) {
    std::string text = "I";
    Fonts first, second;
    first.setText(&text);
    second.setText(&text);
    text = "II";
    first.compile();
    EXPECT_EQ(drawAt(first, 10, 10).maxX, 26);  // 'I' fills columns 1..6
    testgl::resetState();
    testgl::setOrtho(0, testgl::kWidth, 0, testgl::kHeight);
    EXPECT_EQ(drawAt(second, 10, 10).maxX, 16);
}

TEST_F(FontsTest, ResetReusesItsListNames) {
    Fonts f;
    const int base = f.glyphBase;
    f.reset();
    EXPECT_EQ(f.glyphBase, base);
    std::string text = "AB";
    f.setText(&text);
    EXPECT_EQ(drawAt(f, 100, 200).maxX, 117);
}
