// Start-up and the fixed panels, driven through the whole program on the
// headless platform.

#include <gtest/gtest.h>

#include "tests/support/program_harness.h"
#include "ui/panels.h"

namespace quorvant::testing {
namespace {

constexpr int IconTop = IconRowPosition(0).y;
int IconLeft(int button) { return IconRowPosition(button).x; }

TEST(StartUp, DrawsHeaderRowsFolderAndSelectedFile) {
  ProgramHarness h;
  h.folder.Write("report.txt", 1'200'005);
  ASSERT_EQ(h.Run(), 0);

  EXPECT_EQ(h.platform.Caption(), "Quorvant");
  EXPECT_EQ(h.platform.WindowX(), -3);
  EXPECT_EQ(h.platform.WindowY(), 0);

  const AppState& s = h.State();
  ASSERT_EQ(s.Layout.LineHeight, 18);
  const auto folder = h.LastPrint("Folder");
  const auto file = h.LastPrint("File");
  const auto size = h.LastPrint("Size");
  ASSERT_TRUE(folder && file && size);
  EXPECT_EQ(folder->y, 200 - 4 * s.Layout.LineHeight);
  EXPECT_EQ(file->y, 200 - 3 * s.Layout.LineHeight);
  EXPECT_EQ(size->y, 200 - 2 * s.Layout.LineHeight);
  for (const auto& label : {*folder, *file, *size}) {
    EXPECT_EQ(label.x, 20);
    EXPECT_EQ(label.foreground, Grey);
  }

  // The folder's full path follows its label on the same row.
  const auto path = h.LastPrint(s.CurrentFolder);
  ASSERT_TRUE(path);
  EXPECT_EQ(path->y, folder->y);
  EXPECT_EQ(path->x, 20 + h.Paint().MeasureText("Folder ").width) << "printed right after the label";
  EXPECT_EQ(path->foreground, DarkGrey);

  EXPECT_EQ(h.LastTextAt(s.Layout.FileValueX, file->y), "report.txt");
  EXPECT_EQ(h.LastTextAt(s.Layout.SizeValueX, size->y), "1 200 005");
  EXPECT_EQ(s.Layout.FileValueX, (h.Paint().MeasureText("File ").width + 20) % 256);
  EXPECT_EQ(s.Layout.SizeValueX, (h.Paint().MeasureText("Size ").width + 20) % 256);
}

TEST(StartUp, IconButtonsHaveLavenderFrameBlackRingAndOpenPadlock) {
  ProgramHarness h;
  h.folder.Write("plain.txt", 10);
  h.Run();
  for (int button = 0; button < 7; ++button) {
    const int x = IconLeft(button);
    SCOPED_TRACE(button);
    EXPECT_EQ(h.Pixel(x, IconTop), Lavender);
    EXPECT_EQ(h.Pixel(x + 19, IconTop + 19), Lavender);
    EXPECT_EQ(h.Pixel(x + 20, IconTop + 20), Black) << "half-open: the far edges stay unpainted";
    EXPECT_EQ(h.Pixel(x + 1, IconTop + 1), Black) << "the inner ring";
    EXPECT_EQ(h.Pixel(x + 18, IconTop + 10), Black);
    EXPECT_EQ(h.Pixel(x + 2, IconTop + 2), DarkGrey) << "the face";
  }
  // A plain file opens the padlock's shackle.
  EXPECT_EQ(h.Pixel(IconLeft(0) + 6, IconTop + 7), DarkGrey);
  // The key is shown: the indicator square is filled.
  EXPECT_EQ(h.Pixel(IconLeft(2) + 10, IconTop + 10), DarkGrey);
}

TEST(StartUp, TwoStartsDifferOnlyInTheLogoSpeckle) {
  TempFolder folder;
  folder.Write("same.txt", 5);
  auto render = [&](std::int64_t time_ms) {
    ProgramHarness h;
    h.clock.Set(time_ms);
    h.RunIn(folder.Path());
    std::vector<Colour> pixels;
    for (int y = 0; y < 400; ++y) {
      for (int x = 0; x < ProgramHarness::Area.width; ++x) pixels.push_back(h.Pixel(x, y));
    }
    return pixels;
  };
  const std::vector<Colour> first = render(1000);
  const std::vector<Colour> second = render(2000);
  int differing = 0;
  for (int y = 0; y < 400; ++y) {
    for (int x = 0; x < ProgramHarness::Area.width; ++x) {
      const size_t i = static_cast<size_t>(y) * ProgramHarness::Area.width + x;
      if (first[i] == second[i]) continue;
      ++differing;
      ASSERT_TRUE(x >= 20 && x <= 207 && y >= 30 && y <= 82)
          << "difference outside the logo at " << x << "," << y;
    }
  }
  EXPECT_GT(differing, 100) << "the speckle should differ between starts";
}

TEST(StartUp, LogoLettersHaveFacesAndSpeckle) {
  ProgramHarness h;
  h.folder.Write("x", 1);
  h.Run();
  int face = 0, grain = 0, highlight = 0;
  for (int y = 30; y < 82; ++y) {
    for (int x = 20; x < 208; ++x) {
      const Colour c = h.Pixel(x, y);
      face += c == SlateGrey;
      grain += c == Grey;
      highlight += c == DarkGrey;
    }
  }
  // The speckle turns most of each letter's face grey.
  EXPECT_GT(face + grain, 3000);
  EXPECT_GT(grain, face);
  EXPECT_GT(face, 100);
  EXPECT_GT(highlight, 20);
  EXPECT_EQ(h.Pixel(19, 50), Black);
  EXPECT_EQ(h.Pixel(206 + 3, 50), Black);
}

// The hit test's bounds are strict: a frame's outermost pixels hit nothing.
TEST(IconRow, HitTestHasStrictBounds) {
  ProgramHarness h;
  h.folder.Write("x", 1);
  h.Run();
  struct Case {
    int x, y, button;
  } cases[] = {
      {20, 105, -1}, {21, 105, 0},  {39, 105, 0},   {40, 105, -1},  {30, 95, -1},
      {30, 96, 0},   {30, 114, 0},  {30, 115, -1},  {47, 105, -1},  {48, 105, 1},
      {183, 105, 6}, {201, 105, 6}, {202, 105, -1}, {500, 105, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HitTestIconRow(h.State(), c.x, c.y), c.button) << c.x << "," << c.y;
  }
}

TEST(IconRow, ShowHideClickTogglesIndicatorAndFlashesTheFrame) {
  ProgramHarness h;
  h.folder.Write("x", 1);
  const int x = IconLeft(2);
  Colour after_first = -1, after_second = -1, frame_after = -1;
  std::int64_t before_ms = 0, after_ms = 0;
  h.platform.Do([&] { before_ms = h.clock.SleptMilliseconds(); })
      .Click(x + 10, IconTop + 10)
      .Do([&] {
        after_ms = h.clock.SleptMilliseconds();
        after_first = h.Pixel(x + 10, IconTop + 10);
        frame_after = h.Pixel(x, IconTop);
      })
      .Click(x + 10, IconTop + 10)
      .Do([&] { after_second = h.Pixel(x + 10, IconTop + 10); });
  h.Run();
  EXPECT_EQ(after_first, Black) << "hidden: the square is empty";
  EXPECT_EQ(after_second, DarkGrey);
  EXPECT_EQ(frame_after, Lavender);
  EXPECT_GE(after_ms - before_ms, 100) << "the press flash lasts 100 ms";
  EXPECT_FALSE(h.State().KeyEntry.Hidden);
}

TEST(Panels, SizeMaskGroupsDigitsAndPadlockFollowsTheFile) {
  ProgramHarness h;
  h.folder.Write("x", 1);
  struct Case {
    std::uint64_t size;
    const char* shown;
  } cases[] = {{1'200'005, "1 200 005"},
               {999, "999"},
               {0, "0"},
               {1'000, "1 000"},
               {18'446'744'073'709'551'615ull, "18 446 744 073 709 551 615"}};
  std::vector<std::string> shown;
  Colour closed = -1, open = -1;
  h.platform.Do([&] {
    AppState& s = h.State();
    for (const Case& c : cases) {
      ShowCurrentFile(s, FileEntry{"f", c.size, 0});
      shown.push_back(h.LastTextAt(s.Layout.SizeValueX, 200 - 2 * s.Layout.LineHeight));
    }
    ShowCurrentFile(s, FileEntry{"secret.txt 1234567[", 3, 1});
    closed = h.Pixel(IconLeft(0) + 6, IconTop + 7);
    ShowCurrentFile(s, FileEntry{"open.txt", 3, 0});
    open = h.Pixel(IconLeft(0) + 6, IconTop + 7);
  });
  h.Run();
  for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(shown[i], cases[i].shown);
  EXPECT_EQ(closed, Black);
  EXPECT_EQ(open, DarkGrey);
  const auto secret = h.LastPrint("secret.txt");
  ASSERT_TRUE(secret) << "an encrypted name is shown without its suffix";
  EXPECT_EQ(secret->foreground, Brown);
}

TEST(Panels, AlertLeavesBothStatusRowsEmpty) {
  ProgramHarness h;
  h.folder.Write("x", 1);
  std::int64_t waited = 0;
  bool rows_empty = true;
  h.platform.Do([&] {
    AppState& s = h.State();
    h.Paint().PrintAt(20, 200 + s.Layout.LineHeight, DarkGrey, "second row text");
    const std::int64_t before = h.clock.SleptMilliseconds();
    ShowAlert(s, "Already open");
    waited = h.clock.SleptMilliseconds() - before;
    for (int y = 200; y < 200 + 2 * s.Layout.LineHeight; ++y) {
      for (int x = 0; x < 400; ++x) rows_empty = rows_empty && h.Pixel(x, y) == Black;
    }
  });
  h.Run();
  EXPECT_EQ(waited, 1500);
  EXPECT_EQ(h.platform.Beeps(), 1);
  const auto alert = h.LastPrint("Already open");
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->foreground, Brown);
  EXPECT_EQ(alert->y, 200);
  EXPECT_TRUE(rows_empty);
  EXPECT_TRUE(h.State().Status.Message.empty());
}

TEST(Window, ClosingEndsTheProgramWithinOneCycle) {
  ProgramHarness h;
  h.folder.Write("x", 1);
  h.platform.Wait(200).Close();
  EXPECT_EQ(h.Run(), 0);
  EXPECT_EQ(h.platform.ReadsAfterClose(), 0) << "no further input cycle after the window closed";
}

}  // namespace
}  // namespace quorvant::testing
