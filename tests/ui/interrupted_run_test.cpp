// A file whose run was cut short, in the window: selecting it shows the
// "Interrupted" notice; Enter and the run's key finish the run with the usual
// progress; a wrong key gets "Wrong key" and changes nothing.

#include "tests/support/interrupted_run.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/encrypted_name.h"
#include "rewrite/journal_format.h"
#include "tests/support/program_harness.h"

namespace quorvant::testing {
namespace {

constexpr char Key[] = "window key";
const EncryptedSuffix Suffix = {' ', 'w', 'I', 'n', '9', '-', '=', '0', '['};
const std::string SuffixText(Suffix.begin(), Suffix.end());

std::vector<std::uint8_t> Encrypted(std::vector<std::uint8_t> data) {
  KeyWords words = BuildKeyWords(Key, Suffix);
  for (std::size_t at = 0; at < data.size(); at += MaxBlockLength) {
    TransformBlock(std::span(data).subspan(at, std::min<std::size_t>(data.size() - at, MaxBlockLength)),
                   MaxBlockLength, Direction::Encrypt, words);
  }
  return data;
}

// "plain.txt" untouched, and "z.txt" encrypted half-way when its run was killed.
struct InterruptedFolder : ProgramHarness {
  InterruptedFolder() {
    folder.Write("plain.txt", PatternBytes(3000, 1));
    folder.Write("z.txt", content);
    InterruptRun(folder, "z.txt", Direction::Encrypt, Suffix, Key, 6);
    names = folder.Names();
    torn = folder.Read("z.txt" + SuffixText);
  }
  int NoticesAt(const std::string& text) const {
    int count = 0;
    for (const TextLogEntry& entry : Printed()) {
      if (entry.text == text && entry.x == LeftMargin && entry.y == StatusY && entry.foreground == Brown)
        ++count;
    }
    return count;
  }

  const std::vector<std::uint8_t> content = PatternBytes(5 * MaxBlockLength + 321, 4);
  std::vector<std::string> names;
  std::vector<std::uint8_t> torn;
};

// Del, Del on the half-done file erases it with its journal, which holds
// part of its content, and says so.
TEST(InterruptedRun, EraseTakesTheJournalWithTheFile) {
  InterruptedFolder h;
  h.platform.Wait(1).Key(Down).Wait(1).Key(Del).Key(Del).Wait(1);
  h.Run();
  EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"plain.txt"});
  EXPECT_TRUE(h.LastPrint("Erased with its journal"));
}

TEST(InterruptedRun, SelectingTheFileShowsTheNoticeAndEnterWithTheKeyFinishesIt) {
  InterruptedFolder h;
  ASSERT_EQ(h.names.size(), 3u) << "the file, the other file and the journal";
  int beeps_before_enter = 0;
  int notices_before_enter = 0;
  h.platform.Wait(1)
      .Key(Down)  // onto z.txt
      .Wait(1)
      .Do([&] {
        beeps_before_enter = h.platform.Beeps();
        notices_before_enter = h.NoticesAt("Interrupted");
      })
      .Key(Enter)
      .Type(Key)
      .Key(Enter)
      .Wait(1);
  h.Run();
  EXPECT_EQ(notices_before_enter, 1);
  EXPECT_EQ(beeps_before_enter, 1);
  EXPECT_TRUE(h.LastPrint("Encrypting"));
  // The usual progress, from where the run was cut short (four of six blocks done).
  EXPECT_TRUE(h.LastPrint(" 79%"));
  EXPECT_TRUE(h.LastPrint(" 99%"));
  EXPECT_EQ(h.folder.Names(), (std::vector<std::string>{"plain.txt", "z.txt" + SuffixText}));
  EXPECT_EQ(h.folder.Read("z.txt" + SuffixText), Encrypted(h.content));
  EXPECT_EQ(h.folder.Read("plain.txt"), PatternBytes(3000, 1));
}

TEST(InterruptedRun, AWrongKeyIsRefusedAndChangesNothing) {
  InterruptedFolder h;
  const std::string journal = h.names[0].starts_with(JournalNamePrefix) ? h.names[0] : h.names[1];
  const std::vector<std::uint8_t> journal_bytes = h.folder.Read(journal);
  h.platform.Wait(1).Key(Down).Wait(1).Key(Enter).Type("window kez").Key(Enter).Wait(1);
  h.Run();
  EXPECT_EQ(h.NoticesAt("Wrong key"), 1);
  EXPECT_EQ(h.platform.Beeps(), 2) << "the Interrupted notice, then Wrong key";
  EXPECT_EQ(h.folder.Names(), h.names);
  EXPECT_EQ(h.folder.Read("z.txt" + SuffixText), h.torn);
  EXPECT_EQ(h.folder.Read(journal), journal_bytes);
  EXPECT_TRUE(h.State().KeyEntry.TypedKey.Empty());
}

}  // namespace
}  // namespace quorvant::testing
