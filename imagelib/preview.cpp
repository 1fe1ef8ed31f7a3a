#include "imagelib/preview.h"

#include "imagelib/space.h"

#include "imagelib/detail/element_types.h"
#include "imagelib/detail/interpolation.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/value_range.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <string>

namespace KVEL {

namespace {

// Panels are resampled so that their longest side lies in this range.
constexpr int kMinSide = 128;
constexpr int kMaxSide = 1024;
// Letters are 5 x 7 glyphs drawn kScale times, in margins of kMargin pixels.
constexpr int kScale = 2;
constexpr int kMargin = 7 * kScale + 6;
constexpr unsigned char kLetterColour[3] = {255, 255, 0};

struct Glyph {
    char letter;
    unsigned char rows[7];  // bit 4 is the leftmost column
};
constexpr Glyph kGlyphs[] = {
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}}, {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}},
};

// The volume seen in patient order: canonical axis a runs along LPS axis a
// (x to the left, y to posterior, z to superior). Its voxels are the stored
// ones, reached through signed strides, so a volume stored in any axis order
// or with any axis flipped gives the same canonical volume bit for bit.
struct PatientGrid {
    std::array<int, 3> size{};
    std::array<long long, 3> step{};  // elements between neighbours, negative when flipped
    long long first = 0;              // element of canonical voxel (0, 0, 0)
    ImageBase<float> geometry;        // spacing and direction of the canonical axes; no pixels
};

bool finiteDirection(const Matrix3& d) {
    for (const auto& row : d)
        for (double v : row)
            if (!std::isfinite(v)) return false;
    const double det = d[0][0] * (d[1][1] * d[2][2] - d[1][2] * d[2][1]) -
                       d[0][1] * (d[1][0] * d[2][2] - d[1][2] * d[2][0]) +
                       d[0][2] * (d[1][0] * d[2][1] - d[1][1] * d[2][0]);
    return std::fabs(det) > 1e-6;
}

// The stored axis that runs most nearly along each patient axis: of the six
// ways to pair them, the one whose direction components are largest.
std::array<int, 3> patientAxes(const Matrix3& d) {
    static const std::array<std::array<int, 3>, 6> kPairings = {
        {{0, 1, 2}, {0, 2, 1}, {1, 0, 2}, {1, 2, 0}, {2, 0, 1}, {2, 1, 0}}};
    std::array<int, 3> best = kPairings[0];
    double bestScore = -1;
    for (const auto& p : kPairings) {
        const double score = std::fabs(d[0][p[0]]) + std::fabs(d[1][p[1]]) + std::fabs(d[2][p[2]]);
        if (score > bestScore + 1e-12) {
            bestScore = score;
            best = p;
        }
    }
    return best;
}

float usableSpacing(float s) { return std::isfinite(s) && s > 0 ? s : 1.0f; }

// The voxels' strides come from `voxels`, their placement from `placement`
// (an overlay lies on the base's grid, but may have other channels).
void buildGrid(const Image& voxels, const Image& placement, PatientGrid& grid) {
    const Matrix3 d = directionOf(placement);
    const std::array<int, 3> source = patientAxes(d);
    const long long strides[3] = {voxels.m_channels, voxels.m_stride, voxels.m_slice_size};
    Matrix3 canonical{};
    for (int a = 0; a < 3; ++a) {
        const int c = source[a];
        const bool flipped = d[a][c] < 0;
        grid.size[a] = voxels.m_dim[c];
        grid.step[a] = flipped ? -strides[c] : strides[c];
        if (flipped) grid.first += (voxels.m_dim[c] - 1) * strides[c];
        grid.geometry.m_spacing[a] = usableSpacing(placement.m_spacing[c]);
        for (int r = 0; r < 3; ++r) canonical[r][a] = flipped ? -d[r][c] : d[r][c];
    }
    setDirection(grid.geometry, canonical);
    // Physical coordinates are offsets from the grid's centre.
    for (int r = 0; r < 3; ++r) grid.geometry.m_position[r] = 0;
    Vec3 centre;
    for (int a = 0; a < 3; ++a) centre[a] = (grid.size[a] - 1) / 2.0;
    const Vec3 point = physicalPoint(grid.geometry, centre);
    for (int r = 0; r < 3; ++r) grid.geometry.m_position[r] = static_cast<float>(-point[r]);
}

