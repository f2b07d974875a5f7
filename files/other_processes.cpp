#include "files/other_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/retry.h"
#include "base/unique_fd.h"

namespace quorvant {

namespace {

struct DirectoryCloser {
  void operator()(DIR* directory) const { closedir(directory); }
};
using Directory = std::unique_ptr<DIR, DirectoryCloser>;

// The number a name of /proc stands for, or -1 when it is not a process.
pid_t ProcessNumber(const char* name) {
  if (*name < '1' || *name > '9') return -1;
  char* end = nullptr;
  const long number = std::strtol(name, &end, 10);
  return *end == '\0' ? static_cast<pid_t>(number) : -1;
}

bool HasOpen(int proc, const char* process, dev_t device, ino_t inode) {
  const std::string fd_folder = std::string(process) + "/fd";
  const int folder = openat(proc, fd_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) return false;  // gone meanwhile, or another user's
  Directory descriptors(fdopendir(folder));
  if (!descriptors) {
    close(folder);
    return false;
  }
  while (const dirent* entry = readdir(descriptors.get())) {
    if (entry->d_name[0] == '.') continue;
    // Following the link gives the open file itself, whatever its path now.
    struct stat status {};
    if (fstatat(folder, entry->d_name, &status, 0) == 0 && status.st_dev == device &&
        status.st_ino == inode) {
      return true;
    }
  }
  return false;
}

// A mapping outlives the descriptor it was made from, and a shared one
// writes to the file: /proc/PID/maps names the device and inode of each.
bool HasMapped(int proc, const char* process, dev_t device, ino_t inode) {
  const std::string maps_path = std::string(process) + "/maps";
  const UniqueFd maps(openat(proc, maps_path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!maps.IsOpen()) return false;  // gone meanwhile, or another user's
  std::string text;
  char chunk[16384];
  for (;;) {
    const ssize_t got = RetryOnInterrupt([&] { return read(maps.Get(), chunk, sizeof chunk); });
    if (got <= 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
  }
  // Each line: start-end perms offset major:minor inode [path]
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    unsigned int line_major = 0, line_minor = 0;
    std::uintmax_t line_inode = 0;
    if (std::sscanf(line.c_str(), "%*x-%*x %*s %*x %x:%x %ju", &line_major, &line_minor, &line_inode) == 3 &&
        line_inode == inode && line_major == major(device) && line_minor == minor(device)) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool OtherProcessHasOpen(dev_t device, ino_t inode) {
  const int proc = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (proc < 0) return false;
  Directory processes(fdopendir(proc));
  if (!processes) {
    close(proc);
    return false;
  }
  const pid_t self = getpid();
  while (const dirent* entry = readdir(processes.get())) {
    const pid_t process = ProcessNumber(entry->d_name);
    if (process <= 0 || process == self) continue;
    if (HasOpen(proc, entry->d_name, device, inode) || HasMapped(proc, entry->d_name, device, inode)) {
      return true;
    }
  }
  return false;
}

}  // namespace quorvant
