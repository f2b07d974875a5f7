#include "cli/transform_files.h"

#include <fcntl.h>

#include <string>
#include <vector>

#include "cli/failure_text.h"
#include "cli/file_argument.h"
#include "cli/key_prompt.h"
#include "cli/name_quoting.h"
#include "cli/progress_bar.h"
#include "rewrite/admission.h"
#include "rewrite/file_transform.h"
#include "files/opened_file.h"

namespace quorvant::cli {

namespace {

// Why a file is refused before the key, and what that leaves it as.
std::string RefusalBeforeTheKey(const FileArgument& file, const Failure& refused) {
  std::string text = DescribeFailure(refused.outcome, refused.error);
  switch (refused.outcome) {
    case FileOutcome::AlreadyEncrypted:
    case FileOutcome::NameInvalid: return text;
    case FileOutcome::Interrupted:
      // Resumed, never started afresh: the commands to use.
      return text + "; " + ResumeCommandFor(file.path, false) + " finishes it, " +
             ResumeCommandFor(file.path, true) + " undoes it";
    case FileOutcome::JournalElsewhere: {
      const std::string named = (file.path.starts_with('-') ? "-- " : "") + QuoteName(file.path);
      return text + "; quorvant-cli resume --journal JOURNAL " + named +
             " finishes its run; if the journal is lost, quorvant-cli resume --forget " + named + " releases it";
    }
    default: return text + "; the file is unchanged";
  }
}

// What a run that went well says besides its result line.
void SayNotes(const FileReport& report, Direction direction, const std::string& path_now, Messages& messages) {
  if (report.restored) {
    messages.FileFailure(path_now, "note: its former encryption is back, byte for byte, under its former name");
  }
  if (direction == Direction::Decrypt && report.undo_marked && report.key_unchecked) {
    messages.FileFailure(path_now, "decrypted without a key check; if the result is wrong, " +
                                       ResumeCommandFor(path_now, true) + " with the same key restores it");
  }
  if (!report.note.empty()) messages.FileFailure(path_now, "note: " + report.note);
}

}  // namespace

bool TransformOne(const Admission& admitted, const FileArgument& file, const KeyText& key, bool force,
                  CommandContext& context) {
  std::optional<OpenedFile> opened = OpenForChange(file, context.messages);
  if (!opened) return false;
  const Direction direction = admitted.direction;
  const std::string& new_name = admitted.new_name;
  const bool converting = admitted.intent == FileIntent::Convert;
  const bool undoing = admitted.intent == FileIntent::UndoDecryption;
  ProgressBar bar(std::string(converting                          ? "Converting "
                              : undoing                         ? "Undoing "
                              : direction == Direction::Encrypt ? "Encrypting "
                                                                : "Decrypting ") +
                      QuoteName(file.name),
                  context.clock, context.messages);
  const std::int64_t length = opened->Length();
  TransformSettings settings;
  settings.sync_start = [&] { bar.ShowSyncing(length); };
  settings.key_checker = context.key_checker;
  // A strong decryption checks every chunk before it changes any.
  ProgressBar check_bar("Checking " + QuoteName(file.name), context.clock, context.messages);
  settings.check_progress = FollowOnBar(check_bar, context.signals, length);
  FileCalls calls;
  FileRun run(*opened, calls, settings);
  FileReport report = run.Prepare(admitted, key.View());
  check_bar.Clear();
  const bool question = report.outcome == FileOutcome::KeyLooksWrong ||
                        report.outcome == FileOutcome::OtherKeyThanDecryption;
  if (question && force) {
    // Said, so that a script's log shows which files were forced through.
    context.messages.FileFailure(
        file.path, report.outcome == FileOutcome::KeyLooksWrong
                       ? std::string("the key looks wrong (the file's start decrypts to noise), but "
                                     "--force was given: ") +
                             (converting ? "converting" : "decrypting") + " it all the same"
                       : "the key is not the one it was decrypted with, but --force was given: encrypting it "
                         "anew, which makes that decryption final");
  }
  if (report.outcome == FileOutcome::Done || (question && force)) {
    report = run.Go(FollowOnBar(bar, context.signals, length));
  }
  bar.Clear();
  const std::string path_now = PathInFolder(file, report.name);
  if (report.outcome == FileOutcome::Done) {
    context.messages.Result((undoing ? "undone " : "") + QuoteName(file.path) + " -> " + QuoteName(path_now));
    SayNotes(report, direction, path_now, context.messages);
    // Done, but the journal could not be removed: say how to remove it.
    if (!report.journal.empty()) {
      context.messages.FileFailure(
          path_now, DescribeTransformReport(report, PathInFolder(file, new_name), path_now, direction));
    }
    return true;
  }
  std::string text = DescribeTransformReport(report, PathInFolder(file, new_name), path_now, direction);
  if (report.outcome == FileOutcome::OtherKeyThanDecryption) {
    text += " (with the key that decrypted it, encrypt restores its former encryption; --force encrypts it anew)";
  }
  context.messages.FileFailure(file.path, text);
  return false;
}

int TransformFiles(FileIntent intent, const CommandLine& line, CommandContext& context) {
  Messages& messages = context.messages;
  // The strong format unless the classic one is asked for by name.
  CipherFormat format = CipherFormat::Strong;
  if (line.Has("--format")) {
    const std::string_view asked = line.Value("--format");
    if (asked == "classic") {
      format = CipherFormat::Classic;
    } else if (asked != "strong") {
      messages.CommandFailure(line.command, "unknown format " + QuoteName(asked) + " (classic or strong); no file was changed");
      return ExitFailure;
    }
  }
  std::vector<FileArgument> files;
  std::vector<Admission> admissions;
  for (FileArgument& file : CheckFileArguments(line.files, messages)) {
    if (std::optional<Admission> admitted =
            AdmitArgument(file, intent, "; the file is unchanged", context.clock, context.messages,
                          RefusalBeforeTheKey, format)) {
      // The default passes over nothing; the format asked for by name passes
      // over a decryption's undo mark.
      admitted->strong_asked = format == CipherFormat::Strong && line.Has("--format");
      files.push_back(std::move(file));
      admissions.push_back(std::move(*admitted));
    }
  }
  bool any_failed = files.size() != line.files.size();
  if (files.empty()) return ExitFailure;

  return RunWithKey(line, context, files,
                    intent == FileIntent::Encrypt ? KeyConfirmation::Twice : KeyConfirmation::Once,
                    any_failed, "the file is unchanged", [&](const FileArgument& file, const KeyText& key) {
                      const Admission& admitted = admissions[static_cast<std::size_t>(&file - files.data())];
                      return TransformOne(admitted, file, key, line.Has("--force"), context);
                    });
}

int RunWithKey(const CommandLine& line, CommandContext& context, const std::vector<FileArgument>& files,
               KeyConfirmation confirmation, bool any_failed, std::string_view left_as,
               const std::function<bool(const FileArgument& file, const KeyText& key)>& one) {
  Messages& messages = context.messages;
  KeyText key;
  const KeyAnswer answer = ReadKey(key, confirmation, context.signals, messages);
  if (answer.outcome != KeyOutcome::Read) {
    messages.CommandFailure(line.command, answer.message + "; no file was changed");
    return ExitFailure;
  }
  // One key check derivation for all the files; wiped when the command ends.
  RunKeyChecker key_checker(key.View());
  context.key_checker = &key_checker;
  for (const FileArgument& file : files) {
    if (context.signals.StopRequested()) {
      messages.NotStarted(file.path, left_as);
      any_failed = true;
    } else if (!one(file, key)) {
      any_failed = true;
    }
  }
  context.key_checker = nullptr;
  return any_failed ? ExitFailure : ExitSuccess;
}

// quorvant-cli encrypt FILE...: NAME becomes NAME + " " + salt + "[".
int EncryptCommand(const CommandLine& line, CommandContext& context) {
  return TransformFiles(FileIntent::Encrypt, line, context);
}

// quorvant-cli convert FILE...: a classic file becomes a strong one in one
// run, the plain text never on the disk; the key is asked once.
int ConvertCommand(const CommandLine& line, CommandContext& context) {
  return TransformFiles(FileIntent::Convert, line, context);
}

// quorvant-cli decrypt FILE...: the name loses its last nine characters.
int DecryptCommand(const CommandLine& line, CommandContext& context) {
  return TransformFiles(FileIntent::Decrypt, line, context);
}

}  // namespace quorvant::cli
