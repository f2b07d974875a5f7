#include "rewrite/journal_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "rewrite/run_mark.h"

namespace quorvant {

namespace {

// Zeros are written this much at a time.
constexpr std::int64_t ZeroChunk = 1 << 20;

bool MeansNotSupported(int code) { return code == EOPNOTSUPP || code == ENOSYS || code == EINVAL; }

JournalFailure Refusal(FileOutcome outcome, Error error, std::string name = {}) {
  return JournalFailure{Failure{outcome, std::move(error)}, std::move(name)};
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

bool IsRegularAt(int folder, const std::string& name, FileCalls& calls) {
  struct stat entry {};
  return calls.StatAt(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(entry.st_mode);
}

bool ExistsAt(int folder, const std::string& name, FileCalls& calls) {
  struct stat entry {};
  return calls.StatAt(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0;
}

// The journal's name in `folder` of a file with inode `inode` and mark
// `mark`, when something has that name (see FindJournalName).
std::optional<std::string> JournalNameFor(int folder, ino_t inode, const RunMark& mark, FileCalls& calls) {
  const std::string by_inode = JournalName(inode);
  if (!mark.run) {
    if (ExistsAt(folder, by_inode, calls)) return by_inode;
    return std::nullopt;
  }
  const std::string by_run = JournalName(*mark.run);
  if (ExistsAt(folder, by_run, calls)) return by_run;
  const std::optional<JournalRunHeader> header = ReadJournalHeader(folder, by_inode, calls);
  if (header && header->run_id == *mark.run) return by_inode;
  return std::nullopt;
}

// The slot a window of `window` bytes needs: its data, its side bytes and,
// at least, a length step's image.
std::int64_t SlotFor(std::int64_t window, std::int64_t unit, const JournalSlotNeeds& needs) {
  const std::int64_t side = (window + unit - 1) / unit * needs.side_per_unit;
  return RoundUp(std::max<std::int64_t>({window + side, needs.least, 1}), JournalPageSize);
}

// The window: a multiple of the block length, as large as allowed and as
// the free space takes, halved down to one block.
std::int64_t FirstWindow(const OpenedFile& file, std::int64_t unit, std::int64_t data_length,
                         std::int64_t largest_window, const JournalSlotNeeds& needs, FileCalls& calls) {
  if (unit <= 0) return 0;
  std::int64_t window = std::min(std::max(unit, largest_window / unit * unit), RoundUp(data_length, unit));
  window = std::max(window, unit);
  struct statvfs space {};
  if (calls.FolderSpace(file.Folder(), &space) == 0 && space.f_frsize > 0) {
    const auto free = static_cast<std::int64_t>(space.f_bavail) * static_cast<std::int64_t>(space.f_frsize);
    while (window > unit && JournalImageOffset + SlotFor(window, unit, needs) > free) {
      window = std::max(unit, window / 2 / unit * unit);
    }
  }
  return window;
}

// The file's own space, before anything changes: the holes of a sparse
// file get their blocks, and a growth to come is reserved past its end (the
// length kept), so that the run cannot run out of space half-way.
FileStatus MakeRoomInFile(const OpenedFile& file, const JournalSlotNeeds& needs, FileCalls& calls) {
  const auto refused = [&](const std::string& action) {
    const int code = errno;
    return Failure{MeansNoSpace(code) ? FileOutcome::NoSpace : FileOutcome::WriteError, Error{code, action}};
  };
  if (file.Length() > 0 && calls.Allocate(file.Descriptor(), 0, 0, file.Length()) != 0 &&
      !MeansNotSupported(errno)) {
    return refused("allocate " + file.Name());
  }
  if (needs.grow > 0 && calls.Allocate(file.Descriptor(), FALLOC_FL_KEEP_SIZE, file.Length(), needs.grow) != 0 &&
      !MeansNotSupported(errno)) {
    return refused("make room after " + file.Name());
  }
  return {};
}

// Space for the journal's slot: the largest window that fits, halved down to
// one unit while space is short; sets header.slot_length.
FileStatus ReserveSlot(const OpenedFile& file, JournalRunHeader& header, std::int64_t largest_window,
                       const JournalSlotNeeds& needs, FileCalls& calls, int journal, const std::string& draft) {
  const std::int64_t unit = needs.unit > 0 ? needs.unit : file.BlockLength();
  const std::int64_t data_length = needs.data_length >= 0 ? needs.data_length : file.Length();
  std::int64_t window = data_length > 0 || needs.least > 0
                            ? FirstWindow(file, unit, data_length, largest_window, needs, calls)
                            : 0;
  for (;;) {
    header.slot_length = window > 0 ? SlotFor(window, unit, needs) : JournalPageSize;
    const Status reserved = Reserve(calls, journal, JournalFileLength(header), draft);
    if (reserved) return {};
    if (!MeansNoSpace(reserved.error().code)) return Failure{FileOutcome::WriteError, reserved.error()};
    if (window <= unit) return Failure{FileOutcome::NoSpace, reserved.error()};
    window = std::max(unit, window / 2 / unit * unit);
  }
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

Status JournalFile::ZeroImages(std::int64_t from) {
  if (Status zeroed =
          WriteZeros(*calls_, file_.Get(), JournalImageOffset + from, JournalFileLength(header_), name_);
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

namespace {

// The journal's draft, made afresh under `draft`: a draft left by a run that
// died before it changed anything goes first.
FileResult<UniqueFd> CreateDraft(FileCalls& calls, int folder, const std::string& draft) {
  calls.UnlinkAt(folder, draft.c_str());
  UniqueFd created(calls.CreateAt(folder, draft.c_str(), O_RDWR | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (created.IsOpen()) return created;
  const int code = errno;
  // Something that is no draft holds the draft's name, and stays: say what.
  struct stat taken {};
  if (code == EEXIST && calls.StatAt(folder, draft.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0) {
    if (std::optional<Error> not_journal = NotAJournal(taken, draft)) {
      return Failure{FileOutcome::NotAJournal, std::move(*not_journal)};
    }
  }
  const FileOutcome outcome = MeansNoSpace(code) ? FileOutcome::NoSpace
                              : code == EACCES || code == EPERM || code == EROFS
                                  ? FileOutcome::FolderNotWritable
                                  : FileOutcome::OpenError;
  return Failure{outcome, Error{code, "make the journal " + draft}};
}

// The run's header, written into the draft's first page and synced.
FileStatus WriteRunHeader(FileCalls& calls, int journal, const JournalRunHeader& header,
                          const std::string& draft) {
  const JournalPage page = EncodeRunHeader(header);
  if (Status written = WriteExactly(calls, journal, page, 0, draft); !written) {
    return Failure{OutcomeOfWriteError(written.error()), written.error()};
  }
  if (calls.SyncData(journal) != 0) return Failure{FileOutcome::SyncError, Error::FromErrno("sync " + draft)};
  return {};
}

// After a failed rename of the draft to `name`: where renaming is a link and
// an unlink, the link may have been made (and taken back unsynced), so that
// name goes durably before the mark may. False when it may still be there.
bool DropHalfRename(FileCalls& calls, int folder, int journal, const std::string& name) {
  struct stat draft_status {
  }, named{};
  const bool ours = calls.Stat(journal, &draft_status) == 0 &&
                    calls.StatAt(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                    named.st_ino == draft_status.st_ino;
  return !((ours && calls.UnlinkAt(folder, name.c_str()) != 0) || calls.Sync(folder) != 0);
}

}  // namespace

JournalResult CreateJournal(const OpenedFile& file, JournalRunHeader header, std::int64_t largest_window,
                            FileCalls& calls, const JournalSlotNeeds& needs) {
  const int folder = file.Folder();
  const std::string draft = JournalName(file.Inode()) + std::string(JournalDraftSuffix);
  JournalFile journal(calls, folder, draft);
  FileResult<UniqueFd> created = CreateDraft(calls, folder, draft);
  if (!created) return Refusal(created.error().outcome, created.error().error);
  journal.file_ = std::move(*created);

  // From here on a refusal takes the draft away again, and the mark.
  bool marked = false;
  const auto refuse = [&](FileOutcome outcome, Error error, std::string name = {}) {
    journal.file_.Reset();
    calls.UnlinkAt(folder, draft.c_str());
    if (marked) (void)ClearRunMark(file.Descriptor(), calls);
    return Refusal(outcome, std::move(error), std::move(name));
  };

  if (FileStatus room = MakeRoomInFile(file, needs, calls); !room) {
    return refuse(room.error().outcome, room.error().error);
  }
  if (FileStatus slot = ReserveSlot(file, header, largest_window, needs, calls, journal.file_.Get(), draft); !slot) {
    return refuse(slot.error().outcome, slot.error().error);
  }
  journal.header_ = std::move(header);
  if (FileStatus written = WriteRunHeader(calls, journal.file_.Get(), journal.header_, draft); !written) {
    return refuse(written.error().outcome, written.error().error);
  }

  // The file is bound to the run before the journal has a name a later
  // look can find: the mark leads to the journal, never the other way.
  const Result<bool> stored = StoreRunMark(file.Descriptor(), journal.header_.run_id, calls);
  marked = true;  // even a failed sync may have left it
  if (!stored) return refuse(OutcomeOfWriteError(stored.error()), stored.error());
  const std::string name = *stored ? JournalName(journal.header_.run_id) : JournalName(file.Inode());

  if (RenameWithoutReplacing(calls, folder, draft.c_str(), name.c_str()) != 0) {
    const int code = errno;
    if (code != EEXIST && !DropHalfRename(calls, folder, journal.file_.Get(), name)) {
      marked = false;  // the mark stays with the journal that may come back
    }
    return refuse(code == EEXIST ? FileOutcome::Interrupted : FileOutcome::RenameError,
                  Error{code, "name the journal " + name}, name);
  }
  journal.name_ = name;
  if (calls.Sync(folder) != 0) {
    const Error error = Error::FromErrno("sync the folder");
    // The run has not begun: the journal goes again; the mark only once that is durable.
    if (journal.Remove()) (void)ClearRunMark(file.Descriptor(), calls);
    return Refusal(FileOutcome::SyncError, error);
  }
  return journal;
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

namespace {

// The journal's name of the file `name` of the folder, its mark read without
// opening it; nothing when the file cannot be looked at or has none.
std::optional<std::string> JournalNameAt(int folder, std::string_view name, FileCalls& calls) {
  struct stat status {};
  if (calls.StatAt(folder, std::string(name).c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  // A mark that cannot be read counts as none: the journal named for the
  // inode is then still found, as before marks.
  const Result<RunMark> mark = ReadRunMarkAt(folder, name, calls);
  return JournalNameFor(folder, status.st_ino, mark ? *mark : RunMark{}, calls);
}

}  // namespace

std::optional<Error> NotAJournalAt(int folder, std::string_view name, FileCalls& calls) {
  const std::optional<std::string> journal = JournalNameAt(folder, name, calls);
  struct stat entry {};
  if (!journal || calls.StatAt(folder, journal->c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  return NotAJournal(entry, *journal);
}

Result<std::optional<std::string>> FindJournalName(const OpenedFile& file, FileCalls& calls) {
  const Result<RunMark> mark = ReadRunMark(file.Descriptor(), calls);
  if (!mark) return mark.error();
  return FindJournalName(file, *mark, calls);
}

std::optional<std::string> FindJournalName(const OpenedFile& file, const RunMark& mark, FileCalls& calls) {
  return JournalNameFor(file.Folder(), file.Inode(), mark, calls);
}

std::optional<JournalRunHeader> ReadJournalHeader(int folder, std::string_view name, FileCalls& calls) {
  // Non-blocking: a FIFO under a journal's name must not hang the look.
  UniqueFd journal(
      calls.OpenAt(folder, std::string(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat status {};
  if (!journal.IsOpen() || calls.Stat(journal.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return std::nullopt;
  }
  JournalPage page{};
  if (!ReadExactly(calls, journal.Get(), page, 0, name)) return std::nullopt;
  return DecodeRunHeader(page);
}

JournalResult OpenJournal(const OpenedFile& file, FileCalls& calls, const JournalPlace* place) {
  std::string name;
  if (place != nullptr) {
    name = place->name;
  } else {
    const Result<std::optional<std::string>> found = FindJournalName(file, calls);
    if (!found) return Refusal(FileOutcome::ReadError, found.error());
    if (!*found) return Refusal(FileOutcome::NothingToResume, Error{ENOENT, "find the file's journal"});
    name = **found;
  }
  const int folder = place != nullptr ? place->folder : file.Folder();
  const auto refuse = [&](FileOutcome outcome, Error error) { return Refusal(outcome, std::move(error), name); };
  struct stat entry {};
  if (calls.StatAt(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0) {
    if (std::optional<Error> not_journal = NotAJournal(entry, name)) {
      return refuse(FileOutcome::NotAJournal, std::move(*not_journal));
    }
  }
  JournalFile journal(calls, folder, name);
  journal.file_.Reset(calls.OpenAt(folder, name.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
  if (!journal.file_.IsOpen()) {
    const int code = errno;
    if (code == ENOENT) return refuse(FileOutcome::NothingToResume, Error{code, "open " + name});
    return refuse(FileOutcome::OpenError, Error{code, "open " + name});
  }
  JournalPage page{};
  if (Status read = ReadExactly(calls, journal.file_.Get(), page, 0, name); !read) {
    if (read.error().code != 0) return refuse(FileOutcome::ReadError, read.error());
    return refuse(FileOutcome::JournalDamaged, Error{0, name + " is cut short"});
  }
  std::optional<JournalRunHeader> header = DecodeRunHeader(page);
  // A journal gets its name only once its header is durable: a header that
  // is not whole means damage, not a crash. It is left for a person to see.
  if (!header) return refuse(FileOutcome::JournalDamaged, Error{0, name + " is damaged"});
  if (header->inode != static_cast<std::uint64_t>(file.Inode()) || !RunMayHaveLength(*header, file.Length()) ||
      (file.Name() != header->old_name && file.Name() != header->new_name)) {
    return refuse(FileOutcome::JournalDamaged, Error{0, name + " belongs to another file"});
  }
  if (place != nullptr) {
    // Found elsewhere, it is believed only for the file marked for its run.
    const Result<RunMark> mark = ReadRunMark(file.Descriptor(), calls);
    if (!mark) return refuse(FileOutcome::ReadError, mark.error());
    if (mark->run != header->run_id) {
      return refuse(FileOutcome::JournalDamaged,
                    Error{0, name + " is not this file's: the file does not carry its run's mark"});
    }
  }
  journal.header_ = std::move(*header);
  return journal;
}

bool HasJournal(int folder, std::string_view name, FileCalls& calls) {
  const std::optional<std::string> journal = JournalNameAt(folder, name, calls);
  return journal && IsRegularAt(folder, *journal, calls);
}

}  // namespace quorvant
