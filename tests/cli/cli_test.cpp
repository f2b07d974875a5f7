// Runs the built quorvant-cli on real files, as a user or a script would:
// standard input from a pipe (or closed), output to files, and, where the
// terminal matters, on a pseudo-terminal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "cli/name_quoting.h"
#include "crypto/cipher.h"
#include "crypto/encrypted_name.h"
#include "crypto/strong_format.h"
#include "rewrite/journal_format.h"
#include "tests/support/interrupted_run.h"
#include "tests/support/journal_view.h"
#include "tests/support/sample_key.h"
#include "tests/support/stopped_process.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using cli::QuoteName;
using testing::JournalIn;
using testing::PatternBytes;
using testing::TempFolder;

// No run of the tool should take long; one that hangs ends with SIGALRM
// (status 142) instead of holding the test forever.
constexpr unsigned HangSeconds = 60;

struct CliRun {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Standard input: these bytes through a pipe, or no descriptor 0 at all.
struct Input {
  Input(std::string bytes = {}) : text(std::move(bytes)) {}
  static Input Closed() {
    Input input;
    input.closed = true;
    return input;
  }
  std::string text;
  bool closed = false;
};

std::string ReadWhole(const std::string& path) {
  std::ifstream input(path);
  std::stringstream text;
  text << input.rdbuf();
  return text.str();
}

// These tests know the classic format's names and bytes: an encryption is
// classic unless the test names a format, or lets the tool choose.
bool tool_chooses_the_format = false;

bool NamesNoFormat(const std::vector<std::string>& arguments) {
  return !tool_chooses_the_format && !arguments.empty() && arguments[0] == "encrypt" &&
         std::find(arguments.begin(), arguments.end(), "--format") == arguments.end() &&
         std::find(arguments.begin(), arguments.end(), "--help") == arguments.end();
}

std::vector<char*> Argv(const std::vector<std::string>& arguments) {
  static char Format[] = "--format";
  static char Classic[] = "classic";
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(QUORVANT_CLI_PATH));
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
    if (&argument == &arguments.front() && NamesNoFormat(arguments)) argv.insert(argv.end(), {Format, Classic});
  }
  argv.push_back(nullptr);
  return argv;
}

int StatusOf(int wait_status) {
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

// Starts the tool in `folder`. When `before_input` is given it runs once the
// child is started, before the input is written.
CliRun RunCli(const TempFolder& folder, const std::vector<std::string>& arguments, const Input& input,
              const std::function<void(pid_t)>& before_input = {}) {
  const TempFolder outputs;
  const std::string out_path = outputs.PathOf("out");
  const std::string err_path = outputs.PathOf("err");
  int input_pipe[2];
  if (pipe(input_pipe) != 0) std::abort();
  std::vector<char*> argv = Argv(arguments);
  const pid_t child = fork();
  if (child == 0) {
    if (input.closed) {
      close(0);
    } else {
      dup2(input_pipe[0], 0);
    }
    close(input_pipe[0]);
    close(input_pipe[1]);
    if (!freopen(out_path.c_str(), "w", stdout) || !freopen(err_path.c_str(), "w", stderr)) _exit(99);
    if (chdir(folder.Path().c_str()) != 0) _exit(99);
    alarm(HangSeconds);
    execv(QUORVANT_CLI_PATH, argv.data());
    _exit(98);
  }
  close(input_pipe[0]);
  if (before_input) before_input(child);
  // A child that exits without reading (wrong usage, say) closes the pipe:
  // the write then fails with EPIPE instead of killing the test.
  signal(SIGPIPE, SIG_IGN);
  if (!input.text.empty() &&
      write(input_pipe[1], input.text.data(), input.text.size()) != static_cast<ssize_t>(input.text.size()) &&
      errno != EPIPE) {
    std::abort();
  }
  close(input_pipe[1]);
  int wait_status = 0;
  waitpid(child, &wait_status, 0);
  CliRun run;
  run.status = StatusOf(wait_status);
  run.out = ReadWhole(out_path);
  run.err = ReadWhole(err_path);
  return run;
}

// The tool on a pseudo-terminal of 100 columns: standard input, output and
// error are all the terminal, as when a user types the command.
class TerminalRun {
 public:
  TerminalRun(const TempFolder& folder, const std::vector<std::string>& arguments) {
    winsize size{};
    size.ws_row = 24;
    size.ws_col = 100;
    std::vector<char*> argv = Argv(arguments);
    child_ = forkpty(&terminal_, nullptr, nullptr, &size);
    if (child_ == 0) {
      if (chdir(folder.Path().c_str()) != 0) _exit(99);
      alarm(HangSeconds);
      execv(QUORVANT_CLI_PATH, argv.data());
      _exit(98);
    }
    EXPECT_GT(child_, 0) << "forkpty: " << std::strerror(errno);
  }
  ~TerminalRun() {
    if (terminal_ >= 0) close(terminal_);
  }

  // Reads what the terminal shows until `text` has appeared (true), or the
  // tool has ended without showing it (false).
  bool WaitFor(const std::string& text) {
    while (shown_.find(text, checked_) == std::string::npos) {
      if (!ReadSome()) return false;
    }
    checked_ = shown_.find(text, checked_) + text.size();
    return true;
  }
  void Type(const std::string& keys) {
    ASSERT_EQ(write(terminal_, keys.data(), keys.size()), ssize_t(keys.size()));
  }
  // Reads the rest and waits for the tool to end; gives its status.
  int Finish() {
    while (ReadSome()) {
    }
    int wait_status = 0;
    waitpid(child_, &wait_status, 0);
    return StatusOf(wait_status);
  }
  const std::string& Shown() const { return shown_; }

 private:
  bool ReadSome() {
    pollfd wait{terminal_, POLLIN, 0};
    if (poll(&wait, 1, HangSeconds * 1000) <= 0) return false;
    char buffer[4096];
    const ssize_t count = read(terminal_, buffer, sizeof buffer);
    // EIO: the tool has ended and closed its side.
    if (count <= 0) return false;
    shown_.append(buffer, static_cast<std::size_t>(count));
    return true;
  }

  int terminal_ = -1;
  pid_t child_ = -1;
  std::string shown_;
  std::size_t checked_ = 0;
};

// The single name in `folder` that looks encrypted.
std::string EncryptedNameIn(const TempFolder& folder) {
  std::string found;
  for (const std::string& name : folder.Names()) {
    if (HasEncryptedSuffixShape(name)) found = name;
  }
  return found;
}

std::vector<std::uint8_t> Prose(std::size_t length) {
  std::string text;
  for (int line = 0; text.size() < length; ++line)
    text += "line " + std::to_string(line) + " of the minutes\n";
  text.resize(length);
  return {text.begin(), text.end()};
}

TEST(CliTest, EncryptsAndDecryptsAFileInAFolder) {
  TempFolder folder;
  ASSERT_EQ(mkdir((folder.Path() + "/docs").c_str(), 0755), 0);
  folder.Write("docs/report.txt", PatternBytes(40000, 3));
  const std::vector<std::uint8_t> plain = PatternBytes(40000, 3);

  const CliRun encrypted = RunCli(folder, {"encrypt", "docs/report.txt"}, {"secret key\n"});
  ASSERT_EQ(encrypted.status, 0) << encrypted.err;
  std::string encrypted_name;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path() + "/docs")) {
    encrypted_name = entry.path().filename().string();
  }
  ASSERT_TRUE(HasEncryptedSuffixShape(encrypted_name)) << encrypted_name;
  EXPECT_EQ(encrypted_name.substr(0, 10), "report.txt");
  EXPECT_EQ(encrypted_name.size(), 19u);
  EXPECT_EQ(encrypted.out, "docs/report.txt -> " + QuoteName("docs/" + encrypted_name) + "\n");
  // No progress and no prompt where standard error is no terminal.
  EXPECT_EQ(encrypted.err, "");

  // The content is the cipher's, for the key and the suffix in the name.
  std::vector<std::uint8_t> content = folder.Read("docs/" + encrypted_name);
  ASSERT_EQ(content.size(), plain.size());
  EXPECT_NE(content, plain);
  KeyWords words = BuildKeyWords("secret key", *SuffixOfName(encrypted_name));
  for (std::size_t start = 0; start < content.size(); start += MaxBlockLength) {
    const std::size_t size = std::min<std::size_t>(MaxBlockLength, content.size() - start);
    TransformBlock(std::span(content).subspan(start, size), MaxBlockLength, Direction::Decrypt, words);
  }
  EXPECT_EQ(content, plain);

  const CliRun decrypted =
      RunCli(folder, {"decrypt", "docs/" + encrypted_name}, {"secret key\nignored line\n"});
  ASSERT_EQ(decrypted.status, 0) << decrypted.err;
  EXPECT_EQ(folder.Read("docs/report.txt"), plain);
}

