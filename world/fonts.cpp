#include "world/fonts.h"

#include <GL/gl.h>

#include <string>

#include "world/font_glyphs.h"

namespace tide {

namespace {

constexpr int kListCount = 128;  // one list name per 7-bit character code
constexpr float kBaselineRow = 2.0f;  // rows below the baseline, for descenders

bool printable(unsigned char c) { return c >= kFirstGlyph && c <= kLastGlyph; }

}  // namespace

Fonts::Fonts() { Fonts::reset(); }

Fonts::~Fonts() {
    if (glyphBase != 0) glDeleteLists(static_cast<GLuint>(glyphBase), kListCount);
}

// A second reset re-records into the same names rather than taking 128 more.
void Fonts::reset() {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (glyphBase == 0) glyphBase = static_cast<int>(glGenLists(kListCount));
    if (glyphBase == 0) return;  // no list names to be had: the text stays blank
    for (int c = kFirstGlyph; c <= kLastGlyph; ++c) {
        glNewList(static_cast<GLuint>(glyphBase + c), GL_COMPILE);
        glBitmap(8, kGlyphRows, 0, kBaselineRow, static_cast<float>(Fonts::kAdvancePixels), 0, glyphBitmaps[c - kFirstGlyph]);
        glEndList();
    }
}

void Fonts::setText(std::string* s) {
    text = s;
    compile();
}

// Only printable characters reach glCallLists: any other byte would call a
// list outside this font's 128 names (another object's list, for bytes >= 128).
void Fonts::compile() {
    std::string shown;
    if (text != nullptr && glyphBase != 0) {
        for (char c : *text) {
            if (printable(static_cast<unsigned char>(c))) shown.push_back(c);
        }
    }
    glNewList(static_cast<GLuint>(listId), GL_COMPILE);
    glPushAttrib(GL_LIST_BIT);
    glListBase(static_cast<GLuint>(glyphBase));
    glRasterPos2f(0, 0);
    glCallLists(static_cast<GLsizei>(shown.size()), GL_UNSIGNED_BYTE, shown.data());
    glPopAttrib();
    glEndList();
}

}  // namespace tide
