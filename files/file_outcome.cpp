#include "files/file_outcome.h"

#include "files/file_calls.h"

namespace quorvant {

FileOutcome OutcomeOfWriteError(const Error& error) {
  return MeansNoSpace(error.code) ? FileOutcome::NoSpace : FileOutcome::WriteError;
}

std::string_view OutcomeText(FileOutcome outcome) {
  switch (outcome) {
    case FileOutcome::Done: return "Done";
    case FileOutcome::Cancelled: return "Cancelled";
    case FileOutcome::AlreadyOpen: return "Already open";
    case FileOutcome::ReadOnly: return "Read only";
    case FileOutcome::Vanished: return "File gone";
    case FileOutcome::NotRegular: return "Not a file";
    case FileOutcome::NameInUse: return "Name in use";
    case FileOutcome::NameTooLong: return "Name too long";
    case FileOutcome::NameInvalid: return "Not encrypted";
    case FileOutcome::OpenError: return "Open error";
    case FileOutcome::ReadError: return "Read error";
    case FileOutcome::WriteError: return "Write error";
    case FileOutcome::SyncError: return "Sync error";
    case FileOutcome::RenameError: return "Rename error";
    case FileOutcome::DeleteError: return "Not erased";
    case FileOutcome::RandomError: return "Random error";
    case FileOutcome::WrongKey: return "Wrong key";
    case FileOutcome::NoSpace: return "No space";
    case FileOutcome::NoMemory: return "No memory";
    case FileOutcome::Interrupted: return "Interrupted";
    case FileOutcome::NothingToResume: return "Nothing to resume";
    case FileOutcome::JournalDamaged:
    case FileOutcome::NotAJournal: return "Journal damaged";
    case FileOutcome::KeyLooksWrong: return "Key looks wrong";
    case FileOutcome::LinkedElsewhere: return "Linked elsewhere";
    case FileOutcome::OpenedElsewhere: return "Opened elsewhere";
    case FileOutcome::ChangedElsewhere: return "Changed elsewhere";
    case FileOutcome::NotDeletable: return "Not deletable";
  }
  return "Error";
}

}  // namespace quorvant
