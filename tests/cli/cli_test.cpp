// Runs the built quorvant-cli on real files, with standard input from a pipe.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/encrypted_name.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using testing::PatternBytes;
using testing::TempFolder;

struct CliRun {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

std::string ReadWhole(const std::string& path) {
  std::ifstream input(path);
  std::stringstream text;
  text << input.rdbuf();
  return text.str();
}

// Starts the tool in `folder` with `input` on its standard input. When
// `before_input` is given it runs once the child is started, before the
// input is written.
CliRun RunCli(const TempFolder& folder, const std::vector<std::string>& arguments, const std::string& input,
              const std::function<void(pid_t)>& before_input = {}) {
  const TempFolder outputs;
  const std::string out_path = outputs.PathOf("out");
  const std::string err_path = outputs.PathOf("err");
  int input_pipe[2];
  if (pipe(input_pipe) != 0) std::abort();
  const pid_t child = fork();
  if (child == 0) {
    dup2(input_pipe[0], 0);
    close(input_pipe[0]);
    close(input_pipe[1]);
    if (!freopen(out_path.c_str(), "w", stdout) || !freopen(err_path.c_str(), "w", stderr)) _exit(99);
    if (chdir(folder.Path().c_str()) != 0) _exit(99);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(QUORVANT_CLI_PATH));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(QUORVANT_CLI_PATH, argv.data());
    _exit(98);
  }
  close(input_pipe[0]);
  if (before_input) before_input(child);
  // A child that exits without reading (wrong usage, say) closes the pipe:
  // the write then fails with EPIPE instead of killing the test.
  signal(SIGPIPE, SIG_IGN);
  if (!input.empty() &&
      write(input_pipe[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()) &&
      errno != EPIPE) {
    std::abort();
  }
  close(input_pipe[1]);
  int wait_status = 0;
  waitpid(child, &wait_status, 0);
  CliRun run;
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  run.out = ReadWhole(out_path);
  run.err = ReadWhole(err_path);
  return run;
}

TEST(CliTest, EncryptsAndDecryptsAFileInAFolder) {
  TempFolder folder;
  ASSERT_EQ(mkdir((folder.Path() + "/docs").c_str(), 0755), 0);
  folder.Write("docs/report.txt", PatternBytes(40000, 3));
  const std::vector<std::uint8_t> plain = PatternBytes(40000, 3);

  const CliRun encrypted = RunCli(folder, {"encrypt", "docs/report.txt"}, "secret key\n");
  ASSERT_EQ(encrypted.status, 0) << encrypted.err;
  std::string encrypted_name;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path() + "/docs")) {
    encrypted_name = entry.path().filename().string();
  }
  ASSERT_TRUE(HasEncryptedSuffixShape(encrypted_name)) << encrypted_name;
  EXPECT_EQ(encrypted_name.substr(0, 10), "report.txt");
  EXPECT_EQ(encrypted_name.size(), 19u);
  EXPECT_EQ(encrypted.out, "docs/report.txt -> docs/" + encrypted_name + "\n");

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
      RunCli(folder, {"decrypt", "docs/" + encrypted_name}, "secret key\nignored line\n");
  ASSERT_EQ(decrypted.status, 0) << decrypted.err;
  EXPECT_EQ(folder.Read("docs/report.txt"), plain);
}

