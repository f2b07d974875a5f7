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

OpenAttempt Refusal(FileOutcome outcome, Error error) {
  OpenAttempt attempt;
  attempt.outcome = outcome;
  attempt.error = std::move(error);
  return attempt;
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

}  // namespace

std::int32_t OpenedFile::BlockLength() const {
  return static_cast<std::int32_t>(std::min<std::int64_t>(length_, MaxBlockLength));
}

OpenAttempt OpenFileInFolder(int folder, std::string_view name, FileCalls& calls) {
  Verify(name.find('/') == std::string_view::npos);
  const std::string file_name(name);
  if (file_name.empty() || file_name == "." || file_name == "..") {
    return Refusal(FileOutcome::NotRegular, Error{EISDIR, "open " + file_name});
  }

  // Look before opening, so that a FIFO, device or symlink is never opened.
  struct stat listed {};
  if (calls.StatAt(folder, file_name.c_str(), &listed, AT_SYMLINK_NOFOLLOW) != 0) {
    const int code = errno;
    return Refusal(code == ENOENT ? FileOutcome::Vanished : FileOutcome::OpenError,
                   Error{code, "look at " + file_name});
  }
  if (!S_ISREG(listed.st_mode))
    return Refusal(FileOutcome::NotRegular, Error{0, file_name + " is not a file"});

  OpenedFile opened;
  opened.name_ = file_name;
  // A descriptor of our own for the folder, open for reading so that it can
  // be synced after a rename, whatever kind of descriptor the caller has.
  opened.folder_.Reset(calls.OpenAt(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!opened.folder_.IsOpen()) return Refusal(FileOutcome::OpenError, Error::FromErrno("open the folder"));

  opened.file_.Reset(calls.OpenAt(folder, file_name.c_str(), O_RDWR | OpenFlags));
  if (!opened.file_.IsOpen() && RefusesWriting(errno) && (listed.st_mode & S_IWUSR) == 0) {
    // Like clearing a read-only attribute: give the owner write permission
    // (possible when we own the file) and try again.
    UniqueFd reader(calls.OpenAt(folder, file_name.c_str(), O_RDONLY | OpenFlags));
    if (reader.IsOpen()) calls.ChangeMode(reader.Get(), (listed.st_mode & 07777) | S_IWUSR);
    reader.Reset();
    opened.file_.Reset(calls.OpenAt(folder, file_name.c_str(), O_RDWR | OpenFlags));
  }
  if (!opened.file_.IsOpen() && RefusesWriting(errno)) {
    opened.access_ = FileAccess::ReadOnly;
    opened.file_.Reset(calls.OpenAt(folder, file_name.c_str(), O_RDONLY | OpenFlags));
  }
  if (!opened.file_.IsOpen()) {
    const int code = errno;
    return Refusal(OutcomeOfOpenError(code), Error{code, "open " + file_name});
  }
  const int descriptor = opened.file_.Get();

  struct stat status {};
  if (calls.Stat(descriptor, &status) != 0)
    return Refusal(FileOutcome::OpenError, Error::FromErrno("stat " + file_name));
  if (!S_ISREG(status.st_mode))
    return Refusal(FileOutcome::NotRegular, Error{0, file_name + " is not a file"});
  // Reads and writes of a regular file ignore O_NONBLOCK; clear it all the same.
  const int status_flags = calls.Control(descriptor, F_GETFL, 0);
  if (status_flags >= 0) calls.Control(descriptor, F_SETFL, status_flags & ~O_NONBLOCK);
  if (opened.access_ == FileAccess::ReadWrite && (status.st_mode & S_IWUSR) == 0) {
    // Opened for writing all the same (we may override permissions); still
    // clear the "read-only" mark, as an open for processing always does.
    // Failing to do so changes nothing about what we can do with it.
    calls.ChangeMode(descriptor, (status.st_mode & 07777) | S_IWUSR);
  }

  Error lock_error;
  const FileOutcome locked = LockFile(calls, descriptor, file_name, opened.lock_, lock_error);
  if (locked != FileOutcome::Done) return Refusal(locked, std::move(lock_error));

  // Read the length and identity only now that nobody else can change them.
  if (calls.Stat(descriptor, &status) != 0)
    return Refusal(FileOutcome::OpenError, Error::FromErrno("stat " + file_name));
  if (status.st_nlink == 0) return Refusal(FileOutcome::Vanished, Error{ENOENT, file_name + " was deleted"});
  // A flock keeps out only the programs that flock too: without a lease,
  // look for other processes that have the file open.
  if (opened.lock_ == FileLock::Flock && calls.OtherProcessHasOpen(status.st_dev, status.st_ino)) {
    return Refusal(FileOutcome::AlreadyOpen, Error{EBUSY, "another process has " + file_name + " open"});
  }
  opened.length_ = status.st_size;
  opened.device_ = status.st_dev;
  opened.inode_ = status.st_ino;

  OpenAttempt attempt;
  attempt.file = std::move(opened);
  return attempt;
}

OpenAttempt OpenFileInFolder(int folder, std::string_view name) {
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
    return Failure{FileOutcome::LinkedElsewhere, Error{EMLINK, file.Name() + " has " + std::to_string(status.st_nlink) + " names (hard links)"}};
  }
  if (file.Lock() == FileLock::Flock && calls.OtherProcessHasOpen(status.st_dev, status.st_ino)) {
    return Failure{FileOutcome::AlreadyOpen, Error{EBUSY, "another process has " + file.Name() + " open"}};
  }
  return {};
}

}  // namespace quorvant
