// Key entry, encrypting and decrypting from the window, and secure erase,
// through the whole program in real temporary folders.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "crypto/encrypted_name.h"
#include "tests/support/program_harness.h"
#include "ui/erase_screen.h"
#include "ui/key_entry.h"

namespace quorvant::testing {
namespace {

namespace fs = std::filesystem;

std::string Content(std::size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  unsigned state = seed;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// The key field takes each key as the editing rules say.
TEST(KeyEditing, SequencesGiveKeyAndCaret) {
  struct Case {
    const char* name;
    std::vector<std::string> keys;
    std::string key;
    int caret;
  } cases[] = {
      {"typing appends", {"a", "b", "c"}, "abc", 3},
      {"Home then typing inserts at the front", {"a", "b", Home, "X"}, "Xab", 1},
      {"Del at the end changes nothing", {"a", "b", Del}, "ab", 2},
      {"Backspace at the start changes nothing", {"a", "b", Home, Backspace}, "ab", 0},
      {"Backspace before the caret", {"a", "b", "c", Left, Backspace}, "ac", 1},
      {"Del after the caret", {"a", "b", "c", Left, Left, Del}, "ac", 1},
      {"Right stops at the end, End jumps there", {"a", "b", Home, Right, Right, Right, Home, End}, "ab", 2},
      {"Left stops at the start", {"a", Left, Left}, "a", 0},
      {"extended keys do nothing while empty", {Left, Del, Home, End}, "", 0},
      {"Up, Down and the page keys are ignored", {"a", Up, Down, PgUp}, "a", 1},
      {"spaces are a key", {" ", " ", " "}, "   ", 3},
      {"Enter and Escape codes are not characters", {"a", Enter, "\t"}, "a", 1},
      {"bytes above 126 are ignored", {"a", "\xe9"}, "a", 1},
      {"a clicked navigation key acts alike", {"a", "b", " K", " S"}, "a", 1},
  };
  for (const Case& c : cases) {
    AppState s;
    for (const std::string& k : c.keys) EditKey(s, k);
    EXPECT_EQ(s.KeyEntry.TypedKey.View(), c.key) << c.name;
    EXPECT_EQ(s.KeyEntry.Cursor, c.caret) << c.name;
  }
  AppState s;
  for (int i = 0; i < 78; ++i) EditKey(s, std::string(1, static_cast<char>('!' + i % 90)));
  EXPECT_EQ(s.KeyEntry.TypedKey.Size(), 77u) << "78 characters keep 77";
}

// The "Key looks wrong" question as the window of the harness asks it: with
// its answer, whole.
const std::string KeyLooksWrongAsked = "Key looks wrong: Enter decrypts, Esc stops";

// Enter, the key, Enter: encrypts; the same again decrypts.
struct FileRun {
  static void Transform(HeadlessPlatform& platform, const std::string& key) {
    platform.Key(Enter).Type(key).Key(Enter).Wait(1);
  }
};

TEST(FileWork, EncryptThenDecryptGivesBackFileAndName) {
  ProgramHarness h;
  const std::string original = Content(40'000);
  WriteFile(h.folder.PathOf("report.txt"), original);
  std::vector<std::string> names_between;
  std::string encrypted_bytes;
  FileRun::Transform(h.platform, "pass word");
  h.platform.Do([&] {
    names_between = h.folder.Names();
    if (names_between.size() == 1) encrypted_bytes = ReadFile(h.folder.PathOf(names_between[0]));
  });
  FileRun::Transform(h.platform, "pass word");
  h.Run();

  ASSERT_EQ(names_between.size(), 1u);
  EXPECT_TRUE(HasEncryptedSuffixShape(names_between[0]));
  EXPECT_EQ(names_between[0].substr(0, 10), "report.txt");
  EXPECT_EQ(names_between[0].size(), 10u + 9u);
  EXPECT_EQ(encrypted_bytes.size(), original.size());
  EXPECT_NE(encrypted_bytes, original);
  EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"report.txt"});
  EXPECT_EQ(ReadFile(h.folder.PathOf("report.txt")), original);
  EXPECT_EQ(Caption(h.State().Mode), "scroll");
}

// The window's encrypted file is the command-line tool's format.
TEST(FileWork, CommandLineToolDecryptsWhatTheWindowEncrypted) {
  ProgramHarness h;
  const std::string original = Content(20'001, 7);
  WriteFile(h.folder.PathOf("data.bin"), original);
  FileRun::Transform(h.platform, "same key!");
  h.Run();
  const std::vector<std::string> names = h.folder.Names();
  ASSERT_EQ(names.size(), 1u);
  const std::string command = std::string("printf 'same key!\\n' | ") + QUORVANT_CLI_PATH + " decrypt '" +
                              h.folder.PathOf(names[0]) + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ReadFile(h.folder.PathOf("data.bin")), original);
}

TEST(FileWork, ProgressShowsPercentagesOfEachBlock) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("big"), Content(100'000));
  h.platform.Key(Enter).Type("k").Do([&] { h.ForgetPrints(); }).Key(Enter).Wait(1);
  h.Run();
  std::vector<std::string> percentages;
  int x = -1;
  for (const TextLogEntry& entry : h.Printed()) {
    if (!entry.text.empty() && entry.text.back() == '%') {
      percentages.push_back(entry.text);
      x = entry.x;
    }
  }
  EXPECT_EQ(percentages, (std::vector<std::string>{" 0%", " 16%", " 32%", " 49%", " 65%", " 81%", " 98%"}));
  EXPECT_EQ(x, 20 + h.Paint().MeasureText("Encrypting").width);
  EXPECT_TRUE(h.LastPrint("Encrypting"));
}

// Each run prints its own caption at the start of the status band, and its
// percentages right after that caption.
TEST(FileWork, EachRunShowsItsCaptionAndItsProgressAfterIt) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("f"), Content(100'000));
  FileRun::Transform(h.platform, "k");
  FileRun::Transform(h.platform, "k");
  h.Run();
  std::vector<std::string> shown;
  for (const TextLogEntry& entry : h.Printed()) {
    if (entry.text == "Encrypting" || entry.text == "Decrypting") {
      shown.push_back(entry.text + " at " + std::to_string(entry.x));
    } else if (entry.text == " 0%") {
      shown.push_back("0% at " + std::to_string(entry.x));
    }
  }
  const auto after = [&](const char* caption) {
    return std::to_string(LeftMargin + h.Paint().MeasureText(caption).width);
  };
  EXPECT_EQ(shown, (std::vector<std::string>{
                       "Encrypting at " + std::to_string(LeftMargin), "0% at " + after("Encrypting"),
                       "Decrypting at " + std::to_string(LeftMargin), "0% at " + after("Decrypting")}));
}

TEST(FileWork, OneByteFileShowsZeroPercent) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("one"), "A");
  h.platform.Key(Enter).Type("k").Do([&] { h.ForgetPrints(); }).Key(Enter).Wait(1);
  h.Run();
  EXPECT_TRUE(h.LastPrint(" 0%"));
  EXPECT_EQ(h.folder.Names().size(), 1u);
  EXPECT_NE(h.folder.Names()[0], "one");
}

