#include "rewrite/journal_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace quorvant {

namespace {

// Zeros are written this much at a time.
constexpr std::int64_t ZeroChunk = 1 << 20;

bool MeansNotSupported(int code) { return code == EOPNOTSUPP || code == ENOSYS || code == EINVAL; }

JournalAttempt Refusal(FileOutcome outcome, Error error) {
  JournalAttempt attempt;
  attempt.outcome = outcome;
  attempt.error = std::move(error);
  return attempt;
}

// Writes zeros over [from, to) of `descriptor`.
Status WriteZeros(FileCalls& calls, int descriptor, std::int64_t from, std::int64_t to,
                  std::string_view name) {
  const std::vector<std::uint8_t> zeros(
      static_cast<std::size_t>(std::min(ZeroChunk, std::max<std::int64_t>(to - from, 0))));
  for (std::int64_t at = from; at < to; at += ZeroChunk) {
    const auto size = static_cast<std::size_t>(std::min(ZeroChunk, to - at));
    if (Status written = WriteExactly(calls, descriptor, std::span(zeros).first(size), at, name); !written) {
      return written;
    }
  }
  return {};
}

// Takes `length` bytes of disk for the journal: fallocate, or, where the file
// system has none, zeros written for real.
Status Reserve(FileCalls& calls, int descriptor, std::int64_t length, std::string_view name) {
  if (calls.Allocate(descriptor, 0, 0, length) == 0) return {};
  if (!MeansNotSupported(errno)) return Error::FromErrno("allocate " + std::string(name));
  return WriteZeros(calls, descriptor, 0, length, name);
}

}  // namespace

Status JournalFile::WriteImage(std::span<const std::uint8_t> data, std::int64_t at) {
  return WriteExactly(*calls_, file_.Get(), data, JournalImageOffset + at, name_);
}

Status JournalFile::ReadImage(std::span<std::uint8_t> data, std::int64_t at) {
  return ReadExactly(*calls_, file_.Get(), data, JournalImageOffset + at, name_);
}

void JournalFile::StartImageWriteback(std::int64_t at, std::int64_t length) {
  calls_->StartWriteback(file_.Get(), JournalImageOffset + at, length);
}

Status JournalFile::Sync() {
  if (calls_->SyncData(file_.Get()) != 0) return Error::FromErrno("sync " + name_);
  return {};
}

Status JournalFile::WriteRecord(const JournalRecord& record) {
  const JournalPage page = EncodeRecord(record, header_.run_id);
  return WriteExactly(*calls_, file_.Get(), page, JournalRecordOffset(record.sequence), name_);
}

Status JournalFile::BlankRecord(std::uint64_t sequence) {
  const JournalPage blank{};
  return WriteExactly(*calls_, file_.Get(), blank, JournalRecordOffset(sequence), name_);
}

Result<std::optional<JournalRecord>> JournalFile::ReadRecord(int page) {
  JournalPage bytes{};
  if (Status read = ReadExactly(*calls_, file_.Get(), bytes, JournalPageSize * (1 + page), name_); !read) {
    // A journal cut short holds no record there; a failed read is an error.
    if (read.error().code != 0) return read.error();
    return std::optional<JournalRecord>{};
  }
  std::optional<JournalRecord> record = DecodeRecord(bytes, header_);
  if (record && JournalRecordOffset(record->sequence) != JournalPageSize * (1 + page)) record.reset();
  return record;
}

Status JournalFile::ZeroImages() {
  if (Status zeroed = WriteZeros(*calls_, file_.Get(), JournalImageOffset, JournalFileLength(header_), name_);
      !zeroed) {
    return zeroed;
  }
  return Sync();
}

Status JournalFile::Remove() {
  file_.Reset();
  if (calls_->UnlinkAt(folder_, name_.c_str()) != 0 && errno != ENOENT) {
    return Error::FromErrno("remove " + name_);
  }
  gone_ = true;
  if (calls_->Sync(folder_) != 0) return Error::FromErrno("sync the folder");
  return {};
}

