#pragma once

// zlib streams (header, deflate data, Adler-32 trailer) in and out of
// element buffers.

#include "imagelib/detail/byte_source.h"

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace KVEL {

// Inflates the next streamBytes bytes of source into exactly n bytes at out.
// A stream that is cut short, corrupt, or inflates to more or less than n
// bytes gives false with the reason in why.
bool inflateExactly(ByteSource& source, long long streamBytes, void* out, std::size_t n, std::string& why);
// One zlib stream of the n bytes at data; false when zlib fails.
bool deflateBytes(const void* data, std::size_t n, std::vector<unsigned char>& stream);

// Deflate packs at most about 1032 bytes into one byte: a stream that would
// inflate to more cannot be genuine.
constexpr long long kMaxInflateRatio = 1032;

}  // namespace KVEL

struct z_stream_s;

namespace KVEL {

// gzip data in memory, inflated in order. Members that follow one another
// (as parallel compressors write them) read as one stream.
class GunzipStream {
public:
    GunzipStream(const unsigned char* bytes, std::size_t size);
    ~GunzipStream();
    GunzipStream(const GunzipStream&) = delete;
    GunzipStream& operator=(const GunzipStream&) = delete;

    // Exactly the next n bytes into out (null: passed over), or false with why.
    bool read(void* out, std::size_t n, std::string& why);

private:
    std::unique_ptr<z_stream_s> m_z;
    const unsigned char* m_next;
    std::size_t m_left;
    bool m_started = false;
    bool m_memberEnded = false;
};

// Writes one gzip member to a stream; every call is false once writing failed.
class GzipWriter {
public:
    explicit GzipWriter(std::FILE* out);
    ~GzipWriter();
    GzipWriter(const GzipWriter&) = delete;
    GzipWriter& operator=(const GzipWriter&) = delete;

    bool write(const void* data, std::size_t n);
    // The end of the member: everything pending is written out.
    bool finish();

private:
    bool pump(int flush);

    std::unique_ptr<z_stream_s> m_z;
    std::FILE* m_out;
    bool m_ok;
};

}  // namespace KVEL
