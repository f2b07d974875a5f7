#pragma once

#include <cstdint>

namespace quorvant {

// A file is processed in blocks of min(file length, MaxBlockLength) bytes:
// the cipher transforms, the erase fills and the statistics report progress
// block by block.
inline constexpr std::int32_t MaxBlockLength = 16384;

// Files are read and written this many blocks at a time (1 MiB for full
// blocks) while the work still goes block by block; one such buffer is all
// the file data held in memory, whatever the file's size.
inline constexpr std::int64_t BlocksPerChunk = 64;

// `value` rounded up to a multiple of `unit` (both positive).
constexpr std::int64_t RoundUp(std::int64_t value, std::int64_t unit) { return (value + unit - 1) / unit * unit; }

}  // namespace quorvant
