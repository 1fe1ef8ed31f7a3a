#pragma once

namespace tide {

constexpr int kFirstGlyph = 32;   // space
constexpr int kLastGlyph = 126;   // '~'
constexpr int kGlyphRows = 13;

// The built-in 8x13 fixed-width font, one glyph per printable ASCII code in
// code order. Each byte is one row of 8 pixels (most significant bit leftmost),
// bottom row first as glBitmap reads them; rows 0 and 1 are below the baseline.
extern const unsigned char glyphBitmaps[kLastGlyph - kFirstGlyph + 1][kGlyphRows];

}  // namespace tide
