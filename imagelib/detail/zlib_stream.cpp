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

namespace KVEL {

GunzipStream::GunzipStream(const unsigned char* bytes, std::size_t size)
    : m_z(std::make_unique<z_stream>()), m_next(bytes), m_left(bytes ? size : 0) {}

GunzipStream::~GunzipStream() {
    if (m_started) inflateEnd(m_z.get());
}

bool GunzipStream::read(void* out, std::size_t n, std::string& why) {
    z_stream& z = *m_z;
    if (!m_started) {
        // 16 + window bits: a gzip wrapper, not zlib's.
        if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
            why = "zlib cannot start inflating";
            return false;
        }
        m_started = true;
    }
    unsigned char sink[1 << 16];
    auto* next = static_cast<unsigned char*>(out);
    while (n > 0) {
        if (z.avail_in == 0 && m_left > 0) {
            z.next_in = const_cast<Bytef*>(m_next);
            z.avail_in = static_cast<uInt>(std::min(m_left, kInputChunk));
            m_next += z.avail_in;
            m_left -= z.avail_in;
        }
        if (m_memberEnded) {
            if (z.avail_in == 0) break;
            inflateReset(&z);
            m_memberEnded = false;
        }
        const std::size_t room = std::min(n, next ? kOutputChunk : sizeof sink);
        z.next_out = next ? next : sink;
        z.avail_out = static_cast<uInt>(room);
        const int status = inflate(&z, Z_NO_FLUSH);
        const std::size_t produced = room - z.avail_out;
        n -= produced;
        if (next) next += produced;
        if (status == Z_STREAM_END) {
            m_memberEnded = true;
        } else if (status == Z_BUF_ERROR && z.avail_in == 0 && m_left == 0) {
            break;
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            why = std::string("the compressed data are corrupt (") + (z.msg ? z.msg : "zlib error") + ")";
            return false;
        }
    }
    if (n > 0) why = "the compressed data end " + std::to_string(n) + " bytes early";
    return n == 0;
}

GzipWriter::GzipWriter(std::FILE* out) : m_z(std::make_unique<z_stream>()), m_out(out) {
    m_ok = deflateInit2(m_z.get(), Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

GzipWriter::~GzipWriter() { deflateEnd(m_z.get()); }

bool GzipWriter::pump(int flush) {
    unsigned char buffer[1 << 16];
    int status = Z_OK;
    do {
        m_z->next_out = buffer;
        m_z->avail_out = sizeof buffer;
        status = deflate(m_z.get(), flush);
        const std::size_t produced = sizeof buffer - m_z->avail_out;
        if (status == Z_STREAM_ERROR || std::fwrite(buffer, 1, produced, m_out) != produced) m_ok = false;
    } while (m_ok && (m_z->avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END)));
    return m_ok;
}

bool GzipWriter::write(const void* data, std::size_t n) {
    auto* next = static_cast<const unsigned char*>(data);
    while (m_ok && n > 0) {
        const std::size_t part = std::min(n, kOutputChunk);
        m_z->next_in = const_cast<Bytef*>(next);
        m_z->avail_in = static_cast<uInt>(part);
        pump(Z_NO_FLUSH);
        next += part;
        n -= part;
    }
    return m_ok;
}

bool GzipWriter::finish() { return m_ok && pump(Z_FINISH); }

}  // namespace KVEL
