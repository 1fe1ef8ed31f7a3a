#pragma once

#include <string>

#include "scene/object.h"

namespace tide {

// One line of text in the built-in 8x13 bitmap font. The string belongs to
// the caller; compile() copies its current characters into the display list,
// and the inherited draw() places the raster position and sets the colour.
class Fonts : public rObject {
public:
    static constexpr int kAdvancePixels = 10;  // 8 pixels of glyph, 2 of spacing

    int glyphBase = 0;            // first of 128 list names, one per character code
    std::string* text = nullptr;  // not owned

    Fonts();
    ~Fonts() override;

    void reset() override;
    void compile() override;
    void setText(std::string* s);
};

}  // namespace tide
