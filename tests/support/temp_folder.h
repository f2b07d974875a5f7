#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/unique_fd.h"

namespace quorvant::testing {

// Deterministic bytes for file contents.
inline std::vector<std::uint8_t> PatternBytes(std::size_t length, std::uint32_t seed = 1) {
  std::vector<std::uint8_t> bytes(length);
  std::uint32_t state = seed;
  for (auto& byte : bytes) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

// A real folder under /tmp, open as a descriptor the way the program holds its
// folder, removed with everything in it at the end.
class TempFolder {
 public:
  TempFolder() : TempFolder("/tmp") {}
  // A folder made inside `parent` (a file system of a test's own, say).
  explicit TempFolder(const std::string& parent) {
    std::string pattern = parent + "/quorvant-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    path_ = pattern;
    fd_ = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) ADD_FAILURE() << "open folder: " << std::strerror(errno);
  }
  ~TempFolder() {
    if (fd_ >= 0) close(fd_);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  int Fd() const { return fd_; }
  std::string PathOf(const std::string& name) const { return path_ + "/" + name; }

  // A regular file of size bytes (created or replaced).
  // A template, so that a braced list of bytes picks the overload below.
  template <std::integral Size>
  void Write(const std::string& name, Size size) {
    const int fd = openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
      ADD_FAILURE() << "create " << name << ": " << std::strerror(errno);
      return;
    }
    const std::string content(static_cast<std::size_t>(size), 'x');
    if (!content.empty() &&
        write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
      ADD_FAILURE() << "write " << name << ": " << std::strerror(errno);
    }
    close(fd);
  }
  void Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    const int fd = openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      ADD_FAILURE() << "write " << name << ": " << std::strerror(errno);
    }
    if (fd >= 0) close(fd);
  }
  // Writes `bytes` to `name` and opens it for reading.
  UniqueFd WriteAndOpen(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    Write(name, bytes);
    UniqueFd file(openat(fd_, name.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen()) ADD_FAILURE() << "open " << name << ": " << std::strerror(errno);
    return file;
  }
  std::vector<std::uint8_t> Read(const std::string& name) const {
    const int fd = openat(fd_, name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat status {};
    fstat(fd, &status);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size));
    const ssize_t count = read(fd, bytes.data(), bytes.size());
    close(fd);
    bytes.resize(count < 0 ? 0 : static_cast<std::size_t>(count));
    return bytes;
  }
  bool Exists(const std::string& name) const {
    struct stat status {};
    return fstatat(fd_, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
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
  void Append(const std::string& name, std::size_t size) {
    const int fd = openat(fd_, name.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0) << name << ": " << std::strerror(errno);
    const std::string content(size, 'y');
    EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(size));
    close(fd);
  }
  // Another name for an existing file (the cheapest way to make many files).
  void Link(const std::string& existing, const std::string& name) {
    Check(linkat(fd_, existing.c_str(), fd_, name.c_str(), 0), "link " + name);
  }
  void MakeFolder(const std::string& name) { Check(mkdirat(fd_, name.c_str(), 0755), "mkdir " + name); }
  void MakeSymlink(const std::string& name, const std::string& target) {
    Check(symlinkat(target.c_str(), fd_, name.c_str()), "symlink " + name);
  }
  void MakeFifo(const std::string& name) { Check(mkfifoat(fd_, name.c_str(), 0644), "mkfifo " + name); }
  void MakeSocket(const std::string& name) {
    const int socket_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(socket_fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = PathOf(name);
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    Check(bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address), "bind " + name);
    close(socket_fd);
  }
  // False where device files cannot be made (no privilege).
  bool MakeDevice(const std::string& name) {
    return mknodat(fd_, name.c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
  }
  void Rename(const std::string& from, const std::string& to) {
    Check(renameat(fd_, from.c_str(), fd_, to.c_str()), "rename " + from);
  }
  void Remove(const std::string& name) { Check(unlinkat(fd_, name.c_str(), 0), "unlink " + name); }

 private:
  static void Check(int result, const std::string& action) {
    if (result != 0) ADD_FAILURE() << action << ": " << std::strerror(errno);
  }

  std::string path_;
  int fd_ = -1;
};

}  // namespace quorvant::testing
