// DICOM through GDCM: a single file (any frames), from a file or from memory,
// and a folder holding one or more series. Headers are read first; pixels
// only of the series that is read. Slices are stacked along their normal
// (dicom_stack), values rescaled into the smallest type that holds them.
#include "imagelib/formats/codecs.h"

#include "imagelib/detail/byte_source.h"
#include "imagelib/detail/dicom_header.h"
#include "imagelib/detail/element_types.h"
#include "imagelib/detail/messages.h"
#include "imagelib/detail/thread_pool.h"

#include <kvel/space.h>

#include <gdcmPixmapReader.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <streambuf>

namespace KVEL {

namespace {

const char* const kExtensions[] = {nullptr};

// Compressed frames may not claim more bytes than this many per byte of file:
// far above what any codec packs real pictures into.
constexpr long long kMaxCompression = 1 << 16;

// A read-only stream over bytes in memory, with the seeking GDCM needs.
class MemoryBuffer : public std::streambuf {
public:
    MemoryBuffer(const unsigned char* bytes, std::size_t size) {
        char* p = const_cast<char*>(reinterpret_cast<const char*>(bytes));
        setg(p, p, p + size);
    }

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
        const off_type base = dir == std::ios_base::beg ? 0 : dir == std::ios_base::cur ? gptr() - eback() : egptr() - eback();
        if (off < -base || off > (egptr() - eback()) - base) return pos_type(off_type(-1));
        setg(eback(), eback() + base + off, egptr());
        return pos_type(base + off);
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode mode) override {
        return seekoff(off_type(pos), std::ios_base::beg, mode);
    }
};

// Where the bytes of a single DICOM file come from: a path, or memory.
struct Source {
    const DicomHeader* header;
    const unsigned char* bytes = nullptr;  // holds at least the header's dataEnd bytes
};

Image* refuse(const std::string& why) {
    reportFailure("Error: " + why);
    return nullptr;
}

bool refused(const std::string& why) {
    refuse(why);
    return false;
}

int storedType(int bits, bool isSigned) {
    switch (bits) {
        case 8: return isSigned ? kGlByte : kGlUnsignedByte;
        case 16: return isSigned ? kGlShort : kGlUnsignedShort;
        case 32: return isSigned ? kGlInt : kGlUnsignedInt;
        default: return 0;
    }
}

template <class F>
void withStoredType(int glType, F&& f) {
    switch (glType) {
        case kGlByte: f(static_cast<std::int8_t*>(nullptr)); break;
        case kGlUnsignedByte: f(static_cast<std::uint8_t*>(nullptr)); break;
        case kGlShort: f(static_cast<std::int16_t*>(nullptr)); break;
        case kGlUnsignedShort: f(static_cast<std::uint16_t*>(nullptr)); break;
        case kGlInt: f(static_cast<std::int32_t*>(nullptr)); break;
        default: f(static_cast<std::uint32_t*>(nullptr)); break;
    }
}

// Keeps the stored bits of each sample, sign-extended.
template <class S>
void keepStoredBits(S* data, std::size_t n, int bitsStored, bool isSigned) {
    using U = std::make_unsigned_t<S>;
    constexpr int kBits = 8 * sizeof(S);
    if (bitsStored <= 0 || bitsStored >= kBits) return;
    const U mask = static_cast<U>((U(1) << bitsStored) - 1);
    const U sign = static_cast<U>(U(1) << (bitsStored - 1));
    for (std::size_t i = 0; i < n; ++i) {
        U u = static_cast<U>(static_cast<U>(data[i]) & mask);
        if (isSigned && (u & sign)) u = static_cast<U>(u | ~mask);
        data[i] = static_cast<S>(u);
    }
}

// The values stored bits can hold.
void storedRange(const DicomHeader& h, double& low, double& high) {
    const int bits = h.bitsStored > 0 && h.bitsStored < h.bitsAllocated ? h.bitsStored : h.bitsAllocated;
    const double values = std::ldexp(1.0, bits);
    low = h.isSigned ? -values / 2 : 0;
    high = (h.isSigned ? values / 2 : values) - 1;
}

// One file's frames, decoded by GDCM into out (rows x columns x samples x
// frames samples of bitsAllocated bits, channels interleaved).
bool decodeFile(const Source& source, unsigned char* out, std::size_t bytes, std::string& why) {
    const DicomHeader& h = *source.header;
    const std::string& name = h.path;
    // GDCM's raw decoder reads past a short pixel data element: its value
    // must hold the pixels.
    const long long after = h.dataEnd - h.dataStart;
    const long long stored = h.halfChroma ? static_cast<long long>(bytes) * 2 / 3 : static_cast<long long>(bytes);
    const long long most = h.compressed ? after * kMaxCompression : after;
    if (stored > most) {
        why = name + "'s pixel data cannot hold the " + std::to_string(bytes) + " bytes of rows x columns x frames: " +
              std::to_string(std::max(after, 0LL)) + " bytes of pixel data";
        return false;
    }
    try {
        // A pixmap reader, not an image reader: the slices are placed here
        // (dicom_stack), and GDCM's own spacing from the functional groups
        // asserts on some damaged ones.
        gdcm::PixmapReader reader;
        // GDCM is given the bytes up to the end of the pixel data: what
        // follows them is not needed, and damaged trailing elements make it
        // run out of memory or crash.
        std::vector<unsigned char> read;
        const unsigned char* data = source.bytes;
        if (!data) {
            long long size = 0;
            File file = openRegularFile(name, size, why);
            if (!file) return false;
            read.resize(static_cast<std::size_t>(h.dataEnd));
            if (size < h.dataEnd || std::fread(read.data(), 1, read.size(), file.get()) != read.size()) {
                why = name + " is shorter than when its header was read";
                return false;
            }
            data = read.data();
        }
        MemoryBuffer buffer(data, static_cast<std::size_t>(h.dataEnd));
        std::istream in(&buffer);
        reader.SetStream(in);
        if (!reader.Read()) {
            why = name + " holds pixel data GDCM cannot decode";
            return false;
        }
        const gdcm::Pixmap& image = reader.GetPixmap();
        const gdcm::PixelFormat& format = image.GetPixelFormat();
        const unsigned frames = image.GetNumberOfDimensions() == 3 ? image.GetDimension(2) : 1;
        if (static_cast<int>(image.GetColumns()) != h.columns || static_cast<int>(image.GetRows()) != h.rows ||
            static_cast<int>(frames) != h.frames || format.GetSamplesPerPixel() != h.samples ||
            format.GetBitsAllocated() != h.bitsAllocated) {
            why = name + "'s pixel data do not match its header";
            return false;
        }
        if (image.GetBufferLength() != bytes) {
            why = name + "'s pixel data hold " + std::to_string(image.GetBufferLength()) + " bytes, not the " +
                  std::to_string(bytes) + " of rows x columns x frames";
            return false;
        }
        if (!image.GetBuffer(reinterpret_cast<char*>(out))) {
            why = name + "'s pixel data are damaged or shorter than rows x columns x frames";
            return false;
        }
        // GDCM swaps big-endian pixels 16 bits at a time: a 32-bit sample
        // comes with its halves exchanged.
        if (h.bitsAllocated == 32 &&
            reader.GetFile().GetHeader().GetDataSetTransferSyntax() == gdcm::TransferSyntax::ExplicitVRBigEndian) {
            for (std::size_t i = 0; i + 4 <= bytes; i += 4) {
                std::uint16_t half[2];
                std::memcpy(half, out + i, 4);
                std::swap(half[0], half[1]);
                std::memcpy(out + i, half, 4);
            }
        }
        if (h.samples == 3 && image.GetPlanarConfiguration() == 1) {
            // Colour planes one after the other: interleave them, frame by frame.
            const std::size_t plane = static_cast<std::size_t>(h.rows) * h.columns;
            std::vector<unsigned char> frame(plane * 3);
            for (int f = 0; f < h.frames; ++f) {
                unsigned char* p = out + f * plane * 3;
                std::memcpy(frame.data(), p, frame.size());
                for (std::size_t i = 0; i < plane; ++i) {
                    for (int c = 0; c < 3; ++c) p[i * 3 + c] = frame[c * plane + i];
                }
            }
        }
        return true;
    } catch (const std::exception& e) {
        why = name + " is a damaged DICOM file (" + e.what() + ")";
        return false;
    }
}

std::string sizeText(const DicomHeader& h) {
    return std::to_string(h.columns) + " x " + std::to_string(h.rows) + " pixels of " + std::to_string(h.samples) +
           " sample" + (h.samples == 1 ? "" : "s") + " of " + std::to_string(h.bitsAllocated) + " bits" +
           (h.isSigned ? " signed" : "");
}

// The smallest integer type, no narrower than the stored one, that holds
// [low, high]; float when none does.
int valueType(int stored, double low, double high) {
    struct Range {
        int glType;
        int bytes;
        double low, high;
    };
    static const Range kRanges[] = {{kGlUnsignedByte, 1, 0, 255},         {kGlByte, 1, -128, 127},
                                    {kGlUnsignedShort, 2, 0, 65535},      {kGlShort, 2, -32768, 32767},
                                    {kGlUnsignedInt, 4, 0, 4294967295.0}, {kGlInt, 4, -2147483648.0, 2147483647.0}};
    const int storedBytes = stored == kGlByte || stored == kGlUnsignedByte ? 1 : stored == kGlShort || stored == kGlUnsignedShort ? 2 : 4;
    for (const Range& r : kRanges) {
        if (r.bytes >= storedBytes && low >= r.low && high <= r.high) return r.glType;
    }
    return kGlFloat;
}

bool isWhole(double v) { return std::floor(v) == v && std::fabs(v) < 2147483648.0; }

// What the files of one series make, from their headers alone.
struct Plan {
    const DicomHeader* first = nullptr;
    int stored = 0;          // the stored samples' type
    int glType = 0;          // the values' type: the stored one, or what rescaling makes
    bool rescaled = false;
    Stack stack;
    std::vector<double> slopes, intercepts;  // per frame, in stored order
    long long frameSamples = 0;
    int depth() const { return static_cast<int>(stack.order.size()); }
};

// The plan for these files, or false with the reason reported. The values'
// type follows from the stored bits and the rescaling, never from the pixels,
// so that any part of the series reads as the whole does.
bool planStack(const std::vector<Source>& sources, const std::string& name, Plan& plan) {
    const DicomHeader& first = *sources[0].header;
    std::vector<FramePlacement> placements;
    for (const Source& s : sources) {
        const DicomHeader& h = *s.header;
        if (h.rows != first.rows || h.columns != first.columns) {
            return refused(name + " holds slices of different sizes: " + sizeText(first) + " in " + first.path + ", " +
                          sizeText(h) + " in " + h.path);
        }
        if (h.samples != first.samples || h.bitsAllocated != first.bitsAllocated || h.bitsStored != first.bitsStored ||
            h.isSigned != first.isSigned) {
            return refused(name + " holds slices of different pixel formats: " + sizeText(first) + " in " + first.path +
                          ", " + sizeText(h) + " in " + h.path);
        }
        placements.insert(placements.end(), h.placements.begin(), h.placements.end());
        plan.slopes.insert(plan.slopes.end(), h.slopes.begin(), h.slopes.end());
        plan.intercepts.insert(plan.intercepts.end(), h.intercepts.begin(), h.intercepts.end());
    }
    plan.first = &first;
    plan.stored = storedType(first.bitsAllocated, first.isSigned);
    if (!plan.stored || (first.samples != 1 && !(first.samples == 3 && first.bitsAllocated == 8))) {
        return refused(name + " holds " + sizeText(first) + ", which this library does not read");
    }
    plan.frameSamples = static_cast<long long>(first.rows) * first.columns * first.samples;
    if (plan.frameSamples * static_cast<long long>(placements.size()) > INT_MAX) {
        return refused(name + " holds more than 2^31 - 1 samples");
    }
    std::string why;
    if (!stackFrames(placements, first.sliceSpacing, plan.stack, why)) return refused(name + " is not read: " + why);
    for (std::size_t i = 0; i < plan.slopes.size(); ++i) {
        plan.rescaled = plan.rescaled || plan.slopes[i] != 1 || plan.intercepts[i] != 0;
    }
    plan.rescaled = plan.rescaled && first.samples == 1;
    plan.glType = plan.stored;
    if (plan.rescaled) {
        double low, high, lo = INFINITY, hi = -INFINITY;
        storedRange(first, low, high);
        bool whole = true;
        for (std::size_t i = 0; i < plan.slopes.size(); ++i) {
            whole = whole && isWhole(plan.slopes[i]) && isWhole(plan.intercepts[i]);
            const double a = low * plan.slopes[i] + plan.intercepts[i], b = high * plan.slopes[i] + plan.intercepts[i];
            lo = std::min({lo, a, b});
            hi = std::max({hi, a, b});
        }
        plan.glType = whole ? valueType(plan.stored, lo, hi) : kGlFloat;
    }
    return true;
}

// The plan's placement for an image whose first slice is the series' slice `from`.
void placeImage(const Plan& plan, int from, Image& image) {
    image.setSpacing(static_cast<float>(plan.first->spacingX), static_cast<float>(plan.first->spacingY),
                     static_cast<float>(plan.stack.spacing), 1);
    for (int i = 0; i < 3; ++i) image.m_position[i] = static_cast<float>(plan.stack.origin[i]);
    setDirection(image, plan.stack.direction);
    const Vec3 corner = physicalPoint(image, {0, 0, static_cast<double>(from)});
    for (int i = 0; i < 3; ++i) image.m_position[i] = static_cast<float>(corner[i]);
}

// Slices from to from + count - 1 (along the normal) of the planned series:
// only the files holding them are decoded.
Image* readSlices(const std::vector<Source>& sources, const Plan& plan, int from, int count, const std::string& name) {
    const DicomHeader& first = *plan.first;
    const long long frameSamples = plan.frameSamples;
    // Where each stored frame goes along z.
    std::vector<long long> slot(plan.stack.order.size());
    for (std::size_t z = 0; z < plan.stack.order.size(); ++z) slot[plan.stack.order[z]] = static_cast<long long>(z) - from;
    const auto inSlab = [&](std::size_t frame) { return slot[frame] >= 0 && slot[frame] < count; };

    const std::size_t sampleBytes = static_cast<std::size_t>(first.bitsAllocated / 8);
    const std::size_t frameBytes = static_cast<std::size_t>(frameSamples) * sampleBytes;
    std::unique_ptr<Image> image(createImage(plan.glType));
    std::unique_ptr<unsigned char[]> storedValues;
    unsigned char* volume = nullptr;
    if (!plan.rescaled) {
        image->init(first.columns, first.rows, count, 1, first.samples);
        withTypedImage(image.get(), [&](auto& typed) { volume = reinterpret_cast<unsigned char*>(typed.m_data); });
    } else {
        // Every byte is decoded into: no zeroing first.
        storedValues.reset(new (std::nothrow) unsigned char[frameBytes * count]);
        volume = storedValues.get();
    }
    if (!volume) return refuse("no memory for the image of " + name);
    // The files holding the slab's frames decode side by side, each into its
    // own slots; the first failure in file order is the one reported,
    // whatever the thread count.
    std::vector<std::size_t> firstFrame(sources.size() + 1, 0);
    for (std::size_t i = 0; i < sources.size(); ++i) firstFrame[i + 1] = firstFrame[i] + sources[i].header->frames;
    std::vector<std::size_t> needed;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        bool holds = false;
        for (std::size_t f = firstFrame[i]; f < firstFrame[i + 1]; ++f) holds = holds || inSlab(f);
        if (holds) needed.push_back(i);
    }
    std::vector<std::string> failures(needed.size());
    RowParts(static_cast<long long>(needed.size()), frameSamples).forEachRange([&](long long begin, long long end) {
        std::vector<unsigned char> scratch;
        for (long long n = begin; n < end; ++n) {
            const std::size_t i = needed[n];
            const DicomHeader& h = *sources[i].header;
            const std::size_t bytes = frameBytes * h.frames;
            const bool direct = h.frames == 1;
            if (!direct) scratch.resize(bytes);
            unsigned char* out = direct ? volume + slot[firstFrame[i]] * frameBytes : scratch.data();
            if (!decodeFile(sources[i], out, bytes, failures[n])) return;
            for (int f = 0; !direct && f < h.frames; ++f) {
                const std::size_t frame = firstFrame[i] + f;
                if (inSlab(frame)) std::memcpy(volume + slot[frame] * frameBytes, scratch.data() + f * frameBytes, frameBytes);
            }
        }
    });
    for (const std::string& failure : failures) {
        if (!failure.empty()) return refuse(failure);
    }
    const RowParts frames(count, frameSamples);
    withStoredType(plan.stored, [&](auto* type) {
        using S = std::remove_pointer_t<decltype(type)>;
        frames.forEachRange([&](long long begin, long long end) {
            for (long long z = begin; z < end; ++z) {
                keepStoredBits(reinterpret_cast<S*>(volume) + z * frameSamples, static_cast<std::size_t>(frameSamples),
                               first.bitsStored, first.isSigned);
            }
        });
    });
    if (plan.rescaled) {
        image->init(first.columns, first.rows, count, 1, 1);
        bool filled = false;
        withTypedImage(image.get(), [&](auto& out) {
            using T = std::remove_reference_t<decltype(*out.m_data)>;
            if (!out.m_data) return;
            withStoredType(plan.stored, [&](auto* type) {
                using S = std::remove_pointer_t<decltype(type)>;
                const S* in = reinterpret_cast<const S*>(volume);
                frames.forEachRange([&](long long begin, long long end) {
                    for (long long z = begin; z < end; ++z) {
                        const std::size_t frame = plan.stack.order[from + z];
                        const double m = plan.slopes[frame], c = plan.intercepts[frame];
                        T* o = out.m_data + z * frameSamples;
                        const S* i = in + z * frameSamples;
                        for (long long k = 0; k < frameSamples; ++k) o[k] = static_cast<T>(i[k] * m + c);
                    }
                });
            });
            filled = true;
        });
        if (!filled) return refuse("no memory for the image of " + name);
    }
    placeImage(plan, from, *image);
    image->computeRange();
    return image.release();
}

