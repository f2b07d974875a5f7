// Browsing through the whole program: keys, icons, the erase prompt, and a
// folder that other programs change underneath.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/program_harness.h"

namespace quorvant::testing {
namespace {

std::string ShownName(ProgramHarness& h) {
  const AppState& s = h.State();
  return h.LastTextAt(s.Layout.FileValueX, 200 - 3 * s.Layout.LineHeight);
}

TEST(Browse, ArrowKeysMoveAndShowNameInItsColour) {
  ProgramHarness h;
  h.folder.Write("a.txt", 3);
  h.folder.Write("b.txt 1234567[", 4);
  std::string first, second;
  Colour second_colour = -1;
  h.platform.Wait(1).Do([&] { first = ShownName(h); }).Key(Down).Wait(1).Do([&] {
    second = ShownName(h);
    second_colour = h.LastPrint("b.txt")->foreground;
  });
  h.Run();
  EXPECT_EQ(first, "a.txt");
  EXPECT_EQ(second, "b.txt");
  EXPECT_EQ(second_colour, Brown);
  EXPECT_EQ(h.State().Browser.SelectedIndex, 2);
}

TEST(Browse, DelThenUpCancelsTheEraseAndMovesUp) {
  ProgramHarness h;
  h.folder.Write("a", 1);
  h.folder.Write("b", 1);
  std::string mode_at_prompt;
  h.platform.Key(Down).Key(Del).Wait(1).Do([&] { mode_at_prompt = Caption(h.State().Mode); }).Key(Up).Wait(1);
  h.Run();
  EXPECT_EQ(mode_at_prompt, "Erasing ");
  const auto prompt = h.LastPrint("Delete");
  ASSERT_TRUE(prompt);
  EXPECT_EQ(prompt->foreground, Brown);
  EXPECT_EQ(prompt->x, 20);
  EXPECT_EQ(prompt->y, 200);
  EXPECT_EQ(h.State().Browser.SelectedIndex, 1);
  EXPECT_EQ(Caption(h.State().Mode), "scroll");
  EXPECT_TRUE(std::filesystem::exists(h.folder.PathOf("b")));
}

TEST(Browse, DelThenEscapeOnlyCancels) {
  ProgramHarness h;
  h.folder.Write("a", 1);
  h.folder.Write("b", 1);
  h.platform.Key(Down).Key(Del).Key(Escape).Wait(1);
  h.Run();
  EXPECT_EQ(h.State().Browser.SelectedIndex, 2);
  EXPECT_EQ(Caption(h.State().Mode), "scroll");
  EXPECT_TRUE(std::filesystem::exists(h.folder.PathOf("a")));
  EXPECT_TRUE(std::filesystem::exists(h.folder.PathOf("b")));
}

// The Encrypted icon has no keyboard twin: a typed F finds by first letter.
TEST(Browse, EncryptedIconWithoutEncryptedFilesShowsNoticeForOneSecond) {
  ProgramHarness h;
  h.folder.Write("apple", 1);
  h.folder.Write("File.txt", 1);
  std::int64_t before = 0, after = 0;
  h.platform.Do([&] { before = h.clock.SleptMilliseconds(); })
      .Click(IconRowCentre(icon::Encrypted))
      .Wait(1)
      .Do([&] { after = h.clock.SleptMilliseconds(); })
      .Key("F")
      .Wait(1);
  h.Run();
  const auto notice = h.LastPrint("No encrypted files");
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->x, 20);
  EXPECT_EQ(notice->y, 200);
  EXPECT_EQ(notice->foreground, Grey);
  EXPECT_GE(after - before, 1000);
  EXPECT_LT(after - before, 1000 + 100 + 3 * 24) << "press flash, the notice, and a cycle or two";
  EXPECT_EQ(h.State().Browser.SelectedIndex, 2) << "F found File.txt";
  EXPECT_EQ(h.Pixel(25, 205), Black) << "the notice was cleared";
}

TEST(Browse, EncryptedIconJumpsToNextEncryptedFile) {
  ProgramHarness h;
  h.folder.Write("a", 1);
  h.folder.Write("b 1234567[", 1);
  h.folder.Write("c", 1);
  h.folder.Write("d 7654321[", 1);
  std::vector<int> selections;
  auto record = [&] { selections.push_back(h.State().Browser.SelectedIndex); };
  for (int i = 0; i < 3; ++i) h.platform.Click(IconRowCentre(icon::Encrypted)).Wait(1).Do(record);
  h.Run();
  EXPECT_EQ(selections, (std::vector<int>{2, 4, 2}));
}

TEST(Browse, FolderChangesByOtherProgramsShowWithinOneCycle) {
  ProgramHarness h;
  h.folder.Write("b.txt", 10);
  int count_after_create = 0;
  std::string name_after_rename;
  h.platform.Do([&] { h.folder.Write("c.txt", 5); })
      .Wait(FolderWatch::QuietMs)
      .Do([&] { count_after_create = h.State().FileCount(); })
      .Do([&] { h.folder.Rename("b.txt", "a.txt"); })
      .Wait(FolderWatch::QuietMs)
      .Do([&] { name_after_rename = ShownName(h); })
      .Do([&] { h.folder.Remove("a.txt"); })
      .Wait(FolderWatch::QuietMs);
  h.Run();
  EXPECT_EQ(count_after_create, 2);
  EXPECT_EQ(name_after_rename, "a.txt");
  EXPECT_EQ(h.State().FileCount(), 1);
  EXPECT_EQ(ShownName(h), "c.txt") << "the selection follows the folder when it shrinks";
}

TEST(Browse, EmptiedFolderEndsAfterNotice) {
  ProgramHarness h;
  h.folder.Write("only", 4);
  std::int64_t before = 0;
  // The keyboard leaves a black foreground behind: the notice must not use it.
  h.platform.Click(IconRowCentre(icon::Keyboard))
      .Wait(1)
      .Do([&] {
        before = h.clock.SleptMilliseconds();
        h.folder.Remove("only");
      })
      .Wait(10'000)
      .Key("never read");
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(h.Run(), 0);
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("quorvant: " + h.State().CurrentFolder + ": Empty folder\n"), std::string::npos)
      << errors;
  const auto notice = h.LastPrint("Empty folder");
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->foreground, Brown);
  EXPECT_EQ(notice->x, 20);
  EXPECT_EQ(notice->y, 200 - 3 * h.State().Layout.LineHeight);
  EXPECT_EQ(h.platform.Beeps(), 1);
  EXPECT_GE(h.clock.SleptMilliseconds() - before, 2500);
  EXPECT_LT(h.clock.SleptMilliseconds() - before, 2500 + 2 * 24);
  EXPECT_FALSE(h.platform.ScriptDone()) << "the program ended by itself";
}

