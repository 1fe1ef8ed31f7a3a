// Writes the shipped valley: valleyDepth.bmp (8-bit heights) and valleyTex.bmp
// (24-bit colours), 512 x 256 pixels each, into the given folder (default: data).
//
// The terrain is 80 x 40 world units, so one pixel is 0.15625 units and a
// height value v stands for v * 0.15625 units. A long valley floor of pale sand
// winds along x between weedy slopes and rocky ridges. The player starts at
// (1, 6, 10), pixel (6.4, 64), above the floor and looking along +x, where the
// valley runs straight for a while before it starts to wind. Everything comes
// from a fixed seed, so the pictures are the same on every run.
//
// usage: make_valley [output folder]

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "imagelib/bitmap.h"

namespace {

constexpr int kWidth = 512;
constexpr int kHeight = 256;
constexpr double kUnitsPerPixel = 80.0 / kWidth;  // also the height of one depth step
constexpr std::uint32_t kSeed = 20240611u;
constexpr double kPi = 3.141592653589793;

// --- deterministic noise --------------------------------------------------

double hashUnit(int x, int y, std::uint32_t salt) {
    std::uint32_t h = kSeed ^ salt;
    h ^= static_cast<std::uint32_t>(x) * 0x9E3779B1u;
    h = (h ^ (h >> 15)) * 0x85EBCA77u;
    h ^= static_cast<std::uint32_t>(y) * 0xC2B2AE3Du;
    h = (h ^ (h >> 13)) * 0x27D4EB2Fu;
    h ^= h >> 16;
    return (h & 0xFFFFFFu) / double(0xFFFFFF);
}

double smoothstep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Smoothly interpolated lattice noise, 0..1, features of about `scale` pixels.
double valueNoise(double x, double y, double scale, std::uint32_t salt) {
    x /= scale;
    y /= scale;
    const int ix = static_cast<int>(std::floor(x));
    const int iy = static_cast<int>(std::floor(y));
    const double fx = smoothstep(0, 1, x - ix);
    const double fy = smoothstep(0, 1, y - iy);
    const double top = hashUnit(ix, iy, salt) * (1 - fx) + hashUnit(ix + 1, iy, salt) * fx;
    const double bottom = hashUnit(ix, iy + 1, salt) * (1 - fx) + hashUnit(ix + 1, iy + 1, salt) * fx;
    return top * (1 - fy) + bottom * fy;
}

// Four octaves, 0..1.
double fractalNoise(double x, double y, double scale, std::uint32_t salt) {
    double sum = 0, weight = 1, total = 0;
    for (int octave = 0; octave < 4; ++octave) {
        sum += weight * valueNoise(x, y, scale, salt + octave);
        total += weight;
        weight *= 0.5;
        scale *= 0.5;
    }
    return sum / total;
}

// --- the valley's shape, in pixels and world units -------------------------

constexpr double kStartRow = 64.0;
constexpr double kStraightUntil = 80.0;  // columns of straight valley ahead of the start
constexpr double kFloorHeight = 2.0;     // world units, well below the start's 6

// Row of the valley's middle line at column c: straight along the start row,
// then a long bend to the far side of the map and back.
double centreRow(double c) {
    if (c <= kStraightUntil) return kStartRow;
    const double bend = 128.0 - 64.0 * std::cos(2 * kPi * (c - kStraightUntil) / 400.0);
    const double wobble = 10.0 * std::sin(2 * kPi * c / 150.0) * smoothstep(kStraightUntil, 160, c);
    return bend + wobble;
}

// Half-width of the flat floor, in pixels across the valley.
double floorHalfWidth(double c) { return 24.0 + 10.0 * valueNoise(c, 0, 90, 11); }

// Distance from (c, r) to the valley's middle line, across the valley.
double distanceFromMiddle(double c, double r) {
    const double slope = (centreRow(c + 1) - centreRow(c - 1)) / 2.0;
    return std::abs(r - centreRow(c)) / std::sqrt(1.0 + slope * slope);
}

// A few boulder mounds on the floor, away from the start.
double mounds(double c, double r) {
    struct Mound {
        double column, offset, radius, height;
    };
    static const Mound list[] = {{190, 14, 9, 3.5}, {255, -16, 12, 4.5}, {330, 10, 8, 3.0},
                                 {400, -12, 11, 5.0}, {470, 15, 10, 4.0}};
    double h = 0;
    for (const Mound& m : list) {
        const double dc = c - m.column;
        const double dr = r - (centreRow(m.column) + m.offset);
        h += m.height * std::exp(-(dc * dc + dr * dr) / (m.radius * m.radius));
    }
    return h;
}

// Terrain height in world units.
double heightAt(double c, double r) {
    const double beyondFloor = distanceFromMiddle(c, r) - floorHalfWidth(c);
    const double ripple = 0.25 * fractalNoise(c, r, 24, 21);
    const double slope = smoothstep(0, 56, beyondFloor);
    const double ridgeHeight = 11.0 + 9.0 * fractalNoise(c, r, 70, 31);
    const double hills = 5.0 * fractalNoise(c, r, 30, 41) * smoothstep(10, 60, beyondFloor);
    return kFloorHeight + ripple + ridgeHeight * slope + hills + mounds(c, r);
}

// --- colours ---------------------------------------------------------------

struct Rgb {
    double r, g, b;
};

Rgb mix(const Rgb& a, const Rgb& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Pale sand on the floor, weed on the lower slopes, darker rock higher up and
// wherever it is steep.
Rgb colourAt(double c, double r, double height, double steepness) {
    const double grain = fractalNoise(c, r, 6, 51) - 0.5;
    const double ripple = 0.5 + 0.5 * std::sin(0.9 * c + 0.35 * r + 4 * fractalNoise(c, r, 20, 61));
    const Rgb sand{222 + 18 * grain - 8 * ripple, 206 + 16 * grain - 8 * ripple, 160 + 14 * grain - 6 * ripple};
    const double weedShade = fractalNoise(c, r, 10, 71);
    const Rgb weed{50 + 30 * weedShade, 96 + 40 * weedShade, 48 + 20 * weedShade};
    const double rockShade = fractalNoise(c, r, 8, 81);
    const Rgb rock{88 + 44 * rockShade, 80 + 38 * rockShade, 72 + 32 * rockShade};

    const double elevation = height - kFloorHeight;
    const double patches = smoothstep(0.45, 0.6, fractalNoise(c, r, 28, 91));
    const double weedAmount = std::max(smoothstep(0.5, 2.5, elevation), 0.45 * patches);
    const double rockLine = 7.0 + 5.0 * fractalNoise(c, r, 16, 101);
    const double rockAmount = std::max(smoothstep(rockLine - 1, rockLine + 2, elevation),
                                       smoothstep(2.8, 4.0, steepness));
    return mix(mix(sand, weed, weedAmount), rock, rockAmount);
}

unsigned char toByte(double v) { return static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L)); }