// One panel: its plane, the patient axes along its columns and rows (each
// running from the first letter's side to the second's), the axis it cuts.
struct Plane {
    char name;
    int across, down, cut;
    double downSign;  // +1 when rows run toward the positive LPS direction
    char left, right, top, bottom;
};
constexpr Plane kPlanes[] = {
    {'A', 0, 1, 2, +1, 'R', 'L', 'A', 'P'},
    {'C', 0, 2, 1, -1, 'R', 'L', 'S', 'I'},
    {'S', 1, 2, 0, -1, 'A', 'P', 'S', 'I'},
};

// Canonical voxels of one image, sampled trilinearly at physical offsets.
class Sampler {
public:
    Sampler(const Image& image, const PatientGrid& grid) : m_grid(grid) {
        // Only read: the element access of Image is not marked const.
        withTypedImage(const_cast<Image*>(&image), [&](auto& typed) {
            const auto* data = typed.data();
            m_interpolate = [data](long long corner, const int* step, const float* f) {
                return trilinearAt(data + corner, step[0], step[1], step[2], f[0], f[1], f[2]);
            };
            // Channel 0 of the first frame: the range shown as black to white.
            const long long voxels = static_cast<long long>(image.m_dim[0]) * image.m_dim[1] * image.m_dim[2];
            for (long long v = 0; v < voxels; ++v) {
                const float value = static_cast<float>(data[v * image.m_channels]);
                if (std::isfinite(value)) m_range.add(value);
            }
        });
        if (!(m_range.max > m_range.min)) m_range.max = m_range.min + 1;
    }

    // Grey level at a physical offset from the grid's centre; black outside.
    unsigned char at(const Vec3& point) const {
        const Vec3 u = continuousIndex(m_grid.geometry, point);
        int index[3], step[3];
        float fraction[3];
        for (int a = 0; a < 3; ++a) {
            const double last = m_grid.size[a] - 1;
            if (!(u[a] >= -1e-3 && u[a] <= last + 1e-3)) return 0;
            const double p = std::min(std::max(u[a], 0.0), last);
            index[a] = std::min(static_cast<int>(p), std::max(m_grid.size[a] - 2, 0));
            fraction[a] = static_cast<float>(p - index[a]);
            step[a] = m_grid.size[a] > 1 ? static_cast<int>(m_grid.step[a]) : 0;
        }
        const long long corner = m_grid.first + index[0] * m_grid.step[0] + index[1] * m_grid.step[1] +
                                 index[2] * m_grid.step[2];
        const float sum = m_interpolate(corner, step, fraction);
        const float scaled = (sum - m_range.min) * 255.0f / (m_range.max - m_range.min) + 0.5f;
        if (!(scaled > 0)) return 0;
        return scaled >= 255 ? 255 : static_cast<unsigned char>(scaled);
    }

private:
    const PatientGrid& m_grid;
    std::function<float(long long, const int*, const float*)> m_interpolate;
    ValueRange m_range;
};

void drawLetter(ImageBase<unsigned char>& picture, char letter, int centreX, int centreY) {
    for (const Glyph& g : kGlyphs) {
        if (g.letter != letter) continue;
        const int x0 = centreX - 5 * kScale / 2, y0 = centreY - 7 * kScale / 2;
        for (int row = 0; row < 7 * kScale; ++row)
            for (int col = 0; col < 5 * kScale; ++col) {
                if (!(g.rows[row / kScale] & (0x10 >> (col / kScale)))) continue;
                const int x = x0 + col, y = y0 + row;
                if (x < 0 || y < 0 || x >= picture.m_dim[0] || y >= picture.m_dim[1]) continue;
                std::copy(kLetterColour, kLetterColour + 3, picture.data() + (y * picture.m_dim[0] + x) * 3);
            }
    }
}

}  // namespace