// The slices the options ask for of these files (one series).
Image* readStack(const std::vector<Source>& sources, const ReadOptions& options, const std::string& name) {
    Plan plan;
    int from = 0, count = 0;
    if (!planStack(sources, name, plan) || !slabWithin(options, plan.depth(), name, from, count)) return nullptr;
    return readSlices(sources, plan, from, count, name);
}

// What the planned series holds, as readStack would read it whole.
void describePlan(const Plan& plan, ImageHeader& header) {
    std::unique_ptr<Image> image(createImage(plan.glType));
    placeImage(plan, 0, *image);
    describeImage(*image, header);
    const int dims[4] = {plan.first->columns, plan.first->rows, plan.depth(), 1};
    for (int i = 0; i < 4; ++i) header.dim[i] = dims[i];
    header.channels = plan.first->samples;
}

// One file's header, refused unless it is an image.
bool isImageFile(const DicomHeader& h) {
    return h.isImage || refused(h.path + " is a DICOM " + h.sopClass + ", not an image");
}

Image* decode(const unsigned char* bytes, std::size_t size, const std::string& name) {
    MemoryBuffer buffer(bytes, size);
    std::istream in(&buffer);
    DicomHeader header;
    std::string why;
    if (!readDicomHeader(in, bytes, size, name, header, why)) return refuse(why);
    return isImageFile(header) ? readStack({Source{&header, bytes}}, ReadOptions(), name) : nullptr;
}

