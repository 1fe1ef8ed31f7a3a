#include "imagelib/detail/dicom_header.h"

#include "imagelib/detail/byte_source.h"
#include "imagelib/detail/dicom_structure.h"

#include <gdcmPhotometricInterpretation.h>
#include <gdcmReader.h>
#include <gdcmSequenceOfItems.h>
#include <gdcmTrace.h>
#include <gdcmUIDs.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <utility>

namespace KVEL {

namespace {

const gdcm::Tag kPixelData(0x7fe0, 0x0010);
const gdcm::Tag kSharedGroups(0x5200, 0x9229), kPerFrameGroups(0x5200, 0x9230);
const gdcm::Tag kPlanePosition(0x0020, 0x9113), kPlaneOrientation(0x0020, 0x9116);
const gdcm::Tag kPixelMeasures(0x0028, 0x9110), kValueTransformation(0x0028, 0x9145);
const gdcm::Tag kPosition(0x0020, 0x0032), kOrientation(0x0020, 0x0037), kPixelSpacing(0x0028, 0x0030);
const gdcm::Tag kSliceSpacing(0x0018, 0x0088), kSliceThickness(0x0018, 0x0050);
const gdcm::Tag kIntercept(0x0028, 0x1052), kSlope(0x0028, 0x1053);

// GDCM's decoder asserts when these hold another value representation.
const std::pair<gdcm::Tag, gdcm::VR::VRType> kPixelModule[] = {
    {{0x0028, 0x0002}, gdcm::VR::US}, {{0x0028, 0x0005}, gdcm::VR::US}, {{0x0028, 0x0006}, gdcm::VR::US},
    {{0x0028, 0x0008}, gdcm::VR::IS}, {{0x0028, 0x0010}, gdcm::VR::US}, {{0x0028, 0x0011}, gdcm::VR::US},
    {{0x0028, 0x0100}, gdcm::VR::US}, {{0x0028, 0x0101}, gdcm::VR::US}, {{0x0028, 0x0102}, gdcm::VR::US},
    {{0x0028, 0x0103}, gdcm::VR::US}};

// Headers deeper than this or more sub-folders than this are not looked into.
constexpr int kMaxFolderDepth = 64;

std::string text(const gdcm::DataSet& ds, const gdcm::Tag& tag) {
    if (!ds.FindDataElement(tag)) return "";
    const gdcm::ByteValue* value = ds.GetDataElement(tag).GetByteValue();
    if (!value || !value->GetPointer()) return "";
    std::string s(value->GetPointer(), value->GetLength());
    const std::size_t end = s.find_last_not_of(std::string(" \0", 2));
    const std::size_t begin = s.find_first_not_of(' ');
    return end == std::string::npos ? "" : s.substr(begin, end - begin + 1);
}

// A decimal string's backslash-separated numbers; empty when any is not a finite number.
std::vector<double> numbers(const std::string& s) {
    std::vector<double> out;
    std::size_t start = 0;
    while (start <= s.size() && !s.empty()) {
        const std::size_t end = std::min(s.find('\\', start), s.size());
        const std::string part = s.substr(start, end - start);
        char* stop = nullptr;
        const double v = std::strtod(part.c_str(), &stop);
        if (stop == part.c_str() || !std::isfinite(v)) return {};
        out.push_back(v);
        start = end + 1;
    }
    return out;
}

// A US value; GDCM holds binary values in the machine's byte order.
int unsignedShort(const gdcm::DataSet& ds, const gdcm::Tag& tag) {
    if (!ds.FindDataElement(tag)) return -1;
    const gdcm::ByteValue* value = ds.GetDataElement(tag).GetByteValue();
    if (!value || value->GetLength() < 2) return -1;
    std::uint16_t v;
    std::memcpy(&v, value->GetPointer(), 2);
    return v;
}

// Item `index` of a sequence, or null.
const gdcm::DataSet* item(const gdcm::DataSet* ds, const gdcm::Tag& sequence, std::size_t index) {
    if (!ds || !ds->FindDataElement(sequence)) return nullptr;
    gdcm::SmartPointer<gdcm::SequenceOfItems> items = ds->GetDataElement(sequence).GetValueAsSQ();
    if (!items || items->GetNumberOfItems() <= index) return nullptr;
    return &items->GetItem(index + 1).GetNestedDataSet();
}

// A value from the frame's functional groups (its own, then the shared
// ones), else from the top-level data set.
struct FrameSources {
    const gdcm::DataSet* perFrame;
    const gdcm::DataSet* shared;
    const gdcm::DataSet& top;

