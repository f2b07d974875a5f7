#include "crypto/file_transform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "base/verify.h"
#include "base/wipe.h"
#include "crypto/encrypted_name.h"

namespace quorvant {

namespace {

Direction Opposite(Direction direction) {
  return direction == Direction::Encrypt ? Direction::Decrypt : Direction::Encrypt;
}

FileOutcome OutcomeOfRenameError(int error_code) {
  switch (error_code) {
    case EEXIST:
    case ENOTEMPTY: return FileOutcome::NameInUse;
    case ENAMETOOLONG: return FileOutcome::NameTooLong;
    case ENOENT: return FileOutcome::Vanished;
    default: return FileOutcome::RenameError;
  }
}

// The longest name the folder's file system takes, never above NAME_MAX.
std::size_t LongestName(int folder) {
  const long limit = fpathconf(folder, _PC_NAME_MAX);
  return limit > 0 ? std::min<std::size_t>(static_cast<std::size_t>(limit), NAME_MAX) : NAME_MAX;
}

// Transforms the blocks of `chunk`, which starts at a block boundary.
void TransformChunk(std::span<std::uint8_t> chunk, std::int32_t block_length, Direction direction,
                    KeyWords& key_words) {
  for (std::size_t start = 0; start < chunk.size(); start += static_cast<std::size_t>(block_length)) {
    const std::size_t size = std::min(chunk.size() - start, static_cast<std::size_t>(block_length));
    TransformBlock(chunk.subspan(start, size), block_length, direction, key_words);
  }
}

// One run over one file; every way out goes through Finish or Undo.
class TransformRun {
 public:
  TransformRun(OpenedFile& file, Direction direction, KeyWords& key_words, FileCalls& calls)
      : file_(file), direction_(direction), key_words_(key_words), calls_(calls), start_words_(key_words) {
    report_.name = file.Name();
  }
  ~TransformRun() {
    key_words_.Wipe();
    // The buffer holds the file's data, plain or encrypted; leave none behind.
    if (!buffer_.empty()) Wipe(buffer_.data(), buffer_.size());
  }

  FileReport Run(const EncryptedSuffix& suffix, const ProgressFunction& progress,
                 const SyncStartFunction& sync_start);

 private:
  FileReport Finish(FileOutcome outcome, FileCondition condition, Error error);
  // Undoes a run that failed or was cancelled after the first
  // `written_length` bytes had been written back; see the header.
  FileReport Undo(FileOutcome outcome, Error error, std::int64_t written_length);
  FileOutcome Rename(const std::string& from, const std::string& to, Error& error);
  std::size_t ChunkLength() const { return static_cast<std::size_t>(BlocksPerChunk * file_.BlockLength()); }
  std::span<std::uint8_t> ChunkAt(std::int64_t offset) {
    const auto size = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(ChunkLength()), file_.Length() - offset));
    return std::span(buffer_).first(size);
  }

  OpenedFile& file_;
  const Direction direction_;
  KeyWords& key_words_;
  FileCalls& calls_;
  const KeyWords start_words_;  // the words before the first block, for the undo
  std::vector<std::uint8_t> buffer_;
  std::string old_name_;
  std::string new_name_;
  bool renamed_ = false;
  FileReport report_;
};

FileReport TransformRun::Finish(FileOutcome outcome, FileCondition condition, Error error) {
  report_.outcome = outcome;
  report_.condition = condition;
  report_.name = file_.Name();
  report_.error = std::move(error);
  return report_;
}

FileOutcome TransformRun::Rename(const std::string& from, const std::string& to, Error& error) {
  if (RenameWithoutReplacing(calls_, file_.Folder(), from.c_str(), to.c_str()) != 0) {
    const int code = errno;
    error = Error{code, "rename " + from + " to " + to};
    return OutcomeOfRenameError(code);
  }
  file_.SetName(to);
  return FileOutcome::Done;
}