Image* readSlab(const std::string& path, const ReadOptions& options) {
    DicomHeader header;
    std::string why;
    if (!readDicomHeader(path, header, why)) return refuse(why);
    return isImageFile(header) ? readStack({Source{&header}}, options, path) : nullptr;
}

bool recognise(const unsigned char* bytes, std::size_t size) { return looksLikeDicom(bytes, size); }

// A folder's image files by series, the largest first.
struct Series {
    DicomSeries summary;
    std::vector<const DicomHeader*> files;
};

bool seriesOf(const std::string& folder, std::vector<DicomHeader>& headers, std::vector<Series>& series) {
    int skipped = 0;
    std::string why;
    if (!scanDicomFolder(folder, headers, skipped, why)) {
        reportFailure("Error: " + why);
        return false;
    }
    std::map<std::string, Series> byUid;
    std::map<std::string, int> others;
    for (const DicomHeader& h : headers) {
        if (!h.isImage) {
            ++others[h.sopClass];
            continue;
        }
        Series& s = byUid[h.seriesUid];
        if (s.files.empty()) s.summary = DicomSeries{h.seriesUid, h.description, 0, h.columns, h.rows};
        s.summary.slices += h.frames;
        s.files.push_back(&h);
    }
    for (auto& entry : byUid) series.push_back(std::move(entry.second));
    std::stable_sort(series.begin(), series.end(), [](const Series& a, const Series& b) {
        return a.summary.slices > b.summary.slices;
    });
    if (series.empty()) {
        std::string what;
        for (const auto& o : others) what += (what.empty() ? "" : ", ") + o.first + " (" + std::to_string(o.second) + ")";
        reportFailure("Error: " + folder + " holds no DICOM images" + (what.empty() ? "" : ", only " + what) +
                      (skipped ? "; " + std::to_string(skipped) + " files could not be read" : ""));
        return false;
    }
    return true;
}

