#include "imagelib/preview.h"

#include "imagelib/errors.h"
#include "imagelib/space.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

using KVEL::ImageBase;
using KVEL::Matrix3;
using KVEL::PreviewPanel;
using KVEL::Vec3;

namespace {

using Picture = std::unique_ptr<KVEL::Image>;

std::vector<unsigned char> pixels(const Picture& p) {
    const auto& bytes = static_cast<const ImageBase<unsigned char>&>(*p);
    return std::vector<unsigned char>(bytes.data(), bytes.data() + p->m_image_size);
}

// A volume of distinct values with anisotropic spacing, placed by `direction`.
std::unique_ptr<ImageBase<float>> volume(int nx, int ny, int nz, const Matrix3& direction) {
    auto image = std::make_unique<ImageBase<float>>();
    image->init(nx, ny, nz, 1, 1);
    image->setSpacing(1.0f, 1.5f, 2.0f, 1);
    unsigned state = 7;
    for (int i = 0; i < image->m_image_size; ++i) {
        state = state * 1103515245u + 12345u;
        image->data()[i] = static_cast<float>((state >> 16) % 1000);
    }
    KVEL::setDirection(*image, direction);
    return image;
}

// The same voxels stored with axis k of the result along axis order[k] of
// the source, reversed where flip[k]; direction, spacing and position follow,
// so every voxel keeps its physical point.
std::unique_ptr<ImageBase<float>> restored(ImageBase<float>& source, std::array<int, 3> order,
                                           std::array<bool, 3> flip) {
    const int* n = source.m_dim;
    auto out = std::make_unique<ImageBase<float>>();
    out->init(n[order[0]], n[order[1]], n[order[2]], 1, 1);
    out->setSpacing(source.m_spacing[order[0]], source.m_spacing[order[1]], source.m_spacing[order[2]], 1);
    Matrix3 d{};
    for (int k = 0; k < 3; ++k)
        for (int r = 0; r < 3; ++r) d[r][k] = (flip[k] ? -1 : 1) * source.m_direction[r][order[k]];
    KVEL::setDirection(*out, d);
    for (int z = 0; z < out->m_dim[2]; ++z)
        for (int y = 0; y < out->m_dim[1]; ++y)
            for (int x = 0; x < out->m_dim[0]; ++x) {
                const int j[3] = {x, y, z};
                int i[3];
                for (int k = 0; k < 3; ++k) i[order[k]] = flip[k] ? n[order[k]] - 1 - j[k] : j[k];
                out->set(source.get(i[0], i[1], i[2], 0, 0), x, y, z, 0, 0);
            }
    // The result's first voxel, in the source's index order.
    Vec3 index{};
    for (int k = 0; k < 3; ++k) index[order[k]] = flip[k] ? n[order[k]] - 1 : 0;
    const Vec3 corner = KVEL::physicalPoint(source, index);
    for (int r = 0; r < 3; ++r) out->m_position[r] = static_cast<float>(corner[r]);
    return out;
}

Matrix3 rotation(double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    return {{{c, -s, 0}, {s * 0.8, c * 0.8, -0.6}, {s * 0.6, c * 0.6, 0.8}}};
}

}  // namespace

// Whatever the storage order, the picture is that of the anatomy.
TEST(PreviewPicture, SameAnatomyInAnyStorageOrderGivesTheSamePicture) {
    const std::array<std::array<int, 3>, 6> orders = {{{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}}};
    for (const Matrix3& direction : {KVEL::identityDirection(), rotation(0.3)}) {
        auto lps = volume(9, 8, 7, direction);
        Picture reference(KVEL::previewPicture(*lps));
        ASSERT_TRUE(reference);
        std::vector<PreviewPanel> referencePanels;
        Picture(KVEL::previewPicture(*lps, nullptr, 16, &referencePanels));
        ASSERT_EQ(referencePanels.size(), 3u);
        for (const auto& order : orders) {
            for (int flips = 0; flips < 8; ++flips) {
                auto stored = restored(*lps, order, {bool(flips & 1), bool(flips & 2), bool(flips & 4)});
                std::vector<PreviewPanel> panels;
                Picture picture(KVEL::previewPicture(*stored, nullptr, 16, &panels));
                ASSERT_TRUE(picture);
                SCOPED_TRACE(KVEL::orientationCode(KVEL::directionOf(*stored)));
                ASSERT_EQ(picture->m_dim[0], reference->m_dim[0]);
                ASSERT_EQ(picture->m_dim[1], reference->m_dim[1]);
                EXPECT_EQ(pixels(picture), pixels(reference));
                ASSERT_EQ(panels.size(), 3u);
                for (int p = 0; p < 3; ++p) EXPECT_EQ(panels[p].left, referencePanels[p].left);
            }
        }
    }
}

