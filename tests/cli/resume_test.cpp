// Runs cut short, and `quorvant-cli resume`: the built tool on real files,
// killed with SIGKILL at chosen moments of a large file, sent the signals
// that would end a process, and resumed; and the journals looked after:
// listed, forgotten, or found in another folder.

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/encrypted_name.h"
#include "rewrite/file_transform.h"
#include "rewrite/journal_format.h"
#include "rewrite/run_mark.h"
#include "tests/support/interrupted_run.h"
#include "tests/support/journal_view.h"
#include "tests/support/stopped_process.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using testing::Moment;
using testing::PatternBytes;
using testing::StopAtMoment;
using testing::TempFolder;

constexpr char Key[] = "resume key";

std::string ReadWhole(const std::string& path) {
  std::ifstream input(path);
  std::stringstream text;
  text << input.rdbuf();
  return text.str();
}

// The tool running in a folder, its input written and closed at the start.
class CliProcess {
 public:
  CliProcess(const TempFolder& folder, const std::vector<std::string>& arguments, const std::string& input) {
    int input_pipe[2];
    if (pipe2(input_pipe, O_CLOEXEC) != 0) std::abort();
    const std::string out_path = outputs_.PathOf("out");
    const std::string err_path = outputs_.PathOf("err");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(input_pipe[0], 0);
      if (!freopen(out_path.c_str(), "w", stdout) || !freopen(err_path.c_str(), "w", stderr)) _exit(99);
      if (chdir(folder.Path().c_str()) != 0) _exit(99);
      std::vector<char*> argv{const_cast<char*>(QUORVANT_CLI_PATH)};
      for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      // These runs know the classic format's bytes: an encryption is classic
      // unless a test names a format.
      static char Format[] = "--format";
      static char Classic[] = "classic";
      if (arguments.size() > 1 && arguments[0] == "encrypt" && arguments[1] != "--format") {
        argv.insert(argv.begin() + 2, {Format, Classic});
      }
      argv.push_back(nullptr);
      execv(QUORVANT_CLI_PATH, argv.data());
      _exit(98);
    }
    close(input_pipe[0]);
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty() && write(input_pipe[1], input.data(), input.size()) < 0 && errno != EPIPE)
      std::abort();
    close(input_pipe[1]);
  }

  pid_t Pid() const { return pid_; }

  // Exit status, or 128 + the signal that ended it.
  int Wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    out = ReadWhole(outputs_.PathOf("out"));
    err = ReadWhole(outputs_.PathOf("err"));
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string out, err;

 private:
  TempFolder outputs_;
  pid_t pid_ = -1;
};

struct CliRun {
  int status;
  std::string out, err;
};

CliRun RunCli(const TempFolder& folder, const std::vector<std::string>& arguments, const std::string& input) {
  CliProcess process(folder, arguments, input);
  const int status = process.Wait();
  return CliRun{status, process.out, process.err};
}

std::vector<std::uint8_t> TransformInMemory(std::vector<std::uint8_t> data, const EncryptedSuffix& suffix,
                                            Direction direction) {
  KeyWords words = BuildKeyWords(Key, suffix);
  const auto block = static_cast<std::int32_t>(std::min<std::size_t>(data.size(), MaxBlockLength));
  for (std::size_t at = 0; at < data.size(); at += static_cast<std::size_t>(block)) {
    TransformBlock(std::span(data).subspan(at, std::min(data.size() - at, static_cast<std::size_t>(block))),
                   block, direction, words);
  }
  return data;
}

// The one file of the folder that is not a journal.
std::string FileIn(const TempFolder& folder) {
  std::string found;
  for (const std::string& name : folder.Names()) {
    if (!name.starts_with(JournalNamePrefix)) found = name;
  }
  return found;
}

const EncryptedSuffix Suffix = {' ', 'q', 'R', '4', '_', 'z', '%', '1', '['};
const std::string SuffixText(Suffix.begin(), Suffix.end());

// One run of the tool on one file, to be held at the moment its journal
// holds `record` as its newest record (0: the journal is there, with no
// record yet).
struct HeldRun {
  std::string start_name;
  std::vector<std::uint8_t> content;
  std::vector<std::string> command;
  std::uint64_t record = 0;
};