TEST(CliTest, OneKeyForSeveralFilesAndEachFailureNamed) {
  TempFolder folder;
  folder.Write("a", PatternBytes(100, 1));
  folder.Write("b", PatternBytes(20000, 2));
  ASSERT_EQ(mkfifo(folder.PathOf("pipe").c_str(), 0644), 0);
  const CliRun run = RunCli(folder, {"encrypt", "a", "pipe", "missing", "b"}, "k\r\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("pipe: Not a file"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("missing: File gone"), std::string::npos) << run.err;
  std::vector<std::string> encrypted;
  for (const std::string& name : folder.Names()) {
    if (HasEncryptedSuffixShape(name)) encrypted.push_back(name);
  }
  ASSERT_EQ(encrypted.size(), 2u);

  // "k\r\n" was the key "k": both decrypt with it.
  std::vector<std::string> arguments = {"decrypt"};
  arguments.insert(arguments.end(), encrypted.begin(), encrypted.end());
  const CliRun decrypted = RunCli(folder, arguments, "k\n");
  EXPECT_EQ(decrypted.status, 0) << decrypted.err;
  EXPECT_EQ(folder.Read("a"), PatternBytes(100, 1));
  EXPECT_EQ(folder.Read("b"), PatternBytes(20000, 2));
}

TEST(CliTest, WrongUsageExitsWithTwo) {
  TempFolder folder;
  folder.Write("f", {1, 2, 3});
  const std::vector<std::vector<std::string>> usages = {
      {}, {"scramble", "f"}, {"encrypt"}, {"decrypt", "--fast", "f"}, {"erase", "f"}, {"erase", "--now", "f"},
  };
  for (const auto& arguments : usages) {
    const CliRun run = RunCli(folder, arguments, "key\n");
    EXPECT_EQ(run.status, 2) << (arguments.empty() ? "" : arguments[0]) << ": " << run.err;
    EXPECT_NE(run.err.find("--help"), std::string::npos);
  }
  EXPECT_EQ(folder.Read("f"), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(CliTest, RefusesBadKeysAndWrongNamesLeavingFilesAlone) {
  TempFolder folder;
  folder.Write("plain.txt", {1, 2, 3});
  folder.Write("x abcdefg[", {4, 5, 6});
  struct Case {
    const char* what;
    std::vector<std::string> arguments;
    std::string input;
    const char* message;
  };
  const Case cases[] = {
      {"empty key", {"encrypt", "plain.txt"}, "\n", "the key is empty"},
      {"no input", {"encrypt", "plain.txt"}, "", "no key given"},
      {"78 characters", {"encrypt", "plain.txt"}, std::string(78, 'k') + "\n", "longer than 77"},
      {"tab", {"encrypt", "plain.txt"}, "a\tb\n", "printable ASCII"},
      {"not ASCII", {"decrypt", "x abcdefg["}, "caf\xc3\xa9\n", "printable ASCII"},
      {"decrypt a plain name", {"decrypt", "plain.txt"}, "key\n", "Not encrypted"},
      {"encrypt an encrypted name", {"encrypt", "x abcdefg["}, "key\n", "not encrypted again"},
  };
  for (const Case& refused : cases) {
    SCOPED_TRACE(refused.what);
    const CliRun run = RunCli(folder, refused.arguments, refused.input);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(refused.message), std::string::npos) << run.err;
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"plain.txt", "x abcdefg["}));
    EXPECT_EQ(folder.Read("plain.txt"), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(folder.Read("x abcdefg["), (std::vector<std::uint8_t>{4, 5, 6}));
  }
}

TEST(CliTest, EraseWithYes) {
  TempFolder folder;
  folder.Write("one", PatternBytes(20000));
  folder.Write("two", PatternBytes(1));
  const CliRun run = RunCli(folder, {"erase", "--yes", "one", "gone", "two"}, "");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("gone: File gone"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "erased one\nerased two\n");
  EXPECT_TRUE(folder.Names().empty());
}

// SIGINT while the key is awaited: nothing is changed and the tool says so.
TEST(CliTest, InterruptAtTheKeyPromptChangesNothing) {
  TempFolder folder;
  folder.Write("keep", {9, 9, 9});
  const auto interrupt_once_blocked = [](pid_t child) {
    // Wait until the tool has blocked SIGINT (it then arrives as a cancel
    // request instead of ending the process).
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
    kill(child, SIGINT);
  };
  const CliRun run = RunCli(folder, {"encrypt", "keep"}, "key\n", interrupt_once_blocked);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("cancelled"), std::string::npos) << run.err;
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"keep"});
  EXPECT_EQ(folder.Read("keep"), (std::vector<std::uint8_t>{9, 9, 9}));
}

TEST(CliTest, HelpExplainsTheCommandsAndTheCipher) {
  TempFolder folder;
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--help"}, std::vector<std::string>{"erase", "--help"}}) {
    const CliRun run = RunCli(folder, arguments, "");
    EXPECT_EQ(run.status, 0);
    for (const char* text : {"encrypt FILE", "decrypt FILE", "erase [--yes] FILE", "stats [--counts] FILE",
                             "not a vetted cipher", "never taken from the command line", "Exit status"}) {
      EXPECT_NE(run.out.find(text), std::string::npos) << text;
    }
  }
}

// The figures as the statistics screen shows them, label then value.
TEST(CliTest, StatsPrintsTheElevenFiguresAndOptionallyTheCounts) {
  TempFolder folder;
  std::vector<std::uint8_t> all_values(256);
  for (int i = 0; i < 256; ++i) all_values[static_cast<size_t>(i)] = static_cast<std::uint8_t>(i);
  folder.Write("all.bin", all_values);
  const CliRun run = RunCli(folder, {"stats", "all.bin"}, "");
  EXPECT_EQ(run.status, 0) << run.err;
  for (const char* line : {"Entropy 8.000000\n", "Chi square 0.00\n", "Aritmetic mean 127.5000\n",
                           "Bit total 2 048\n", "Expected value 1\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << " in\n" << run.out;
  }
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 11);

  const CliRun counts = RunCli(folder, {"stats", "--counts", "all.bin"}, "");
  EXPECT_EQ(counts.status, 0);
  EXPECT_NE(counts.out.find("\n65 1\n"), std::string::npos) << counts.out;

  std::filesystem::create_directory(folder.PathOf("sub"));
  const CliRun refused = RunCli(folder, {"stats", "sub", "missing"}, "");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("sub"), std::string::npos);
  EXPECT_NE(refused.err.find("missing"), std::string::npos);
  EXPECT_EQ(RunCli(folder, {"stats"}, "").status, 2);
}

}  // namespace
}  // namespace quorvant
