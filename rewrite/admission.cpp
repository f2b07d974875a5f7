#include "rewrite/admission.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "crypto/encrypted_name.h"
#include "crypto/strong_trailer.h"
#include "erase/secure_erase.h"
#include "rewrite/journal_file.h"
#include "rewrite/run_mark.h"

namespace quorvant {

namespace {

// The file's run mark, read once for the two looks below.
FileResult<RunMark> MarkOf(const OpenedFile& file, FileCalls& calls) {
  Result<RunMark> mark = ReadRunMark(file.Descriptor(), calls);
  if (!mark) return Failure{FileOutcome::ReadError, mark.error()};
  return std::move(*mark);
}

// A journal beside the file means its run was cut short: cheap to see, and
// enough to refuse a new run (the journal is read only by a resume).
FileStatus NoJournalBeside(const OpenedFile& file, const RunMark& mark, FileCalls& calls) {
  const std::optional<std::string> found = FindJournalName(file, mark, calls);
  if (!found) return {};
  struct stat existing {};
  if (calls.StatAt(file.Folder(), found->c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) return {};
  if (std::optional<Error> not_journal = NotAJournal(existing, *found)) {
    return Failure{FileOutcome::NotAJournal, std::move(*not_journal)};
  }
  return Failure{FileOutcome::Interrupted, Error{0, "an earlier run on " + file.Name() + " was cut short"}};
}

// A file marked for a run whose journal is not beside it was moved, or
// copied with its attributes, part-way through that run: some of its bytes
// may be in one form, the rest in the other. Refused wherever it is, saying
// where its journal was made.
FileStatus NotMarkedElsewhere(const RunMark& mark) {
  if (!mark.run) return {};
  std::string where = JournalName(*mark.run);
  if (!mark.journal_folder.empty()) where = mark.journal_folder + "/" + where;
  return Failure{FileOutcome::JournalElsewhere, Error{0, "its journal was " + where}};
}

// What a file is by its name and, for the strong shape, by its end.
enum class NameKind { Plain, Classic, Strong };

FileResult<NameKind> KindOf(const OpenedFile& file, FileCalls& calls) {
  if (HasEncryptedSuffixShape(file.Name())) return NameKind::Classic;
  if (!HasStrongSuffixShape(file.Name())) return NameKind::Plain;
  // The shape only proposes the format: the end decides. A file that merely
  // ends in "]", without a trailer's mark anywhere near its end, is plain.
  const Result<StrongEnd> end =
      ReadStrongEnd(calls, file.Descriptor(), file.Length(), file.Name(), TrailerSearch::NearEnd);
  if (!end) return Failure{FileOutcome::ReadError, end.error()};
  if (end->kind == StrongEndKind::Sound) return NameKind::Strong;
  if (end->kind == StrongEndKind::NoMagic) return NameKind::Plain;
  return Failure{FileOutcome::DamagedOrCut, Error{0, std::string(DescribeStrongEnd(*end))}};
}

// The direction a file allows, the suffix and the new name.
FileStatus FitName(const OpenedFile& file, Admission& admission, const EncryptedSuffix& drawn, FileCalls& calls) {
  const std::string& name = file.Name();
  const FileResult<NameKind> kind = KindOf(file, calls);
  if (!kind) return kind.error();
  if (admission.intent == FileIntent::ByName) {
    admission.direction = *kind == NameKind::Plain ? Direction::Encrypt : Direction::Decrypt;
  }
  if (admission.intent == FileIntent::Convert) {
    if (*kind == NameKind::Strong) {
      return Failure{FileOutcome::AlreadyEncrypted, Error{0, name + " is in the strong format already"}};
    }
    const std::optional<std::string> plain = PlainName(name);
    if (*kind != NameKind::Classic || !plain) {
      return Failure{FileOutcome::NameInvalid, Error{EINVAL, name + " has no classic encrypted-name suffix"}};
    }
    admission.direction = Direction::Encrypt;
    admission.suffix = drawn;
    admission.new_name = EncryptedName(*plain, admission.suffix);
    return {};
  }
  if (admission.direction == Direction::Encrypt) {
    if (*kind != NameKind::Plain) {
      return Failure{FileOutcome::AlreadyEncrypted, Error{0, name + " already has an encrypted name"}};
    }
    admission.suffix = drawn;
    admission.new_name = EncryptedName(name, admission.suffix);
    return {};
  }
  const bool strong = *kind == NameKind::Strong;
  const std::optional<EncryptedSuffix> suffix = strong ? StrongSuffixOfName(name) : SuffixOfName(name);
  const std::optional<std::string> plain = strong ? StrongPlainName(name) : PlainName(name);
  if (*kind == NameKind::Plain || !suffix || !plain) {
    return Failure{FileOutcome::NameInvalid, Error{EINVAL, name + " has no encrypted-name suffix to remove"}};
  }
  admission.suffix = *suffix;
  admission.new_name = *plain;
  return {};
}

// An encryption's look for the mark of a decryption to take back: weighed by
// the run with the key. Only a plain file carries a mark that means anything.
FileStatus ReadUndo(const OpenedFile& file, Admission& admission, FileCalls& calls) {
  if (admission.direction != Direction::Encrypt || admission.intent == FileIntent::Convert) return {};
  Result<std::optional<UndoMark>> mark = ReadUndoMark(file.Descriptor(), calls);
  if (!mark) return Failure{FileOutcome::ReadError, mark.error()};
  admission.undo = std::move(*mark);
  if (admission.intent == FileIntent::UndoDecryption && !admission.undo) {
    return Failure{FileOutcome::NothingToResume,
                   Error{0, file.Name() + " has no interrupted run, and no decryption to take back"}};
  }
  return {};
}

FileResult<Admission> Admit(const OpenedFile& file, FileIntent intent, Direction direction,
                            const EncryptedSuffix& drawn, FileCalls& calls) {
  Admission admission;
  admission.intent = intent;
  admission.direction = direction;
  admission.device = file.Device();
  admission.inode = file.Inode();
  admission.length = file.Length();

  if (intent == FileIntent::Erase) {
    QUORVANT_TRY(CheckReadyToChange(file, calls));
    QUORVANT_TRY(FileMayBeDeleted(file, calls));
    // A mark that cannot be read says nothing about a journal: refused.
    const FileResult<RunMark> mark = MarkOf(file, calls);
    if (!mark) return mark.error();
    admission.journal_beside = !NoJournalBeside(file, *mark, calls);
    if (!admission.journal_beside) QUORVANT_TRY(NotMarkedElsewhere(*mark));
    return admission;
  }
  if (intent != FileIntent::ByName && intent != FileIntent::Resume) {
    QUORVANT_TRY(CheckReadyToChange(file, calls));
    const FileResult<RunMark> mark = MarkOf(file, calls);
    if (!mark) return mark.error();
    QUORVANT_TRY(NoJournalBeside(file, *mark, calls));
    QUORVANT_TRY(NotMarkedElsewhere(*mark));
    QUORVANT_TRY(FitName(file, admission, drawn, calls));
    QUORVANT_TRY(ReadUndo(file, admission, calls));
    return admission;
  }
  FileResult<InterruptedRun> found = FindInterruptedRun(file, calls);
  if (found) {
    admission.direction = found->direction;
    admission.suffix = found->suffix;
    admission.new_name = found->new_name;
    admission.interrupted = std::move(*found);
    // A run cut short may have left the file under both of its names; the
    // resume sorts that out.
    QUORVANT_TRY(CheckReadyToChange(file, calls, 2));
    return admission;
  }
  if (found.error().outcome != FileOutcome::NothingToResume || intent == FileIntent::Resume) {
    return found.error();
  }
  const FileResult<RunMark> mark = MarkOf(file, calls);
  if (!mark) return mark.error();
  QUORVANT_TRY(NotMarkedElsewhere(*mark));
  QUORVANT_TRY(FitName(file, admission, drawn, calls));
  QUORVANT_TRY(CheckReadyToChange(file, calls));
  QUORVANT_TRY(ReadUndo(file, admission, calls));
  return admission;
}

}  // namespace

FileResult<Admission> AdmitFile(const OpenedFile& file, FileIntent intent, Clock& clock, FileCalls& calls,
                                CipherFormat format) {
  const Direction direction = intent == FileIntent::Decrypt ? Direction::Decrypt : Direction::Encrypt;
  return Admit(file, intent, direction, DrawSuffix(format, clock), calls);
}

EncryptedSuffix DrawSuffix(CipherFormat format, Clock& clock) {
  return format == CipherFormat::Strong ? MakeStrongSuffix(clock) : MakeEncryptedSuffix(clock);
}

void ChooseFormat(Admission& admission, CipherFormat format, Clock& clock) {
  if (admission.direction != Direction::Encrypt || admission.interrupted) return;
  // Chosen by the user: a strong encryption passes over a decryption's undo mark.
  admission.strong_asked = format == CipherFormat::Strong;
  if (FormatOfSuffix(admission.suffix) == format) return;
  const std::string plain = admission.new_name.substr(0, admission.new_name.size() - EncryptedSuffixLength);
  admission.suffix = DrawSuffix(format, clock);
  admission.new_name = EncryptedName(plain, admission.suffix);
}

FileResult<Admission> AdmitTransform(const OpenedFile& file, Direction direction, const EncryptedSuffix& suffix,
                                     FileCalls& calls) {
  return Admit(file, direction == Direction::Encrypt ? FileIntent::Encrypt : FileIntent::Decrypt, direction,
               suffix, calls);
}

FileResult<Admission> AdmitAgain(const OpenedFile& file, const Admission& admitted, FileCalls& calls) {
  if (file.Device() != admitted.device || file.Inode() != admitted.inode) {
    return Failure{FileOutcome::Vanished, Error{0, file.Name() + " now names another file"}};
  }
  if (file.Length() != admitted.length) {
    return Failure{FileOutcome::ChangedElsewhere, Error{0, file.Name() + " changed its length"}};
  }
  FileResult<Admission> again = Admit(file, admitted.intent, admitted.direction, admitted.suffix, calls);
  // A run cut short since (another copy of the program), or resumed meanwhile.
  if (again && again->interrupted.has_value() != admitted.interrupted.has_value()) {
    return Failure{FileOutcome::ChangedElsewhere, Error{0, file.Name() + " was worked on meanwhile"}};
  }
  if (again) again->strong_asked = admitted.strong_asked;
  return again;
}

}  // namespace quorvant
