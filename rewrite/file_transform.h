#pragma once

// Encrypting or decrypting an opened file in place, renaming it, and undoing
// everything when the run does not finish; with a journal, so that a run cut
// short by a kill or a power loss can be finished or undone later.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "rewrite/chunk_pipeline.h"
#include "crypto/cipher.h"
#include "crypto/key_check.h"
#include "files/file_calls.h"
#include "files/file_outcome.h"
#include "files/opened_file.h"

namespace quorvant {

// The largest window of a run: the journal takes this much disk (plus 12 KiB)
// while the run goes on.
inline constexpr std::int64_t DefaultWindowLength = std::int64_t{64} << 20;

struct JournalPlace;

struct TransformSettings {
  std::int64_t largest_window = DefaultWindowLength;
  // Blocks per read and write (tests make it small, to have more moments to
  // crash at).
  std::int64_t blocks_per_chunk = BlocksPerChunk;
  // Where the cipher works: beside the reads on a second core by default;
  // what reaches the disk, and in what order, is the same either way.
  CipherThread cipher_thread = CipherThread::Auto;
  // Makes and judges the key check; nullptr: Argon2id at the default cost.
  KeyChecker* key_checker = nullptr;
  // Called once when the last block has been transformed and only syncing
  // is left (for a display that says so); never when the run stops earlier.
  SyncStartFunction sync_start;
  // Asked during Prepare of a strong decryption for each chunk of the check
  // made before anything changes (plaintext offset, plaintext length - 1);
  // Cancel refuses the file as Cancelled, unchanged. Not set: never asked.
  ProgressFunction check_progress;
  // A resume's journal when it is not in the file's folder (a half-done file
  // moved): believed only for a file that carries the mark of its run.
  const JournalPlace* journal = nullptr;
};

enum class ResumeMode {
  Finish,  // carry the interrupted run through (an interrupted undo is finished as an undo)
  Undo,    // bring the file back to how it was before the run
};

class Run;
struct Admission;

// A run in two calls, so that the caller can ask its user in between and
// nothing here ever calls back into the caller's screen:
//   Prepare (or PrepareResume): every check, and the key's, before anything
//     changes. Done: ready to go. KeyLooksWrong: a decryption without a
//     usable key check whose key decrypts the file's first block to noise
//     (crypto/key_judge.h); the caller may ask its user, then Go anyway or
//     drop the run. Anything else: refused, the file AsBefore.
//   The key text is of no more use to the run after Prepare: the caller may
//     wipe it then.
//   Go: the run itself, as TransformFile or ResumeFile describe it.
// `file`, `calls` and `settings` are the caller's and must outlive this.
class FileRun {
 public:
  FileRun(OpenedFile& file, FileCalls& calls, const TransformSettings& settings = {});
  ~FileRun();
  FileRun(const FileRun&) = delete;
  FileRun& operator=(const FileRun&) = delete;

  FileReport Prepare(Direction direction, const EncryptedSuffix& suffix, std::string_view key_text);
  // After AdmitFile (rewrite/admission.h), with the file opened again: the
  // admission is asked again first; then a new run, or the finish of the
  // interrupted run it found.
  FileReport Prepare(const Admission& admitted, std::string_view key_text);
  FileReport PrepareResume(std::string_view key_text, ResumeMode mode);
  // Only after a Prepare that ended Done or KeyLooksWrong.
  FileReport Go(const ProgressFunction& progress);