std::string describe(const DicomSeries& s) {
    return s.uid + " (" + (s.description.empty() ? "" : "\"" + s.description + "\", ") + std::to_string(s.slices) +
           " slices of " + std::to_string(s.width) + " x " + std::to_string(s.height) + ")";
}

std::vector<DicomSeries> summaries(const std::vector<Series>& series) {
    std::vector<DicomSeries> out;
    for (const Series& s : series) out.push_back(s.summary);
    return out;
}

// The files of the folder's series that options.series names, or of its
// largest; every series found goes to options.seriesFound when it is set.
bool seriesFiles(const std::string& folder, const ReadOptions& options, std::vector<DicomHeader>& headers,
                 std::vector<Source>& sources) {
    std::vector<Series> series;
    if (!seriesOf(folder, headers, series)) return false;
    if (options.seriesFound) *options.seriesFound = summaries(series);
    const std::string& uid = options.series;
    std::size_t pick = 0;
    if (!uid.empty()) {
        while (pick < series.size() && series[pick].summary.uid != uid) ++pick;
        if (pick == series.size()) return refused(folder + " holds no series " + uid);
    } else if (series.size() > 1) {
        std::string rest;
        for (std::size_t i = 1; i < series.size(); ++i) rest += (i > 1 ? ", " : "") + describe(series[i].summary);
        reportNotice("Notice: " + folder + " holds " + std::to_string(series.size()) + " series; read the largest, " +
                     describe(series[0].summary) + "; the others: " + rest);
    }
    for (const DicomHeader* h : series[pick].files) sources.push_back(Source{h});
    return true;
}

}  // namespace