// Results name files so that they can be pasted back into a shell.
TEST(CliTest, ResultsQuoteTheNames) {
  TempFolder folder;
  const std::string name = "two\nlines & more";
  folder.Write(name, PatternBytes(100, 5));
  const CliRun encrypted = RunCli(folder, {"encrypt", name}, {"k\n"});
  ASSERT_EQ(encrypted.status, 0) << encrypted.err;
  const std::string encrypted_name = EncryptedNameIn(folder);
  EXPECT_EQ(encrypted.out, "$'two\\nlines & more' -> " + QuoteName(encrypted_name) + "\n");

  const CliRun erased = RunCli(folder, {"erase", "--yes", encrypted_name}, {});
  EXPECT_EQ(erased.status, 0) << erased.err;
  EXPECT_EQ(erased.out, "erased " + QuoteName(encrypted_name) + "\n");
  EXPECT_TRUE(folder.Names().empty());
}

TEST(CliTest, OneKeyForSeveralFilesAndEachFailureNamed) {
  TempFolder folder;
  folder.Write("a", PatternBytes(100, 1));
  folder.Write("b", PatternBytes(20000, 2));
  folder.MakeFifo("pipe");
  const CliRun run = RunCli(folder, {"encrypt", "a", "pipe", "missing", "b"}, {"k\r\n"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "quorvant-cli: pipe: not a regular file (a FIFO)\n"
            "quorvant-cli: missing: No such file or directory\n");
  std::vector<std::string> encrypted;
  for (const std::string& name : folder.Names()) {
    if (HasEncryptedSuffixShape(name)) encrypted.push_back(name);
  }
  ASSERT_EQ(encrypted.size(), 2u);

  // "k\r\n" was the key "k": both decrypt with it.
  std::vector<std::string> arguments = {"decrypt"};
  arguments.insert(arguments.end(), encrypted.begin(), encrypted.end());
  const CliRun decrypted = RunCli(folder, arguments, {"k\n"});
  EXPECT_EQ(decrypted.status, 0) << decrypted.err;
  EXPECT_EQ(folder.Read("a"), PatternBytes(100, 1));
  EXPECT_EQ(folder.Read("b"), PatternBytes(20000, 2));
}

// The "\r" of a Windows line end is not a key character, so it cannot make
// the longest key too long.
TEST(CliTest, TheLongestKeyEndedByCarriageReturnIsTaken) {
  TempFolder folder;
  folder.Write("a", PatternBytes(100, 1));
  const std::string longest(77, '~');
  const CliRun encrypted = RunCli(folder, {"encrypt", "a"}, {longest + "\r\n"});
  ASSERT_EQ(encrypted.status, 0) << encrypted.err;
  ASSERT_EQ(folder.Names().size(), 1u);
  const CliRun decrypted = RunCli(folder, {"decrypt", folder.Names()[0]}, {longest + "\n"});
  EXPECT_EQ(decrypted.status, 0) << decrypted.err;
  EXPECT_EQ(folder.Read("a"), PatternBytes(100, 1));
}

// Every command reports a file it cannot work on in the one form
// "quorvant-cli: FILE: what went wrong", before any key is asked for: with
// nothing on standard input, a key read would add a complaint of its own.
TEST(CliTest, FailuresAreReportedInOneFormBeforeTheKey) {
  const std::vector<std::vector<std::string>> commands = {
      {"encrypt"}, {"decrypt"}, {"erase", "--yes"}, {"stats"}};
  struct Case {
    std::string file;
    // Standard error for encrypt, decrypt, erase and stats; nullptr where the
    // command succeeds.
    std::array<const char*, 4> errors;
  };
  const auto same = [](const char* error) { return std::array<const char*, 4>{error, error, error, error}; };
  const Case cases[] = {
      {"missing", same("quorvant-cli: missing: No such file or directory\n")},
      {"sub", same("quorvant-cli: sub: not a regular file (a folder)\n")},
      {"pipe", same("quorvant-cli: pipe: not a regular file (a FIFO)\n")},
      {"link", same("quorvant-cli: link: not a regular file (a symbolic link)\n")},
      {"sub/", same("quorvant-cli: sub/: does not name a file\n")},
      {"new\nline", same("quorvant-cli: $'new\\nline': No such file or directory\n")},
      // Inode 0 is no file's: the journal belongs to none of the others.
      {"quorvant-journal-0", same("quorvant-cli: quorvant-journal-0: a run's journal; not touched\n")},
      {"QUORVANT.cfg",
       same("quorvant-cli: QUORVANT.cfg: Quorvant's own file (its name begins with \"quorvant\"); "
            "not touched\n")},
      {"plain.txt",
       {nullptr,
        "quorvant-cli: plain.txt: not an encrypted name (it does not end in \" \" + 7 characters + \"[\" or \"]\")\n",
        nullptr, nullptr}},
      {"x abcdefg[",
       {"quorvant-cli: 'x abcdefg[': already an encrypted name (it ends in \" \" + 7 characters + \"[\" or \"]\"); "
        "not encrypted again\n",
        nullptr, nullptr, nullptr}},
  };
  for (std::size_t command = 0; command < commands.size(); ++command) {
    for (const Case& failure : cases) {
      SCOPED_TRACE(commands[command][0] + " " + failure.file);
      TempFolder folder;
      folder.Write("plain.txt", PatternBytes(20000, 1));
      folder.Write("x abcdefg[", PatternBytes(30, 2));
      folder.MakeFolder("sub");
      folder.MakeFifo("pipe");
      folder.MakeSymlink("link", "plain.txt");
      folder.Write("quorvant-journal-0", PatternBytes(100, 3));
      folder.Write("QUORVANT.cfg", PatternBytes(10, 4));
      const std::vector<std::string> before = folder.Names();
      std::vector<std::string> arguments = commands[command];
      arguments.push_back(failure.file);
      const char* error = failure.errors[command];
      const CliRun run = RunCli(folder, arguments, error ? Input{} : Input{"key\n"});
      if (error) {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, error);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(folder.Names(), before);
        EXPECT_EQ(folder.Read("plain.txt"), PatternBytes(20000, 1));
      } else {
        EXPECT_EQ(run.status, 0);
        // Nothing but the result: no progress where standard error is a file.
        // A decryption no key check vouched for says how to take it back.
        EXPECT_EQ(run.err, commands[command][0] != "decrypt"
                               ? ""
                               : "quorvant-cli: x: decrypted without a key check; if the result is wrong, "
                                 "quorvant-cli resume --undo x with the same key restores it\n");
      }
    }
  }
}

