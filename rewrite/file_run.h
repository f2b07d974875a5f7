#pragma once

// The file run behind rewrite/file_transform.h, shared by the two files that
// make it: rewrite/file_run_steps.cpp (its steps: the new run's header, the
// key check, names, the journal's end) and rewrite/file_transform.cpp (a new
// run, its undo and its end, resume, and the public functions). Around the
// window engine (rewrite/window_engine.h), which changes the bytes, and the
// watch over other programs (rewrite/file_watch.h).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/key_check.h"
#include "crypto/undo_mark.h"
#include "rewrite/admission.h"
#include "rewrite/classic_windows.h"
#include "rewrite/convert_windows.h"
#include "rewrite/file_transform.h"
#include "rewrite/file_watch.h"
#include "rewrite/hashing_windows.h"
#include "crypto/encrypted_name.h"
#include "crypto/strong_chunks.h"
#include "rewrite/journal_file.h"
#include "rewrite/strong_windows.h"
#include "rewrite/window_engine.h"

namespace quorvant {

// NameInUse, NameTooLong, Vanished or RenameError for a rename's errno.
FileOutcome OutcomeOfRenameError(int error_code);

class Run {
 public:
  Run(OpenedFile& file, FileCalls& calls, const TransformSettings& settings)
      : file_(file),
        calls_(calls),
        settings_(settings),
        checker_(settings.key_checker != nullptr ? *settings.key_checker : default_checker_),
        watch_(file, calls) {
    report_.name = file.Name();
    report_.length = file.Length();
  }

  FileReport Prepare(Direction direction, const EncryptedSuffix& suffix, std::string_view key_text);
  FileReport Prepare(const Admission& admitted, std::string_view key_text);
  FileReport PrepareResume(std::string_view key_text, ResumeMode mode);
  FileReport Go(const ProgressFunction& progress);

 private:
  const JournalRunHeader& Header() const { return journal_ ? journal_->Header() : *header_; }
  // The file's length when it was opened.
  std::int64_t Length() const { return file_.Length(); }
  bool Strong() const { return format_ == CipherFormat::Strong; }

  // Its steps (rewrite/file_run_steps.cpp).
  FileResult<JournalRunHeader> NewRunHeader(const Admission& admitted);
  FileResult<bool> TakeKeyCheck(JournalRunHeader& header, std::string_view key_text);
  FileResult<bool> JudgeDecryptionKey(JournalRunHeader& header, std::string_view key_text,
                                      std::vector<std::uint8_t>* stored);
  FileResult<bool> StartLooksRight(std::string_view key_text, const EncryptedSuffix& suffix);
  void SetUpWindows(const ProgressFunction& progress);
  FileStatus StoreKeyCheck();
  FileStatus StoreCheck(const std::vector<std::uint8_t>& value);
  FileStatus RemoveKeyCheckNow();
  FileStatus Rename(const std::string& to);
  FileReport Finish(FileOutcome outcome, FileCondition condition, Error error = {});
  FileReport Refuse(Failure failure) {
    return Finish(failure.outcome, FileCondition::AsBefore, std::move(failure.error));
  }
  FileReport KeepJournal(Failure failure);
  FileReport RemoveJournal(Failure result, FileCondition condition, bool zero_images);

  // A classic decryption's undo mark (crypto/undo_mark.h), in
  // rewrite/file_run_undo.cpp.
  enum class UndoChoice { Ordinary, Restore, AskFirst };
  FileResult<UndoChoice> WeighUndoMark(Admission& admitted, std::string_view key_text);
  FileResult<bool> LooksAsDecrypted(const UndoMark& mark);
  FileStatus PrepareUndoMark(std::string_view key_text);
  void LeaveUndoMark();
  void DropUndoMark();

  // The strong format's (rewrite/file_run_strong.cpp).
  // The data the windows cover: the strong format's plaintext, else the whole file.
  std::int64_t DataLength() const;
  FileResult<std::int64_t> LengthNow();
  FileResult<StrongChunkCipher> OpenTrailer(const StrongTrailerBytes& trailer, std::string_view key_text);
  FileStatus TakeStrongKey(JournalRunHeader& header, std::string_view key_text);
  // A conversion's classic side: the key against the classic file's check or
  // its decrypted start (as a decryption's); whether the start looks right.
  FileResult<bool> TakeClassicKey(JournalRunHeader& header, std::string_view key_text);
  FileStatus OpenStrongRun(std::string_view key_text);
  JournalSlotNeeds SlotNeeds() const;
  FileStatus GrowTail();
  FileStatus CutTail(JournalPhase phase);

  // A new run, its undo and its end (rewrite/file_transform.cpp).
  FileReport PrepareNewRun(FileResult<Admission> admitted, std::string_view key_text);
  FileReport PrepareStrong(JournalRunHeader header, const Admission& admitted, UndoChoice undo,
                           std::string_view key_text);
  FileReport PrepareClassic(JournalRunHeader header, const Admission& admitted, UndoChoice undo,
                            std::string_view key_text);
  // Prepared: the run waits for Go, after the caller's question when the
  // key looked wrong or is not the one that decrypted the file.
  FileReport Ready(bool looks_right, UndoChoice undo);
  FileReport Start();
  FileReport UndoAll(Failure cause);
  FileReport End(bool resumed);

  // Resume (rewrite/file_transform.cpp).
  FileReport Resume();
  FileStatus SettleDoubleName();
  FileReport SetAsideOrphan(Failure why);

  OpenedFile& file_;
  FileCalls& calls_;
  const TransformSettings& settings_;
  KeyChecker default_checker_;
  KeyChecker& checker_;
  FileWatch watch_;
  std::optional<JournalFile> journal_;
  CipherFormat format_ = CipherFormat::Classic;
  // The run's cipher: one of the two.
  std::optional<ClassicWindows> classic_;
  std::optional<StrongWindows> strong_;
  std::optional<ConvertWindows> convert_;
  // The strong format's chunk cipher, from the key (key material).
  std::optional<StrongChunkCipher> strong_cipher_;
  std::optional<WindowEngine> engine_;
  FileReport report_;

  // What Prepare found, for Go.
  enum class Prepared { No, NewRun, Resume };
  Prepared prepared_ = Prepared::No;
  bool asked_ = false;  // the caller asked its user first: the file is looked at again
  std::optional<JournalRunHeader> header_;  // of a new run, until its journal is made
  ResumeMode mode_ = ResumeMode::Finish;
  KeyWords start_words_;  // the key words at offset 0; key material
  const ProgressFunction* progress_ = nullptr;  // Go's
  // A resumed run's file does not carry the run's mark (see Recover).
  bool unbound_ = false;
  // A classic decryption's: the key of its undo mark, and the key check it keeps.
  std::optional<UndoMarkKey> undo_key_;
  std::uint64_t undo_key_id_ = 0;
  KeyCheckValue undo_check_{};
  // Its checksum, taken as the windows turn the file (rewrite/hashing_windows.h).
  std::optional<HashingWindows> hashing_;
};

}  // namespace quorvant
