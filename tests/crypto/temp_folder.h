#pragma once

// A fresh folder under /tmp for one test, removed with everything in it
// afterwards, and small helpers to make and read its files.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace quorvant::testing {

inline std::vector<std::uint8_t> PatternBytes(std::size_t length, std::uint32_t seed = 1) {
  std::vector<std::uint8_t> bytes(length);
  std::uint32_t state = seed;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/quorvant-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made == nullptr) std::abort();
    path_ = made;
    descriptor_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
  ~TempFolder() {
    ::close(descriptor_);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  int Descriptor() const { return descriptor_; }
  std::string PathOf(const std::string& name) const { return path_ + "/" + name; }

  void Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    const int descriptor =
        ::openat(descriptor_, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (descriptor < 0 ||
        ::write(descriptor, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      std::abort();
    }
    ::close(descriptor);
  }
  std::vector<std::uint8_t> Read(const std::string& name) const {
    const int descriptor = ::openat(descriptor_, name.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return {};
    struct stat status {};
    ::fstat(descriptor, &status);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size));
    const ssize_t count = ::read(descriptor, bytes.data(), bytes.size());
    ::close(descriptor);
    bytes.resize(count < 0 ? 0 : static_cast<std::size_t>(count));
    return bytes;
  }
  bool Exists(const std::string& name) const {
    struct stat status {};
    return ::fstatat(descriptor_, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
  }
  // Every name in the folder, sorted.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
  int descriptor_ = -1;
};

}  // namespace quorvant::testing