std::vector<DicomSeries> listSeriesIn(const std::string& folder) {
    std::vector<DicomHeader> headers;
    std::vector<Series> series;
    return seriesOf(folder, headers, series) ? summaries(series) : std::vector<DicomSeries>();
}

Image* readDicomFolder(const std::string& folder, const ReadOptions& options) {
    std::vector<DicomHeader> headers;
    std::vector<Source> sources;
    if (!seriesFiles(folder, options, headers, sources)) return nullptr;
    return readStack(sources, options, folder);
}

bool readDicomFileHeader(const std::string& path, const ReadOptions& options, ImageHeader& header) {
    std::vector<DicomHeader> headers(1);
    std::vector<Source> sources;
    std::string why;
    if (isFolder(path)) {
        headers.clear();
        if (!seriesFiles(path, options, headers, sources)) return false;
    } else if (!readDicomHeader(path, headers[0], why)) {
        return refused(why);
    } else if (!isImageFile(headers[0])) {
        return false;
    } else {
        sources.push_back(Source{&headers[0]});
    }
    Plan plan;
    if (!planStack(sources, path, plan)) return false;
    describePlan(plan, header);
    return true;
}

const Codec kDicomCodec = {FileFormat::kDicom, "DICOM", kExtensions, recognise, decode, nullptr, nullptr, nullptr,
                           readSlab};

}  // namespace KVEL