// `command *` in a folder where a run was cut short: every command leaves
// the program's own files alone, byte for byte (a journal encrypted or erased
// would lose the run it holds), works on the user's file, and exits 1 for
// the refused operands.
TEST(CliTest, GlobsReachTheUsersFilesOnlyNeverTheProgramsOwn) {
  const std::vector<std::uint8_t> plain = Prose(20000);
  // What each command did to the user's file `user`, with its output.
  using Check = std::function<void(const TempFolder& folder, const std::string& user, const CliRun& run)>;
  struct Case {
    std::vector<std::string> command;
    bool user_file_encrypted;  // made by encrypt first, for decrypt to work on
    Check check;
  };
  const Case cases[] = {
      {{"encrypt"},
       false,
       [](const TempFolder& folder, const std::string& user, const CliRun& run) {
         const std::string encrypted = EncryptedNameIn(folder);
         EXPECT_EQ(encrypted.substr(0, user.size()), user);
         EXPECT_EQ(run.out, QuoteName(user) + " -> " + QuoteName(encrypted) + "\n");
       }},
      {{"decrypt"},
       true,
       [&](const TempFolder& folder, const std::string& user, const CliRun& run) {
         EXPECT_EQ(run.out, QuoteName(user) + " -> notes.txt\n");
         EXPECT_EQ(folder.Read("notes.txt"), plain);
       }},
      {{"erase", "--yes"},
       false,
       [](const TempFolder& folder, const std::string& user, const CliRun& run) {
         EXPECT_EQ(run.out, "erased " + QuoteName(user) + "\n");
         EXPECT_FALSE(folder.Exists(user));
       }},
      {{"resume"},
       false,
       [](const TempFolder&, const std::string& user, const CliRun& run) {
         EXPECT_EQ(run.out, QuoteName(user) + ": no interrupted run; nothing to do\n");
       }},
      {{"stats"},
       false,
       [](const TempFolder&, const std::string& user, const CliRun& run) {
         EXPECT_EQ(run.out.rfind(QuoteName(user) + "\nEntropy ", 0), 0u) << run.out;
       }},
  };
  for (const Case& glob : cases) {
    SCOPED_TRACE(glob.command[0]);
    TempFolder folder;
    folder.Write("notes.txt", plain);
    if (glob.user_file_encrypted) {
      ASSERT_EQ(RunCli(folder, {"encrypt", "notes.txt"}, {"k\n"}).status, 0);
    }
    const std::string user = folder.Names().front();
    // A journal named for another inode than the user's file, its draft, and
    // another name of the program's, in a case the listing hides too.
    struct stat facts {};
    ASSERT_EQ(stat(folder.PathOf(user).c_str(), &facts), 0);
    const std::string journal = "quorvant-journal-" + std::to_string(facts.st_ino + 1);
    const std::map<std::string, std::vector<std::uint8_t>> own = {
        {journal, PatternBytes(3 * 4096 + 500, 7)},
        {journal + ".new", PatternBytes(4096, 8)},
        {"Quorvant settings", PatternBytes(40, 9)},
    };
    for (const auto& [name, bytes] : own) folder.Write(name, bytes);

    // What a shell makes of `*`: every name, sorted.
    std::vector<std::string> arguments = glob.command;
    for (const std::string& name : folder.Names()) arguments.push_back(name);
    const CliRun run = RunCli(folder, arguments, {"k\n"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "quorvant-cli: 'Quorvant settings': Quorvant's own file (its name begins with \"quorvant\"); "
              "not touched\n"
              "quorvant-cli: " +
                  journal +
                  ": a run's journal; not touched\n"
                  "quorvant-cli: " +
                  journal + ".new: a run's journal; not touched\n");
    for (const auto& [name, bytes] : own) EXPECT_EQ(folder.Read(name), bytes) << name;
    glob.check(folder, user, run);
  }
}

TEST(CliTest, WrongUsageNamesTheCommandAndPointsToHelp) {
  TempFolder folder;
  folder.Write("f", {1, 2, 3});
  const std::pair<std::vector<std::string>, std::string> usages[] = {
      {{}, "quorvant-cli: no command given\n"},
      {{"scramble", "f"}, "quorvant-cli: unknown command scramble\n"},
      {{"encrypt"}, "quorvant-cli: encrypt: no FILE given\n"},
      {{"decrypt", "--fast", "f"}, "quorvant-cli: decrypt: unknown option --fast\n"},
      {{"stats", "--bogus", "f"}, "quorvant-cli: stats: unknown option --bogus\n"},
      {{"stats", "--x\x1b", "f"}, "quorvant-cli: stats: unknown option $'--x\\x1b'\n"},
      {{"erase", "--now", "f"}, "quorvant-cli: erase: unknown option --now\n"},
      {{"erase", "f"}, "quorvant-cli: erase: standard input is not a terminal to confirm on; give --yes\n"},
  };
  for (const auto& [arguments, error] : usages) {
    const CliRun run = RunCli(folder, arguments, {"key\n"});
    EXPECT_EQ(run.status, 2) << error;
    EXPECT_EQ(run.err, error + "Try 'quorvant-cli --help'.\n");
  }
  EXPECT_EQ(folder.Read("f"), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(CliTest, RefusesBadKeysLeavingFilesAlone) {
  TempFolder folder;
  folder.Write("plain.txt", {1, 2, 3});
  folder.Write("x abcdefg[", {4, 5, 6});
  struct Case {
    std::vector<std::string> arguments;
    std::string input;
    const char* error;
  };
  const Case cases[] = {
      {{"encrypt", "plain.txt"}, "\n", "quorvant-cli: encrypt: the key is empty; no file was changed\n"},
      {{"encrypt", "plain.txt"},
       "",
       "quorvant-cli: encrypt: no key given (standard input was empty); no file was changed\n"},
      {{"encrypt", "plain.txt"},
       std::string(78, 'k') + "\n",
       "quorvant-cli: encrypt: the key is longer than 77 characters; no file was changed\n"},
      // A "\r" inside the line is part of the key: here its 78th character.
      {{"encrypt", "plain.txt"},
       std::string(77, 'k') + "\rx\n",
       "quorvant-cli: encrypt: the key is longer than 77 characters; no file was changed\n"},
      {{"encrypt", "plain.txt"},
       "a\tb\n",
       "quorvant-cli: encrypt: the key may hold only printable ASCII characters (codes 32 to 126); "
       "no file was changed\n"},
      {{"decrypt", "x abcdefg["},
       "caf\xc3\xa9\n",
       "quorvant-cli: decrypt: the key may hold only printable ASCII characters (codes 32 to 126); "
       "no file was changed\n"},
  };
  for (const Case& refused : cases) {
    SCOPED_TRACE(refused.error);
    const CliRun run = RunCli(folder, refused.arguments, {refused.input});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, refused.error);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"plain.txt", "x abcdefg["}));
    EXPECT_EQ(folder.Read("plain.txt"), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(folder.Read("x abcdefg["), (std::vector<std::uint8_t>{4, 5, 6}));
  }
}