TEST(FileWork, EscapeInTheMiddleLeavesTheFileAsItWas) {
  ProgramHarness h;
  const std::string original = Content(3 * 1024 * 1024 + 5);
  WriteFile(h.folder.PathOf("large.dat"), original);
  h.platform.Key(Enter).Type("key").Key(Enter).KeyDuringProgress(Escape, 100).Wait(1);
  h.Run();
  EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"large.dat"});
  EXPECT_EQ(ReadFile(h.folder.PathOf("large.dat")), original);
  EXPECT_EQ(Caption(h.State().Mode), "scroll");
}

TEST(FileWork, EscapeDuringKeyEntryTouchesNothing) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("keep"), "keep me");
  h.platform.Key(Enter).Type("abc").Key(Escape).Wait(1);
  h.Run();
  EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"keep"});
  EXPECT_EQ(ReadFile(h.folder.PathOf("keep")), "keep me");
  EXPECT_FALSE(h.State().Work.File1.has_value());
  EXPECT_TRUE(h.State().KeyEntry.TypedKey.Empty());
}

TEST(FileWork, KeyIconActsAsEnterWithKeyAndAsEscapeWithout) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("a"), "abc");
  std::string mode_after_escape;
  h.platform.Click(30, 105)
      .Wait(1)
      .Click(30, 105)  // empty key: Escape
      .Wait(1)
      .Do([&] { mode_after_escape = Caption(h.State().Mode); })
      .Click(30, 105)  // Enter
      .Type("k")
      .Click(30, 105)  // with a key: Enter
      .Wait(1);
  h.Run();
  EXPECT_EQ(mode_after_escape, "scroll");
  ASSERT_EQ(h.folder.Names().size(), 1u);
  EXPECT_TRUE(HasEncryptedSuffixShape(h.folder.Names()[0]));
}