 private:
  std::unique_ptr<Run> run_;
};

// Encrypts (`file`'s name + `suffix` becomes its name) or decrypts (the name
// must end with `suffix`, which is removed) `file` in place, in the format
// the suffix names (crypto/encrypted_name.h): a strong encryption first grows
// the file by its tag table and trailer, a strong decryption cuts them last,
// each step through the journal like the windows. Window by
// window, calling `progress` once per block before the block is changed.
// `key_text` (1..MaxKeyLength characters) stays the caller's, who wipes it;
// the key words made from it here are wiped before this returns. The file
// stays open and locked throughout.
//
// Before anything changes: the refusals of CheckReadyToChange (a file with a
// second name is LinkedElsewhere); NameInvalid, NameTooLong, NameInUse for
// the new name; Interrupted when the file has an interrupted run (resume it
// first); WrongKey when a decryption's key fails the file's key check
// attribute; for a decryption without a usable check, KeyLooksWrong when
// the key decrypts the first block to noise (FileRun lets the caller go on
// all the same); NoSpace when not even a
// one-block journal fits. All of them leave the file AsBefore.
//
// Other programs: before each window, and before the run's last step, the
// file must still be the run's alone: its lease unbroken (OpenedElsewhere
// when another program asked to open it; that program waits meanwhile), or,
// where it has no lease, no other process with it open as far as /proc
// shows (OpenedElsewhere); still one name (LinkedElsewhere); its length
// unchanged (ChangedElsewhere). The run then stops and is undone. The undo
// never writes past the file's current end: when the file has become
// shorter it stops with the journal kept (Interrupted). When another
// program may have changed the file (its length changed; without a lease,
// it had the file open; or it has the file open when the undo ends), an
// undone run is UndoneChangedElsewhere, never AsBefore.
//
// The run keeps a journal (rewrite/journal_format.h) in the file's folder,
// durable before the first change and removed after the last. Each window's
// new bytes go into the journal and are made durable there before the window
// is overwritten in place, so that whatever a crash leaves of the window, a
// resume can write it whole again: the cipher turns whole blocks, and a block
// of which some pages reached the disk cannot be rebuilt from the disk alone.
// The name carries the salt whenever any byte is encrypted: an encryption
// renames first, then stores the key check attribute, then transforms; a
// decryption transforms, removes the attribute, then renames. Done only once
// the data, the attribute and the name are durable.
//
// A cancel, or a failure, undoes the run window by window, backwards; the
// file is then AsBefore. When the undo itself cannot go on, it stops with the
// journal kept (condition Interrupted: `done` bytes transformed, the rest as
// before, and ResumeFile finishes or undoes it), or, when an encryption's old
// name was taken meanwhile, RestoredNameTaken. "AsBefore" is reported only
// when the name and every byte are as before.
FileReport TransformFile(OpenedFile& file, Direction direction, const EncryptedSuffix& suffix,
                         std::string_view key_text, const ProgressFunction& progress, FileCalls& calls,
                         const TransformSettings& settings = {});
FileReport TransformFile(OpenedFile& file, Direction direction, const EncryptedSuffix& suffix,
                         std::string_view key_text, const ProgressFunction& progress,
                         const TransformSettings& settings = {});

// What a file's journal says about its interrupted run, read without the key.
struct InterruptedRun {
  Direction direction = Direction::Encrypt;
  EncryptedSuffix suffix{};
  std::string old_name;  // before the run
  std::string new_name;  // after it
  std::string journal;   // the journal's name in the folder
};

// The interrupted run of `file`; without one, the failure NothingToResume;
// else a refusal (JournalDamaged, NotAJournal, OpenError, ReadError).
// `place`: the journal is there, not in the file's folder (see TransformSettings::journal).
FileResult<InterruptedRun> FindInterruptedRun(const OpenedFile& file, FileCalls& calls,
                                              const JournalPlace* place = nullptr);

// Finishes or undoes `file`'s interrupted run, whatever name it has now.
// NothingToResume when it has none; JournalDamaged when its journal cannot be
// trusted; WrongKey when `key_text` is not the run's key: nothing is written
// in any of these cases. Otherwise the window a crash may have torn is made
// whole first, then the run goes on with `progress` called per block as in
// TransformFile. A cancel, or a failure, stops it with the journal kept
// (Interrupted) rather than undo what the user asked to finish. Ends Done,
// with the condition Transformed (finished) or AsBefore (undone).
FileReport ResumeFile(OpenedFile& file, std::string_view key_text, ResumeMode mode,
                      const ProgressFunction& progress, FileCalls& calls,
                      const TransformSettings& settings = {});
FileReport ResumeFile(OpenedFile& file, std::string_view key_text, ResumeMode mode,
                      const ProgressFunction& progress, const TransformSettings& settings = {});

}  // namespace quorvant
