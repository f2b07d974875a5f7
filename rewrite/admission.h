#pragma once

// Whether a file may be encrypted, decrypted or resumed, and how: decided in
// one place, before the key is asked for, by the window, the command-line
// tool and the run alike. The verdict on the key comes after it, from
// FileRun::Prepare (rewrite/file_transform.h), which asks this again first:
// the file may have changed while the key was typed.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "base/clock.h"
#include "crypto/cipher.h"
#include "crypto/encrypted_name.h"
#include "crypto/undo_mark.h"
#include "files/file_calls.h"
#include "files/file_outcome.h"
#include "files/opened_file.h"
#include "rewrite/file_transform.h"

namespace quorvant {

enum class FileIntent {
  // The window's Enter: finish an interrupted run; else decrypt an encrypted
  // name, encrypt any other.
  ByName,
  // The tool's commands: the name must fit the direction, and a file whose
  // run was cut short is refused (Interrupted) rather than resumed.
  Encrypt,
  Decrypt,
  // Finish or undo an interrupted run (NothingToResume without one).
  Resume,
  // Overwrite and delete: with the journal of an interrupted run, if it has
  // one, which holds part of its content.
  Erase,
  // Turn a classic file into a strong one in one run (NameInvalid for any
  // other file, AlreadyEncrypted for a strong one).
  Convert,
  // Take back a classic decryption by its undo mark: an encryption that
  // restores the former file, or refuses (NothingToResume without a mark).
  UndoDecryption,
};

struct Admission {
  FileIntent intent = FileIntent::ByName;
  Direction direction = Direction::Encrypt;
  // The suffix an encryption adds (drawn here, once) or a decryption removes.
  EncryptedSuffix suffix{};
  std::string new_name;
  // The run to finish, for ByName and Resume.
  std::optional<InterruptedRun> interrupted;
  // Erase: a journal of an interrupted run lies beside the file.
  bool journal_beside = false;
  // An encryption's: the mark a classic decryption left on the file, which
  // the run weighs once it has the key (see FileRun::Prepare); and whether
  // the strong format was asked for by name, which passes over the mark.
  std::optional<UndoMark> undo;
  bool strong_asked = false;
  // The file the answer is about, to know it again after the key.
  dev_t device = 0;
  ino_t inode = 0;
  std::int64_t length = 0;
};

// Before the key. Refusals, each leaving the file as it is: an interrupted run
// (Interrupted, or NotAJournal when its journal's name is taken; ByName and
// Resume read the journal and refuse JournalDamaged, OpenError, ReadError);
// AlreadyEncrypted or NameInvalid for a name that does not fit; what
// CheckReadyToChange finds (read only, another name, busy, gone); for an
// erase, NotDeletable when the folder keeps the name. Whether
// the new name can be had is found out when the run starts (NameInUse,
// NameTooLong).
// An encryption's suffix is drawn for `format`. A name of the strong shape
// is strong only when its end shows a sound trailer; one whose end shows a
// damaged or cut trailer is refused (DamagedOrCut); one with no trailer's
// mark at its end is plain.
FileResult<Admission> AdmitFile(const OpenedFile& file, FileIntent intent, Clock& clock, FileCalls& calls,
                                CipherFormat format = CipherFormat::Classic);

// A fresh suffix of `format`.
EncryptedSuffix DrawSuffix(CipherFormat format, Clock& clock);

// An encryption admitted for one format made into one for `format` (the
// window's choice during key entry): a suffix of that format drawn, the new
// name made from it. Anything but a new encryption stays as it is. The
// choice counts as asked for by name (Admission::strong_asked).
void ChooseFormat(Admission& admission, CipherFormat format, Clock& clock);

// The same for a direction and suffix already chosen (the run's own check).
FileResult<Admission> AdmitTransform(const OpenedFile& file, Direction direction, const EncryptedSuffix& suffix,
                                     FileCalls& calls);

// After the key, with `file` opened again: the admission asked again, for
// the same file (Vanished when the name now means another, ChangedElsewhere
// when its length changed) with the same suffix; ChangedElsewhere too when
// an interrupted run appeared or went meanwhile.
FileResult<Admission> AdmitAgain(const OpenedFile& file, const Admission& admitted, FileCalls& calls);

}  // namespace quorvant