// A wrong key changes nothing and exits 1: refused by the stored key check,
// or, for a copy without one, because the start decrypts to noise; --force
// overrules only the latter, and says so.
TEST(CliTest, WrongKeysAreRefusedAndForceOverrulesOnlyTheJudge) {
  TempFolder folder;
  const std::vector<std::uint8_t> plain = Prose(30000);
  folder.Write("notes", plain);
  ASSERT_EQ(RunCli(folder, {"encrypt", "notes"}, {"right\n"}).status, 0);
  const std::string name = EncryptedNameIn(folder);
  const std::vector<std::uint8_t> encrypted = folder.Read(name);
  const std::string quoted = QuoteName(name);

  const CliRun checked = RunCli(folder, {"decrypt", "--force", name}, {"wrong\n"});
  EXPECT_EQ(checked.status, 1);
  EXPECT_EQ(checked.err, "quorvant-cli: " + quoted + ": wrong key; the file is unchanged\n");
  EXPECT_EQ(folder.Read(name), encrypted);

  // A copy made without its attributes.
  ASSERT_EQ(removexattr(folder.PathOf(name).c_str(), "user.quorvant.keycheck"), 0);
  const CliRun judged = RunCli(folder, {"decrypt", name}, {"wrong\n"});
  EXPECT_EQ(judged.status, 1);
  EXPECT_EQ(judged.err, "quorvant-cli: " + quoted +
                            ": the key looks wrong: no key check is stored with the file, and decrypted with "
                            "this key its start looks like noise, not like a file; the file is unchanged "
                            "(decrypt --force decrypts it all the same)\n");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{name});
  EXPECT_EQ(folder.Read(name), encrypted);

  const CliRun forced = RunCli(folder, {"decrypt", "--force", name}, {"wrong\n"});
  EXPECT_EQ(forced.status, 0);
  EXPECT_NE(forced.err.find("--force was given: decrypting it all the same"), std::string::npos)
      << forced.err;
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"notes"});
  EXPECT_NE(folder.Read("notes"), plain);

  // The right key on a copy without a check is never questioned.
  folder.Write("notes", plain);
  ASSERT_EQ(RunCli(folder, {"encrypt", "notes"}, {"right\n"}).status, 0);
  const std::string again = EncryptedNameIn(folder);
  ASSERT_EQ(removexattr(folder.PathOf(again).c_str(), "user.quorvant.keycheck"), 0);
  const std::vector<std::uint8_t> encrypted_again = folder.Read(again);
  const CliRun right = RunCli(folder, {"decrypt", again}, {"right\n"});
  EXPECT_EQ(right.status, 0) << right.err;
  EXPECT_EQ(right.err,
            "quorvant-cli: notes: decrypted without a key check; if the result is wrong, quorvant-cli resume "
            "--undo notes with the same key restores it\n");
  EXPECT_EQ(folder.Read("notes"), plain);
  // As it says: only the same key takes the decryption back, exactly.
  const CliRun other = RunCli(folder, {"resume", "--undo", "notes"}, {"wrong\n"});
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.err.find("wrong key"), std::string::npos) << other.err;
  const CliRun undone = RunCli(folder, {"resume", "--undo", "notes"}, {"right\n"});
  EXPECT_EQ(undone.status, 0) << undone.err;
  EXPECT_EQ(undone.out, "undone notes -> " + QuoteName(again) + "\n");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{again});
  EXPECT_EQ(folder.Read(again), encrypted_again);
}

// After a decryption, `encrypt` with the key that decrypted the file gives
// the former encryption back; another key is refused unless forced, since
// it would make the decryption final.
TEST(CliTest, EncryptingADecryptedFileAgainRestoresItsFormerEncryption) {
  TempFolder folder;
  const std::vector<std::uint8_t> plain = PatternBytes(50000, 7);
  folder.Write("notes", plain);
  ASSERT_EQ(RunCli(folder, {"encrypt", "--format", "classic", "notes"}, {"right\n"}).status, 0);
  const std::string former = EncryptedNameIn(folder);
  const std::vector<std::uint8_t> encrypted = folder.Read(former);
  ASSERT_EQ(RunCli(folder, {"decrypt", former}, {"right\n"}).status, 0);

  const CliRun other = RunCli(folder, {"encrypt", "notes"}, {"other\n"});
  EXPECT_EQ(other.status, 1);
  EXPECT_NE(other.err.find("not the one it was decrypted with"), std::string::npos) << other.err;
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"notes"});
  EXPECT_EQ(folder.Read("notes"), plain);

  // The strong format by default: a mark still brings the classic file back.
  tool_chooses_the_format = true;
  const CliRun restored = RunCli(folder, {"encrypt", "notes"}, {"right\n"});
  tool_chooses_the_format = false;
  EXPECT_EQ(restored.status, 0) << restored.err;
  EXPECT_EQ(restored.out, "notes -> " + QuoteName(former) + "\n");
  EXPECT_NE(restored.err.find("former encryption is back"), std::string::npos) << restored.err;
  EXPECT_EQ(folder.Read(former), encrypted);

  ASSERT_EQ(RunCli(folder, {"decrypt", former}, {"right\n"}).status, 0);
  const CliRun forced = RunCli(folder, {"encrypt", "--force", "notes"}, {"other\n"});
  EXPECT_EQ(forced.status, 0) << forced.err;
  EXPECT_NE(forced.err.find("makes that decryption final"), std::string::npos) << forced.err;
  EXPECT_NE(folder.Read(EncryptedNameIn(folder)), encrypted);
}

// A file with a second name (a hard link) is refused by every command that
// changes files, before the key is asked for.
TEST(CliTest, FilesWithHardLinksAreRefusedBeforeTheKey) {
  struct Case {
    std::vector<std::string> arguments;
    std::string file;
    const char* consequence;
  };
  const Case cases[] = {
      {{"encrypt"}, "a", "the file is unchanged"},
      {{"decrypt"}, "x abcdefg[", "the file is unchanged"},
      {{"erase", "--yes"}, "a", "not erased"},
  };
  for (const Case& refused : cases) {
    SCOPED_TRACE(refused.arguments[0]);
    TempFolder folder;
    folder.Write(refused.file, Prose(20000));
    folder.Link(refused.file, "other name");
    std::vector<std::string> arguments = refused.arguments;
    arguments.push_back(refused.file);
    const CliRun run = RunCli(folder, arguments, {});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quorvant-cli: " + QuoteName(refused.file) +
                           ": it has 2 names (hard links), and the other names would be left with a file "
                           "that no longer fits them; " +
                           refused.consequence + "\n");
    EXPECT_EQ(folder.Read(refused.file), Prose(20000));
    EXPECT_EQ(folder.Read("other name"), Prose(20000));
  }
}

TEST(CliTest, EraseWithYes) {
  TempFolder folder;
  folder.Write("one", PatternBytes(20000));
  folder.Write("two", PatternBytes(1));
  const CliRun run = RunCli(folder, {"erase", "--yes", "one", "gone", "two"}, {});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "quorvant-cli: gone: No such file or directory\n");
  EXPECT_EQ(run.out, "erased one\nerased two\n");
  EXPECT_TRUE(folder.Names().empty());
}

// A file whose run was cut short is erased with its journal, which holds
// part of its content.
TEST(CliTest, EraseTakesTheJournalOfACutShortRunWithIt) {
  TempFolder folder;
  folder.Write("f", Prose(5 * MaxBlockLength));
  testing::InterruptRun(folder, "f", Direction::Encrypt, testing::Suffix, testing::Key, 6);
  const std::string half_done = "f" + testing::SuffixText;
  ASSERT_EQ(folder.Names().size(), 2u) << "the half-done file and its journal";
  const CliRun run = RunCli(folder, {"erase", "--yes", half_done}, {});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "erased " + QuoteName(half_done) + " with its journal\n");
  EXPECT_TRUE(folder.Names().empty());
}

// A file with a run's journal is worked on, or was: stats does not open it,
// since even a read-only open would break a running run's lease and stop it.
TEST(CliTest, StatsLeavesAFileWithARunAlone) {
  TempFolder folder;
  folder.Write("f", Prose(5 * MaxBlockLength));
  testing::InterruptRun(folder, "f", Direction::Encrypt, testing::Suffix, testing::Key, 6);
  const std::string half_done = "f" + testing::SuffixText;
  const CliRun run = RunCli(folder, {"stats", half_done}, {});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("busy: a run is encrypting or decrypting it"), std::string::npos) << run.err;
}

