#include "tools/deflate.h"

#include <algorithm>
#include <array>

namespace quorvant {

namespace {

constexpr int WindowSize = 32768;
constexpr int MinMatch = 3;
constexpr int MaxMatch = 258;
constexpr int MaxChainSteps = 64;
constexpr int HashBits = 15;

// Length codes 257..285: the smallest length of each and its extra bits.
constexpr std::array<int, 29> LengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                            31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<int, 29> LengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Distance codes 0..29 likewise.
constexpr std::array<int, 30> DistanceBase = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                              33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                              1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<int, 30> DistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t value = n;
    for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? 0xEDB88320u ^ (value >> 1) : value >> 1;
    table[n] = value;
  }
  return table;
}
constexpr std::array<std::uint32_t, 256> CrcTable = MakeCrcTable();

// Deflate packs bits from the least significant end of each byte; Huffman
// codes go in from their most significant bit.
class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}

  void Put(std::uint32_t value, int bit_count) {
    buffer_ |= static_cast<std::uint64_t>(value) << filled_;
    filled_ += bit_count;
    while (filled_ >= 8) {
      out_.push_back(static_cast<std::uint8_t>(buffer_ & 0xFF));
      buffer_ >>= 8;
      filled_ -= 8;
    }
  }
  void PutCode(std::uint32_t code, int bit_count) {
    std::uint32_t reversed = 0;
    for (int i = 0; i < bit_count; ++i) reversed |= ((code >> i) & 1u) << (bit_count - 1 - i);
    Put(reversed, bit_count);
  }
  void Flush() {
    if (filled_ > 0) Put(0, 8 - filled_);
  }

 private:
  std::vector<std::uint8_t>& out_;
  std::uint64_t buffer_ = 0;
  int filled_ = 0;
};

// The fixed literal/length code.
void PutSymbol(BitWriter& bits, int symbol) {
  if (symbol < 144) {
    bits.PutCode(0x30u + static_cast<std::uint32_t>(symbol), 8);
  } else if (symbol < 256) {
    bits.PutCode(0x190u + static_cast<std::uint32_t>(symbol - 144), 9);
  } else if (symbol < 280) {
    bits.PutCode(static_cast<std::uint32_t>(symbol - 256), 7);
  } else {
    bits.PutCode(0xC0u + static_cast<std::uint32_t>(symbol - 280), 8);
  }
}

void PutMatch(BitWriter& bits, int length, int distance) {
  int code = static_cast<int>(LengthBase.size()) - 1;
  while (LengthBase[static_cast<size_t>(code)] > length) --code;
  PutSymbol(bits, 257 + code);
  bits.Put(static_cast<std::uint32_t>(length - LengthBase[static_cast<size_t>(code)]),
           LengthExtra[static_cast<size_t>(code)]);

  int distance_code = static_cast<int>(DistanceBase.size()) - 1;
  while (DistanceBase[static_cast<size_t>(distance_code)] > distance) --distance_code;
  bits.PutCode(static_cast<std::uint32_t>(distance_code), 5);
  bits.Put(static_cast<std::uint32_t>(distance - DistanceBase[static_cast<size_t>(distance_code)]),
           DistanceExtra[static_cast<size_t>(distance_code)]);
}

std::uint32_t HashAt(std::span<const std::uint8_t> data, size_t at) {
  const std::uint32_t hash = (static_cast<std::uint32_t>(data[at]) << 10) ^
                             (static_cast<std::uint32_t>(data[at + 1]) << 5) ^ data[at + 2];
  return hash & ((1u << HashBits) - 1);
}

// Chains of earlier positions with the same three-byte hash, newest first.
class MatchFinder {
 public:
  explicit MatchFinder(std::span<const std::uint8_t> data)
      : data_(data), head_(size_t{1} << HashBits, -1), previous_(WindowSize, -1) {}

  void Insert(size_t at) {
    if (at + MinMatch > data_.size()) return;
    const std::uint32_t hash = HashAt(data_, at);
    previous_[at % WindowSize] = head_[hash];
    head_[hash] = static_cast<std::int64_t>(at);
  }

  // The longest earlier match for the bytes at `at`: {length, distance}.
  std::pair<int, int> Longest(size_t at) const {
    if (at + MinMatch > data_.size()) return {0, 0};
    const int limit = static_cast<int>(std::min<size_t>(MaxMatch, data_.size() - at));
    int best_length = 0;
    int best_distance = 0;
    std::int64_t candidate = head_[HashAt(data_, at)];
    for (int step = 0; step < MaxChainSteps && candidate >= 0; ++step) {
      const auto from = static_cast<size_t>(candidate);
      if (at - from > static_cast<size_t>(WindowSize)) break;
      int length = 0;
      while (length < limit &&
             data_[from + static_cast<size_t>(length)] == data_[at + static_cast<size_t>(length)]) {
        ++length;
      }
      if (length > best_length) {
        best_length = length;
        best_distance = static_cast<int>(at - from);
        if (length == limit) break;
      }
      candidate = previous_[from % WindowSize];
    }
    if (best_length < MinMatch) return {0, 0};
    return {best_length, best_distance};
  }

 private:
  std::span<const std::uint8_t> data_;
  std::vector<std::int64_t> head_;
  std::vector<std::int64_t> previous_;
};

}  // namespace

std::uint32_t Adler32(std::span<const std::uint8_t> data) {
  constexpr std::uint32_t Modulus = 65521;
  // 5552 bytes is the most that can be summed before the sums could overflow.
  std::uint32_t sum = 1, sum_of_sums = 0;
  size_t at = 0;
  while (at < data.size()) {
    const size_t end = std::min(data.size(), at + 5552);
    for (; at < end; ++at) {
      sum += data[at];
      sum_of_sums += sum;
    }
    sum %= Modulus;
    sum_of_sums %= Modulus;
  }
  return (sum_of_sums << 16) | sum;
}

std::uint32_t Crc32(std::span<const std::uint8_t> data, std::uint32_t crc) {
  crc = ~crc;
  for (const std::uint8_t byte : data) crc = CrcTable[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::vector<std::uint8_t> ZlibCompress(std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> out;
  out.reserve(data.size() / 8 + 64);
  // Deflate with a 32 KiB window; the header's check bits make it a multiple of 31.
  out.push_back(0x78);
  out.push_back(0x01);

  BitWriter bits(out);
  bits.Put(1, 1);  // the last block
  bits.Put(1, 2);  // fixed Huffman codes
  MatchFinder finder(data);
  size_t at = 0;
  while (at < data.size()) {
    const auto [length, distance] = finder.Longest(at);
    if (length == 0) {
      PutSymbol(bits, data[at]);
      finder.Insert(at);
      ++at;
      continue;
    }
    PutMatch(bits, length, distance);
    for (int i = 0; i < length; ++i) finder.Insert(at + static_cast<size_t>(i));
    at += static_cast<size_t>(length);
  }
  PutSymbol(bits, 256);  // end of block
  bits.Flush();

  const std::uint32_t adler = Adler32(data);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(adler >> shift));
  return out;
}

}  // namespace quorvant