// Brightness rising toward the patient's left, front and head, stored RAS:
// each panel is brightest toward the edges its letters name L, A and S, and
// each letter is drawn beside the middle of its edge, alike wherever it recurs.
TEST(PreviewPicture, LettersNameTheEdgesTheAnatomyLiesAt) {
    auto ras = std::make_unique<ImageBase<float>>();
    ras->init(40, 30, 20, 1, 1);
    ras->setSpacing(1, 1, 2, 1);
    KVEL::setDirection(*ras, {{{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}}});
    for (int z = 0; z < 20; ++z)
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                const Vec3 p = KVEL::physicalPoint(*ras, {double(x), double(y), double(z)});
                ras->set(static_cast<float>(p[0] - p[1] + p[2]), x, y, z, 0, 0);  // LPS: left, anterior, superior
            }
    std::vector<PreviewPanel> panels;
    Picture picture(KVEL::previewPicture(*ras, nullptr, 16, &panels));
    ASSERT_TRUE(picture);
    ASSERT_EQ(panels.size(), 3u);
    const auto& bytes = static_cast<const ImageBase<unsigned char>&>(*picture);
    const int width = picture->m_dim[0];
    const auto grey = [&](int x, int y) { return bytes.data()[(y * width + x) * 3]; };
    // Letters are the only coloured pixels: red without blue.
    const auto lettered = [&](int x, int y) {
        const unsigned char* p = bytes.data() + (y * width + x) * 3;
        return p[0] > 128 && p[2] < 64;
    };
    const int margin = panels[0].y;
    std::map<char, std::vector<bool>> glyphs;
    const auto glyphAt = [&](char letter, int x0, int y0) {
        std::vector<bool> cells;
        int lit = 0;
        for (int y = y0; y < y0 + margin; ++y)
            for (int x = x0; x < x0 + margin; ++x) {
                cells.push_back(lettered(x, y));
                lit += cells.back();
            }
        EXPECT_GT(lit, 10) << "no letter " << letter;
        if (glyphs.count(letter)) {
            EXPECT_EQ(glyphs[letter], cells) << letter << " drawn differently";
        }
        glyphs[letter] = cells;
    };
    const std::map<char, std::string> expected = {{'A', "RLAP"}, {'C', "RLSI"}, {'S', "APSI"}};
    for (const PreviewPanel& p : panels) {
        SCOPED_TRACE(p.plane);
        EXPECT_EQ(std::string({p.left, p.right, p.top, p.bottom}), expected.at(p.plane));
        const int midX = p.x + p.width / 2, midY = p.y + p.height / 2;
        const char brightAcross = grey(p.x + p.width - 1, midY) > grey(p.x, midY) ? p.right : p.left;
        const char brightDown = grey(midX, p.y) > grey(midX, p.y + p.height - 1) ? p.top : p.bottom;
        EXPECT_EQ(brightAcross, p.plane == 'S' ? 'A' : 'L');
        EXPECT_EQ(brightDown, p.plane == 'A' ? 'A' : 'S');
        glyphAt(p.left, p.x - margin, midY - margin / 2);
        glyphAt(p.right, p.x + p.width, midY - margin / 2);
        glyphAt(p.top, midX - margin / 2, p.y - margin);
        glyphAt(p.bottom, midX - margin / 2, p.y + p.height);
    }
    EXPECT_EQ(glyphs.size(), 6u);
    for (const auto& a : glyphs)
        for (const auto& b : glyphs)
            if (a.first < b.first) {
                EXPECT_NE(a.second, b.second) << a.first << " looks like " << b.first;
            }
}