int savePicture(KVEL::Bitmap& picture, const std::string& path) {
    if (picture.save(path.c_str()) != 1) {
        std::fprintf(stderr, "make_valley: could not write %s\n", path.c_str());
        return 1;
    }
    std::printf("wrote %s\n", path.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string folder = argc > 1 ? argv[1] : "data";

    std::vector<double> heights(static_cast<size_t>(kWidth) * kHeight);
    for (int r = 0; r < kHeight; ++r)
        for (int c = 0; c < kWidth; ++c) heights[r * kWidth + c] = heightAt(c, r);

    KVEL::Bitmap depth;
    depth.createFromBuffer(kWidth, kHeight, 1, nullptr);
    KVEL::Bitmap texture;
    texture.createFromBuffer(kWidth, kHeight, 3, nullptr);
    for (int r = 0; r < kHeight; ++r) {
        for (int c = 0; c < kWidth; ++c) {
            const double h = heights[r * kWidth + c];
            depth.data()[r * kWidth + c] = toByte(h / kUnitsPerPixel);
            // Rise per unit across a pixel, in world units.
            const double dx = heights[r * kWidth + std::min(c + 1, kWidth - 1)] - heights[r * kWidth + std::max(c - 1, 0)];
            const double dz = heights[std::min(r + 1, kHeight - 1) * kWidth + c] - heights[std::max(r - 1, 0) * kWidth + c];
            const double steepness = std::hypot(dx, dz) / (2 * kUnitsPerPixel);
            const Rgb colour = colourAt(c, r, h, steepness);
            unsigned char* pixel = texture.data() + 3 * (r * kWidth + c);  // blue, green, red
            pixel[0] = toByte(colour.b);
            pixel[1] = toByte(colour.g);
            pixel[2] = toByte(colour.r);
        }
    }
    return savePicture(depth, folder + "/valleyDepth.bmp") | savePicture(texture, folder + "/valleyTex.bmp");
}
