#pragma once

// Byte fixtures for the statistics tests. The generators match those of
// tests/data/stats_reference.py.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace quorvant::testing {

using Bytes = std::vector<std::uint8_t>;

// Top bytes of a 64-bit linear congruential sequence.
inline Bytes LcgBytes(std::uint64_t seed, std::size_t count) {
  Bytes bytes(count);
  std::uint64_t state = seed;
  for (auto& byte : bytes) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    byte = static_cast<std::uint8_t>(state >> 56);
  }
  return bytes;
}

// Builds the bytes a generator line names: "zeros 1000", "fill 65 1",
// "ramp 256", "doubled 512", "alternate 1000", "lcg 1 100000", "halves 3 5000".
inline Bytes GenerateBytes(const std::string& line) {
  std::istringstream words(line);
  std::string kind;
  words >> kind;
  std::uint64_t first = 0;
  std::uint64_t second = 0;
  words >> first;
  words >> second;
  Bytes bytes;
  if (kind == "zeros") {
    bytes.assign(first, 0);
  } else if (kind == "fill") {
    bytes.assign(second, static_cast<std::uint8_t>(first));
  } else if (kind == "ramp") {
    for (std::uint64_t index = 0; index < first; ++index) bytes.push_back(static_cast<std::uint8_t>(index));
  } else if (kind == "doubled") {
    for (std::uint64_t index = 0; index < first; ++index)
      bytes.push_back(static_cast<std::uint8_t>(index / 2));
  } else if (kind == "alternate") {
    for (std::uint64_t index = 0; index < first; ++index) bytes.push_back(index % 2 ? 255 : 0);
  } else if (kind == "lcg") {
    bytes = LcgBytes(first, second);
  } else if (kind == "halves") {
    bytes = LcgBytes(first, second);
    for (std::size_t index = 0; index < bytes.size(); ++index) {
      bytes[index] = static_cast<std::uint8_t>((bytes[index] >> 1) + (index % 2 ? 128 : 0));
    }
  } else {
    ADD_FAILURE() << "unknown generator " << line;
  }
  return bytes;
}

}  // namespace quorvant::testing