struct HeldResult {
  int status = -1;
  std::string out, err;
  std::unique_ptr<TempFolder> folder;  // null when the moment was never reached
  JournalRunHeader header;             // as the journal showed it at the moment
};

// Runs `run` in a new folder with the key typed, holds the tool at its
// moment, does `act` to it there, then lets it go and waits for its end. A
// moment the tool passed between two looks is tried again from the start in
// a new folder, so that each case really tests its moment; should every try
// miss it, the test fails.
HeldResult RunStoppedAt(const HeldRun& run, const std::function<void(pid_t)>& act) {
  constexpr int Tries = 5;
  for (int attempt = 1; attempt <= Tries; ++attempt) {
    auto folder = std::make_unique<TempFolder>();
    folder->Write(run.start_name, run.content);
    CliProcess process(*folder, run.command, std::string(Key) + "\n");
    std::optional<testing::JournalView> seen;
    const Moment moment = StopAtMoment(*folder, process.Pid(), [&] {
      return testing::RunAtRecord(*folder, run.start_name, run.record, seen);
    });
    if (moment == Moment::Reached) {
      act(process.Pid());
      kill(process.Pid(), SIGCONT);
      HeldResult result;
      result.status = process.Wait();
      result.out = process.out;
      result.err = process.err;
      result.folder = std::move(folder);
      result.header = seen->header;
      return result;
    }
    const int status = process.Wait();
    std::printf("[ note ] try %d of %d passed its moment (status %d): again\n", attempt, Tries, status);
  }
  ADD_FAILURE() << "every try passed its moment";
  return {};
}

// encrypt and decrypt refuse a file with an interrupted run before the key is
// asked, and name the command that finishes it; resume with a wrong key
// changes nothing; with the right key it finishes, or with --undo takes the
// run back; a file without one needs no key at all.
TEST(ResumeCommand, FinishesOrUndoesAnInterruptedRunAndRefusesEverythingElse) {
  TempFolder folder;
  const std::vector<std::uint8_t> plain = PatternBytes(7 * MaxBlockLength + 100, 21);
  folder.Write("a.txt", plain);
  folder.Write("b.txt", plain);
  folder.Write("calm.txt", {1, 2});
  testing::InterruptRun(folder, "a.txt", Direction::Encrypt, Suffix, Key, 6);  // in the second window
  testing::InterruptRun(folder, "b.txt", Direction::Encrypt, Suffix, Key, 6);
  const std::string a_now = "a.txt" + SuffixText;
  ASSERT_TRUE(folder.Exists(a_now));
  ASSERT_TRUE(folder.Exists("b.txt" + SuffixText));
  const std::vector<std::string> names = folder.Names();
  ASSERT_EQ(names.size(), 5u) << "two journals";
  const std::vector<std::uint8_t> torn = folder.Read(a_now);

  for (const char* command : {"encrypt", "decrypt"}) {
    const CliRun refused = RunCli(folder, {command, a_now}, "");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("cut short"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("quorvant-cli resume '" + a_now + "' finishes it"), std::string::npos)
        << refused.err;
    EXPECT_EQ(refused.err.find("no key given"), std::string::npos)
        << "refused before the key: " << refused.err;
  }
  const CliRun wrong = RunCli(folder, {"resume", a_now}, "not the key\n");
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("wrong key"), std::string::npos) << wrong.err;
  EXPECT_NE(wrong.err.find("nothing was changed"), std::string::npos) << wrong.err;
  EXPECT_EQ(folder.Names(), names);
  EXPECT_EQ(folder.Read(a_now), torn);

  const CliRun calm = RunCli(folder, {"resume", "calm.txt"}, "");
  EXPECT_EQ(calm.status, 0) << calm.err;
  EXPECT_EQ(calm.out, "calm.txt: no interrupted run; nothing to do\n");

  const CliRun finished = RunCli(folder, {"resume", a_now}, std::string(Key) + "\n");
  EXPECT_EQ(finished.status, 0) << finished.err;
  EXPECT_EQ(finished.out, "finished '" + a_now + "' -> '" + a_now + "'\n");
  EXPECT_EQ(folder.Read(a_now), TransformInMemory(plain, Suffix, Direction::Encrypt));

  const CliRun undone = RunCli(folder, {"resume", "--undo", "b.txt" + SuffixText}, std::string(Key) + "\n");
  EXPECT_EQ(undone.status, 0) << undone.err;
  EXPECT_EQ(undone.out, "undone 'b.txt" + SuffixText + "' -> b.txt\n");
  EXPECT_EQ(folder.Read("b.txt"), plain);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{a_now, "b.txt", "calm.txt"}));
}