TEST(FileWork, HiddenKeyIsDrawnInBackgroundButCaretMoves) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("a"), "abc");
  int caret_before = 0, caret_after = 0;
  h.platform.Key(Enter)
      .Click(IconRowCentre(icon::ShowHide))  // hide the key
      .Do([&] { caret_before = h.State().KeyEntry.CaretX; })
      .Type("xyz")
      .Wait(1)
      .Do([&] { caret_after = h.State().KeyEntry.CaretX; })
      .Key(Escape)
      .Wait(1);
  h.Run();
  const auto key_print = h.LastPrint("xyz");
  ASSERT_TRUE(key_print);
  EXPECT_EQ(key_print->foreground, Black);
  EXPECT_EQ(caret_after - caret_before, h.Paint().MeasureText("xyz").width);
}

TEST(FileWork, KeyIsWipedAfterTheRun) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("a"), Content(50'000));
  bool key_zero = false;
  FileRun::Transform(h.platform, "a secret key that must not linger");
  h.platform.Do([&] { key_zero = h.State().KeyEntry.TypedKey.IsWiped(); });
  h.Run();
  EXPECT_TRUE(key_zero);
}

TEST(FileWork, FileHeldByAnotherProgramIsAlreadyOpenAndUntouched) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("held"), "held content");
  const int holder = open(h.folder.PathOf("held").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  h.platform.Key(Enter).Wait(1);
  h.Run();
  close(holder);
  const auto notice = h.LastPrint("Already open");
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->foreground, Brown);
  EXPECT_EQ(h.platform.Beeps(), 1);
  EXPECT_EQ(Caption(h.State().Mode), "scroll") << "no key entry for a file it cannot have";
  EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"held"});
  EXPECT_EQ(ReadFile(h.folder.PathOf("held")), "held content");
}

TEST(FileWork, TakenNameIsRefusedWithNotice) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("x 1234567["), "encrypted");
  WriteFile(h.folder.PathOf("x"), "a plain file of the same name");
  // The encrypted one sorts second; decrypting it would need the name "x".
  h.platform.Key(Down);
  FileRun::Transform(h.platform, "k");
  h.Run();
  EXPECT_TRUE(h.LastPrint("Name in use"));
  EXPECT_EQ(ReadFile(h.folder.PathOf("x")), "a plain file of the same name");
  EXPECT_EQ(ReadFile(h.folder.PathOf("x 1234567[")), "encrypted");
}

// A refusal found once the key was confirmed used to leave the confirming
// Enter pending, and key entry opened again by itself. After the notice the
// program waits: the next key (Up) is a browser key.
TEST(FileWork, RefusalAfterTheKeyWaitsForTheNextKey) {
  struct Case {
    const char* name;
    std::string file;     // the one selected (the last in the listing)
    std::string blocker;  // what makes the run refuse
    const char* notice;
  } cases[] = {
      {"decrypting onto a taken name", "x 1234567[", "x", "Name in use"},
      {"a name too long for its suffix", "b" + std::string(250, 'n'), "a", "Name too long"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramHarness h;
    WriteFile(h.folder.PathOf(c.blocker), "another file");
    WriteFile(h.folder.PathOf(c.file), "the file");
    std::string mode_after_notice;
    h.platform.Key(End).Key(Enter).Type("k").Key(Enter).Wait(1).Do(
        [&] { mode_after_notice = Caption(h.State().Mode); });
    h.platform.Key(Up).Wait(1);
    h.Run();
    EXPECT_TRUE(h.LastPrint(c.notice));
    EXPECT_EQ(mode_after_notice, "scroll");
    const std::vector<TextLogEntry> printed = h.Printed();
    EXPECT_EQ(
        std::count_if(printed.begin(), printed.end(), [](const TextLogEntry& e) { return e.text == "Key"; }),
        1)
        << "key entry opened once";
    EXPECT_EQ(h.State().Browser.SelectedIndex, 1) << "Up reached the browser";
    EXPECT_EQ(ReadFile(h.folder.PathOf(c.file)), "the file");
  }
}

TEST(FileWork, ClosingTheWindowDuringTheRunFinishesTheFileThenEnds) {
  ProgramHarness h;
  const std::string original = Content(2 * 1024 * 1024);
  WriteFile(h.folder.PathOf("f"), original);
  h.platform.Key(Enter).Type("k").Key(Enter).CloseDuringProgress(10).Key("never read");
  EXPECT_EQ(h.Run(), 0);
  const std::vector<std::string> names = h.folder.Names();
  ASSERT_EQ(names.size(), 1u);
  ASSERT_TRUE(HasEncryptedSuffixShape(names[0])) << "the run finished";
  const std::string command = std::string("printf 'k\\n' | ") + QUORVANT_CLI_PATH + " decrypt '" +
                              h.folder.PathOf(names[0]) + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ReadFile(h.folder.PathOf("f")), original);
}