JournalAttempt CreateJournal(const OpenedFile& file, JournalRunHeader header, std::int64_t largest_window,
                             FileCalls& calls) {
  const int folder = file.Folder();
  const std::string name = JournalName(file.Inode());
  const std::string draft = name + std::string(JournalDraftSuffix);
  JournalFile journal(calls, folder, draft);

  // A draft left by a run that died before it changed anything goes first.
  calls.UnlinkAt(folder, draft.c_str());
  journal.file_.Reset(calls.CreateAt(folder, draft.c_str(), O_RDWR | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!journal.file_.IsOpen()) {
    const int code = errno;
    return Refusal(MeansNoSpace(code) ? FileOutcome::NoSpace : FileOutcome::OpenError,
                   Error{code, "make the journal " + draft});
  }
  // From here on a refusal takes the draft away again.
  const auto refuse = [&](FileOutcome outcome, Error error) {
    journal.file_.Reset();
    calls.UnlinkAt(folder, draft.c_str());
    return Refusal(outcome, std::move(error));
  };

  // Holes of a sparse file get their blocks now, before anything changes.
  if (file.Length() > 0 && calls.Allocate(file.Descriptor(), 0, 0, file.Length()) != 0 &&
      !MeansNotSupported(errno)) {
    const int code = errno;
    return refuse(MeansNoSpace(code) ? FileOutcome::NoSpace : FileOutcome::WriteError,
                  Error{code, "allocate " + file.Name()});
  }

  // The window: a multiple of the block length, as large as allowed and as
  // the free space takes, halved down to one block.
  const std::int64_t block = file.BlockLength();
  std::int64_t window = 0;
  if (block > 0) {
    window = std::min(std::max(block, largest_window / block * block), RoundUp(file.Length(), block));
    struct statvfs space {};
    if (calls.FolderSpace(folder, &space) == 0 && space.f_frsize > 0) {
      const auto free = static_cast<std::int64_t>(space.f_bavail) * static_cast<std::int64_t>(space.f_frsize);
      while (window > block && JournalImageOffset + RoundUp(window, JournalPageSize) > free) {
        window = std::max(block, window / 2 / block * block);
      }
    }
  }
  for (;;) {
    header.slot_length = RoundUp(std::max<std::int64_t>(window, 1), JournalPageSize);
    const Status reserved = Reserve(calls, journal.file_.Get(), JournalFileLength(header), draft);
    if (reserved) break;
    if (!MeansNoSpace(reserved.error().code)) return refuse(FileOutcome::WriteError, reserved.error());
    if (window <= block) return refuse(FileOutcome::NoSpace, reserved.error());
    window = std::max(block, window / 2 / block * block);
  }

  journal.header_ = std::move(header);
  const JournalPage page = EncodeRunHeader(journal.header_);
  if (Status written = WriteExactly(calls, journal.file_.Get(), page, 0, draft); !written) {
    return refuse(OutcomeOfWriteError(written.error()), written.error());
  }
  if (Status synced = journal.Sync(); !synced) return refuse(FileOutcome::SyncError, synced.error());

  if (RenameWithoutReplacing(calls, folder, draft.c_str(), name.c_str()) != 0) {
    const int code = errno;
    return refuse(code == EEXIST ? FileOutcome::Interrupted : FileOutcome::RenameError,
                  Error{code, "name the journal " + name});
  }
  journal.name_ = name;
  if (calls.Sync(folder) != 0) {
    const Error error = Error::FromErrno("sync the folder");
    // The run has not begun: the journal goes again.
    (void)journal.Remove();
    return Refusal(FileOutcome::SyncError, error);
  }
  JournalAttempt attempt;
  attempt.journal = std::move(journal);
  return attempt;
}

std::optional<Error> NotAJournal(const struct stat& entry, const std::string& name) {
  if (S_ISREG(entry.st_mode)) return std::nullopt;
  const char* kind = S_ISLNK(entry.st_mode)    ? "a symbolic link"
                     : S_ISDIR(entry.st_mode)  ? "a folder"
                     : S_ISFIFO(entry.st_mode) ? "a FIFO"
                     : S_ISSOCK(entry.st_mode) ? "a socket"
                                               : "a device";
  return Error{0, name + " is " + kind + ", not a run's journal; remove it and try again"};
}

std::optional<Error> NotAJournalAt(int folder, std::string_view name, FileCalls& calls) {
  struct stat status {};
  if (calls.StatAt(folder, std::string(name).c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  const std::string journal = JournalName(status.st_ino);
  struct stat entry {};
  if (calls.StatAt(folder, journal.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  return NotAJournal(entry, journal);
}

JournalAttempt OpenJournal(const OpenedFile& file, FileCalls& calls) {
  const std::string name = JournalName(file.Inode());
  struct stat entry {};
  if (calls.StatAt(file.Folder(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) {
    if (std::optional<Error> not_journal = NotAJournal(entry, name)) {
      return Refusal(FileOutcome::NotAJournal, std::move(*not_journal));
    }
  }
  JournalFile journal(calls, file.Folder(), name);
  journal.file_.Reset(calls.OpenAt(file.Folder(), name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  if (!journal.file_.IsOpen()) {
    const int code = errno;
    if (code == ENOENT) return Refusal(FileOutcome::NothingToResume, Error{code, "open " + name});
    return Refusal(FileOutcome::OpenError, Error{code, "open " + name});
  }
  JournalPage page{};
  if (Status read = ReadExactly(calls, journal.file_.Get(), page, 0, name); !read) {
    if (read.error().code != 0) return Refusal(FileOutcome::ReadError, read.error());
    return Refusal(FileOutcome::JournalDamaged, Error{0, name + " is cut short"});
  }
  std::optional<JournalRunHeader> header = DecodeRunHeader(page);
  // A journal gets its name only once its header is durable: a header that
  // is not whole means damage, not a crash. It is left for a person to see.
  if (!header) return Refusal(FileOutcome::JournalDamaged, Error{0, name + " is damaged"});
  if (header->inode != static_cast<std::uint64_t>(file.Inode()) || header->length != file.Length() ||
      (file.Name() != header->old_name && file.Name() != header->new_name)) {
    return Refusal(FileOutcome::JournalDamaged, Error{0, name + " belongs to another file"});
  }
  journal.header_ = std::move(*header);
  JournalAttempt attempt;
  attempt.journal = std::move(journal);
  return attempt;
}

bool HasJournal(int folder, std::string_view name, FileCalls& calls) {
  struct stat status {};
  if (calls.StatAt(folder, std::string(name).c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
  struct stat journal {};
  return calls.StatAt(folder, JournalName(status.st_ino).c_str(), &journal, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISREG(journal.st_mode);
}

}  // namespace quorvant