// Something that is no journal under a journal's name (a symlink, a FIFO, a
// folder) is named for what it is, and no command sends the user round in
// circles: encrypt and resume both say to remove it, and nothing changes.
TEST(CliTest, WhatIsNoJournalUnderAJournalsNameIsCalledSo) {
  struct Case {
    const char* kind;
    std::function<void(const std::string& path)> make;
  } cases[] = {
      {"a symbolic link", [](const std::string& path) { ASSERT_EQ(symlink("elsewhere", path.c_str()), 0); }},
      {"a FIFO", [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
      {"a folder", [](const std::string& path) { ASSERT_EQ(mkdir(path.c_str(), 0700), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    TempFolder folder;
    folder.Write("f", Prose(3000));
    struct stat status {};
    ASSERT_EQ(stat(folder.PathOf("f").c_str(), &status), 0);
    const std::string journal = JournalName(status.st_ino);
    c.make(folder.PathOf(journal));
    const std::string says = journal + " is " + c.kind + ", not a run's journal; remove it and try again";
    const CliRun encrypt = RunCli(folder, {"encrypt", "f"}, {"k\n"});
    EXPECT_EQ(encrypt.status, 1);
    EXPECT_NE(encrypt.err.find(says), std::string::npos) << encrypt.err;
    const CliRun resume = RunCli(folder, {"resume", "f"}, {"k\n"});
    EXPECT_EQ(resume.status, 1);
    EXPECT_NE(resume.err.find(says), std::string::npos) << resume.err;
    EXPECT_EQ(resume.err.find("INTERRUPTED"), std::string::npos) << resume.err;
    EXPECT_EQ(folder.Read("f"), Prose(3000));
  }
}

// Started with descriptor 0 closed, the tool must not take its own signal
// descriptor for standard input and wait on it forever.
TEST(CliTest, ClosedStandardInputFailsAtOnce) {
  TempFolder folder;
  folder.Write("f", {1, 2, 3});
  const CliRun encrypt = RunCli(folder, {"encrypt", "f"}, Input::Closed());
  EXPECT_EQ(encrypt.status, 1);
  EXPECT_EQ(encrypt.err,
            "quorvant-cli: encrypt: no key given (standard input was empty); no file was changed\n");
  const CliRun erase = RunCli(folder, {"erase", "f"}, Input::Closed());
  EXPECT_EQ(erase.status, 2);
  EXPECT_EQ(folder.Read("f"), (std::vector<std::uint8_t>{1, 2, 3}));
}

// Blocks until `child` has blocked SIGINT (it then arrives as a cancel
// request instead of ending the process), or has ended.
void WaitUntilSignalsAreBlocked(pid_t child) {
  const std::string status_path = "/proc/" + std::to_string(child) + "/status";
  for (;;) {
    std::ifstream status(status_path);
    std::string line;
    bool blocked = false;
    bool ended = !status.is_open();
    while (std::getline(status, line)) {
      if (line.rfind("SigBlk:", 0) == 0) {
        blocked = (std::stoull(line.substr(7), nullptr, 16) >> (SIGINT - 1)) & 1;
      }
      if (line.rfind("State:", 0) == 0 && line.find('Z') != std::string::npos) ended = true;
    }
    if (blocked || ended) break;
    sched_yield();
  }
}

// A signal that would end the tool while the key is awaited: nothing is
// changed, the tool says so, and its status is the shell's for a process
// ended by the signal.
TEST(CliTest, InterruptChangesNothingAndExitsAsTheSignalSays) {
  for (const auto& [signal_number, status] :
       {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}, std::pair{SIGQUIT, 131},
        std::pair{SIGPIPE, 141}}) {
    SCOPED_TRACE(status);
    TempFolder folder;
    folder.Write("keep", {9, 9, 9});
    const CliRun run = RunCli(folder, {"encrypt", "keep"}, {"key\n"}, [signal_number](pid_t child) {
      WaitUntilSignalsAreBlocked(child);
      kill(child, signal_number);
    });
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(run.err, "quorvant-cli: encrypt: cancelled; no file was changed\n");
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"keep"});
    EXPECT_EQ(folder.Read("keep"), (std::vector<std::uint8_t>{9, 9, 9}));
  }
}

// The tool with its standard output a pipe that is kept full until Finish:
// the tool's first result line ("OLD -> NEW", printed once a file's run is
// over, journal removed) waits in write() until then. A signal sent while
// it waits arrives at a point known without timing: after that file, and
// before anything that follows it.
class HeldOutputRun {
 public:
  HeldOutputRun(const TempFolder& folder, const std::vector<std::string>& arguments,
                const std::string& input) {
    int output[2];
    int keys[2];
    if (pipe2(output, O_CLOEXEC) != 0 || pipe2(keys, O_CLOEXEC) != 0) std::abort();
    // The smallest pipe, filled without blocking; then blocking again, so
    // that the tool's write waits rather than fails.
    (void)fcntl(output[1], F_SETPIPE_SZ, 4096);
    (void)fcntl(output[1], F_SETFL, O_NONBLOCK);
    const std::string filler(4096, '.');
    for (ssize_t wrote; (wrote = write(output[1], filler.data(), filler.size())) > 0;) {
      held_ += static_cast<std::size_t>(wrote);
    }
    (void)fcntl(output[1], F_SETFL, 0);
    if (write(keys[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) std::abort();
    close(keys[1]);
    const std::string err_path = outputs_.PathOf("err");
    std::vector<char*> argv = Argv(arguments);
    child_ = fork();
    if (child_ == 0) {
      dup2(keys[0], 0);
      dup2(output[1], 1);
      if (!freopen(err_path.c_str(), "w", stderr)) _exit(99);
      if (chdir(folder.Path().c_str()) != 0) _exit(99);
      alarm(HangSeconds);
      execv(QUORVANT_CLI_PATH, argv.data());
      _exit(98);
    }
    close(keys[0]);
    close(output[1]);
    output_.Reset(output[0]);
  }

  pid_t Pid() const { return child_; }

  // Lets the output through, waits for the end, and gives what the tool said
  // (without the filler).
  CliRun Finish() {
    std::string out;
    char buffer[4096];
    for (ssize_t count; (count = read(output_.Get(), buffer, sizeof buffer)) > 0;) {
      out.append(buffer, static_cast<std::size_t>(count));
    }
    int wait_status = 0;
    waitpid(child_, &wait_status, 0);
    CliRun run;
    run.status = StatusOf(wait_status);
    run.out = out.substr(std::min(held_, out.size()));
    run.err = ReadWhole(outputs_.PathOf("err"));
    return run;
  }

 private:
  TempFolder outputs_;
  UniqueFd output_;
  std::size_t held_ = 0;
  pid_t child_ = -1;
};

// Blocks until `ready` holds for the folder, looked at again after each
// change in it, or until `child` has ended.
void WaitForFolder(const TempFolder& folder, pid_t child, const std::function<bool()>& ready) {
  const testing::Moment seen = testing::StopAtMoment(
      folder, child, [&] { return ready() ? testing::Moment::Reached : testing::Moment::NotYet; });
  if (seen == testing::Moment::Reached) kill(child, SIGCONT);
}

// The encrypted name the tool gave `name`, if it has one now.
std::optional<std::string> EncryptedNameOf(const TempFolder& folder, const std::string& name) {
  for (const std::string& other : folder.Names()) {
    if (other.size() == name.size() + EncryptedSuffixLength && other.starts_with(name) &&
        HasEncryptedSuffixShape(other)) {
      return other;
    }
  }
  return std::nullopt;
}

// The content of the encrypted file `name`, decrypted with `key`.
std::vector<std::uint8_t> Decrypted(std::vector<std::uint8_t> content, const std::string& name,
                                    std::string_view key) {
  KeyWords words = BuildKeyWords(key, *SuffixOfName(name));
  for (std::size_t start = 0; start < content.size(); start += MaxBlockLength) {
    const std::size_t size = std::min<std::size_t>(MaxBlockLength, content.size() - start);
    TransformBlock(std::span(content).subspan(start, size), MaxBlockLength, Direction::Decrypt, words);
  }
  return content;
}

// The exit status after a cancel signal says what happened to the files:
// 128 + N only when the signal stopped something (a run undone, a file not
// started), the files' outcomes otherwise. Each moment is exact. During a
// run, the tool is held (SIGSTOP) while its journal has no record yet, and
// signalled there: the run must see it. Between files and after the last
// one, held output pins the moment: the first file is done, its journal
// gone, and the tool waits to print its result.
TEST(CliTest, ExitStatusAfterASignalTellsWhatHappenedToTheFiles) {
  enum class When { DuringTheFirstRun, OnceTheFirstFileIsDone };
  struct Case {
    const char* what;
    std::vector<std::string> files;
    When when;
  };
  const Case cases[] = {
      {"during the only file's run", {"a.bin"}, When::DuringTheFirstRun},
      {"during the first of two runs", {"a.bin", "b.bin"}, When::DuringTheFirstRun},
      {"between two files", {"a.bin", "b.bin"}, When::OnceTheFirstFileIsDone},
      {"after the last file", {"a.bin"}, When::OnceTheFirstFileIsDone},
  };
  for (const Case& moment : cases) {
    // During a run, 1024 blocks: the run looks for a signal 16 times on the
    // way. Otherwise a few blocks do.
    const bool during = moment.when == When::DuringTheFirstRun;
    const std::vector<std::uint8_t> plain = PatternBytes(during ? 16 << 20 : 40000, 6);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
      SCOPED_TRACE(std::string(moment.what) + ", " + strsignal(signal_number));
      // A run may pass its moment between two looks: it is tried again.
      for (int attempt = 1;; ++attempt) {
        ASSERT_LE(attempt, 5) << "every try passed its moment";
        TempFolder folder;
        std::vector<std::string> arguments = {"encrypt"};
        for (const std::string& name : moment.files) {
          folder.Write(name, plain);
          arguments.push_back(name);
        }
        HeldOutputRun run(folder, arguments, "k\n");
        if (during) {
          std::optional<testing::JournalView> seen;
          const testing::Moment held = testing::StopAtMoment(
              folder, run.Pid(), [&] { return testing::RunAtRecord(folder, "a.bin", 0, seen); });
          if (held != testing::Moment::Reached) {
            run.Finish();
            continue;
          }
          kill(run.Pid(), signal_number);
          kill(run.Pid(), SIGCONT);
        } else {
          WaitForFolder(folder, run.Pid(),
                        [&] { return EncryptedNameOf(folder, "a.bin") && !JournalIn(folder); });
          ASSERT_TRUE(EncryptedNameOf(folder, "a.bin") && !JournalIn(folder)) << "a.bin is done";
          kill(run.Pid(), signal_number);
        }
        const CliRun result = run.Finish();

        std::string out;
        std::string err;
        if (during) {
          EXPECT_EQ(folder.Read("a.bin"), plain);
          err = "quorvant-cli: a.bin: cancelled; the file is unchanged\n";
        } else {
          const std::optional<std::string> a_now = EncryptedNameOf(folder, "a.bin");
          ASSERT_TRUE(a_now);
          EXPECT_EQ(Decrypted(folder.Read(*a_now), *a_now, "k"), plain);
          out = "a.bin -> " + QuoteName(*a_now) + "\n";
        }
        if (moment.files.size() > 1) {
          EXPECT_EQ(folder.Read("b.bin"), plain);
          err += "quorvant-cli: b.bin: cancelled before it was started; the file is unchanged\n";
        }
        EXPECT_EQ(result.status, err.empty() ? 0 : 128 + signal_number);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, err);
        EXPECT_EQ(folder.Names().size(), moment.files.size()) << "no journal is left";
        break;
      }
    }
  }
}

// erase the same way: a signal once a file is erased (it is gone, and the
// tool waits to say so) stops before the next file, and after the last one
// it stops nothing.
TEST(CliTest, EraseStopsBetweenFilesAndNotAfterTheLast) {
  for (const bool two_files : {true, false}) {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
      SCOPED_TRACE(std::string(two_files ? "between two files, " : "after the last file, ") +
                   strsignal(signal_number));
      TempFolder folder;
      folder.Write("a.bin", Prose(40000));
      std::vector<std::string> arguments = {"erase", "--yes", "a.bin"};
      if (two_files) {
        folder.Write("b.bin", Prose(40000));
        arguments.push_back("b.bin");
      }
      HeldOutputRun run(folder, arguments, "");
      WaitForFolder(folder, run.Pid(), [&] { return !folder.Exists("a.bin"); });
      ASSERT_FALSE(folder.Exists("a.bin"));
      kill(run.Pid(), signal_number);
      const CliRun result = run.Finish();
      EXPECT_EQ(result.out, "erased a.bin\n");
      if (two_files) {
        EXPECT_EQ(result.status, 128 + signal_number);
        EXPECT_EQ(result.err, "quorvant-cli: b.bin: cancelled before it was started; not erased\n");
        EXPECT_EQ(folder.Read("b.bin"), Prose(40000));
      } else {
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
      }
    }
  }
}

// On a terminal the key is asked for twice, and the progress line shows
// bytes and, once the last block is written, that the data is being synced.
TEST(CliTest, ProgressOnATerminalEndsWithTheSync) {
  TempFolder folder;
  folder.Write("big.bin", PatternBytes(300 * 1024, 8));
  TerminalRun run(folder, {"encrypt", "big.bin"});
  ASSERT_TRUE(run.WaitFor("Key: ")) << run.Shown();
  run.Type("k\n");
  ASSERT_TRUE(run.WaitFor("Key again: ")) << run.Shown();
  run.Type("k\n");
  EXPECT_EQ(run.Finish(), 0) << run.Shown();
  const std::string& shown = run.Shown();
  EXPECT_NE(shown.find("\rEncrypting big.bin  0%  0 B of 300.0 KiB"), std::string::npos) << shown;
  const std::size_t syncing = shown.find("\rEncrypting big.bin  100%  300.0 KiB  syncing");
  ASSERT_NE(syncing, std::string::npos) << shown;
  // The line is blanked before the result, which starts at the line's start.
  const std::string result = "big.bin -> " + QuoteName(EncryptedNameIn(folder)) + "\r\n";
  const std::size_t result_at = shown.find(result, syncing);
  ASSERT_NE(result_at, std::string::npos) << shown;
  EXPECT_EQ(shown.substr(result_at - 1, 1), "\r");
  EXPECT_EQ(shown.substr(result_at + result.size()), "");
}

// A key typed twice on a terminal must be typed the same both times, also
// when the second typing runs past the longest key.
TEST(CliTest, TwoTypingsThatDifferChangeNothing) {
  const std::string longest(77, 'k');
  const std::string second_typings[] = {longest + "k", longest.substr(1), longest.substr(1) + "j"};
  for (const std::string& second : second_typings) {
    SCOPED_TRACE(second.size());
    TempFolder folder;
    folder.Write("f", {1, 2, 3});
    TerminalRun run(folder, {"encrypt", "f"});
    ASSERT_TRUE(run.WaitFor("Key: ")) << run.Shown();
    run.Type(longest + "\n");
    ASSERT_TRUE(run.WaitFor("Key again: ")) << run.Shown();
    run.Type(second + "\n");
    EXPECT_EQ(run.Finish(), 1) << run.Shown();
    EXPECT_NE(run.Shown().find("the two keys differ; no file was changed"), std::string::npos) << run.Shown();
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"f"});
    EXPECT_EQ(folder.Read("f"), (std::vector<std::uint8_t>{1, 2, 3}));
  }
}