// While the key is hidden, an encryption asks for it again: a typo nobody
// could see would make the file unrecoverable. Two typings that differ
// change nothing. A decryption (the key is checked there) asks once.
TEST(FileWork, AHiddenKeyIsTypedTwiceToEncrypt) {
  struct Case {
    const char* name;
    std::string second;  // the second typing ("": a decryption, asked once)
    bool encrypted;
  } cases[] = {
      {"the same key twice encrypts", "pass word", true},
      {"two different keys change nothing", "pass wore", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramHarness h;
    const std::string original = Content(30'000, 3);
    WriteFile(h.folder.PathOf("secret"), original);
    h.platform.Key(Enter).Click(IconRowCentre(icon::ShowHide)).Type("pass word").Key(Enter);
    h.platform.Type(c.second).Key(Enter).Wait(1);
    h.Run();
    EXPECT_TRUE(h.LastPrint("Key again"));
    const std::vector<std::string> names = h.folder.Names();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(Caption(h.State().Mode), "scroll");
    EXPECT_TRUE(h.State().KeyEntry.TypedKey.Empty());
    EXPECT_TRUE(h.State().KeyEntry.FirstTyping.Empty());
    if (c.encrypted) {
      ASSERT_TRUE(HasEncryptedSuffixShape(names[0]));
      const std::string command = std::string("printf 'pass word\\n' | ") + QUORVANT_CLI_PATH + " decrypt '" +
                                  h.folder.PathOf(names[0]) + "' 2>&1";
      ASSERT_EQ(std::system(command.c_str()), 0) << "encrypted with the key typed twice";
      EXPECT_EQ(ReadFile(h.folder.PathOf("secret")), original);
    } else {
      EXPECT_TRUE(h.LastPrint("Keys differ"));
      EXPECT_EQ(names[0], "secret");
      EXPECT_EQ(ReadFile(h.folder.PathOf("secret")), original);
    }
  }
  // Decrypting with a hidden key: asked once.
  ProgramHarness h;
  const std::string original = Content(30'000, 4);
  WriteFile(h.folder.PathOf("secret"), original);
  FileRun::Transform(h.platform, "k");
  h.platform.Key(Enter).Click(IconRowCentre(icon::ShowHide)).Type("k").Key(Enter).Wait(1);
  h.Run();
  EXPECT_FALSE(h.LastPrint("Key again"));
  EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"secret"});
  EXPECT_EQ(ReadFile(h.folder.PathOf("secret")), original);
}

// The file is not held while the key is typed (another program's open
// would wait on the lease), and the run's direction comes from the file
// the key was typed for, not from whatever entry the list shows by then.
TEST(FileWork, TheFileIsLetGoDuringKeyEntryAndItsDirectionKept) {
  ProgramHarness h;
  const std::string original = Content(40'000, 5);
  WriteFile(h.folder.PathOf("m"), original);
  FileRun::Transform(h.platform, "k");
  bool opened_meanwhile = false;
  h.platform.Key(Enter).Type("k").Do([&] {
    const std::vector<std::string> names = h.folder.Names();
    ASSERT_EQ(names.size(), 1u);
    const int other = open(h.folder.PathOf(names[0]).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    opened_meanwhile = other >= 0;
    if (other >= 0) close(other);
    // A plain file that sorts before the selected one.
    WriteFile(h.folder.PathOf("a"), "added while the key was typed");
  });
  h.platform.Wait(1).Key(Enter).Wait(1);
  h.Run();
  EXPECT_TRUE(opened_meanwhile) << "another program's open did not have to wait";
  EXPECT_EQ(h.folder.Names(), (std::vector<std::string>{"a", "m"}));
  EXPECT_EQ(ReadFile(h.folder.PathOf("m")), original) << "decrypted, not encrypted a second time";
  EXPECT_EQ(ReadFile(h.folder.PathOf("a")), "added while the key was typed");
}

// The file is opened again once the key is confirmed: a file changed or
// replaced while the key was typed is not worked on.
TEST(FileWork, AFileChangedDuringKeyEntryIsLeftAlone) {
  struct Case {
    const char* name;
    bool replace;  // another file under the name; otherwise grown
    const char* notice;
  } cases[] = {
      {"grown", false, "Changed elsewhere"},
      {"replaced", true, "File gone"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramHarness h;
    WriteFile(h.folder.PathOf("f"), Content(20'000, 6));
    std::string expected;
    h.platform.Key(Enter).Type("k").Do([&] {
      if (c.replace) {
        WriteFile(h.folder.PathOf("g"), Content(20'000, 7));
        fs::rename(h.folder.PathOf("g"), h.folder.PathOf("f"));
      } else {
        h.folder.Append("f", 100);
      }
      expected = ReadFile(h.folder.PathOf("f"));
    });
    h.platform.Key(Enter).Wait(1);
    h.Run();
    EXPECT_TRUE(h.LastPrint(c.notice));
    EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"f"});
    EXPECT_EQ(ReadFile(h.folder.PathOf("f")), expected);
  }
}

// A wrong key: refused by the stored key check ("Wrong key"), or, without
// one, asked about when the start decrypts to noise ("Key looks wrong":
// Esc stops with nothing changed, Enter goes on).
TEST(FileWork, WrongKeysAreRefusedOrAskedAbout) {
  {
    ProgramHarness h;
    const std::string original = Content(30'000, 8);
    WriteFile(h.folder.PathOf("m"), original);
    std::string encrypted;
    FileRun::Transform(h.platform, "right");
    h.platform.Do([&] { encrypted = ReadFile(h.folder.PathOf(h.folder.Names()[0])); });
    FileRun::Transform(h.platform, "wrong");
    h.Run();
    const auto notice = h.LastPrint("Wrong key");
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->foreground, Brown);
    const std::vector<std::string> names = h.folder.Names();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_TRUE(HasEncryptedSuffixShape(names[0]));
    EXPECT_EQ(ReadFile(h.folder.PathOf(names[0])), encrypted);
  }
  // A plain text file whose name merely looks encrypted: no check, and
  // "decrypting" it gives noise.
  std::string prose;
  for (int i = 0; prose.size() < 5000; ++i) prose += "line " + std::to_string(i) + " of the minutes\n";
  for (const bool go_on : {false, true}) {
    SCOPED_TRACE(go_on ? "Enter goes on" : "Esc stops");
    ProgramHarness h;
    WriteFile(h.folder.PathOf("notes 1234567["), prose);
    FileRun::Transform(h.platform, "k");
    h.platform.Key(go_on ? Enter : Escape).Wait(1);
    h.Run();
    EXPECT_TRUE(h.LastPrint(KeyLooksWrongAsked));
    EXPECT_EQ(Caption(h.State().Mode), "scroll");
    if (go_on) {
      EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"notes"});
      EXPECT_NE(ReadFile(h.folder.PathOf("notes")), prose);
    } else {
      EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"notes 1234567["});
      EXPECT_EQ(ReadFile(h.folder.PathOf("notes 1234567[")), prose);
    }
  }
}

// Enter on a file the window decrypted: the same key gives the former
// encryption back, byte for byte and by name, and says so; another key is
// asked about first, since it would make the decryption final.
TEST(FileWork, EncryptingADecryptedFileAgainRestoresOrAsks) {
  const std::string original = Content(30'000, 9);
  for (const bool same_key : {true, false}) {
    SCOPED_TRACE(same_key ? "the same key" : "another key, Esc");
    ProgramHarness h;
    WriteFile(h.folder.PathOf("m"), original);
    std::string former_name;
    std::string former;
    FileRun::Transform(h.platform, "right");
    h.platform.Do([&] {
      former_name = h.folder.Names()[0];
      former = ReadFile(h.folder.PathOf(former_name));
    });
    FileRun::Transform(h.platform, "right");
    FileRun::Transform(h.platform, same_key ? "right" : "other");
    if (!same_key) h.platform.Key(Escape);
    h.platform.Wait(1);
    h.Run();
    if (same_key) {
      EXPECT_TRUE(h.LastPrint("Former encryption restored"));
      EXPECT_EQ(h.folder.Names(), std::vector<std::string>{former_name});
      EXPECT_EQ(ReadFile(h.folder.PathOf(former_name)), former);
    } else {
      const std::string_view question = OtherKeyQuestion(h.State());
      EXPECT_TRUE(h.LastPrint(std::string(question)));
      EXPECT_LE(LeftMargin + h.Paint().MeasureText(question).width, ProgramHarness::Area.width);
      EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"m"});
      EXPECT_EQ(ReadFile(h.folder.PathOf("m")), original);
    }
  }
}

// The question is not answered by keys pressed before it could be read: an
// Enter pressed twice, or held down, is dropped; an Esc stops at once.
TEST(FileWork, KeyLooksWrongIsNotAnsweredByKeysTypedAhead) {
  std::string prose;
  for (int i = 0; prose.size() < 5000; ++i) prose += "line " + std::to_string(i) + " of the minutes\n";
  for (const std::string& ahead : {Enter, Enter + Enter, Escape}) {
    SCOPED_TRACE(ahead == Escape ? "Esc" : std::to_string(ahead.size()) + " Enter");
    ProgramHarness h;
    WriteFile(h.folder.PathOf("notes 1234567["), prose);
    h.platform.Key(Enter).Type("k").Key(Enter);
    for (const char key : ahead) h.platform.KeyAhead(std::string(1, key));
    h.platform.Wait(1);
    h.Run();
    EXPECT_TRUE(h.LastPrint(KeyLooksWrongAsked));
    EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"notes 1234567["});
    EXPECT_EQ(ReadFile(h.folder.PathOf("notes 1234567[")), prose);
  }
}

