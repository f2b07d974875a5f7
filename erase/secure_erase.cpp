#include "erase/secure_erase.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

#include "base/retry.h"
#include "files/blocks.h"

namespace quorvant {

namespace {

FileReport Report(const OpenedFile& file, FileOutcome outcome, FileCondition condition, Error error) {
  FileReport report;
  report.outcome = outcome;
  report.condition = condition;
  report.name = file.Name();
  report.error = std::move(error);
  return report;
}

// One fresh random byte value per block of a chunk.
Status DrawFillers(FileCalls& calls, std::span<std::uint8_t> fillers) {
  std::size_t done = 0;
  while (done < fillers.size()) {
    const ssize_t count =
        RetryOnInterrupt([&] { return calls.Random(fillers.data() + done, fillers.size() - done); });
    if (count < 0) return Error::FromErrno("draw random filler");
    done += static_cast<std::size_t>(count);
  }
  return {};
}

}  // namespace

bool StickyFolderAllowsDelete(const struct stat& folder, const struct stat& file, uid_t user,
                              bool privileged) {
  if ((folder.st_mode & S_ISVTX) == 0 || privileged) return true;
  return user == file.st_uid || user == folder.st_uid;
}

FileStatus FileMayBeDeleted(const OpenedFile& file, FileCalls& calls) {
  // AT_EACCESS: the effective user, the one unlinkat acts as.
  if (calls.Access(file.Folder(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
    return Failure{FileOutcome::NotDeletable, Error::FromErrno("delete files from the folder of " + file.Name())};
  }
  struct stat folder {
  }, status{};
  if (calls.Stat(file.Folder(), &folder) != 0 || calls.Stat(file.Descriptor(), &status) != 0) {
    return Failure{FileOutcome::NotDeletable, Error::FromErrno("stat " + file.Name() + " and its folder")};
  }
  // An append-only or immutable folder keeps its names whoever asks, root
  // too; faccessat reports only the immutable one. A file system without
  // such flags cannot have them set.
  int flags = 0;
  if (calls.InodeFlags(file.Folder(), &flags) == 0 && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0) {
    return Failure{FileOutcome::NotDeletable, Error{EPERM, "delete " + file.Name() + ": its folder is append-only or immutable"}};
  }
  // Close enough to CAP_FOWNER for the programs' use: root may.
  if (!StickyFolderAllowsDelete(folder, status, geteuid(), geteuid() == 0)) {
    return Failure{FileOutcome::NotDeletable, Error{EPERM, "delete " + file.Name() + ": its folder is sticky and the file is another user's"}};
  }
  return {};
}

namespace {

// Fills `chunk`, the bytes at `offset`, block by block with each block's
// filler, asking `progress` before each block: the bytes ready to write,
// fewer than the chunk's when it answered Cancel.
std::size_t FillChunk(std::span<std::uint8_t> chunk, std::span<const std::uint8_t> fillers,
                      std::size_t block_length, std::int64_t offset, std::int64_t length,
                      const ProgressFunction& progress) {
  std::size_t prepared = 0;
  for (std::size_t block = 0; block < fillers.size(); ++block) {
    const std::size_t start = block * block_length;
    if (progress &&
        progress(offset + static_cast<std::int64_t>(start), length - 1) == ProgressAnswer::Cancel) {
      break;
    }
    // The last block is cut at the end of the file rather than written whole.
    const std::size_t size = std::min(block_length, chunk.size() - start);
    std::memset(chunk.data() + start, fillers[block], size);
    prepared = start + size;
  }
  return prepared;
}

// Writes a fresh random byte value over each block of the file, chunk by
// chunk. The report when it stopped before the end (a failure, or a cancel
// with what was written synced); nothing once every block is written.
std::optional<FileReport> OverwriteBlocks(const OpenedFile& file, const ProgressFunction& progress,
                                          FileCalls& calls) {
  const std::int64_t length = file.Length();
  const auto block_length = static_cast<std::size_t>(file.BlockLength());
  std::vector<std::uint8_t> buffer;
  if (length > 0) {
    buffer.resize(
        static_cast<std::size_t>(std::min(BlocksPerChunk * std::int64_t{file.BlockLength()}, length)));
  }
  FileCondition written_condition = FileCondition::AsBefore;
  bool cancelled = false;
  for (std::int64_t offset = 0; offset < length && !cancelled;) {
    const auto chunk_length = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), length - offset));
    std::array<std::uint8_t, BlocksPerChunk> fillers{};
    const std::size_t block_count = (chunk_length + block_length - 1) / block_length;
    if (Status drawn = DrawFillers(calls, std::span(fillers).first(block_count)); !drawn) {
      return Report(file, FileOutcome::RandomError, written_condition, drawn.error());
    }
    // The blocks of the chunk to write: all of them, or those before a cancel.
    const std::size_t prepared =
        FillChunk(std::span(buffer).first(chunk_length), std::span(fillers).first(block_count), block_length,
                  offset, length, progress);
    cancelled = prepared < chunk_length;
    if (prepared == 0) break;
    written_condition = FileCondition::PartlyOverwritten;
    const std::span<const std::uint8_t> chunk(buffer.data(), prepared);
    if (Status written = WriteExactly(calls, file.Descriptor(), chunk, offset, file.Name()); !written) {
      return Report(file, FileOutcome::WriteError, written_condition, written.error());
    }
    offset += static_cast<std::int64_t>(prepared);
  }
  if (!cancelled) return std::nullopt;
  // What the progress counted as overwritten is on the disk before the report.
  if (written_condition != FileCondition::AsBefore && calls.SyncData(file.Descriptor()) != 0) {
    return Report(file, FileOutcome::SyncError, written_condition, Error::FromErrno("sync " + file.Name()));
  }
  return Report(file, FileOutcome::Cancelled, written_condition, Error{});
}

// Once every block is overwritten: the filler synced, then the name deleted.
FileReport DeleteOverwritten(const OpenedFile& file, FileCalls& calls, const SyncStartFunction& sync_start) {
  const FileCondition written_condition =
      file.Length() > 0 ? FileCondition::Overwritten : FileCondition::AsBefore;
  // The filler must be on the disk before the name goes.
  if (sync_start) sync_start();
  if (calls.SyncData(file.Descriptor()) != 0) {
    return Report(file, FileOutcome::SyncError, written_condition, Error::FromErrno("sync " + file.Name()));
  }
  // Between the first check and here the name could have been taken by
  // another file; make sure it still names this one.
  if (FileStatus still = CheckReadyToChange(file, calls); !still) {
    return Report(file, FileOutcome::DeleteError, written_condition, still.error().error);
  }
  if (calls.UnlinkAt(file.Folder(), file.Name().c_str()) != 0) {
    return Report(file, FileOutcome::DeleteError, written_condition, Error::FromErrno("delete " + file.Name()));
  }
  // Whether the deletion itself survives a crash matters less: the content is gone.
  calls.Sync(file.Folder());
  return Report(file, FileOutcome::Done, FileCondition::Erased, Error{});
}

}  // namespace

FileReport SecureEraseFile(OpenedFile& file, const ProgressFunction& progress, FileCalls& calls,
                           const SyncStartFunction& sync_start) {
  FileStatus ready = CheckReadyToChange(file, calls);
  if (ready) ready = FileMayBeDeleted(file, calls);
  if (!ready) return Report(file, ready.error().outcome, FileCondition::AsBefore, ready.error().error);
  if (std::optional<FileReport> stopped = OverwriteBlocks(file, progress, calls)) return std::move(*stopped);
  return DeleteOverwritten(file, calls, sync_start);
}

FileReport SecureEraseFile(OpenedFile& file, const ProgressFunction& progress,
                           const SyncStartFunction& sync_start) {
  FileCalls calls;
  return SecureEraseFile(file, progress, calls, sync_start);
}

}  // namespace quorvant
