#pragma once

// File contents for the tests that judge whether bytes look like a real
// file: made from fixed seeds, so no binary fixtures are kept.

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace quorvant::testing {

// Bytes with no structure at all, as ciphertext or compressed data look.
inline std::vector<std::uint8_t> Noise(std::size_t length, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::vector<std::uint8_t> bytes(length);
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random() >> 56);
  return bytes;
}

// Plain English-like text in lines.
inline std::vector<std::uint8_t> Prose(std::size_t length) {
  static constexpr std::string_view Words[] = {"the",     "report", "of",  "quarterly", "budget", "and",
                                               "meeting", "notes",  "for", "review",    "draft",  "final"};
  std::mt19937_64 random(7);
  std::string text;
  while (text.size() < length) {
    text += Words[random() % std::size(Words)];
    text += random() % 9 == 0 ? ".\n" : " ";
  }
  text.resize(length);
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

// A table of little-endian 32-bit numbers counting up by `step`, as binary
// data files hold.
inline std::vector<std::uint8_t> NumberTable(std::size_t length, std::uint32_t step) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(length + 3);
  for (std::uint32_t value = 0; bytes.size() < length; value += step) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  bytes.resize(length);
  return bytes;
}

// A recognisable start (`head` at `head_offset`) on a body of noise, as
// compressed formats look.
inline std::vector<std::uint8_t> HeadThenNoise(std::string_view head, std::size_t head_offset,
                                               std::size_t length, std::uint64_t seed = 99) {
  std::vector<std::uint8_t> bytes = Noise(length, seed);
  std::copy(head.begin(), head.end(), bytes.begin() + static_cast<std::ptrdiff_t>(head_offset));
  return bytes;
}

}  // namespace quorvant::testing