// A file with a second name is neither encrypted nor erased: the other
// name would be left with ciphertext, or with filler.
TEST(FileWork, AFileWithASecondNameIsLeftAlone) {
  for (const bool erase : {false, true}) {
    SCOPED_TRACE(erase ? "erase" : "encrypt");
    ProgramHarness h;
    const std::string original = Content(20'000, 9);
    WriteFile(h.folder.PathOf("a"), original);
    h.folder.Link("a", "b");
    if (erase) {
      h.platform.Key(Del).Key(Del).Wait(1);
    } else {
      FileRun::Transform(h.platform, "k");
    }
    h.Run();
    const auto notice = h.LastPrint("Linked elsewhere");
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->foreground, Brown);
    EXPECT_EQ(h.folder.Names(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(ReadFile(h.folder.PathOf("a")), original);
  }
}

// Secure erase: the second Del overwrites and deletes; the selection moves
// back by one unless it was the first entry.
TEST(Erase, SecondDelErasesAndSelectionMovesBack) {
  struct Case {
    const char* name;
    int select;  // 1-based entry to erase
    std::size_t size;
    int selected_after;
  } cases[] = {
      {"first of three, one byte", 1, 1, 1},
      {"second of three, two blocks", 2, 20'000, 1},
      {"last of three", 3, 5, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramHarness h;
    const std::string names[] = {"a", "b", "c"};
    for (const std::string& name : names) WriteFile(h.folder.PathOf(name), Content(c.size));
    for (int i = 1; i < c.select; ++i) h.platform.Key(Down);
    h.platform.Key(Del).Key(Del).Wait(1);
    h.Run();
    std::vector<std::string> left(std::begin(names), std::end(names));
    left.erase(left.begin() + (c.select - 1));
    EXPECT_EQ(h.folder.Names(), left);
    EXPECT_EQ(h.State().Browser.SelectedIndex, c.selected_after);
    EXPECT_TRUE(h.LastPrint("Erased"));
    EXPECT_EQ(h.State().FileCount(), 2);
  }
}

TEST(Erase, OnScreenDelKeyConfirms) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("a"), "1");
  WriteFile(h.folder.PathOf("b"), "2");
  h.platform.Click(IconRowCentre(icon::Keyboard)).Wait(1).Key(Del).Click(780, 270).Wait(1);
  h.Run();
  EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"b"});
}

