#include "info.h"

#include <kvel/image_file.h>
#include <kvel/space.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace {

const char* typeName(int glType) {
    switch (glType) {
        case KVEL::kGlUnsignedByte: return "MET_UCHAR (unsigned 8-bit)";
        case KVEL::kGlByte: return "MET_CHAR (signed 8-bit)";
        case KVEL::kGlUnsignedShort: return "MET_USHORT (unsigned 16-bit)";
        case KVEL::kGlShort: return "MET_SHORT (signed 16-bit)";
        case KVEL::kGlUnsignedInt: return "MET_UINT (unsigned 32-bit)";
        case KVEL::kGlInt: return "MET_INT (signed 32-bit)";
        case KVEL::kGlFloat: return "MET_FLOAT (32-bit float)";
        case KVEL::kGlDouble: return "MET_DOUBLE (64-bit float)";
        default: return "unknown";
    }
}

}  // namespace

void printInfo(std::ostream& out, const std::string& name, const KVEL::ImageHeader& header, KVEL::Image* image) {
    const int* d = header.dim;
    const float* s = header.spacing;
    const float* p = header.position;
    out << name << "\n"
        << "  format:       " << KVEL::formatName(header.format) << "\n"
        << "  element type: " << typeName(header.glType) << "\n"
        << "  dimensions:   " << d[0] << " x " << d[1] << " x " << d[2] << " x " << d[3] << "\n"
        << "  channels:     " << header.channels << "\n"
        << "  spacing:      " << s[0] << " " << s[1] << " " << s[2] << " " << s[3] << "\n"
        << "  position:     " << p[0] << " " << p[1] << " " << p[2] << "\n"
        << "  direction:   ";
    // The axes' directions in LPS, x axis first, and the letters they point to.
    KVEL::Matrix3 direction;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) direction[r][c] = header.direction[r][c];
    for (int c = 0; c < 3; ++c) {
        // + 0.0: a negated zero prints as 0.
        out << " (" << direction[0][c] + 0.0 << ", " << direction[1][c] + 0.0 << ", " << direction[2][c] + 0.0 << ")";
    }
    out << "\n  orientation:  " << KVEL::orientationCode(direction) << "\n";
    if (!header.dataFile.empty()) {
        out << "  data file:    " << header.dataFile << "\n"
            << "  data offset:  " << header.dataOffset << "\n"
            << "  byte order:   " << (header.bigEndian ? "big-endian" : "little-endian") << "\n";
    }
    if (!image) return;
    const int channels = std::max(image->m_channels, 1);
    std::vector<float> low(channels, std::numeric_limits<float>::infinity());
    std::vector<float> high(channels, -std::numeric_limits<float>::infinity());
    for (int i = 0; i < image->m_image_size; ++i) {
        const float v = image->get(i);
        low[i % channels] = std::min(low[i % channels], v);
        high[i % channels] = std::max(high[i % channels], v);
    }
    for (int c = 0; c < image->m_channels; ++c) {
        out << "  channel " << c << ":    min " << low[c] << ", max " << high[c] << "\n";
    }
}

void printSeries(std::ostream& out, const std::vector<KVEL::DicomSeries>& series) {
    if (series.empty()) return;
    out << "  series:       " << series.size() << " (UID, description, slices, size)\n";
    for (const KVEL::DicomSeries& s : series) {
        out << "    " << s.uid << "  \"" << s.description << "\"  " << s.slices << "  " << s.width << " x " << s.height
            << "\n";
    }
}
