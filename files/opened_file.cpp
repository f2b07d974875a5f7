#include "files/opened_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "base/verify.h"
#include "files/blocks.h"

namespace quorvant {

namespace {

// O_NONBLOCK makes the open of a FIFO (should one slip in between the check
// and the open) return at once, and makes an open of a file another program
// holds a lease on fail with EWOULDBLOCK instead of waiting.
constexpr int OpenFlags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;

// What a failed open means for the caller.
FileOutcome OutcomeOfOpenError(int error_code) {
  switch (error_code) {
    case ENOENT: return FileOutcome::Vanished;
    case ELOOP:  // the name became a symlink
    case EISDIR:
    case ENXIO:  // a socket
    case ENODEV: return FileOutcome::NotRegular;
    case EWOULDBLOCK:  // another program holds a lease on it
    case ETXTBSY: return FileOutcome::AlreadyOpen;
    default: return FileOutcome::OpenError;
  }
}

bool RefusesWriting(int error_code) {
  return error_code == EACCES || error_code == EPERM || error_code == EROFS;
}

// Takes a write lease that sends no signal when it is broken, or, where the
// file system has no leases (or we may not take one), an exclusive flock.
// Returns Done, AlreadyOpen or OpenError.
FileOutcome LockFile(FileCalls& calls, int descriptor, const std::string& name, FileLock& lock,
                     Error& error) {
  // A lease break signals the lease's owner, SIGIO by default, which would end
  // the process. The owner is cleared right after the lease is taken (no
  // owner, no signal); until then the signal is one whose default is to be
  // ignored.
  calls.Control(descriptor, F_SETSIG, SIGURG);
  if (calls.Control(descriptor, F_SETLEASE, F_WRLCK) == 0) {
    if (calls.Control(descriptor, F_SETOWN, 0) == 0) {
      lock = FileLock::Lease;
      return FileOutcome::Done;
    }
    calls.Control(descriptor, F_SETLEASE, F_UNLCK);
  } else if (errno == EAGAIN) {
    error = Error::FromErrno("lease " + name);
    return FileOutcome::AlreadyOpen;
  }
  // No lease here (EINVAL on file systems without them, EACCES when we do not
  // own the file): fall back to flock.
  if (calls.Lock(descriptor, LOCK_EX | LOCK_NB) == 0) {
    lock = FileLock::Flock;
    return FileOutcome::Done;
  }
  const int code = errno;
  error = Error{code, "lock " + name};
  return code == EWOULDBLOCK ? FileOutcome::AlreadyOpen : FileOutcome::OpenError;
}

// Looks before opening, so that a FIFO, device or symlink is never opened:
// the mode of the regular file the folder lists under `name`.
FileResult<mode_t> ListedMode(int folder, const std::string& name, FileCalls& calls) {
  struct stat listed {};
  if (calls.StatAt(folder, name.c_str(), &listed, AT_SYMLINK_NOFOLLOW) != 0) {
    const int code = errno;
    return Failure{code == ENOENT ? FileOutcome::Vanished : FileOutcome::OpenError,
                   Error{code, "look at " + name}};
  }
  if (!S_ISREG(listed.st_mode)) return Failure{FileOutcome::NotRegular, Error{0, name + " is not a file"}};
  return listed.st_mode;
}

struct OpenDescriptor {
  UniqueFd file;
  FileAccess access = FileAccess::ReadWrite;
};

// Opens the file for reading and writing if at all possible, else for
// reading only.
FileResult<OpenDescriptor> OpenForWritingElseReading(int folder, const std::string& name, mode_t listed_mode,
                                                     FileCalls& calls) {
  OpenDescriptor opened;
  opened.file.Reset(calls.OpenAt(folder, name.c_str(), O_RDWR | OpenFlags));
  if (!opened.file.IsOpen() && RefusesWriting(errno) && (listed_mode & S_IWUSR) == 0) {
    // Like clearing a read-only attribute: give the owner write permission
    // (possible when we own the file) and try again.
    UniqueFd reader(calls.OpenAt(folder, name.c_str(), O_RDONLY | OpenFlags));
    if (reader.IsOpen()) calls.ChangeMode(reader.Get(), (listed_mode & 07777) | S_IWUSR);
    reader.Reset();
    opened.file.Reset(calls.OpenAt(folder, name.c_str(), O_RDWR | OpenFlags));
  }
  if (!opened.file.IsOpen() && RefusesWriting(errno)) {
    opened.access = FileAccess::ReadOnly;
    opened.file.Reset(calls.OpenAt(folder, name.c_str(), O_RDONLY | OpenFlags));
  }
  if (!opened.file.IsOpen()) {
    const int code = errno;
    return Failure{OutcomeOfOpenError(code), Error{code, "open " + name}};
  }
  return opened;
}

// Makes sure what was opened is still a regular file, and leaves it as an
// open for processing does: blocking, and without its "read-only" mark.
FileStatus SettleOpened(int descriptor, const std::string& name, FileAccess access, FileCalls& calls) {
  struct stat status {};
  if (calls.Stat(descriptor, &status) != 0)
    return Failure{FileOutcome::OpenError, Error::FromErrno("stat " + name)};
  if (!S_ISREG(status.st_mode)) return Failure{FileOutcome::NotRegular, Error{0, name + " is not a file"}};
  // Reads and writes of a regular file ignore O_NONBLOCK; clear it all the same.
  const int status_flags = calls.Control(descriptor, F_GETFL, 0);
  if (status_flags >= 0) calls.Control(descriptor, F_SETFL, status_flags & ~O_NONBLOCK);
  if (access == FileAccess::ReadWrite && (status.st_mode & S_IWUSR) == 0) {
    // Opened for writing all the same (we may override permissions); still
    // clear the "read-only" mark, as an open for processing always does.
    // Failing to do so changes nothing about what we can do with it.
    calls.ChangeMode(descriptor, (status.st_mode & 07777) | S_IWUSR);
  }
  return {};
}

// The length and identity of the locked file, read only now that nobody
// else can change them; refused when it is gone or, under a mere flock,
// another process has it open.
FileResult<struct stat> LockedStatus(int descriptor, const std::string& name, FileLock lock,
                                     FileCalls& calls) {
  struct stat status {};
  if (calls.Stat(descriptor, &status) != 0)
    return Failure{FileOutcome::OpenError, Error::FromErrno("stat " + name)};
  if (status.st_nlink == 0) return Failure{FileOutcome::Vanished, Error{ENOENT, name + " was deleted"}};
  // A flock keeps out only the programs that flock too: without a lease,
  // look for other processes that have the file open.
  if (lock == FileLock::Flock && calls.OtherProcessHasOpen(status.st_dev, status.st_ino)) {
    return Failure{FileOutcome::AlreadyOpen, Error{EBUSY, "another process has " + name + " open"}};
  }
  return status;
}

}  // namespace

std::int32_t OpenedFile::BlockLength() const {
  return static_cast<std::int32_t>(std::min<std::int64_t>(length_, MaxBlockLength));
}

FileResult<OpenedFile> OpenFileInFolder(int folder, std::string_view name, FileCalls& calls) {
  Verify(name.find('/') == std::string_view::npos);
  const std::string file_name(name);
  if (file_name.empty() || file_name == "." || file_name == "..") {
    return Failure{FileOutcome::NotRegular, Error{EISDIR, "open " + file_name}};
  }
  const FileResult<mode_t> listed_mode = ListedMode(folder, file_name, calls);
  if (!listed_mode) return listed_mode.error();

  OpenedFile opened;
  opened.name_ = file_name;
  // A descriptor of our own for the folder, open for reading so that it can
  // be synced after a rename, whatever kind of descriptor the caller has.
  opened.folder_.Reset(calls.OpenAt(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.folder_.IsOpen()) return Failure{FileOutcome::OpenError, Error::FromErrno("open the folder")};

  FileResult<OpenDescriptor> file = OpenForWritingElseReading(folder, file_name, *listed_mode, calls);
  if (!file) return file.error();
  opened.file_ = std::move(file->file);
  opened.access_ = file->access;
  const int descriptor = opened.file_.Get();
  if (const FileStatus settled = SettleOpened(descriptor, file_name, opened.access_, calls); !settled) {
    return settled.error();
  }

  Error lock_error;
  const FileOutcome locked = LockFile(calls, descriptor, file_name, opened.lock_, lock_error);
  if (locked != FileOutcome::Done) return Failure{locked, std::move(lock_error)};
  const FileResult<struct stat> status = LockedStatus(descriptor, file_name, opened.lock_, calls);
  if (!status) return status.error();
  opened.length_ = status->st_size;
  opened.device_ = status->st_dev;
  opened.inode_ = status->st_ino;

  return opened;
}

FileResult<OpenedFile> OpenFileInFolder(int folder, std::string_view name) {
  FileCalls calls;
  return OpenFileInFolder(folder, name, calls);
}

FileStatus CheckReadyToChange(const OpenedFile& file, FileCalls& calls, nlink_t names) {
  if (file.IsReadOnly()) {
    return Failure{FileOutcome::ReadOnly, Error{EACCES, file.Name() + " can be opened for reading only"}};
  }
  // A lease that another program's open has started to break is no longer
  // F_WRLCK: somebody wants the file.
  if (file.Lock() == FileLock::Lease && calls.Control(file.Descriptor(), F_GETLEASE, 0) != F_WRLCK) {
    return Failure{FileOutcome::AlreadyOpen, Error{EWOULDBLOCK, "another program asked to open " + file.Name()}};
  }
  struct stat status {};
  if (calls.Stat(file.Descriptor(), &status) != 0) {
    return Failure{FileOutcome::OpenError, Error::FromErrno("stat " + file.Name())};
  }
  if (status.st_nlink == 0) {
    return Failure{FileOutcome::Vanished, Error{ENOENT, file.Name() + " was deleted"}};
  }
  if (status.st_size != file.Length()) {
    return Failure{FileOutcome::ChangedElsewhere, Error{0, file.Name() + " was " + std::to_string(file.Length()) + " bytes long and is now " +
                         std::to_string(status.st_size)}};
  }
  // Renames and deletes work by name: make sure the name still means this file.
  struct stat named {};
  if (calls.StatAt(file.Folder(), file.Name().c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
    const int code = errno;
    return Failure{code == ENOENT ? FileOutcome::Vanished : FileOutcome::OpenError,
                   Error{code, "look at " + file.Name()}};
  }
  if (named.st_dev != status.st_dev || named.st_ino != status.st_ino) {
    return Failure{FileOutcome::Vanished, Error{0, file.Name() + " now names another file"}};
  }
  if (status.st_nlink > names) {
    return Failure{
        FileOutcome::LinkedElsewhere,
        Error{EMLINK, file.Name() + " has " + std::to_string(status.st_nlink) + " names (hard links)",
              static_cast<std::int64_t>(status.st_nlink)}};
  }
  if (file.Lock() == FileLock::Flock && calls.OtherProcessHasOpen(status.st_dev, status.st_ino)) {
    return Failure{FileOutcome::AlreadyOpen, Error{EBUSY, "another process has " + file.Name() + " open"}};
  }
  return {};
}

}  // namespace quorvant