TEST(Erase, ErasingTheOnlyFileEndsAfterEmptyFolder) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("only"), Content(300));
  h.platform.Key(Del).Key(Del).Wait(5000).Key("never read");
  EXPECT_EQ(h.Run(), 0);
  EXPECT_TRUE(h.folder.Names().empty());
  EXPECT_TRUE(h.LastPrint("Empty folder"));
  EXPECT_FALSE(h.platform.ScriptDone());
}

TEST(Erase, FileHeldElsewhereIsNotErased) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("a"), "held");
  WriteFile(h.folder.PathOf("b"), "other");
  const int holder = open(h.folder.PathOf("a").c_str(), O_RDONLY | O_CLOEXEC);
  h.platform.Key(Del).Key(Del).Wait(1);
  h.Run();
  close(holder);
  EXPECT_TRUE(h.LastPrint("Already open"));
  EXPECT_EQ(ReadFile(h.folder.PathOf("a")), "held");
}

// ---------------------------------------------------------------------------
// One key press, one action: a key held down (a burst of the keyboard's
// repeats), keys typed during a notice, and Esc during an erase.

int CountPrints(const ProgramHarness& h, const std::string& text) {
  const std::vector<TextLogEntry> printed = h.Printed();
  return static_cast<int>(
      std::count_if(printed.begin(), printed.end(), [&](const TextLogEntry& e) { return e.text == text; }));
}

