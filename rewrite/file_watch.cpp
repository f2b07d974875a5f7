#include "rewrite/file_watch.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace quorvant {

FileStatus FileWatch::MayWrite(JournalPhase phase, std::int64_t end) {
  struct stat status {};
  if (calls_.Stat(file_.Descriptor(), &status) != 0) {
    return Failure{FileOutcome::ReadError, Error::FromErrno("stat " + file_.Name())};
  }
  if (status.st_size != Length()) {
    changed_elsewhere_ = true;
    // A file that grew keeps what another program added; one cut short
    // above `end` loses only what that program cut.
    if (phase == JournalPhase::Undo && status.st_size >= end) return {};
    return Failure{FileOutcome::ChangedElsewhere,
                   Error{0, "another program changed the length of " + file_.Name() + " from " +
                                std::to_string(Length()) + " to " + std::to_string(status.st_size) +
                                " bytes"}};
  }
  if (phase == JournalPhase::Undo) {
    SeeModified(status);
    // The undo goes on whoever else has the file open now. Without a lease
    // nothing kept them out; with one, a program that has the file open got
    // in because the lease ran out (the system's lease-break-time) while the
    // undo went on. Either way it may have written meanwhile.
    if (calls_.OtherProcessHasOpen(status.st_dev, status.st_ino)) changed_elsewhere_ = true;
    return {};
  }
  // A broken lease: another program is waiting to open the file (it cannot
  // have changed it yet), so an undo leaves the file as it was.
  if (file_.Lock() == FileLock::Lease && calls_.Control(file_.Descriptor(), F_GETLEASE, 0) != F_WRLCK) {
    return Failure{FileOutcome::OpenedElsewhere,
                   Error{EWOULDBLOCK, "another program asked to open " + file_.Name()}};
  }
  if (status.st_nlink > 1) {
    return Failure{FileOutcome::LinkedElsewhere, Error{EMLINK, file_.Name() + " was given another name"}};
  }
  // Without a lease nothing kept the other process out: it may have written.
  if (file_.Lock() == FileLock::Flock && calls_.OtherProcessHasOpen(status.st_dev, status.st_ino)) {
    changed_elsewhere_ = true;
    return Failure{FileOutcome::OpenedElsewhere, Error{EBUSY, "another process opened " + file_.Name()}};
  }
  return {};
}

FileStatus FileWatch::OnlyTheRunsNames(const std::string& old_name, const std::string& new_name) {
  struct stat status {};
  if (calls_.Stat(file_.Descriptor(), &status) != 0) {
    return Failure{FileOutcome::ReadError, Error::FromErrno("stat " + file_.Name())};
  }
  nlink_t run_names = 0;
  for (const std::string* name : {&old_name, &new_name}) {
    struct stat named {};
    if (calls_.StatAt(file_.Folder(), name->c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == status.st_dev && named.st_ino == status.st_ino) {
      ++run_names;
    }
  }
  if (status.st_nlink > std::max<nlink_t>(run_names, 1)) {
    return Failure{
        FileOutcome::LinkedElsewhere,
        Error{EMLINK, file_.Name() + " has " + std::to_string(status.st_nlink) + " names (hard links)",
              static_cast<std::int64_t>(status.st_nlink)}};
  }
  return {};
}

// "As before" only if nobody else has the file now and its length is the
// run's: a lease break outlasting the undo lets the other program in, a
// flock never kept it out, and a program may have grown the file after the
// last window's look.
void FileWatch::LookAtTheEnd() {
  struct stat status {};
  if (calls_.Stat(file_.Descriptor(), &status) != 0 || status.st_size != Length() ||
      calls_.OtherProcessHasOpen(status.st_dev, status.st_ino)) {
    changed_elsewhere_ = true;
    return;
  }
  SeeModified(status);
}

void FileWatch::Wrote(bool resized) {
  struct stat status {};
  if (calls_.Stat(file_.Descriptor(), &status) != 0) return;
  modified_ = status.st_mtim;
  if (resized) length_ = status.st_size;
}

void FileWatch::SeeModified(const struct stat& status) {
  if (modified_ &&
      (modified_->tv_sec != status.st_mtim.tv_sec || modified_->tv_nsec != status.st_mtim.tv_nsec)) {
    changed_elsewhere_ = true;
  }
  modified_ = status.st_mtim;
}

}  // namespace quorvant
