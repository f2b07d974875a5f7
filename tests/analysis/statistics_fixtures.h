#pragma once

// Byte fixtures for the statistics tests, and a temporary folder to hold them
// as real files. The generators match those of tests/data/stats_reference.py.

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

// A folder under /tmp for one test, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/quorvant-analysis-XXXXXX";
    const char* made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    path_ = made != nullptr ? made : "/tmp";
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // Writes `bytes` to a new file in the folder and opens it for reading.
  int WriteAndOpen(const std::string& name, const Bytes& bytes) const {
    const std::string file_path = path_ + "/" + name;
    const int out = open(file_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    EXPECT_GE(out, 0);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t wrote = write(out, bytes.data() + done, bytes.size() - done);
      EXPECT_GT(wrote, 0);
      if (wrote <= 0) break;
      done += static_cast<std::size_t>(wrote);
    }
    close(out);
    const int in = open(file_path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(in, 0);
    return in;
  }

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Closes a file descriptor at the end of a scope.
class ScopedFile {
 public:
  explicit ScopedFile(int descriptor) : descriptor_(descriptor) {}
  ~ScopedFile() {
    if (descriptor_ >= 0) close(descriptor_);
  }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  int get() const { return descriptor_; }

 private:
  int descriptor_;
};

}  // namespace quorvant::testing
