#include "imagelib/detail/dicom_structure.h"

#include <cstdint>
#include <cstring>

namespace KVEL {

namespace {

constexpr std::uint32_t kUndefined = 0xffffffffu;
constexpr int kMaxDepth = 16;
constexpr const char* kVrs = " AE AS AT CS DA DS DT FL FD IS LO LT OB OD OF OL OV OW PN SH SL SQ SS ST SV TM UC UI UL UN UR US UT UV ";

struct Walker {
    ByteSource& in;
    bool explicitVr;
    bool bigEndian;
    std::string& why;
    std::string syntax;  // the transfer syntax UID met in the meta group
    long long dataStart;  // where the pixel data's value (or a deflated data set) starts
    long long dataEnd;    // where it ends
    int lastMeta = -1;   // the meta group's last element

    bool fail(const std::string& reason) {
        why = reason + " at byte " + std::to_string(in.position());
        return false;
    }
    bool u16(std::uint16_t& v, bool big) {
        unsigned char b[2];
        if (!in.read(b, 2)) return false;
        v = big ? static_cast<std::uint16_t>(b[0] << 8 | b[1]) : static_cast<std::uint16_t>(b[1] << 8 | b[0]);
        return true;
    }
    bool u32(std::uint32_t& v, bool big) {
        std::uint16_t a, b;
        if (!u16(a, big) || !u16(b, big)) return false;
        v = big ? (std::uint32_t(a) << 16 | b) : (std::uint32_t(b) << 16 | a);
        return true;
    }

    // Items of a sequence (or pixel fragments) of undefined length, up to the delimiter.
    bool items(long long end, bool big, bool fragments, int depth) {
        while (in.position() < end) {
            std::uint16_t group, element;
            std::uint32_t length;
            if (!u16(group, big) || !u16(element, big) || !u32(length, big)) return fail("the file ends inside a sequence");
            if (group != 0xfffe) return fail("a sequence holds no item");
            // GDCM allocates a delimiter's length.
            if (element == 0xe0dd) return length == 0 || fail("a sequence delimiter has a length");
            if (element != 0xe000) return fail("a sequence holds an unknown delimiter");
            if (fragments || length != kUndefined) {
                if (fragments && length == kUndefined) return fail("a pixel fragment has no length");
                const long long itemEnd = in.position() + length;
                if (length > end - in.position()) return fail("an item's length runs past its end");
                if (!fragments && !elements(itemEnd, big, depth + 1, false, false)) return false;
                if (!in.seek(itemEnd)) return false;
            } else if (!elements(end, big, depth + 1, false, true)) {
                return false;
            }
        }
        return fail("a sequence has no end");
    }

    // Elements up to end (or an item delimiter); at the top level up to the
    // pixel data. An item of undefined length must end in its delimiter: GDCM
    // reads on past `end` for it, and asserts when the bytes end first.
    bool elements(long long end, bool big, int depth, bool top, bool delimited) {
        if (depth > kMaxDepth) return fail("sequences nest too deep");
        bool settled = !top;
        while (in.position() < end) {
            const long long start = in.position();
            std::uint16_t group, element;
            if (!u16(group, false)) return fail("the file ends inside an element");
            const bool meta = top && group == 0x0002;
            if (top && start == 132 && !meta) return fail("the marker is followed by no meta group");
            if (top && !meta && !settled) {
                // The meta group is explicit little endian; the data set follows its transfer syntax.
                settled = true;
                if (syntax == "1.2.840.10008.1.2.1.99") {
                    dataStart = start;  // deflated: GDCM inflates it
                    return true;
                }
                if (!syntax.empty()) {
                    explicitVr = syntax != "1.2.840.10008.1.2";
                    bigEndian = syntax == "1.2.840.10008.1.2.2";
                }
                big = bigEndian;
            }
            const bool explicitHere = meta || explicitVr;
            const bool bigHere = !meta && big;
            if (!in.seek(start) || !u16(group, bigHere) || !u16(element, bigHere)) return fail("the file ends inside an element");
            if (group == 0xfffe && element == 0xe00d) {
                std::uint32_t zero;
                if (!u32(zero, bigHere)) return fail("the file ends inside an item");
                return zero == 0 || fail("an item delimiter has a length");
            }
            char vr[3] = {0, 0, 0};
            std::uint32_t length = 0;
            if (explicitHere) {
                if (!in.read(vr, 2)) return fail("the file ends inside an element");
                if (std::string(kVrs).find(" " + std::string(vr) + " ") == std::string::npos) {
                    return fail("an element has no value representation DICOM knows");
                }
                if (std::string(" OB OW OF SQ UT UN OD OL OV UC UR SV UV ").find(" " + std::string(vr) + " ") != std::string::npos) {
                    std::uint16_t reserved;
                    if (!u16(reserved, bigHere) || !u32(length, bigHere)) return fail("the file ends inside an element");
                } else {
                    std::uint16_t shortLength;
                    if (!u16(shortLength, bigHere)) return fail("the file ends inside an element");
                    length = shortLength;
                }
            } else if (!u32(length, bigHere)) {
                return fail("the file ends inside an element");
            }
            if (meta && (length == kUndefined || std::strcmp(vr, "SQ") == 0)) {
                return fail("the meta group holds a sequence or a value of undefined length");  // GDCM asserts
            }
            // A second transfer syntax would be read here but not by GDCM.
            if (meta && element <= lastMeta) return fail("the meta group's elements are out of order or repeated");
            if (meta) lastMeta = element;
            const bool pixels = group == 0x7fe0 && element == 0x0010;
            if (top && pixels) {
                dataStart = in.position();
                if (length == kUndefined) {
                    if (!items(end, bigHere, true, depth)) return false;
                    dataEnd = in.position();
                    return true;
                }
                dataEnd = in.position() + length;
                return length <= end - in.position() || fail("the pixel data run past the end of the file");
            }
            if (length == kUndefined) {
                // Only sequences, unknown values and (an icon's) pixel fragments
                // may: GDCM asserts on others.
                if (explicitHere && !pixels && std::strcmp(vr, "SQ") != 0 && std::strcmp(vr, "UN") != 0) {
                    return fail("a value of VR " + std::string(vr) + " has undefined length");
                }
                if (!items(end, bigHere, pixels, depth)) return false;
                continue;
            }
            if (length > end - in.position()) return fail("an element's length runs past its end");
            if (meta && element == 0x0010 && length <= 64) {
                char uid[64];
                if (!in.read(uid, length)) return false;
                syntax.assign(uid, length);
                while (!syntax.empty() && (syntax.back() == '\0' || syntax.back() == ' ')) syntax.pop_back();
                continue;
            }
            if (explicitHere && std::strcmp(vr, "SQ") == 0) {
                if (!definedItems(in.position() + length, bigHere, depth)) return false;
                continue;
            }
            if (!in.seek(in.position() + length)) return false;
        }
        if (delimited) return fail("an item of undefined length has no delimiter");
        return settled || fail("the file ends in its meta group");  // GDCM asserts
    }