// The signals that would end the tool while it works are a cancel: each is
// sent while the tool is held mid-run (its journal there, no window yet in
// place), so the run sees it before its end; the file is undone, and the
// tool ends with 128 + the signal's number.
TEST(ResumeCommand, HangupQuitAndBrokenPipeCancelLikeCtrlC) {
  const std::vector<std::uint8_t> plain = PatternBytes(24 << 20, 5);
  for (const int signal_number : {SIGHUP, SIGQUIT, SIGPIPE, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal_number));
    const HeldResult cancelled = RunStoppedAt(
        {.start_name = "big.bin", .content = plain, .command = {"encrypt", "big.bin"}, .record = 0},
        [&](pid_t pid) { kill(pid, signal_number); });
    EXPECT_EQ(cancelled.status, 128 + signal_number) << cancelled.err;
    EXPECT_NE(cancelled.err.find("cancelled"), std::string::npos) << cancelled.err;
    EXPECT_NE(cancelled.err.find("the file is unchanged"), std::string::npos) << cancelled.err;
    EXPECT_EQ(cancelled.folder->Names(), std::vector<std::string>{"big.bin"});
    EXPECT_TRUE(cancelled.folder->Read("big.bin") == plain) << "as before, byte for byte";
  }
}

// SIGKILL at a few moments of a file of two windows, each reached exactly by
// holding the tool while its journal is read: as the journal appears, while
// the first or the second window is written in place, and in the middle of a
// decryption. Whatever the moment, resume gives exactly the reference
// encryption (or decryption), and resume --undo exactly the original.
TEST(ResumeAfterKill, EndsExactlyAsTheReferenceOrTheOriginal) {
  const std::vector<std::uint8_t> plain = PatternBytes((72 << 20) + 12345, 9);
  const std::vector<std::uint8_t> encrypted = TransformInMemory(plain, Suffix, Direction::Encrypt);
  struct Case {
    const char* what;
    Direction direction;
    std::uint64_t record;  // the journal's newest record at the kill (0: none yet)
    bool undo;
  };
  const Case cases[] = {
      {"as the journal appears", Direction::Encrypt, 0, false},
      {"writing the first window", Direction::Encrypt, 1, false},
      {"writing the second window, then undone", Direction::Encrypt, 2, true},
      {"in the middle of a decryption", Direction::Decrypt, 1, false},
  };
  for (const Case& moment : cases) {
    SCOPED_TRACE(moment.what);
    const bool forward = moment.direction == Direction::Encrypt;
    const std::string name = forward ? "movie.mkv" : "movie.mkv" + SuffixText;
    // The content is noise, which decrypt questions without a key check:
    // --force goes on all the same.
    HeldRun run{.start_name = name,
                .content = forward ? plain : encrypted,
                .command = forward ? std::vector<std::string>{"encrypt", name}
                                   : std::vector<std::string>{"decrypt", "--force", name},
                .record = moment.record};
    const HeldResult killed = RunStoppedAt(run, [](pid_t pid) { kill(pid, SIGKILL); });
    ASSERT_TRUE(killed.folder) << "the moment was never reached";
    EXPECT_EQ(killed.status, 128 + SIGKILL);
    const TempFolder& folder = *killed.folder;

    std::vector<std::string> arguments{"resume"};
    if (moment.undo) arguments.push_back("--undo");
    arguments.push_back(FileIn(folder));
    const CliRun resumed = RunCli(folder, arguments, std::string(Key) + "\n");
    EXPECT_EQ(resumed.status, 0) << resumed.err;
    const std::string expected_name = moment.undo ? killed.header.old_name : killed.header.new_name;
    EXPECT_EQ(folder.Names(), std::vector<std::string>{expected_name});
    const bool plain_expected = forward == moment.undo;
    EXPECT_TRUE(folder.Read(expected_name) ==
                (plain_expected ? plain : TransformInMemory(plain, killed.header.suffix, Direction::Encrypt)))
        << "byte for byte";
  }
}

