#include "info.h"

#include <kvel/image_file.h>

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

void printInfo(std::ostream& out, const std::string& name, const std::string& format, KVEL::Image& image) {
    const int* d = image.m_dim;
    const float* s = image.m_spacing;
    const float* p = image.m_position;
    out << name << "\n"
        << "  format:       " << format << "\n"
        << "  element type: " << typeName(KVEL::glTypeOf(&image)) << "\n"
        << "  dimensions:   " << d[0] << " x " << d[1] << " x " << d[2] << " x " << d[3] << "\n"
        << "  channels:     " << image.m_channels << "\n"
        << "  spacing:      " << s[0] << " " << s[1] << " " << s[2] << " " << s[3] << "\n"
        << "  position:     " << p[0] << " " << p[1] << " " << p[2] << "\n";
    const int channels = std::max(image.m_channels, 1);
    std::vector<float> low(channels, std::numeric_limits<float>::infinity());
    std::vector<float> high(channels, -std::numeric_limits<float>::infinity());
    for (int i = 0; i < image.m_image_size; ++i) {
        const float v = image.get(i);
        low[i % channels] = std::min(low[i % channels], v);
        high[i % channels] = std::max(high[i % channels], v);
    }
    for (int c = 0; c < image.m_channels; ++c) {
        out << "  channel " << c << ":    min " << low[c] << ", max " << high[c] << "\n";
    }
}

void printSeries(std::ostream& out, const std::string& path) {
    const std::vector<KVEL::DicomSeries> series = KVEL::listDicomSeries(path.c_str());
    if (series.empty()) return;
    out << "  series:       " << series.size() << " (UID, description, slices, size)\n";
    for (const KVEL::DicomSeries& s : series) {
        out << "    " << s.uid << "  \"" << s.description << "\"  " << s.slices << "  " << s.width << " x " << s.height
            << "\n";
    }
}
