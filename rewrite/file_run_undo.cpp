// A classic decryption's undo mark (crypto/undo_mark.h): left on the file at
// the decryption's end, and weighed when the file is encrypted again. See
// rewrite/file_run.h.

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "rewrite/file_run.h"

namespace quorvant {

namespace {

std::int64_t Nanoseconds(const struct timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

}  // namespace

// Whether the file still looks as the decryption left it, by its length and
// modification time alone: without the decrypting key, the checksum cannot
// be worked out.
FileResult<bool> Run::LooksAsDecrypted(const UndoMark& mark) {
  struct stat status {};
  if (calls_.Stat(file_.Descriptor(), &status) != 0) {
    return Failure{FileOutcome::ReadError, Error::FromErrno("look at " + file_.Name())};
  }
  return status.st_size == mark.length && Nanoseconds(status.st_mtim) == mark.modified_ns;
}

// An encryption of a file a classic decryption marked. With the key that
// decrypted it, and its content as decrypted (its checksum read once, only
// here), the former encryption comes back: the same suffix, so the same
// bytes, under the former name. With another key while the file looks
// untouched, the caller asks its user first, since going on makes that
// decryption final. Anything else is an ordinary encryption, which drops the
// mark at its end. An undo the user asked for by name (`resume --undo`)
// refuses instead of going on as an ordinary encryption.
FileResult<Run::UndoChoice> Run::WeighUndoMark(Admission& admitted, std::string_view key_text) {
  const UndoMark& mark = *admitted.undo;
  const bool asked_by_name = admitted.intent == FileIntent::UndoDecryption;
  const Result<KeyCheckVerdict> verdict = checker_.Judge(key_text, mark.suffix, mark.length, mark.key_check);
  if (!verdict) return Failure{FileOutcome::NoMemory, verdict.error()};
  if (*verdict == KeyCheckVerdict::Mismatch) {
    if (asked_by_name) {
      return Failure{FileOutcome::WrongKey, Error{0, "the key is not the one " + file_.Name() + " was decrypted with"}};
    }
    const FileResult<bool> untouched = LooksAsDecrypted(mark);
    if (!untouched) return untouched.error();
    return *untouched ? UndoChoice::AskFirst : UndoChoice::Ordinary;
  }
  bool same = false;
  if (*verdict == KeyCheckVerdict::Match && mark.length == Length()) {
    const Result<UndoMarkKey> key = checker_.MarkKey(key_text, mark.key_check, mark.key_id);
    if (!key) return Failure{FileOutcome::NoMemory, key.error()};
    const Result<ContentTag> content = TagContent(*key, mark.suffix, mark.length, file_.Descriptor(), calls_);
    if (!content) return Failure{FileOutcome::ReadError, content.error()};
    same = SameContent(*content, mark.content);
  }
  if (!same) {
    if (asked_by_name) {
      return Failure{FileOutcome::NothingToResume,
                     Error{0, file_.Name() + " changed since it was decrypted, so its decryption cannot be taken back"}};
    }
    return UndoChoice::Ordinary;
  }
  admitted.suffix = mark.suffix;
  admitted.new_name = EncryptedName(file_.Name(), mark.suffix);
  return UndoChoice::Restore;
}

// Before a classic decryption changes anything: the key its mark will carry
// (the run's own check when it is of the current version, else a new one)
// and the checksum's key, so that the typed key is of no more use after this.
FileStatus Run::PrepareUndoMark(std::string_view key_text) {
  const std::vector<std::uint8_t>& check = Header().key_check;
  if (check.size() == KeyCheckLength && check[0] == KeyCheckVersion) {
    std::copy(check.begin(), check.end(), undo_check_.begin());
  } else {
    const Result<KeyCheckValue> made = checker_.Make(key_text, Header().suffix, Header().length);
    if (!made) return Failure{FileOutcome::NoMemory, made.error()};
    undo_check_ = *made;
  }
  undo_key_id_ = NewUndoMarkKeyId();
  const Result<UndoMarkKey> key = checker_.MarkKey(key_text, undo_check_, undo_key_id_);
  if (!key) return Failure{FileOutcome::NoMemory, key.error()};
  undo_key_ = *key;
  return {};
}

// At a classic decryption's end, the file under its plain name: the mark,
// synced. It never fails the run (the file is decrypted either way); a mark
// that could not be left is said.
void Run::LeaveUndoMark() {
  if (!undo_key_) return;
  const auto unmarked = [&](const Error& error) {
    report_.note = "no undo mark could be left on it (" + error.action + ": " + std::strerror(error.code) +
                   "), so only a new encryption can take this decryption back";
  };
  struct stat status {};
  if (calls_.Stat(file_.Descriptor(), &status) != 0) return unmarked(Error::FromErrno("look at the file"));
  UndoMark mark;
  mark.suffix = Header().suffix;
  mark.length = Header().length;
  mark.modified_ns = Nanoseconds(status.st_mtim);
  mark.key_check = undo_check_;
  mark.key_id = undo_key_id_;
  if (std::optional<ContentTag> taken = hashing_ ? hashing_->Checksum() : std::nullopt) {
    mark.content = *taken;
  } else {
    // A resumed run saw only part of the plain text: one read of the file.
    const Result<ContentTag> content = TagContent(*undo_key_, mark.suffix, mark.length, file_.Descriptor(), calls_);
    if (!content) return unmarked(content.error());
    mark.content = *content;
  }
  const Result<bool> written = WriteUndoMark(file_.Descriptor(), mark, calls_);
  if (!written) return unmarked(written.error());
  if (!*written) return;  // no user attributes here: nowhere to keep it
  // fdatasync does not cover attributes.
  if (calls_.Sync(file_.Descriptor()) != 0) return unmarked(Error::FromErrno("sync the file"));
  report_.undo_marked = true;
}

// An encryption's end, or a decryption's undo: the file is encrypted, and a
// mark from an earlier decryption no longer says anything true. Gone
// durably before the journal goes (fdatasync does not cover attributes);
// best effort all the same, since a mark on an encrypted name is never
// looked at.
void Run::DropUndoMark() {
  const Result<bool> removed = RemoveUndoMark(file_.Descriptor(), calls_);
  if (removed && *removed) (void)calls_.Sync(file_.Descriptor());
}

}  // namespace quorvant
