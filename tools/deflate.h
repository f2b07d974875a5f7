#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace quorvant {

// A zlib stream (RFC 1950) of `data`, compressed as one deflate block with the
// fixed Huffman codes (RFC 1951) and a plain greedy LZ77 search. Far from the
// best compression, but screenshots are mostly long runs of one colour, which
// it shrinks well; enough to keep the pictures under docs/ small without a
// library.
std::vector<std::uint8_t> ZlibCompress(std::span<const std::uint8_t> data);

// The checksums the zlib and PNG formats carry.
std::uint32_t Adler32(std::span<const std::uint8_t> data);
std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc = 0);

}  // namespace quorvant
