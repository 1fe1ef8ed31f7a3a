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

namespace {

using Volume = std::unique_ptr<ImageBase<float>>;

std::vector<unsigned char> preview(const KVEL::Image& image, const KVEL::Image* overlay = nullptr,
                                   std::vector<KVEL::PreviewPanel>* panels = nullptr, int* width = nullptr) {
    std::unique_ptr<KVEL::Image> p(KVEL::previewPicture(image, overlay, 5, panels));
    if (!p) return {};
    if (width) *width = p->m_dim[0];
    const auto* bytes = static_cast<const ImageBase<unsigned char>&>(*p).data();
    return std::vector<unsigned char>(bytes, bytes + p->m_image_size);
}

Volume volume(int nx, int ny, int nz, const Matrix3& direction) {
    auto image = std::make_unique<ImageBase<float>>();
    image->init(nx, ny, nz, 1, 1);
    image->setSpacing(1.0f, 1.5f, 2.0f, 1);
    KVEL::setDirection(*image, direction);
    for (int i = 0; i < image->m_image_size; ++i) image->data()[i] = static_cast<float>(i * 7919 % 1000);
    return image;
}

}  // namespace

// Every axis order and flip of an axis-aligned and of an oblique volume: axis
// k of the stored copy runs along axis order[k] of the source, reversed where
// flipped, with the direction and spacing that keep each voxel in place.
TEST(PreviewPicture, SameAnatomyInAnyStorageOrderGivesTheSamePicture) {
    const double c = std::cos(0.3), s = std::sin(0.3);
    const Matrix3 oblique = {{{c, -s, 0}, {s * 0.8, c * 0.8, -0.6}, {s * 0.6, c * 0.6, 0.8}}};
    const std::array<int, 3> orders[] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    for (const Matrix3& direction : {KVEL::identityDirection(), oblique}) {
        auto lps = volume(9, 8, 7, direction);
        const auto reference = preview(*lps);
        ASSERT_FALSE(reference.empty());
        for (const auto& order : orders) {
            for (int flips = 0; flips < 8; ++flips) {
                const int* n = lps->m_dim;
                auto stored = volume(n[order[0]], n[order[1]], n[order[2]], {});
                int j[3], i[3];
                for (int k = 0; k < 3; ++k) {
                    stored->m_spacing[k] = lps->m_spacing[order[k]];
                    const int sign = flips >> k & 1 ? -1 : 1;
                    for (int r = 0; r < 3; ++r) stored->m_direction[r][k] = sign * direction[r][order[k]];
                }
                for (j[2] = 0; j[2] < stored->m_dim[2]; ++j[2])
                    for (j[1] = 0; j[1] < stored->m_dim[1]; ++j[1])
                        for (j[0] = 0; j[0] < stored->m_dim[0]; ++j[0]) {
                            for (int k = 0; k < 3; ++k) i[order[k]] = flips >> k & 1 ? n[order[k]] - 1 - j[k] : j[k];
                            stored->set(lps->get(i[0], i[1], i[2], 0, 0), j[0], j[1], j[2], 0, 0);
                        }
                SCOPED_TRACE(KVEL::orientationCode(KVEL::directionOf(*stored)));
                EXPECT_EQ(preview(*stored), reference);
            }
        }
    }
}

// Brightness rising toward the patient's left, front and head, stored RAS:
// each panel is brightest toward the edges lettered L, A and S, and a letter
// (the only yellow pixels) stands beside the middle of every edge.
TEST(PreviewPicture, LettersNameTheEdgesTheAnatomyLiesAt) {
    auto ras = volume(40, 30, 20, {{{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}}});
    for (int i = 0; i < ras->m_image_size; ++i) {
        const KVEL::Vec3 p = KVEL::physicalPoint(*ras, {double(i % 40), double(i / 40 % 30), double(i / 1200)});
        ras->data()[i] = static_cast<float>(p[0] - p[1] + p[2]);
    }
    std::vector<KVEL::PreviewPanel> panels;
    int width = 0;
    const auto all = preview(*ras, nullptr, &panels, &width);
    const auto at = [&](int x, int y, int c) { return all[(y * width + x) * 3 + c]; };
    const auto lettered = [&](int x0, int y0, int margin) {
        int yellow = 0;
        for (int i = 0; i < margin * margin; ++i) {
            const int x = x0 + i % margin, y = y0 + i / margin;
            yellow += at(x, y, 2) < at(x, y, 0);
        }
        return yellow > 10;
    };
    ASSERT_EQ(panels.size(), 3u);
    const std::map<char, std::string> expected = {{'A', "RLAP"}, {'C', "RLSI"}, {'S', "APSI"}};
    for (const KVEL::PreviewPanel& p : panels) {
        SCOPED_TRACE(p.plane);
        EXPECT_EQ(std::string({p.left, p.right, p.top, p.bottom}), expected.at(p.plane));
        const int midX = p.x + p.width / 2, midY = p.y + p.height / 2, m = panels[0].y;
        EXPECT_EQ(at(p.x + p.width - 1, midY, 0) > at(p.x, midY, 0) ? p.right : p.left, p.plane == 'S' ? 'A' : 'L');
        EXPECT_EQ(at(midX, p.y, 0) > at(midX, p.y + p.height - 1, 0) ? p.top : p.bottom, p.plane == 'A' ? 'A' : 'S');
        EXPECT_TRUE(lettered(p.x - m, midY - m / 2, m) && lettered(p.x + p.width, midY - m / 2, m));
        EXPECT_TRUE(lettered(midX - m / 2, p.y - m, m) && lettered(midX - m / 2, p.y + p.height, m));
    }
}

// A 2-D picture is one axial panel of the pixels as stored, row 0 on top;
// squares of an overlay's own grey alternate with it; another grid is refused.
TEST(PreviewPicture, PictureIsOnePanelAsStoredAndOverlaysAlternateInSquares) {
    auto photo = volume(200, 150, 1, KVEL::identityDirection()), other = volume(200, 150, 1, {});
    photo->setSpacing(1, 1, 1, 1);
    for (int i = 0; i < photo->m_image_size; ++i) photo->data()[i] = static_cast<float>(i % 256);
    for (int i = 0; i < other->m_image_size; ++i) other->data()[i] = static_cast<float>(255 - i % 256);
    std::vector<KVEL::PreviewPanel> panels;
    int width = 0;
    const auto alone = preview(*photo, nullptr, &panels, &width), checked = preview(*photo, other.get());
    ASSERT_EQ(panels.size(), 1u);
    const KVEL::PreviewPanel& p = panels[0];
    ASSERT_EQ(p.width * 1000 + p.height, 200150);
    int wrong = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const std::size_t i = ((p.y + y) * width + p.x + x) * 3;
            const int stored = (y * 200 + x) % 256;
            const int overlaid = (x / 5 + y / 5) % 2 ? 255 - stored : stored;
            wrong += alone[i] != stored || alone[i + 2] != stored || checked[i] != overlaid;
        }
    EXPECT_EQ(wrong, 0);
    KVEL::setMessagesPrinted(false);
    EXPECT_TRUE(preview(*photo, volume(200, 149, 1, {}).get()).empty());
    KVEL::setMessagesPrinted(true);
}
