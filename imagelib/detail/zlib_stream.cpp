#include "imagelib/detail/zlib_stream.h"

#include <zlib.h>

#include <algorithm>

namespace KVEL {

namespace {

constexpr std::size_t kInputChunk = 1 << 20;
// avail_out is 32 bits wide.
constexpr std::size_t kOutputChunk = 1u << 30;

}  // namespace

bool inflateExactly(ByteSource& source, long long streamBytes, void* out, std::size_t n, std::string& why) {
    why.clear();
    z_stream z{};
    if (inflateInit(&z) != Z_OK) {
        why = "zlib cannot start inflating";
        return false;
    }
    std::vector<unsigned char> scratch;
    unsigned char* next = static_cast<unsigned char*>(out);
    std::size_t left = n;
    unsigned char spare;
    int status = Z_OK;
    while (why.empty()) {
        if (z.avail_in == 0 && streamBytes > 0) {
            const unsigned char* p = nullptr;
            const std::size_t got =
                source.next(static_cast<std::size_t>(std::min<long long>(streamBytes, kInputChunk)), scratch, p);
            streamBytes = got ? streamBytes - static_cast<long long>(got) : 0;
            z.next_in = const_cast<Bytef*>(p);
            z.avail_in = static_cast<uInt>(got);
        }
        // Once the image is full, one spare byte shows whether the stream
        // holds more than it should.
        z.next_out = left ? next : &spare;
        z.avail_out = static_cast<uInt>(left ? std::min(left, kOutputChunk) : 1);
        const uInt room = z.avail_out;
        status = inflate(&z, Z_NO_FLUSH);
        const std::size_t produced = room - z.avail_out;
        if (!left && produced) {
            why = "compressed data inflate to more than the image's " + std::to_string(n) + " bytes";
            break;
        }
        next += produced;
        left -= produced;
        if (status == Z_STREAM_END) break;
        if (status == Z_BUF_ERROR && z.avail_in == 0 && streamBytes == 0) {
            why = "compressed data are cut short";
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            why = std::string("compressed data are corrupt (") + (z.msg ? z.msg : "zlib error") + ")";
        }
    }
    inflateEnd(&z);
    if (why.empty() && left) {
        why = "compressed data inflate to " + std::to_string(n - left) + " bytes, the image needs " + std::to_string(n);
    }
    return why.empty();
}

bool deflateBytes(const void* data, std::size_t n, std::vector<unsigned char>& stream) {
    uLongf size = compressBound(static_cast<uLong>(n));
    stream.resize(size);
    if (compress2(stream.data(), &size, static_cast<const Bytef*>(data), static_cast<uLong>(n),
                  Z_DEFAULT_COMPRESSION) != Z_OK) {
        return false;
    }
    stream.resize(size);
    return true;
}

}  // namespace KVEL
