#include "files/other_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

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
    if (HasOpen(proc, entry->d_name, device, inode)) return true;
  }
  return false;
}

}  // namespace quorvant
