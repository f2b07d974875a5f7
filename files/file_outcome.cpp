#include "files/file_outcome.h"

#include <array>
#include <cstring>
#include <string>

#include "files/file_calls.h"

namespace quorvant {

namespace {

using enum FileOutcome;

// One row per outcome, in the enumeration's order.
constexpr std::array Wordings{
    OutcomeWording{Done, "Done", "done", false, false},
    OutcomeWording{Cancelled, "Cancelled", "cancelled", false, false},
    OutcomeWording{AlreadyOpen, "Already open", "another program has it open or locked", false, true},
    OutcomeWording{ReadOnly, "Read only", "read only: it can be read but not changed", false, true},
    OutcomeWording{Vanished, "File gone", "no longer there under that name", false, true},
    OutcomeWording{NotRegular, "Not a file", "not a regular file", false, true},
    OutcomeWording{NameInUse, "Name in use", "the new name is taken", false, true},
    OutcomeWording{NameTooLong, "Name too long", "the new name would be too long", false, true},
    OutcomeWording{NameInvalid, "Not encrypted",
                   "not an encrypted name (it does not end in \" \" + 7 characters + \"[\" or \"]\")", false, true},
    OutcomeWording{AlreadyEncrypted, "Encrypted",
                   "already an encrypted name (it ends in \" \" + 7 characters + \"[\" or \"]\"); not encrypted again",
                   false, true},
    OutcomeWording{OpenError, "Open error", "cannot open", true, false},
    OutcomeWording{ReadError, "Read error", "read error", true, false},
    OutcomeWording{WriteError, "Write error", "write error", true, false},
    OutcomeWording{SyncError, "Sync error", "sync error", true, false},
    OutcomeWording{RenameError, "Rename error", "cannot rename", true, false},
    OutcomeWording{DeleteError, "Not erased", "cannot delete", true, false},
    OutcomeWording{RandomError, "Random error", "no random bytes", true, false},
    OutcomeWording{WrongKey, "Wrong key", "wrong key", false, true},
    OutcomeWording{NoSpace, "No space", "no space for the run's journal", false, true},
    OutcomeWording{NoMemory, "No memory", "not enough memory for the key check", false, false},
    OutcomeWording{Interrupted, "Interrupted", "an earlier run on it was cut short", false, true},
    OutcomeWording{NothingToResume, "Nothing to resume", "no interrupted run", false, true},
    OutcomeWording{JournalDamaged, "Journal damaged", "its journal cannot be used", false, true},
    OutcomeWording{NotAJournal, "Journal damaged", "the name its journal would have is taken", false, true},
    OutcomeWording{JournalElsewhere, "Journal elsewhere",
                   "it is part-way through a run whose journal is not beside it", false, true},
    OutcomeWording{FolderNotWritable, "Folder read only",
                   "its folder cannot be written, so no journal can be made for the run", true, true},
    OutcomeWording{KeyLooksWrong, "Key looks wrong",
                   "the key looks wrong: no key check is stored with the file, and decrypted with this key its "
                   "start looks like noise, not like a file",
                   false, true},
    OutcomeWording{LinkedElsewhere, "Linked elsewhere",
                   "it has another name (a hard link), which would be left with a file that no longer fits it",
                   false, true},
    OutcomeWording{OpenedElsewhere, "Opened elsewhere", "another program opened it during the run", false, true},
    OutcomeWording{ChangedElsewhere, "Changed elsewhere", "another program changed it during the run", false,
                   true},
    OutcomeWording{NotDeletable, "Not deletable", "it could not be deleted from its folder afterwards", true,
                   true},
    OutcomeWording{Damaged, "Damaged", "damaged", false, true, true},
    OutcomeWording{DamagedOrCut, "Damaged or cut", "damaged or cut", false, true, true},
    OutcomeWording{OtherKeyThanDecryption, "Other key",
                   "the key is not the one it was decrypted with, and encrypting it with another key makes that "
                   "decryption final",
                   false, true},
};

constexpr bool RowsInOrder() {
  for (std::size_t row = 0; row < Wordings.size(); ++row) {
    if (static_cast<std::size_t>(Wordings[row].outcome) != row) return false;
  }
  return Wordings.size() == static_cast<std::size_t>(OtherKeyThanDecryption) + 1;
}
static_assert(RowsInOrder(), "one wording per outcome, in the enumeration's order");

// "it has 3 names (hard links)" where the check counted them.
std::string LinkWords(const Error& error) {
  if (error.code != EMLINK || error.count <= 0) return std::string(WordingOf(LinkedElsewhere).words);
  return "it has " + std::to_string(error.count) +
         " names (hard links), and the other names would be left with a file that no longer fits them";
}

}  // namespace

FileOutcome OutcomeOfWriteError(const Error& error) {
  return MeansNoSpace(error.code) ? FileOutcome::NoSpace : FileOutcome::WriteError;
}

const OutcomeWording& WordingOf(FileOutcome outcome) {
  const auto row = static_cast<std::size_t>(outcome);
  return row < Wordings.size() ? Wordings[row] : Wordings[static_cast<std::size_t>(OpenError)];
}

std::string_view OutcomeText(FileOutcome outcome) { return WordingOf(outcome).notice; }

std::string DescribeFailure(FileOutcome outcome, const Error& error) {
  const OutcomeWording& wording = WordingOf(outcome);
  std::string text = outcome == LinkedElsewhere ? LinkWords(error) : std::string(wording.words);
  // What took the name, or where the journal was, and what to do about it.
  if ((outcome == NotAJournal || outcome == JournalElsewhere || wording.shows_detail) && !error.action.empty()) {
    text += ": " + error.action;
  }
  if (wording.shows_error) {
    text += ": ";
    // A read that found the file shorter than it was is no failed call.
    text += error.code != 0 ? std::strerror(error.code) : "the file ended early";
  }
  return text;
}

std::string DescribeFailureFully(FileOutcome outcome, const Error& error) {
  std::string text = DescribeFailure(outcome, error);
  if (!WordingOf(outcome).shows_error && error.code != 0) text += std::string(": ") + std::strerror(error.code);
  return text;
}

}  // namespace quorvant
