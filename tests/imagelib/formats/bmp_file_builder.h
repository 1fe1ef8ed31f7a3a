#pragma once

// Builds BMP files byte by byte, so tests can state every header field,
// including the ones a sound writer never produces.

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace bmptest {

struct BmpFields {
    std::uint16_t type = 0x4D42;
    std::uint32_t offBits = 0;  // 0: directly behind the header and palette
    std::uint32_t infoSize = 40;
    std::int32_t width = 3;
    std::int32_t height = 2;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t clrUsed = 0;
    int paletteEntries = 0;
};

inline void put(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// Header, palette (entry i = (i, i, i, 0)) and the given pixel bytes.
inline std::vector<unsigned char> buildBmp(const BmpFields& f, const std::vector<unsigned char>& pixels) {
    std::vector<unsigned char> out;
    const std::uint32_t offBits = f.offBits ? f.offBits : 14 + f.infoSize + 4 * f.paletteEntries;
    put(out, f.type, 2);
    put(out, static_cast<std::uint32_t>(offBits + pixels.size()), 4);
    put(out, 0, 4);
    put(out, offBits, 4);
    put(out, f.infoSize, 4);
    put(out, static_cast<std::uint32_t>(f.width), 4);
    put(out, static_cast<std::uint32_t>(f.height), 4);
    put(out, 1, 2);
    put(out, f.bitCount, 2);
    put(out, f.compression, 4);
    put(out, f.sizeImage, 4);
    put(out, static_cast<std::uint32_t>(f.xPelsPerMeter), 4);
    put(out, static_cast<std::uint32_t>(f.yPelsPerMeter), 4);
    put(out, f.clrUsed, 4);
    put(out, 0, 4);
    out.resize(14 + f.infoSize, 0);
    for (int i = 0; i < f.paletteEntries; ++i) put(out, 0x010101u * static_cast<std::uint32_t>(i & 255), 4);
    out.resize(offBits, 0);
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

inline void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace bmptest