    bool definedItems(long long end, bool big, int depth) {
        while (in.position() < end) {
            std::uint16_t group, element;
            std::uint32_t length;
            if (!u16(group, big) || !u16(element, big) || !u32(length, big)) return fail("the file ends inside a sequence");
            if (group != 0xfffe || element != 0xe000) return fail("a sequence holds no item");
            const long long itemEnd = length == kUndefined ? end : in.position() + length;
            if (length != kUndefined && length > end - in.position()) return fail("an item's length runs past its sequence");
            if (!elements(itemEnd, big, depth + 1, false, length == kUndefined)) return false;
        }
        return true;
    }

};

bool littleU32(ByteSource& in, std::uint32_t& v) {
    unsigned char b[4];
    if (!in.read(b, 4)) return false;
    v = b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24;
    return true;
}

// A fragment's RLE header: the segment count, then each segment's offset,
// past the 64-byte header, rising and inside the fragment.
bool rleHeaderFits(ByteSource& in, std::uint32_t length, int segments, const std::string& which, std::string& why) {
    std::uint32_t header[16];
    for (std::uint32_t& v : header) {
        if (length < sizeof header || !littleU32(in, v)) {
            why = which + " is shorter than its header";
            return false;
        }
    }
    if (header[0] != static_cast<std::uint32_t>(segments)) {
        why = which + " holds " + std::to_string(header[0]) + " segments, not the " + std::to_string(segments) +
              " of its pixels";
        return false;
    }
    for (int i = 1; i <= segments; ++i) {
        const std::uint32_t least = i == 1 ? sizeof header : header[i - 1] + 1;
        if (header[i] < least || header[i] >= length) {
            why = which + "'s segment " + std::to_string(i) + " does not start inside it, after the one before";
            return false;
        }
    }
    return true;
}

}  // namespace

bool checkDicomStructure(ByteSource& in, long long& dataStart, long long& dataEnd, std::string& why) {
    unsigned char head[132];
    const bool preamble = in.read(head, sizeof head) && std::memcmp(head + 128, "DICM", 4) == 0;
    if (!in.seek(preamble ? 132 : 0)) return false;
    // Without a meta group: explicit when the first element shows two VR letters.
    const bool letters = !preamble && in.size() >= 6 && head[4] >= 'A' && head[4] <= 'Z' && head[5] >= 'A' && head[5] <= 'Z';
    Walker walker{in, preamble || letters, false, why, "", in.size(), in.size()};
    const bool whole = walker.elements(in.size(), false, 0, true, false);
    dataStart = walker.dataStart;
    dataEnd = walker.dataEnd;
    return whole;
}

bool checkRleFrames(ByteSource& in, long long dataStart, long long dataEnd, int frames, int segments, std::string& why) {
    if (segments < 1 || segments > 15) {
        why = "RLE holds at most 15 segments per frame, not the " + std::to_string(segments) + " of these pixels";
        return false;
    }
    // The offset table's item first, then one fragment per frame.
    bool item = in.seek(dataStart);
    for (int frame = 0; item && frame <= frames; ++frame) {
        std::uint32_t tag = 0, length = 0;
        item = in.position() + 8 <= dataEnd && littleU32(in, tag) && littleU32(in, length) && tag == 0xe000fffeu;
        const long long end = in.position() + length;
        if (item && frame > 0 && !rleHeaderFits(in, length, segments, "RLE frame " + std::to_string(frame), why)) {
            return false;
        }
        item = item && in.seek(end);
    }
    if (!item) why = "the RLE pixel data hold fewer fragments than the " + std::to_string(frames) + " frames";
    return item;
}

}  // namespace KVEL