// The "^C" the terminal echoes never runs into a message: it stays on the
// prompt's line and the message starts on the next.
TEST(CliTest, CtrlCOnATerminalLeavesTheMessageOnItsOwnLine) {
  TempFolder folder;
  folder.Write("f", {1, 2, 3});
  {
    // The key prompt reads without echo: nothing is echoed, the line still ends.
    TerminalRun run(folder, {"encrypt", "f"});
    ASSERT_TRUE(run.WaitFor("Key: ")) << run.Shown();
    run.Type("\x03");
    EXPECT_EQ(run.Finish(), 130);
    EXPECT_EQ(run.Shown(), "Key: \r\nquorvant-cli: encrypt: cancelled; no file was changed\r\n");
  }
  {
    TerminalRun run(folder, {"erase", "f"});
    ASSERT_TRUE(run.WaitFor("erase f? [y/N] ")) << run.Shown();
    run.Type("\x03");
    EXPECT_EQ(run.Finish(), 130);
    EXPECT_EQ(run.Shown(),
              "erase f? [y/N] ^C\r\nquorvant-cli: f: cancelled before it was started; not erased\r\n");
  }
  EXPECT_EQ(folder.Read("f"), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(CliTest, HelpFitsATerminal) {
  TempFolder folder;
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--help"}, std::vector<std::string>{"erase", "--help"}}) {
    const CliRun run = RunCli(folder, arguments, {});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    std::istringstream lines(run.out);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
      EXPECT_LE(line.size(), 80u) << line;
    }
    EXPECT_LE(count, 40);
    for (const char* text :
         {"quorvant-cli encrypt [--format FORMAT] [--force] FILE...", "quorvant-cli decrypt [--force] FILE...",
          "quorvant-cli erase [--yes] FILE...", "quorvant-cli stats [--counts] [--json] FILE...",
          "never an argument", "Exit status", "See quorvant-cli(1) for details."}) {
      EXPECT_NE(run.out.find(text), std::string::npos) << text;
    }
  }
}