// Screens hand control back to the one main loop: going round Statistics ->
// List file -> Statistics many times leaves the stack as deep as it was.
TEST(MainLoop, MovingBetweenScreensDoesNotGrowTheStack) {
  ProgramHarness h;
  h.folder.Write("f", 300);
  std::vector<std::uintptr_t> in_statistics, in_viewer;
  std::vector<std::string> modes;
  auto depth = [] { return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)); };
  for (int round = 0; round < 40; ++round) {
    h.platform.Click(IconRowCentre(icon::Statistics)).Do([&] {
      in_statistics.push_back(depth());
      modes.emplace_back(Caption(h.State().Mode));
    });
    h.platform.Click(IconRowCentre(icon::ListFile)).Do([&] {
      in_viewer.push_back(depth());
      modes.push_back(h.State().Viewer.Shown ? "viewer" : "no viewer");
    });
  }
  h.Run();
  ASSERT_EQ(in_statistics.size(), 40u);
  ASSERT_EQ(in_viewer.size(), 40u);
  for (std::size_t i = 0; i < modes.size(); ++i) {
    EXPECT_EQ(modes[i], i % 2 == 0 ? "statistics" : "viewer") << "step " << i;
  }
  for (std::size_t round = 1; round < 40; ++round) {
    EXPECT_EQ(in_statistics[round], in_statistics[0]) << "round " << round;
    EXPECT_EQ(in_viewer[round], in_viewer[0]) << "round " << round;
  }
}

TEST(Browse, StartInEmptyFolderEnds) {
  ProgramHarness h;
  h.folder.MakeFolder("sub");
  h.folder.Write(".hidden", 3);
  EXPECT_EQ(h.Run(), 0);
  EXPECT_TRUE(h.LastPrint("Empty folder"));
}

}  // namespace
}  // namespace quorvant::testing