// The run's mark on the file `name`, if it carries one.
std::optional<RunId> MarkOf(const TempFolder& folder, const std::string& name) {
  FileCalls calls;
  const Result<RunMark> mark = ReadRunMarkAt(folder.Fd(), name, calls);
  return mark ? mark->run : std::nullopt;
}

// Two runs cut short: a.txt's, whose file is there, and b.txt's, whose file
// was deleted since: its journal is an orphan.
struct LiveAndOrphan {
  TempFolder folder;
  std::vector<std::uint8_t> plain = PatternBytes(7 * MaxBlockLength + 100, 21);
  std::string half_done = "a.txt" + SuffixText;
  std::string live, orphan;  // the journals

  LiveAndOrphan() {
    folder.Write("a.txt", plain);
    folder.Write("b.txt", plain);
    testing::InterruptRun(folder, "a.txt", Direction::Encrypt, Suffix, Key, 6);
    testing::InterruptRun(folder, "b.txt", Direction::Encrypt, Suffix, Key, 6);
    const std::optional<RunId> a_mark = MarkOf(folder, half_done);
    const std::optional<RunId> b_mark = MarkOf(folder, "b.txt" + SuffixText);
    EXPECT_TRUE(a_mark && b_mark) << "user attributes are needed here";
    if (a_mark) live = JournalName(*a_mark);
    if (b_mark) orphan = JournalName(*b_mark);
    EXPECT_EQ(unlink(folder.PathOf("b.txt" + SuffixText).c_str()), 0);
  }
};

// --list asks for no key and changes nothing: the live journal is shown with
// its file as it is named now, the orphan as one, each with how far it got.
TEST(ResumeJournals, ListShowsEachJournalsFileOrThatItIsAnOrphan) {
  LiveAndOrphan runs;
  const std::vector<std::string> names = runs.folder.Names();
  const CliRun listed = RunCli(runs.folder, {"resume", "--list"}, "");
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.err, "");
  const std::string of = " of " + std::to_string(runs.plain.size()) + " bytes done\n";
  EXPECT_NE(listed.out.find(runs.live + ": 'a.txt" + SuffixText + "', encrypt, "), std::string::npos)
      << listed.out;
  EXPECT_NE(listed.out.find(runs.orphan + ": orphan: its file is gone (it was b.txt), encrypt, "),
            std::string::npos)
      << listed.out;
  EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 2) << listed.out;
  EXPECT_NE(listed.out.find(of), std::string::npos) << listed.out;
  EXPECT_EQ(runs.folder.Names(), names);

  TempFolder empty;
  const CliRun none = RunCli(empty, {"resume", "--list", "."}, "");
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "no journal in .\n");
}

// Only an orphan may be forgotten; the live journal is the only way to finish
// or undo its run, and the refusal says which command does.
TEST(ResumeJournals, ForgetRefusesALiveJournalAndErasesAnOrphan) {
  LiveAndOrphan runs;
  const std::vector<std::uint8_t> live_bytes = runs.folder.Read(runs.live);
  const CliRun refused = RunCli(runs.folder, {"resume", "--forget", runs.live}, "");
  EXPECT_EQ(refused.status, 1);
  const std::string file = "'a.txt" + SuffixText + "'";
  EXPECT_EQ(refused.err, "quorvant-cli: " + runs.live + ": it is the journal of " + file +
                             ", still there: quorvant-cli resume " + file + " finishes its run, quorvant-cli resume --undo " +
                             file + " undoes it, and either ends the journal; not forgotten\n");
  EXPECT_EQ(runs.folder.Read(runs.live), live_bytes);

  const CliRun forgot = RunCli(runs.folder, {"resume", "--forget", runs.orphan}, "");
  EXPECT_EQ(forgot.status, 0) << forgot.err;
  EXPECT_EQ(forgot.out, "forgot " + runs.orphan + ": overwritten and deleted\n");
  EXPECT_EQ(runs.folder.Names(), (std::vector<std::string>{runs.half_done, runs.live}));

  const CliRun finished = RunCli(runs.folder, {"resume", runs.half_done}, std::string(Key) + "\n");
  EXPECT_EQ(finished.status, 0) << finished.err;
  EXPECT_EQ(runs.folder.Read(runs.half_done), TransformInMemory(runs.plain, Suffix, Direction::Encrypt));
}

