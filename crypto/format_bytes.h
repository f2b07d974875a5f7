#pragma once

// The byte-level parts the format proofs share: loads, CRC-32, and one zlib
// inflater that goes as far as a start allows. Private to the judge.

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "crypto/format_proof.h"

namespace quorvant::judge_detail {

inline std::uint32_t LoadBigEndian32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}
inline std::uint32_t LoadBigEndian16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) << 8 | bytes[at + 1];
}
inline std::uint32_t LoadLittleEndian32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at + 3]) << 24 | static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 1]) << 8 | bytes[at];
}
inline std::uint32_t LoadLittleEndian16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at + 1]) << 8 | bytes[at];
}

std::uint32_t Crc32Of(std::span<const std::uint8_t> bytes);

inline bool StartsWith(std::span<const std::uint8_t> start, std::string_view bytes) {
  return start.size() >= bytes.size() && std::memcmp(start.data(), bytes.data(), bytes.size()) == 0;
}

enum class StreamEnd { Complete, Cut, Broken };

struct Inflated {
  StreamEnd end = StreamEnd::Cut;
  std::size_t consumed = 0;  // input bytes up to the stream's end
  std::uint64_t length = 0;  // bytes it gave
  std::uint32_t crc = 0;     // their CRC-32
};

// zlib's window bits for the three wrappings of deflate.
constexpr int RawDeflate = -15;
constexpr int ZlibDeflate = 15;
constexpr int GzipDeflate = 16 + 15;
// A stream that gives more than this without failing is not followed further:
// 16 KiB of deflate can give up to 16 MiB.
constexpr std::uint64_t MostInflated = std::uint64_t{32} << 20;

// Inflates `input` as far as it goes. zlib checks the wrapping's own header,
// and, where the stream ends inside `input`, its trailer (Adler-32, or gzip's
// CRC-32 and length).
class Inflater {
 public:
  explicit Inflater(int window_bits);
  ~Inflater();
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  // Feeds more of the stream; the result so far. A stream that has ended or
  // failed takes no more.
  Inflated Feed(std::span<const std::uint8_t> input);

 private:
  z_stream stream_{};
  bool ready_ = false;
  std::size_t consumed_total_ = 0;
  Inflated result_{};
};

Inflated InflateStart(std::span<const std::uint8_t> input, int window_bits);

inline FormatProof FromStream(StreamEnd end) {
  return end == StreamEnd::Broken ? FormatProof::Broken : FormatProof::Holds;
}

}  // namespace quorvant::judge_detail