TEST(CliTest, VersionComesFromTheProject) {
  TempFolder folder;
  const CliRun run = RunCli(folder, {"--version"}, {});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "quorvant-cli 1.0.0\n");
}

// The figures as the statistics screen shows them, label then value.
TEST(CliTest, StatsPrintsTheElevenFiguresAndOptionallyTheCounts) {
  TempFolder folder;
  std::vector<std::uint8_t> all_values(256);
  for (int i = 0; i < 256; ++i) all_values[static_cast<size_t>(i)] = static_cast<std::uint8_t>(i);
  folder.Write("all.bin", all_values);
  const CliRun run = RunCli(folder, {"stats", "all.bin"}, {});
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* line : {"Entropy 8.000000\n", "Chi square 0.00\n", "Aritmetic mean 127.5000\n",
                           "Bit total 2 048\n", "Expected value 1\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;
  }
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 11);

  const CliRun counts = RunCli(folder, {"stats", "--counts", "all.bin"}, {});
  EXPECT_EQ(counts.status, 0);
  EXPECT_NE(counts.out.find("\n65 1\n"), std::string::npos) << counts.out;

  folder.MakeFolder("sub");
  const CliRun several = RunCli(folder, {"stats", "sub", "all.bin", "missing", "all.bin"}, {});
  EXPECT_EQ(several.status, 1);
  EXPECT_EQ(several.err,
            "quorvant-cli: sub: not a regular file (a folder)\n"
            "quorvant-cli: missing: No such file or directory\n");
  EXPECT_EQ(several.out, "all.bin\n" + run.out + "\nall.bin\n" + run.out);
}

// A small strict JSON reader, enough for the objects stats --json prints:
// string keys; string, number and null values; arrays of numbers.
class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  // The members of one object, each value as its text (a string without its
  // quotes and escapes left as they are); false when it is not valid JSON.
  bool Object(std::map<std::string, std::string>& members) {
    if (!Take('{')) return false;
    do {
      std::string key;
      std::string value;
      if (!String(key) || !Take(':') || !Value(value)) return false;
      members[key] = value;
    } while (Take(','));
    return Take('}');
  }
  bool AtEnd() const { return position_ == text_.size(); }

 private:
  bool Take(char character) {
    if (position_ >= text_.size() || text_[position_] != character) return false;
    ++position_;
    return true;
  }
  bool String(std::string& out) {
    if (!Take('"')) return false;
    while (position_ < text_.size() && text_[position_] != '"') {
      if (static_cast<unsigned char>(text_[position_]) < 0x20) return false;
      if (text_[position_] == '\\') out += text_[position_++];
      out += text_[position_++];
    }
    return Take('"');
  }
  bool Number(std::string& out) {
    const std::size_t start = position_;
    Take('-');
    if (position_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[position_])))
      return false;
    // No leading zeros before other digits.
    if (text_[position_] == '0' && position_ + 1 < text_.size() &&
        std::isdigit(static_cast<unsigned char>(text_[position_ + 1]))) {
      return false;
    }
    while (position_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[position_])))
      ++position_;
    if (Take('.')) {
      const std::size_t fraction = position_;
      while (position_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[position_])))
        ++position_;
      if (position_ == fraction) return false;
    }
    out = std::string(text_.substr(start, position_ - start));
    return true;
  }
  bool Value(std::string& out) {
    if (position_ < text_.size() && text_[position_] == '"') return String(out);
    if (text_.substr(position_, 4) == "null") {
      position_ += 4;
      out = "null";
      return true;
    }
    if (Take('[')) {
      out = "[";
      do {
        std::string number;
        if (!Number(number)) return false;
        out += (out.size() > 1 ? "," : "") + number;
      } while (Take(','));
      out += "]";
      return Take(']');
    }
    return Number(out);
  }

  std::string_view text_;
  std::size_t position_ = 0;
};

// stats --json: one valid JSON object per file and line, with the same
// figures as the text report, without digit groups.
TEST(CliTest, StatsJsonGivesTheSameFiguresForScripts) {
  TempFolder folder;
  folder.Write("text.txt", PatternBytes(50000, 9));
  folder.Write("it's \"q\"", {});
  const CliRun text = RunCli(folder, {"stats", "--counts", "text.txt"}, {});
  const CliRun json = RunCli(folder, {"stats", "--json", "--counts", "text.txt", "it's \"q\""}, {});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.err, "");

  std::vector<std::map<std::string, std::string>> objects;
  std::istringstream lines(json.out);
  for (std::string line; std::getline(lines, line);) {
    JsonReader reader(line);
    std::map<std::string, std::string> members;
    ASSERT_TRUE(reader.Object(members) && reader.AtEnd()) << "not one JSON object: " << line;
    objects.push_back(members);
  }
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0]["file"], "text.txt");
  EXPECT_EQ(objects[1]["file"], "it's \\\"q\\\"");

  // Each figure of the text report, label by label.
  const std::pair<const char*, const char*> keys[] = {
      {"Entropy ", "entropy"},
      {"Chi square ", "chi_square"},
      {"Aritmetic mean ", "arithmetic_mean"},
      {"Monte carlo pi ", "monte_carlo_pi"},
      {"Serial correlation ", "serial_correlation"},
      {"Bit zero ", "bit_zero"},
      {"Bit one ", "bit_one"},
      {"Bit total ", "bit_total"},
      {"Bit 0 ratio ", "bit_0_ratio"},
      {"Bit 1 ratio ", "bit_1_ratio"},
      {"Expected value ", "expected_value"},
  };
  std::istringstream report(text.out);
  std::string line;
  for (const auto& [label, key] : keys) {
    ASSERT_TRUE(std::getline(report, line));
    ASSERT_EQ(line.rfind(label, 0), 0u) << line;
    std::string value = line.substr(std::string(label).size());
    std::erase(value, ' ');
    EXPECT_EQ(objects[0][key], value) << key;
  }
  std::string counts = "[";
  for (int value = 0; value < 256; ++value) {
    ASSERT_TRUE(std::getline(report, line));
    std::string count = line.substr(line.find(' ') + 1);
    std::erase(count, ' ');
    counts += (value > 0 ? "," : "") + count;
  }
  EXPECT_EQ(objects[0]["counts"], counts + "]");
  EXPECT_EQ(objects[0].size(), 13u);

  // An empty file has figures that cannot be computed.
  EXPECT_EQ(objects[1]["entropy"], "null");
  EXPECT_EQ(objects[1]["bit_total"], "0");
}