// Del held: its repeats never confirm the erase, whatever comes of the first
// press; only a Del pressed anew (after a release) does, and a held second
// Del erases that one file and no other.
TEST(OnePress, DelHeldErasesAtMostTheOneFile) {
  struct Case {
    const char* name;
    bool del_first;  // a Del pressed and released before the held one
    std::size_t left;
  } cases[] = {
      {"Del held: the prompt only", false, 5},
      {"Del, then Del held: one file", true, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramHarness h;
    for (const char* name : {"a", "b", "c", "d", "e"}) WriteFile(h.folder.PathOf(name), Content(20'000));
    if (c.del_first) h.platform.Key(Del);
    h.platform.KeyHeld(Del, 30);
    // The key still held while "Erased" is shown, and after it.
    for (int i = 0; i < 5; ++i) h.platform.KeyDuringPause(Del, true);
    h.platform.Wait(1);
    for (int i = 0; i < 5; ++i) h.platform.KeyDuringPause(Del, true);
    h.platform.Wait(1);
    h.Run();
    EXPECT_EQ(h.folder.Names().size(), c.left);
    EXPECT_LE(CountPrints(h, "Erased"), 1);
  }
}

// Enter held on a file another program holds: one "Already open", however
// many repeats come during the notice or after it.
TEST(OnePress, EnterHeldOnARefusalGivesOneNotice) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("held"), "held content");
  const int holder = open(h.folder.PathOf("held").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  h.platform.KeyHeld(Enter, 10);
  for (int i = 0; i < 10; ++i) h.platform.KeyDuringPause(Enter, true);
  h.platform.Wait(1);
  for (int i = 0; i < 10; ++i) h.platform.KeyDuringPause(Enter, true);
  h.platform.Wait(1);
  h.Run();
  close(holder);
  EXPECT_EQ(CountPrints(h, "Already open"), 1);
  EXPECT_EQ(h.platform.Beeps(), 1);
  EXPECT_EQ(Caption(h.State().Mode), "scroll");
}

// Keys and clicks that come while a notice is shown are dropped, and the
// notice keeps its time; a key pressed after it acts.
TEST(OnePress, KeysTypedDuringANoticeAreDropped) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("a"), "held");
  WriteFile(h.folder.PathOf("b"), "two");
  WriteFile(h.folder.PathOf("c"), "three");
  const int holder = open(h.folder.PathOf("a").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  int selected_after_notice = 0;
  h.platform.Key(Enter)
      .KeyDuringPause(Down)
      .KeyDuringPause(Enter)
      .ClickDuringPause(IconRowCentre(icon::Help))
      .Wait(1)
      .Do([&] { selected_after_notice = h.State().Browser.SelectedIndex; })
      .Key(Down)
      .Wait(1);
  h.Run();
  close(holder);
  EXPECT_EQ(CountPrints(h, "Already open"), 1);
  EXPECT_EQ(selected_after_notice, 1) << "Down during the notice moved the selection";
  EXPECT_FALSE(h.State().Help.Shown) << "the click during the notice acted";
  EXPECT_EQ(h.State().Browser.SelectedIndex, 2) << "Down after the notice acts";
  EXPECT_EQ(h.platform.DroppedKeys(), 2);
  EXPECT_EQ(h.platform.DroppedClicks(), 1);
  int alert_waits = 0;
  for (const HeadlessPlatform::WaitRecord& record : h.platform.WaitLog()) {
    if (record.kind == HeadlessPlatform::WaitKind::Paused) {
      EXPECT_EQ(record.milliseconds, AlertMilliseconds) << "the notice's time changed";
      ++alert_waits;
    }
  }
  EXPECT_EQ(alert_waits, 1);
}

// Esc during an erase says what became of the file: untouched ("Not
// erased"), or kept and partly overwritten, in the alert form.
TEST(OnePress, EscDuringEraseShowsItsNotice) {
  struct Case {
    const char* name;
    int polls_first;  // blocks done before the Esc
    std::string_view notice;
    bool as_before;
  } cases[] = {
      {"at the first block", 0, "Not erased", true},
      {"part-way", 20, PartlyOverwrittenNotice, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramHarness h;
    const std::string original = Content(2 * 1024 * 1024, 11);
    WriteFile(h.folder.PathOf("big"), original);
    WriteFile(h.folder.PathOf("other"), "other");
    h.platform.Key(Del).Key(Del).KeyDuringProgress(Escape, c.polls_first).Wait(1);
    h.Run();
    const auto notice = h.LastPrint(std::string(c.notice));
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->foreground, Brown);
    EXPECT_EQ(notice->y, StatusY);
    EXPECT_EQ(h.platform.Beeps(), 1);
    EXPECT_EQ(h.folder.Names(), (std::vector<std::string>{"big", "other"}));
    const std::string now = ReadFile(h.folder.PathOf("big"));
    EXPECT_EQ(now.size(), original.size());
    EXPECT_EQ(now == original, c.as_before);
    EXPECT_EQ(Caption(h.State().Mode), "scroll");
  }
}

// An Enter held down from the confirmed key never answers "Key looks
// wrong", however long it is held: only a fresh Enter would.
TEST(OnePress, KeyLooksWrongIsNotAnsweredByAHeldEnter) {
  std::string prose;
  for (int i = 0; prose.size() < 5000; ++i) prose += "line " + std::to_string(i) + " of the minutes\n";
  ProgramHarness h;
  WriteFile(h.folder.PathOf("notes 1234567["), prose);
  h.platform.Key(Enter).Type("k").KeyHeld(Enter, 5);
  for (int i = 0; i < 5; ++i) h.platform.KeyDuringPause(Enter, true);  // during the alert's time
  h.platform.Wait(1);
  for (int i = 0; i < 5; ++i) h.platform.KeyDuringPause(Enter, true);  // after it
  h.platform.Wait(1);
  bool still_asked = false;
  h.platform.Do([&] { still_asked = h.State().Mode == ScreenMode::Decrypting; }).Key(Escape).Wait(1);
  h.Run();
  EXPECT_TRUE(h.LastPrint(KeyLooksWrongAsked));
  EXPECT_TRUE(still_asked);
  EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"notes 1234567["});
  EXPECT_EQ(ReadFile(h.folder.PathOf("notes 1234567[")), prose);
}

// The question names its answer and fits the status band of the window.
TEST(OnePress, KeyLooksWrongFitsTheStatusBand) {
  ProgramHarness h;
  WriteFile(h.folder.PathOf("f"), "x");
  h.Run();
  const std::string_view question = KeyLooksWrongQuestion(h.State());
  EXPECT_EQ(question, KeyLooksWrongAsked);
  EXPECT_LE(LeftMargin + h.Paint().MeasureText(question).width, ProgramHarness::Area.width);
}

}  // namespace
}  // namespace quorvant::testing