    std::vector<double> values(const gdcm::Tag& macro, const gdcm::Tag& tag) const {
        for (const gdcm::DataSet* group : {perFrame, shared}) {
            if (const gdcm::DataSet* m = item(group, macro, 0)) {
                std::vector<double> v = numbers(text(*m, tag));
                if (!v.empty()) return v;
            }
        }
        return numbers(text(top, tag));
    }
};

bool readHeader(gdcm::Reader& reader, const std::string& name, DicomHeader& h, std::string& why) {
    std::set<gdcm::Tag> skip{kPixelData};
    if (!reader.ReadUpToTag(kPixelData, skip)) {
        why = name + " is no DICOM file GDCM can read";
        return false;
    }
    const gdcm::File& file = reader.GetFile();
    const gdcm::DataSet& ds = file.GetDataSet();
    for (const auto& [tag, vr] : kPixelModule) {
        if (ds.FindDataElement(tag) && !gdcm::VR(vr).Compatible(ds.GetDataElement(tag).GetVR())) {
            std::ostringstream element;
            element << tag;
            why = name + "'s element " + element.str() + " has the value representation " +
                  gdcm::VR::GetVRString(ds.GetDataElement(tag).GetVR()) + ", not " + gdcm::VR::GetVRString(vr);
            return false;
        }
    }
    // GDCM asserts on a Recognition Code (of ACR-NEMA files) other than these.
    const gdcm::Tag recognition(0x0008, 0x0010);
    if (ds.FindDataElement(recognition) && !ds.GetDataElement(recognition).IsEmpty()) {
        const gdcm::ByteValue* value = ds.GetDataElement(recognition).GetByteValue();
        const std::string code = value && value->GetPointer() ? std::string(value->GetPointer(), value->GetLength()) : "";
        if (code.rfind("ACR-NEMA", 0) != 0 && code.rfind("ACRNEMA", 0) != 0 && code.rfind("MIPS 2.0", 0) != 0) {
            why = name + " has a Recognition Code ACR-NEMA files do not have";
            return false;
        }
    }
    std::string sopClass = text(ds, gdcm::Tag(0x0008, 0x0016));
    if (sopClass.empty()) sopClass = text(file.GetHeader(), gdcm::Tag(0x0002, 0x0002));
    gdcm::UIDs uid;
    h.sopClass = uid.SetFromUID(sopClass.c_str()) && uid.GetName() ? uid.GetName() : sopClass.empty() ? "object of no class" : sopClass;
    const gdcm::TransferSyntax& syntax = file.GetHeader().GetDataSetTransferSyntax();
    h.compressed = syntax.IsEncapsulated() || syntax == gdcm::TransferSyntax::DeflatedExplicitVRLittleEndian;
    h.rle = syntax == gdcm::TransferSyntax::RLELossless;
    const std::string photometric = text(ds, gdcm::Tag(0x0028, 0x0004));
    h.halfChroma = photometric == "YBR_FULL_422";
    // GDCM's raw decoder asserts on this one; it is only written compressed.
    if (!h.compressed && gdcm::PhotometricInterpretation::GetPIType(photometric.c_str()) ==
                             gdcm::PhotometricInterpretation::YBR_PARTIAL_422) {
        why = name + " holds uncompressed YBR_PARTIAL_422 pixels";
        return false;
    }
    // GDCM's decoder asserts on palette colour without its three lookup
    // tables (a descriptor, and data whole or segmented, for each colour).
    if (gdcm::PhotometricInterpretation::GetPIType(photometric.c_str()) == gdcm::PhotometricInterpretation::PALETTE_COLOR) {
        for (std::uint16_t colour = 0; colour < 3; ++colour) {
            const bool data = ds.FindDataElement(gdcm::Tag(0x0028, 0x1201 + colour)) ||
                              ds.FindDataElement(gdcm::Tag(0x0028, 0x1221 + colour));
            if (!ds.FindDataElement(gdcm::Tag(0x0028, 0x1101 + colour)) || !data) {
                why = name + " holds PALETTE COLOR pixels without their colour lookup tables";
                return false;
            }
        }
    }
    h.seriesUid = text(ds, gdcm::Tag(0x0020, 0x000e));
    h.description = text(ds, gdcm::Tag(0x0008, 0x103e));
    h.rows = unsignedShort(ds, gdcm::Tag(0x0028, 0x0010));
    h.columns = unsignedShort(ds, gdcm::Tag(0x0028, 0x0011));
    const int samples = unsignedShort(ds, gdcm::Tag(0x0028, 0x0002));
    if (samples != -1 && samples != 1 && samples != 3 && samples != 4) {  // GDCM asserts on others
        why = name + " claims " + std::to_string(samples) + " samples per pixel";
        return false;
    }
    h.samples = std::max(1, samples);
    h.bitsAllocated = unsignedShort(ds, gdcm::Tag(0x0028, 0x0100));
    h.bitsStored = unsignedShort(ds, gdcm::Tag(0x0028, 0x0101));
    h.isSigned = unsignedShort(ds, gdcm::Tag(0x0028, 0x0103)) == 1;
    // The header stops before the pixel data: an image is what has the image pixel module.
    h.isImage = h.rows >= 0 || h.columns >= 0 || h.bitsAllocated >= 0;
    if (!h.isImage) return true;
    if (h.rows <= 0 || h.columns <= 0) {
        why = name + " has no Rows and Columns";
        return false;
    }
    const std::vector<double> frames = numbers(text(ds, gdcm::Tag(0x0028, 0x0008)));
    const double count = frames.empty() ? 1 : frames[0];
    if (count < 1 || count > 1e6 || count != std::floor(count)) {
        why = name + " claims " + std::to_string(count) + " frames";
        return false;
    }
    h.frames = static_cast<int>(count);
    // GDCM's own decoder aborts on a frame pointer without a frame count.
    if (frames.empty() && ds.FindDataElement(gdcm::Tag(0x0028, 0x0009))) {
        why = name + " has a Frame Increment Pointer but no Number of Frames";
        return false;
    }
    const gdcm::DataSet* shared = item(&ds, kSharedGroups, 0);
    const bool perFrame = item(&ds, kPerFrameGroups, 0) != nullptr;
    h.placements.assign(h.frames, FramePlacement());
    h.slopes.assign(h.frames, 1);
    h.intercepts.assign(h.frames, 0);
    for (int f = 0; f < h.frames; ++f) {
        // Without per-frame groups every frame of a multi-frame file has the
        // first frame's position: only that frame is placed.
        if (f > 0 && !perFrame) {
            h.slopes[f] = h.slopes[0];
            h.intercepts[f] = h.intercepts[0];
            continue;
        }
        const FrameSources from{perFrame ? item(&ds, kPerFrameGroups, f) : nullptr, shared, ds};
        const std::vector<double> p = from.values(kPlanePosition, kPosition);
        const std::vector<double> o = from.values(kPlaneOrientation, kOrientation);
        FramePlacement& place = h.placements[f];
        place.placed = p.size() == 3 && o.size() == 6;
        // GDCM's decoder asserts on per-frame positions without an orientation.
        if (perFrame && h.frames > 1 && !place.placed) {
            why = name + "'s frame " + std::to_string(f + 1) + " has no position and orientation in its functional groups";
            return false;
        }
        if (place.placed) {
            std::copy(p.begin(), p.end(), place.position.begin());
            std::copy(o.begin(), o.end(), place.orientation.begin());
        }
        const std::vector<double> slope = from.values(kValueTransformation, kSlope);
        const std::vector<double> intercept = from.values(kValueTransformation, kIntercept);
        if (!slope.empty() && slope[0] != 0) h.slopes[f] = slope[0];
        if (!intercept.empty()) h.intercepts[f] = intercept[0];
        if (f == 0) {
            // Row spacing (between rows: along y) first, then column spacing.
            const std::vector<double> s = from.values(kPixelMeasures, kPixelSpacing);
            if (s.size() == 2 && s[0] > 0 && s[1] > 0) {
                h.spacingY = s[0];
                h.spacingX = s[1];
            }
            std::vector<double> z = from.values(kPixelMeasures, kSliceSpacing);
            if (z.empty() || !(z[0] > 0)) z = from.values(kPixelMeasures, kSliceThickness);
            if (!z.empty() && z[0] > 0) h.sliceSpacing = z[0];
        }
    }
    return true;
}

bool guarded(const std::string& name, std::string& why, bool (*read)(gdcm::Reader&, const std::string&, DicomHeader&, std::string&),
             gdcm::Reader& reader, DicomHeader& header) {
    try {
        return read(reader, name, header, why);
    } catch (const std::exception& e) {
        why = name + " is a damaged DICOM file (" + e.what() + ")";
        return false;
    }
}

// The header, then (RLE) the fragments' own headers GDCM's decoder trusts.
bool readChecked(const std::string& name, gdcm::Reader& reader, ByteSource& bytes, DicomHeader& h, std::string& why) {
    if (!guarded(name, why, readHeader, reader, h)) return false;
    if (!h.isImage || !h.rle) return true;
    if (!checkRleFrames(bytes, h.dataStart, h.dataEnd, h.frames, h.samples * (h.bitsAllocated / 8), why)) {
        why = name + " is a damaged DICOM file: " + why;
        return false;
    }
    return true;
}

bool isDirectory(const std::string& path, struct stat& info) {
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void scan(const std::string& folder, int depth, std::set<std::pair<dev_t, ino_t>>& seen, std::vector<DicomHeader>& headers,
          int& skipped) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        ++skipped;
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    const std::string prefix = folder.back() == '/' ? folder : folder + "/";
    for (const std::string& n : names) {
        const std::string path = prefix + n;
        struct stat info;
        if (isDirectory(path, info)) {
            if (depth < kMaxFolderDepth && seen.insert({info.st_dev, info.st_ino}).second) {
                scan(path, depth + 1, seen, headers, skipped);
            }
            continue;
        }
        long long size = 0;
        std::string why;
        File file = openRegularFile(path, size, why);
        unsigned char head[132];
        if (!file) continue;
        if (!looksLikeDicom(head, std::fread(head, 1, sizeof head, file.get()))) continue;
        file.reset();
        DicomHeader header;
        if (readDicomHeader(path, header, why)) {
            headers.push_back(std::move(header));
        } else {
            ++skipped;
        }
    }
}

}  // namespace

void quietGdcm() {
    gdcm::Trace::SetWarning(false);
    gdcm::Trace::SetError(false);
    gdcm::Trace::SetDebug(false);
}

bool looksLikeDicom(const unsigned char* bytes, std::size_t size) {
    if (size >= 132 && std::memcmp(bytes + 128, "DICM", 4) == 0) return true;
    // No other format this library reads starts with these four bytes.
    return size >= 8 && (bytes[0] == 2 || bytes[0] == 8) && bytes[1] == 0 && bytes[2] <= 0x20 && bytes[3] == 0;
}

bool readDicomHeader(const std::string& path, DicomHeader& header, std::string& why) {
    quietGdcm();
    header = DicomHeader();
    header.path = path;
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        why = path + " is not a regular file";
        return false;
    }
    long long size = 0;
    File file = openRegularFile(path, size, why);
    ByteSource bytes(file.get(), size);
    if (!file || !checkDicomStructure(bytes, header.dataStart, header.dataEnd, why)) {
        why = path + " is a damaged DICOM file: " + why;
        return false;
    }
    gdcm::Reader reader;
    reader.SetFileName(path.c_str());
    return readChecked(path, reader, bytes, header, why);
}

bool readDicomHeader(std::istream& in, const unsigned char* bytes, std::size_t size, const std::string& name,
                     DicomHeader& header, std::string& why) {
    quietGdcm();
    header = DicomHeader();
    header.path = name;
    ByteSource source(bytes, size);
    if (!checkDicomStructure(source, header.dataStart, header.dataEnd, why)) {
        why = name + " is a damaged DICOM file: " + why;
        return false;
    }
    gdcm::Reader reader;
    reader.SetStream(in);
    return readChecked(name, reader, source, header, why);
}

bool scanDicomFolder(const std::string& folder, std::vector<DicomHeader>& headers, int& skipped, std::string& why) {
    struct stat info;
    if (folder.empty() || !isDirectory(folder, info)) {
        why = folder + " is not a folder";
        return false;
    }
    std::set<std::pair<dev_t, ino_t>> seen{{info.st_dev, info.st_ino}};
    skipped = 0;
    scan(folder, 0, seen, headers, skipped);
    return true;
}

}  // namespace KVEL
