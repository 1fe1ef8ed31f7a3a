#pragma once

// zlib streams (header, deflate data, Adler-32 trailer) in and out of
// element buffers.

#include "imagelib/detail/byte_source.h"

#include <cstddef>
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