FileReport TransformRun::Run(const EncryptedSuffix& suffix, const ProgressFunction& progress,
                             const SyncStartFunction& sync_start) {
  Error error;
  const FileOutcome ready = CheckReadyToChange(file_, calls_, error);
  if (ready != FileOutcome::Done) return Finish(ready, FileCondition::AsBefore, std::move(error));

  old_name_ = file_.Name();
  if (direction_ == Direction::Encrypt) {
    new_name_ = EncryptedName(old_name_, suffix);
  } else {
    const std::optional<std::string> plain_name = PlainName(old_name_);
    if (!plain_name) {
      return Finish(FileOutcome::NameInvalid, FileCondition::AsBefore,
                    Error{EINVAL, old_name_ + " has no encrypted-name suffix to remove"});
    }
    // The key words were built from this suffix: anything else is a mistake of the caller.
    Verify(SuffixOfName(old_name_) == suffix);
    new_name_ = *plain_name;
  }
  if (new_name_.size() > LongestName(file_.Folder())) {
    return Finish(FileOutcome::NameTooLong, FileCondition::AsBefore,
                  Error{ENAMETOOLONG, "rename to " + new_name_});
  }
  struct stat existing {};
  if (calls_.StatAt(file_.Folder(), new_name_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    return Finish(FileOutcome::NameInUse, FileCondition::AsBefore, Error{EEXIST, "rename to " + new_name_});
  } else if (errno != ENOENT) {
    const int code = errno;
    return Finish(OutcomeOfRenameError(code), FileCondition::AsBefore, Error{code, "look at " + new_name_});
  }

  if (direction_ == Direction::Encrypt) {
    const FileOutcome renamed = Rename(old_name_, new_name_, error);
    if (renamed != FileOutcome::Done) return Finish(renamed, FileCondition::AsBefore, std::move(error));
    renamed_ = true;
    // The salt must be on disk in the name before any encrypted byte is.
    if (calls_.Sync(file_.Folder()) != 0)
      return Undo(FileOutcome::SyncError, Error::FromErrno("sync the folder"), 0);
  }

  const std::int64_t length = file_.Length();
  const std::int32_t block_length = file_.BlockLength();
  if (length > 0) buffer_.resize(std::min<std::size_t>(ChunkLength(), static_cast<std::size_t>(length)));
  std::int64_t written_length = 0;
  while (written_length < length) {
    const std::int64_t offset = written_length;
    const std::span<std::uint8_t> chunk = ChunkAt(offset);
    const KeyWords chunk_words = key_words_;
    if (Status read = ReadExactly(calls_, file_.Descriptor(), chunk, offset, file_.Name()); !read) {
      return Undo(FileOutcome::ReadError, read.error(), written_length);
    }
    for (std::size_t start = 0; start < chunk.size(); start += static_cast<std::size_t>(block_length)) {
      if (progress &&
          progress(offset + static_cast<std::int64_t>(start), length - 1) == ProgressAnswer::Cancel) {
        // The blocks of this chunk changed so far are only in memory.
        return Undo(FileOutcome::Cancelled, Error{}, written_length);
      }
      const std::size_t size = std::min(chunk.size() - start, static_cast<std::size_t>(block_length));
      TransformBlock(chunk.subspan(start, size), block_length, direction_, key_words_);
    }
    if (Status written = WriteExactly(calls_, file_.Descriptor(), chunk, offset, file_.Name()); !written) {
      // Part of the chunk may have reached the file: put all of it back as it was.
      KeyWords words = chunk_words;
      TransformChunk(chunk, block_length, Opposite(direction_), words);
      if (!WriteExactly(calls_, file_.Descriptor(), chunk, offset, file_.Name())) {
        return Finish(FileOutcome::WriteError, FileCondition::PartlyTransformed, written.error());
      }
      return Undo(FileOutcome::WriteError, written.error(), written_length);
    }
    written_length += static_cast<std::int64_t>(chunk.size());
  }
  if (sync_start) sync_start();
  if (calls_.SyncData(file_.Descriptor()) != 0) {
    return Undo(FileOutcome::SyncError, Error::FromErrno("sync " + file_.Name()), written_length);
  }

  if (direction_ == Direction::Decrypt) {
    const FileOutcome renamed = Rename(old_name_, new_name_, error);
    if (renamed != FileOutcome::Done) return Undo(renamed, std::move(error), written_length);
    renamed_ = true;
    if (calls_.Sync(file_.Folder()) != 0) {
      // The data is decrypted and synced and the new name is in place; only
      // whether the name survives a crash is in doubt.
      return Finish(FileOutcome::SyncError, FileCondition::Transformed, Error::FromErrno("sync the folder"));
    }
  }
  return Finish(FileOutcome::Done, FileCondition::Transformed, Error{});
}

FileReport TransformRun::Undo(FileOutcome outcome, Error error, std::int64_t written_length) {
  // Only an encryption has renamed by now; its data is put back first, under
  // the encrypted name, so that an interrupted undo still has its salt.
  KeyWords words = start_words_;
  const std::int32_t block_length = file_.BlockLength();
  for (std::int64_t offset = 0; offset < written_length;) {
    const std::span<std::uint8_t> chunk = ChunkAt(offset);
    if (!ReadExactly(calls_, file_.Descriptor(), chunk, offset, file_.Name())) {
      return Finish(outcome, FileCondition::PartlyTransformed, std::move(error));
    }
    TransformChunk(chunk, block_length, Opposite(direction_), words);
    if (!WriteExactly(calls_, file_.Descriptor(), chunk, offset, file_.Name())) {
      return Finish(outcome, FileCondition::PartlyTransformed, std::move(error));
    }
    offset += static_cast<std::int64_t>(chunk.size());
  }
  // The content is as before; a failed sync here cannot be helped and is
  // outweighed by the error being reported.
  if (written_length > 0) calls_.SyncData(file_.Descriptor());
  if (renamed_) {
    Error ignored;
    // Should this fail, the report's name tells where the file is.
    if (Rename(new_name_, old_name_, ignored) == FileOutcome::Done) calls_.Sync(file_.Folder());
  }
  return Finish(outcome, FileCondition::AsBefore, std::move(error));
}

}  // namespace

FileReport TransformFile(OpenedFile& file, Direction direction, const EncryptedSuffix& suffix,
                         KeyWords& key_words, const ProgressFunction& progress, FileCalls& calls,
                         const SyncStartFunction& sync_start) {
  TransformRun run(file, direction, key_words, calls);
  return run.Run(suffix, progress, sync_start);
}

FileReport TransformFile(OpenedFile& file, Direction direction, const EncryptedSuffix& suffix,
                         KeyWords& key_words, const ProgressFunction& progress,
                         const SyncStartFunction& sync_start) {
  FileCalls calls;
  return TransformFile(file, direction, suffix, key_words, progress, calls, sync_start);
}

}  // namespace quorvant