Image* previewPicture(const Image& base, const Image* overlay, int checkerSize, std::vector<PreviewPanel>* panels) {
    clearLastError();
    const auto refuse = [](const std::string& why) -> Image* {
        reportFailure("Error: no preview: " + why);
        return nullptr;
    };
    if (base.m_dim[0] < 1 || base.m_dim[1] < 1 || base.m_dim[2] < 1 || base.m_channels < 1 || !glTypeOf(&base)) {
        return refuse("the image holds no voxels");
    }
    if (!finiteDirection(directionOf(base))) return refuse("the image's direction matrix is not invertible");
    if (overlay) {
        if (!glTypeOf(overlay) || overlay->m_channels < 1 || overlay->m_dim[0] != base.m_dim[0] ||
            overlay->m_dim[1] != base.m_dim[1] || overlay->m_dim[2] != base.m_dim[2]) {
            return refuse("the overlay does not lie on the image's grid");
        }
        if (checkerSize < 1) return refuse("checker squares of " + std::to_string(checkerSize) + " pixels");
    }

    PatientGrid grid, overlayGrid;
    buildGrid(base, base, grid);
    if (overlay) buildGrid(*overlay, base, overlayGrid);

    // Square pixels of the finest spacing, within the side limits; the
    // extent along a patient axis is the span of the voxel centres.
    const Matrix3 d = directionOf(grid.geometry);
    Vec3 extent{};
    double pixel = 0;
    for (int c = 0; c < 3; ++c) {
        const double span = (grid.size[c] - 1) * double(grid.geometry.m_spacing[c]);
        for (int a = 0; a < 3; ++a) extent[a] += std::fabs(d[a][c]) * span;
        if (grid.size[c] > 1 && (pixel == 0 || grid.geometry.m_spacing[c] < pixel)) pixel = grid.geometry.m_spacing[c];
    }
    const double longest = std::max({extent[0], extent[1], extent[2]});
    if (pixel == 0 || longest == 0) pixel = 1;
    if (longest / pixel + 1 > kMaxSide) pixel = longest / (kMaxSide - 1);
    if (longest > 0 && longest / pixel + 1 < kMinSide) pixel = longest / (kMinSide - 1);
    std::array<int, 3> count;
    // Rounded down, so that the edge pixels never fall outside the voxels.
    for (int a = 0; a < 3; ++a) count[a] = static_cast<int>(std::min(extent[a] / pixel + 1e-6, kMaxSide - 1.0)) + 1;

    // A grid one voxel thick along a patient axis shows only the plane across it.
    std::vector<const Plane*> shown;
    for (const Plane& plane : kPlanes) {
        if (grid.size[plane.cut] == 1) {
            shown.assign(1, &plane);
            break;
        }
        shown.push_back(&plane);
    }
    int width = 0, height = 0;
    for (const Plane* p : shown) {
        width += count[p->across] + 2 * kMargin;
        height = std::max(height, count[p->down] + 2 * kMargin);
    }
    auto picture = std::make_unique<ImageBase<unsigned char>>();
    picture->m_verbose = base.m_verbose;
    if (picture->init(width, height, 1, 1, 3) != 0 || !picture->data()) return refuse("no memory for the picture");

    const Sampler baseSampler(base, grid);
    std::unique_ptr<Sampler> overlaySampler;
    if (overlay) overlaySampler = std::make_unique<Sampler>(*overlay, overlayGrid);
    if (panels) panels->clear();
    int left = 0;
    for (const Plane* p : shown) {
        const int w = count[p->across], h = count[p->down];
        const int x0 = left + kMargin, y0 = kMargin;
        // The cut goes through the middle voxel of the patient axis it crosses.
        const int cutIndex = grid.size[p->cut] / 2;
        const double cutOffset = (cutIndex - (grid.size[p->cut] - 1) / 2.0) * grid.geometry.m_spacing[p->cut];
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                Vec3 point{};
                point[p->across] = (x - (w - 1) / 2.0) * pixel;
                point[p->down] = p->downSign * (y - (h - 1) / 2.0) * pixel;
                point[p->cut] = cutOffset;
                const bool fromOverlay = overlaySampler && ((x / checkerSize + y / checkerSize) & 1);
                const unsigned char grey = (fromOverlay ? *overlaySampler : baseSampler).at(point);
                unsigned char* out = picture->data() + (static_cast<long long>(y0 + y) * width + x0 + x) * 3;
                out[0] = out[1] = out[2] = grey;
            }
        }
        drawLetter(*picture, p->left, x0 - kMargin / 2, y0 + h / 2);
        drawLetter(*picture, p->right, x0 + w + kMargin / 2, y0 + h / 2);
        drawLetter(*picture, p->top, x0 + w / 2, y0 - kMargin / 2);
        drawLetter(*picture, p->bottom, x0 + w / 2, y0 + h + kMargin / 2);
        if (panels) panels->push_back({p->name, x0, y0, w, h, p->left, p->right, p->top, p->bottom});
        left += w + 2 * kMargin;
    }
    return picture.release();
}

}  // namespace KVEL
