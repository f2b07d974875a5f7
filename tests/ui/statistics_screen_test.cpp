// The statistics screen through the whole program: figures, the byte table
// and its keys, closing by icons.

#include "ui/statistics_screen.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/program_harness.h"

namespace quorvant::testing {
namespace {

void WriteAllValues(TempFolder& folder, const std::string& name) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  std::ofstream(folder.PathOf(name), std::ios::binary) << bytes;
}

TEST(StatisticsTable, KeysMoveTheFirstRowWithinLimits) {
  struct Case {
    const char* name;
    int from;
    std::string key;
    int to;
  } cases[] = {
      {"End then Down stays", 246, Down, 246},
      {"Page Down from 240", 240, PgDn, 246},
      {"Home then Up stays", 0, Up, 0},
      {"Delete shows DEL", 10, Del, 127},
      {"a letter is its code", 0, "A", 65},
      {"a code above 246", 0, "\xfa", 246},
      {"Enter is code 13", 50, "\r", 13},
      {"End", 3, End, 246},
      {"Home", 99, Home, 0},
      {"Left moves nothing", 7, Left, 7},
      {"no key", 7, "", 7},
  };
  for (const Case& c : cases) EXPECT_EQ(MoveTableTop(c.from, c.key), c.to) << c.name;
}

TEST(StatisticsScreen, ShowsFiguresAndTableRows) {
  ProgramHarness h;
  WriteAllValues(h.folder, "all.bin");
  h.platform.Click(IconRowCentre(icon::Statistics)).Wait(1).Key("A").Wait(1);
  h.Run();
  const AppState& s = h.State();
  const auto entropy = h.LastPrint("Entropy");
  ASSERT_TRUE(entropy);
  EXPECT_EQ(entropy->x, 20);
  EXPECT_EQ(entropy->y, 200);
  EXPECT_TRUE(h.LastPrint("8.000000"));
  EXPECT_TRUE(h.LastPrint("127.5000"));
  const auto expected = h.LastPrint("Expected value");
  ASSERT_TRUE(expected);
  EXPECT_EQ(expected->y, 200 + 10 * s.Layout.LineHeight);
  EXPECT_TRUE(h.LastPrint("Observed  Binary        Hex Dec  Code"));

  // Typing A shows rows 65 to 74; the first row reads 01000001, 41, 65, A.
  const int first_row = 200 + s.Layout.LineHeight;
  EXPECT_EQ(h.LastTextAt(382, first_row), "01000001");
  EXPECT_EQ(h.LastTextAt(465, first_row), "41");
  EXPECT_EQ(h.LastTextAt(535, first_row), "A");
  const std::string decimal = " 65";
  EXPECT_EQ(h.LastTextAt(523 - h.Paint().MeasureText(decimal).width, first_row), " 65");
  const std::string count = "1";
  EXPECT_EQ(h.LastTextAt(370 - h.Paint().MeasureText(count).width, first_row), "1") << "right-aligned at 370";
  EXPECT_EQ(h.LastTextAt(535, 200 + 10 * s.Layout.LineHeight), "J");
  EXPECT_EQ(s.Statistics.TableTop, 65);
  EXPECT_EQ(Caption(s.Mode), "statistics");
}

TEST(StatisticsScreen, DeleteShowsTheDelRowAndReopeningKeepsTheRow) {
  ProgramHarness h;
  WriteAllValues(h.folder, "all.bin");
  std::string name_after_delete;
  h.platform.Click(IconRowCentre(icon::Statistics))
      .Wait(1)
      .Key(Del)
      .Wait(1)
      .Do([&] { name_after_delete = h.LastTextAt(535, 200 + h.State().Layout.LineHeight); })
      .Click(IconRowCentre(icon::Statistics))  // closes
      .Wait(1)
      .Do([&] { h.ForgetPrints(); })
      .Click(IconRowCentre(icon::Statistics))  // opens again
      .Wait(1);
  h.Run();
  EXPECT_EQ(name_after_delete, "DEL (Delete)");
  EXPECT_EQ(h.LastTextAt(382, 200 + h.State().Layout.LineHeight), "01111111") << "reopened on row 127";
  EXPECT_TRUE(h.State().Statistics.Shown);
}

TEST(StatisticsScreen, StatisticsIconClosesItBackToBrowsing) {
  ProgramHarness h;
  WriteAllValues(h.folder, "all.bin");
  Colour table_pixel_after = -1;
  h.platform.Click(IconRowCentre(icon::Statistics))
      .Wait(1)
      .Click(IconRowCentre(icon::Statistics))
      .Wait(1)
      .Do([&] { table_pixel_after = h.Pixel(300, 205); });
  h.Run();
  EXPECT_FALSE(h.State().Statistics.Shown);
  EXPECT_EQ(Caption(h.State().Mode), "scroll");
  EXPECT_EQ(table_pixel_after, Black);
}

TEST(StatisticsScreen, LargeFileShowsProgressAndEscapeAbandons) {
  ProgramHarness h;
  std::ofstream(h.folder.PathOf("big"), std::ios::binary) << std::string(100'000, 'q');
  h.platform.Click(IconRowCentre(icon::Statistics)).KeyDuringProgress("\x1b", 2).Wait(1);
  h.Run();
  EXPECT_TRUE(h.LastPrint("Statisting"));
  EXPECT_TRUE(h.LastPrint(" 0%"));
  EXPECT_FALSE(h.LastPrint("Entropy")) << "no figures after Esc";
  EXPECT_EQ(Caption(h.State().Mode), "scroll");
  EXPECT_FALSE(h.State().Work.File1.has_value());
}

TEST(StatisticsScreen, EncryptedIconClosesAndJumps) {
  ProgramHarness h;
  WriteAllValues(h.folder, "a");
  WriteAllValues(h.folder, "b 1234567[");
  h.platform.Click(IconRowCentre(icon::Statistics)).Wait(1).Click(IconRowCentre(icon::Encrypted)).Wait(1);
  h.Run();
  EXPECT_EQ(h.State().Browser.SelectedIndex, 2);
  EXPECT_FALSE(h.State().Statistics.Shown);
}

}  // namespace
}  // namespace quorvant::testing

namespace quorvant::testing {
namespace {

TEST(StatisticsScreen, ListFileClosesItAndOpensTheViewerOnTheSameFile) {
  ProgramHarness h;
  WriteAllValues(h.folder, "all.bin");
  bool viewer_shown = false, statistics_shown = true;
  h.platform.Click(IconRowCentre(icon::Statistics))
      .Wait(1)
      .Click(IconRowCentre(icon::ListFile))
      .Wait(1)
      .Do([&] {
        viewer_shown = h.State().Viewer.Shown;
        statistics_shown = h.State().Statistics.Shown;
      });
  h.Run();
  EXPECT_TRUE(viewer_shown);
  EXPECT_FALSE(statistics_shown);
  EXPECT_TRUE(h.LastPrint("From"));
  EXPECT_EQ(h.State().Viewer.ColumnCount, (ProgramHarness::Area.width - 48) / 24);
}

}  // namespace
}  // namespace quorvant::testing