// A file marked for a run whose journal is lost: resume says so and points
// to --forget, which says what is unknown, asks (--yes answers without a
// terminal), then removes the mark; no byte changes.
TEST(ResumeJournals, ForgetFileRemovesTheMarkOfARunWhoseJournalIsLost) {
  LiveAndOrphan runs;
  ASSERT_EQ(unlink(runs.folder.PathOf(runs.live).c_str()), 0);
  const std::vector<std::uint8_t> half = runs.folder.Read(runs.half_done);
  const CliRun resumed = RunCli(runs.folder, {"resume", runs.half_done}, "");
  EXPECT_EQ(resumed.status, 1);
  EXPECT_NE(resumed.err.find("marked for a run whose journal is not in its folder"), std::string::npos)
      << resumed.err;
  EXPECT_NE(resumed.err.find("quorvant-cli resume --forget 'a.txt"), std::string::npos) << resumed.err;

  const CliRun unasked = RunCli(runs.folder, {"resume", "--forget", runs.half_done}, "y\n");
  EXPECT_EQ(unasked.status, 2) << "standard input is no terminal to confirm on";
  EXPECT_TRUE(MarkOf(runs.folder, runs.half_done));

  const CliRun forgot = RunCli(runs.folder, {"resume", "--forget", "--yes", runs.half_done}, "");
  EXPECT_EQ(forgot.status, 0) << forgot.err;
  EXPECT_NE(forgot.err.find("some bytes may be encrypted and the rest plain"), std::string::npos) << forgot.err;
  EXPECT_EQ(forgot.out, "forgot the run of 'a.txt" + SuffixText + "': its mark is removed\n");
  EXPECT_FALSE(MarkOf(runs.folder, runs.half_done));
  EXPECT_EQ(runs.folder.Read(runs.half_done), half);
  const CliRun calm = RunCli(runs.folder, {"resume", runs.half_done}, "");
  EXPECT_EQ(calm.status, 0) << calm.err;
}

// A half-done file moved to another folder is resumed with its journal
// named by --journal; a journal of another run is refused before the key.
TEST(ResumeJournals, JournalPathResumesAMovedFileAndRefusesAnotherRunsJournal) {
  LiveAndOrphan runs;
  ASSERT_EQ(mkdir(runs.folder.PathOf("moved").c_str(), 0700), 0);
  const std::string moved = "moved/" + runs.half_done;
  ASSERT_EQ(rename(runs.folder.PathOf(runs.half_done).c_str(), runs.folder.PathOf(moved).c_str()), 0);
  const std::vector<std::uint8_t> half = runs.folder.Read(moved);

  // Moved, it is still known as half done: no command starts afresh on it,
  // and each says where its journal was.
  const std::string where = std::filesystem::canonical(runs.folder.Path()).string() + "/" + runs.live;
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"encrypt"}, {"decrypt"}, {"erase", "--yes"}}) {
    SCOPED_TRACE(command[0]);
    std::vector<std::string> arguments = command;
    arguments.push_back(moved);
    const CliRun refused = RunCli(runs.folder, arguments, std::string(Key) + "\n" + Key + "\n");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("part-way through a run whose journal is not beside it: its journal was " + where),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(runs.folder.Read(moved), half);
  }

  const CliRun other = RunCli(runs.folder, {"resume", "--journal", runs.orphan, moved}, std::string(Key) + "\n");
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.err.find(runs.orphan + ": the journal of another run: 'moved/a.txt"), std::string::npos)
      << other.err;
  EXPECT_EQ(runs.folder.Read(moved), half);
  EXPECT_TRUE(runs.folder.Exists(runs.orphan));

  const CliRun resumed = RunCli(runs.folder, {"resume", "--journal", runs.live, moved}, std::string(Key) + "\n");
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_EQ(runs.folder.Read(moved), TransformInMemory(runs.plain, Suffix, Direction::Encrypt));
  EXPECT_FALSE(runs.folder.Exists(runs.live));
  EXPECT_FALSE(MarkOf(runs.folder, moved));
}

}  // namespace
}  // namespace quorvant