// A 2-D picture is one axial panel showing the pixels as stored, row 0 on top.
TEST(PreviewPicture, PictureIsOnePanelAsStored) {
    ImageBase<unsigned char> photo;
    photo.init(200, 150, 1, 1, 1);
    for (int i = 0; i < photo.m_image_size; ++i) photo.data()[i] = static_cast<unsigned char>(i * 7 % 256);
    photo.data()[0] = 0;
    photo.data()[1] = 255;
    std::vector<PreviewPanel> panels;
    Picture picture(KVEL::previewPicture(photo, nullptr, 16, &panels));
    ASSERT_TRUE(picture);
    ASSERT_EQ(panels.size(), 1u);
    ASSERT_EQ(panels[0].width, 200);
    ASSERT_EQ(panels[0].height, 150);
    const auto& bytes = static_cast<const ImageBase<unsigned char>&>(*picture);
    int wrong = 0;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x)
            for (int c = 0; c < 3; ++c)
                wrong += bytes.data()[((panels[0].y + y) * picture->m_dim[0] + panels[0].x + x) * 3 + c] !=
                         photo.data()[y * 200 + x];
    EXPECT_EQ(wrong, 0);
}

// The checkerboard shows the base and the overlay, each as it previews alone.
TEST(PreviewPicture, OverlayAlternatesWithTheBaseInSquares) {
    auto base = volume(30, 20, 10, rotation(0.2));
    auto other = volume(30, 20, 10, rotation(0.2));
    for (int i = 0; i < other->m_image_size; ++i) other->data()[i] = static_cast<float>(i % 97);
    Picture alone(KVEL::previewPicture(*base)), overlayAlone(KVEL::previewPicture(*other));
    std::vector<PreviewPanel> panels;
    Picture checked(KVEL::previewPicture(*base, other.get(), 5, &panels));
    ASSERT_TRUE(alone && overlayAlone && checked);
    const auto a = pixels(alone), b = pixels(overlayAlone), c = pixels(checked);
    ASSERT_EQ(c.size(), a.size());
    int fromBase = 0, fromOverlay = 0, neither = 0;
    for (const PreviewPanel& p : panels)
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) {
                const std::size_t i = ((p.y + y) * checked->m_dim[0] + p.x + x) * 3;
                const bool overlaySquare = (x / 5 + y / 5) % 2 == 1;
                if (c[i] == (overlaySquare ? b[i] : a[i])) {
                    ++(overlaySquare ? fromOverlay : fromBase);
                } else {
                    ++neither;
                }
            }
    EXPECT_EQ(neither, 0);
    EXPECT_GT(fromBase, 0);
    EXPECT_GT(fromOverlay, 0);
}

TEST(PreviewPicture, RefusesWhatItCannotDraw) {
    KVEL::setMessagesPrinted(false);
    auto base = volume(6, 5, 4, KVEL::identityDirection());
    auto smaller = volume(6, 5, 3, KVEL::identityDirection());
    EXPECT_EQ(KVEL::previewPicture(*base, smaller.get(), 4), nullptr);
    EXPECT_NE(std::string(KVEL::lastError()).find("grid"), std::string::npos);
    EXPECT_EQ(KVEL::previewPicture(*base, base.get(), 0), nullptr);
    ImageBase<float> empty;
    EXPECT_EQ(KVEL::previewPicture(empty), nullptr);
    KVEL::setDirection(*base, {{{1, 0, 0}, {1, 0, 0}, {0, 0, 1}}});
    EXPECT_EQ(KVEL::previewPicture(*base), nullptr);
    KVEL::setMessagesPrinted(true);
}