// A strong file as a run would leave it, made in memory at the floor cost so
// that deriving its key stays quick.
std::vector<std::uint8_t> StrongImage(std::string_view key_text, std::span<const std::uint8_t> plaintext) {
  StrongFreshParts parts;
  parts.salt.fill(7);
  parts.nonce_prefix.fill(8);
  parts.wrap_nonce.fill(9);
  std::array<std::uint8_t, 32> file_key{};
  file_key.fill(10);
  parts.file_key = StrongFileKey(file_key);
  const Result<StrongMasterKey, StrongKeyFailure> master =
      DeriveStrongMasterKey(key_text, parts.salt, MinStrongCost);
  if (!master.ok()) std::abort();
  return EncryptStrongImage(*master, parts, MinStrongCost, plaintext);
}

TEST(CliTest, VerifyReadsStrongFilesAndNamesTheirDamage) {
  TempFolder folder;
  // Two whole chunks and a short one.
  const std::vector<std::uint8_t> sound = StrongImage("right", PatternBytes(2 * 65536 + 1000));
  std::vector<std::uint8_t> flipped = sound;
  flipped[70000] ^= 0x10;
  const std::vector<std::uint8_t> cut(sound.begin(), sound.end() - 100);
  struct Case {
    std::string name;
    std::vector<std::uint8_t> bytes;
    Input key;  // closed where no key may be asked for
    int status;
    std::string said;  // the result line, or the failure after "quorvant-cli: NAME: "
  };
  const std::vector<Case> cases = {
      {"sound k3VqZ8a]", sound, {"right\n"}, 0, "verified 'sound k3VqZ8a]'\n"},
      {"flipped k3VqZ8a]", flipped, {"right\n"}, 1, "damaged: bytes 65536..131071 fail their check\n"},
      {"wrong k3VqZ8a]", sound, {"wrong\n"}, 1, "wrong key; nothing was changed\n"},
      {"cut k3VqZ8a]", cut, Input::Closed(), 1, "damaged or cut: it ends inside its trailer\n"},
      {"classic k3VqZ8a[", PatternBytes(100), Input::Closed(), 1,
       "the classic format carries nothing to verify\n"},
      {"plain.txt", PatternBytes(100), Input::Closed(), 1,
       "not an encrypted name (no \" \" + 7 characters + \"]\" at its end)\n"},
  };
  for (const Case& one : cases) {
    SCOPED_TRACE(one.name);
    folder.Write(one.name, one.bytes);
    const CliRun run = RunCli(folder, {"verify", one.name}, one.key);
    EXPECT_EQ(run.status, one.status);
    if (one.status == 0) {
      EXPECT_EQ(run.out, one.said);
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_EQ(run.out, "");
      EXPECT_EQ(run.err, "quorvant-cli: " + QuoteName(one.name) + ": " + one.said);
    }
    EXPECT_EQ(folder.Read(one.name), one.bytes);
  }

  // One key, read once, serves every file of the command ("wrong" holds the
  // same bytes as "sound"); the files that need no key are named before it
  // is asked for, and the status says that not all verified.
  std::vector<std::string> arguments = {"verify"};
  std::string refused_before_the_key;
  for (const Case& one : cases) {
    arguments.push_back(one.name);
    if (one.key.closed) refused_before_the_key += "quorvant-cli: " + QuoteName(one.name) + ": " + one.said;
  }
  const CliRun all = RunCli(folder, arguments, {"right\n"});
  EXPECT_EQ(all.status, 1);
  EXPECT_EQ(all.out, "verified 'sound k3VqZ8a]'\nverified 'wrong k3VqZ8a]'\n");
  EXPECT_EQ(all.err, refused_before_the_key + "quorvant-cli: 'flipped k3VqZ8a]': " + cases[1].said);
  for (const Case& one : cases) EXPECT_EQ(folder.Read(one.name), one.bytes) << one.name;
}

// The strong format is the tool's choice; a strong file decrypts only whole
// and with its key; convert makes a classic file strong with the key it had.
TEST(CliTest, EncryptsStrongByDefaultAndConvertsClassicFiles) {
  TempFolder folder;
  const std::vector<std::uint8_t> plain = PatternBytes(3 * 65536 + 77);
  folder.Write("notes.txt", plain);
  tool_chooses_the_format = true;
  const CliRun encrypted = RunCli(folder, {"encrypt", "notes.txt"}, {"right\n"});
  tool_chooses_the_format = false;
  ASSERT_EQ(encrypted.status, 0) << encrypted.err;
  ASSERT_EQ(folder.Names().size(), 1u);
  const std::string strong = folder.Names()[0];
  EXPECT_TRUE(HasStrongSuffixShape(strong)) << strong;
  const std::vector<std::uint8_t> sealed = folder.Read(strong);
  EXPECT_EQ(sealed.size(), StrongEncryptedLength(plain.size()));

  std::vector<std::uint8_t> flipped = sealed;
  flipped[65536 + 5] ^= 1;
  struct Refusal {
    std::vector<std::uint8_t> bytes;
    std::string key;
    std::string said;
  };
  for (const Refusal& refused : {Refusal{sealed, "wrong\n", "wrong key; the file is unchanged"},
                                 Refusal{flipped, "right\n", "damaged: bytes 65536..131071 fail their check"}}) {
    folder.Write(strong, refused.bytes);
    const CliRun run = RunCli(folder, {"decrypt", strong}, {refused.key});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(refused.said), std::string::npos) << run.err;
    EXPECT_EQ(folder.Names(), std::vector<std::string>{strong});
    EXPECT_EQ(folder.Read(strong), refused.bytes);
  }
  folder.Write(strong, sealed);
  ASSERT_EQ(RunCli(folder, {"decrypt", strong}, {"right\n"}).status, 0);
  EXPECT_EQ(folder.Read("notes.txt"), plain);

  // Classic, then converted: the strong file decrypts to the same bytes.
  ASSERT_EQ(RunCli(folder, {"encrypt", "--format", "classic", "notes.txt"}, {"right\n"}).status, 0);
  const std::string classic = folder.Names()[0];
  EXPECT_TRUE(HasEncryptedSuffixShape(classic)) << classic;
  EXPECT_EQ(RunCli(folder, {"convert", classic}, {"wrong\n"}).status, 1);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{classic});
  const CliRun converted = RunCli(folder, {"convert", classic}, {"right\n"});
  ASSERT_EQ(converted.status, 0) << converted.err;
  const std::string made_strong = folder.Names()[0];
  EXPECT_TRUE(HasStrongSuffixShape(made_strong)) << made_strong;
  EXPECT_EQ(made_strong.substr(0, 9), "notes.txt");
  EXPECT_EQ(RunCli(folder, {"verify", made_strong}, {"right\n"}).status, 0);
  ASSERT_EQ(RunCli(folder, {"decrypt", made_strong}, {"right\n"}).status, 0);
  EXPECT_EQ(folder.Read("notes.txt"), plain);
}

}  // namespace
}  // namespace quorvant
