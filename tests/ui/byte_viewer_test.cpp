// The byte viewer through the whole program: the columns' geometry, the keys
// and their limits, the position bar, bit-cell selection and the ways out.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "surface/screen_font.h"
#include "tests/support/program_harness.h"

namespace quorvant::testing {
namespace {

constexpr int CharacterY = 415;

void WriteBytes(TempFolder& folder, const std::string& name, const std::string& bytes) {
  std::ofstream(folder.PathOf(name), std::ios::binary) << bytes;
}

// 200 bytes, all "x" but the one at offset 100, so that scrolling shows which
// columns really change.
std::string LongContent() {
  std::string bytes(200, 'x');
  bytes[100] = 'y';
  return bytes;
}

// The last line printed from (20, y), its pieces joined, padding removed.
std::string LineAt(Painter& painter, int y) {
  const std::vector<TextLogEntry>& log = painter.TextLog();
  std::size_t start = log.size();
  for (std::size_t i = log.size(); i-- > 0;) {
    if (log[i].x == 20 && log[i].y == y) {
      start = i;
      break;
    }
  }
  std::string line;
  for (std::size_t i = start; i < log.size() && log[i].y == y && (i == start || log[i].x != 20); ++i) {
    line += log[i].text;
  }
  line.erase(line.find_last_not_of(' ') + 1);
  return line;
}

int CharactersDrawn(Painter& painter) {
  int count = 0;
  for (const TextLogEntry& entry : painter.TextLog()) count += entry.y == CharacterY ? 1 : 0;
  return count;
}

int InfoLineY(const AppState& s) { return RoundCoordinate(200 + 12.75 * s.Layout.LineHeight); }

// One script step: a key, or a click (kind 1 single, 2 double).
struct Input {
  std::string key;
  int x = 0;
  int y = 0;
  int kind = 1;
};
Input Press(std::string key) { return Input{std::move(key)}; }
Input ClickAt(int x, int y, int kind = 1) { return Input{"", x, y, kind}; }
Input ClickIcon(int button) { return ClickAt(IconRowCentre(button).x, IconRowCentre(button).y); }

void Script(HeadlessPlatform& platform, const Input& input) {
  if (input.key.empty()) {
    platform.Click(input.x, input.y, input.kind);
  } else {
    platform.Key(input.key);
  }
}

TEST(ByteViewer, ColumnShowsBitsMostSignificantLowestAndItsCharacter) {
  ProgramHarness h;
  WriteBytes(h.folder, "three", std::string("A\x80\x01", 3));
  h.platform.Click(IconRowCentre(icon::ListFile)).Wait(1);
  h.Run();
  const std::uint8_t bytes[] = {0x41, 0x80, 0x01};
  for (int column = 1; column <= 3; ++column) {
    for (int row = 0; row < 8; ++row) {
      const bool lit = (bytes[column - 1] >> (7 - row)) & 1;
      const int y = 400 - 24 * row;
      EXPECT_EQ(h.Pixel(24 * column + 10, y), lit ? DimGrey : SlateGrey)
          << "column " << column << " row " << row;
      EXPECT_EQ(h.Pixel(24 * column + 1, y), lit ? DarkGrey : SlateGrey)
          << "column " << column << " row " << row;
    }
  }
  // Column 1's cells, edges included, with black gaps around them.
  const struct {
    int x, y;
    Colour colour;
  } probes[] = {
      {23, 389, DimGrey}, {44, 410, DimGrey}, {45, 400, Black}, {22, 400, Black},   {34, 411, Black},
      {34, 388, Black},   {34, 221, DimGrey}, {34, 220, Black}, {23, 413, DimGrey}, {44, 437, DimGrey},
      {34, 438, Black},   {45, 425, Black},   {34, 414, Black}, {46, 389, Black},   {47, 389, DimGrey},
  };
  for (const auto& probe : probes) {
    EXPECT_EQ(h.Pixel(probe.x, probe.y), probe.colour) << probe.x << ", " << probe.y;
  }

  // The characters, centred in their cells; 128 is the euro sign of Windows-1252.
  const std::string characters[] = {"A", "\xe2\x82\xac", "\x01"};
  for (int column = 1; column <= 3; ++column) {
    const auto printed = h.LastPrint(characters[column - 1]);
    ASSERT_TRUE(printed) << column;
    const int width = h.Paint().MeasureText(characters[column - 1]).width;
    EXPECT_EQ(printed->x, RoundCoordinate(24 * column - 2 + (23 - width) / 2.0)) << column;
    EXPECT_EQ(printed->y, CharacterY);
    EXPECT_EQ(printed->foreground, DarkGrey);
    EXPECT_EQ(printed->background, Black);
  }
  EXPECT_EQ(LineAt(h.Paint(), 200), "From 1 to 3");
  EXPECT_EQ(h.LastPrint("From")->foreground, Grey);
  EXPECT_EQ(h.LastPrint("3")->foreground, DarkGrey);
  EXPECT_EQ(h.State().Viewer.ColumnCount, 3);
}

TEST(ByteViewer, FileShorterThanTheWindowIgnoresEveryMove) {
  ProgramHarness h;
  WriteBytes(h.folder, "three", "abc");
  std::int64_t start = -1;
  int prints = -1;
  bool open = false;
  h.platform.Click(IconRowCentre(icon::ListFile)).Wait(1).Do([&] { h.ForgetPrints(); });
  for (const std::string& key :
       {Left, Right, Home, End, PgUp, PgDn, Del, std::string("S"), std::string("O")}) {
    h.platform.Key(key);
  }
  h.platform.Wait(1).Do([&] {
    start = h.State().Viewer.ViewStart;
    prints = static_cast<int>(h.Paint().TextLog().size());
    open = h.State().Work.File1.has_value();
  });
  h.Run();
  EXPECT_EQ(start, 0);
  EXPECT_EQ(prints, 0) << "ignored before anything is drawn";
  EXPECT_TRUE(open);
}

// 200 bytes in 51 columns (W = 1280): the view starts at 0..149.
TEST(ByteViewer, KeysAndPositionBarMoveWithinTheFile) {
  ProgramHarness h;
  WriteBytes(h.folder, "long", LongContent());
  const int width = ProgramHarness::Area.width;
  // The bar reaches down to 660 + 1.2 t (single precision), t the character height.
  const double bar_limit = 660 + static_cast<double>(1.2f) * ScreenFont().Height();
  const int bar_bottom = static_cast<int>(std::ceil(bar_limit)) - 1;
  struct Step {
    const char* name;
    Input input;
    std::int64_t start;
    int columns_drawn;
    const char* range;  // "" when the range line is not drawn
  } steps[] = {
      {"Right moves by one; no column changes", Press(Right), 1, 0, "From 2 to 52"},
      {"Page Down: only the column of the one other byte", Press(PgDn), 52, 1, "From 53 to 103"},
      {"a typed capital S is Del: ignored", Press("S"), 52, 0, ""},
      {"End shows the last bytes", Press(End), 149, 1, "From 150 to 200"},
      {"Right at the end is ignored", Press(Right), 149, 0, ""},
      {"Page Down at the end is ignored", Press(PgDn), 149, 0, ""},
      {"a typed capital M at the end is ignored", Press("M"), 149, 0, ""},
      {"Home goes back", Press(Home), 0, 0, "From 1 to 51"},
      {"Page Up at the start is ignored", Press(PgUp), 0, 0, ""},
      {"Left at the start is ignored", Press(Left), 0, 0, ""},
      {"bar at W - 30 gives L, limited", ClickAt(width - 30, 500), 149, 0, "From 150 to 200"},
      {"bar halfway", ClickAt(22 + (width - 52) / 2, 500), 100, 1, "From 101 to 151"},
      {"bar at x = 22 is the start", ClickAt(22, 500), 0, 1, "From 1 to 51"},
      {"bar's last row", ClickAt(22 + (width - 52) / 2, bar_bottom), 100, 1, "From 101 to 151"},
      {"below the bar: empty screen", ClickAt(22, bar_bottom + 1), 100, 0, ""},
      {"Page Up", Press(PgUp), 49, 1, "From 50 to 100"},
      {"Show|Hide: every column while hidden", ClickIcon(icon::ShowHide), 49, 51, "From 50 to 100"},
      {"Left while hidden redraws every column", Press(Left), 48, 51, "From 49 to 99"},
      {"Show|Hide again: the cache holds", ClickIcon(icon::ShowHide), 48, 0, "From 49 to 99"},
  };
  struct Seen {
    std::int64_t start = -1;
    int columns_drawn = -1;
    std::string range;
  };
  std::vector<Seen> seen;
  h.platform.Click(IconRowCentre(icon::ListFile)).Wait(1);
  for (const Step& step : steps) {
    h.platform.Do([&] { h.ForgetPrints(); });
    Script(h.platform, step.input);
    h.platform.Do([&] {
      seen.push_back({h.State().Viewer.ViewStart, CharactersDrawn(h.Paint()), LineAt(h.Paint(), 200)});
    });
  }
  h.Run();
  ASSERT_EQ(seen.size(), std::size(steps));
  for (std::size_t i = 0; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].start, steps[i].start) << steps[i].name;
    EXPECT_EQ(seen[i].columns_drawn, steps[i].columns_drawn) << steps[i].name;
    EXPECT_EQ(seen[i].range, steps[i].range) << steps[i].name;
  }
  EXPECT_EQ(h.State().Viewer.ColumnCount, 51);
}

TEST(ByteViewer, BitCellClickDescribesBitAndByte) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> keys;
    int x, y;
    const char* info;
  } cases[] = {
      {"lowest cell is bit 7", "A\x80\x01", {}, 34, 400, "Bit  7 Byte 1 B01000001  H41 D65  Code A"},
      {"highest cell is bit 0", "A\x80\x01", {}, 34, 231, "Bit  0 Byte 1 B01000001  H41 D65  Code A"},
      {"the top edge of the highest cell",
       "A\x80\x01",
       {},
       34,
       221,
       "Bit  0 Byte 1 B01000001  H41 D65  Code A"},
      {"a cell's leftmost pixel is its own column",
       "A\x80\x01",
       {},
       47,
       300,
       "Bit  3 Byte 2 B10000000  H80 D128  Code \xe2\x82\xac"},
      {"a control code's name",
       "A\x80\x01",
       {},
       82,
       389,
       "Bit  7 Byte 3 B00000001  H01 D1  Code SOH (Start of heading)"},
      {"the position counts from the view's start",
       LongContent(),
       {Right, PgDn},
       24 * 49 + 10,
       370,
       "Bit  6 Byte 101 B01111001  H79 D121  Code y"},
  };
  for (const Case& c : cases) {
    ProgramHarness h;
    WriteBytes(h.folder, "file", c.bytes);
    h.platform.Click(IconRowCentre(icon::ListFile)).Wait(1);
    for (const std::string& key : c.keys) h.platform.Key(key);
    h.platform.Click(c.x, c.y).Wait(1);
    h.Run();
    EXPECT_EQ(LineAt(h.Paint(), InfoLineY(h.State())), c.info) << c.name;
    EXPECT_EQ(h.State().Viewer.SelectedPoint, (Point{c.x, c.y})) << c.name;
  }
}

TEST(ByteViewer, SelectionFrameMovesAndAKeyClearsIt) {
  ProgramHarness h;
  WriteBytes(h.folder, "file", "AB");
  Colour first_frame = -1, first_label = -1, first_value = -1, first_after_second = -1, second_frame = -1;
  h.platform.Click(IconRowCentre(icon::ListFile))
      .Click(34, 400)
      .Do([&] {
        first_frame = h.Pixel(21, 400);
        first_label = h.LastPrint("Bit")->foreground;
        first_value = h.LastPrint(" 7")->foreground;
      })
      .Click(58, 231)
      .Do([&] {
        first_after_second = h.Pixel(21, 400);
        second_frame = h.Pixel(70, 231);
      })
      .Key(Up)
      .Wait(1);
  h.Run();
  EXPECT_EQ(first_frame, DarkGrey);
  EXPECT_EQ(first_label, Grey);
  EXPECT_EQ(first_value, DarkGrey);
  EXPECT_EQ(first_after_second, Black);
  EXPECT_EQ(second_frame, DarkGrey);
  // Up moves nothing but is a key: the frame and the info line go.
  EXPECT_EQ(h.Pixel(70, 231), Black);
  EXPECT_EQ(h.Pixel(45, 219), Black);
  for (int x = 20; x < 400; ++x) ASSERT_EQ(h.Pixel(x, InfoLineY(h.State()) + 8), Black) << x;
}

// Every way out, and the inputs that keep the viewer open. Checked at the
// next input wait, after the dispatch acted on what closed it.
TEST(ByteViewer, WaysOutAndWhatFollows) {
  struct Case {
    const char* name;
    Input input;
    bool viewer_open;
    bool file_open;
    const char* mode;
    bool keyboard;
    bool help;
    bool key_hidden;
    bool area_erased;
    const char* printed;  // a text the follow-up prints, or ""
  } cases[] = {
      {"Esc closes", Press(Escape), false, false, "scroll", false, false, false, true, ""},
      // Key entry looks at the file, then lets it go while the key is typed.
      {"Enter closes, then starts key entry", Press(Enter), false, false, "the key", false, false, false,
       true, "Key"},
      {"List file closes", ClickIcon(icon::ListFile), false, false, "scroll", false, false, false, true, ""},
      {"a click on nothing closes", ClickAt(400, 60), false, false, "scroll", false, false, false, true, ""},
      {"Key closes, then acts as Enter", ClickIcon(icon::Key), false, false, "the key", false, false, false,
       true, "Key"},
      {"Encrypted closes, then looks for an encrypted file", ClickIcon(icon::Encrypted), false, false,
       "scroll", false, false, false, true, "No encrypted files"},
      {"Statistics closes, then shows the statistics", ClickIcon(icon::Statistics), false, false,
       "statistics", false, false, false, false, ""},
      {"Keyboard closes and shows the keyboard", ClickIcon(icon::Keyboard), false, false, "scroll", true,
       false, false, false, ""},
      {"Help closes and shows the help", ClickIcon(icon::Help), false, false, "scroll", false, true, false,
       false, ""},
      {"Show|Hide stays open", ClickIcon(icon::ShowHide), true, true, "scroll", false, false, true, false,
       ""},
      {"a double click does nothing", ClickAt(34, 400, 2), true, true, "scroll", false, false, false, false,
       ""},
      {"a click on empty screen does nothing", ClickAt(600, 300), true, true, "scroll", false, false, false,
       false, ""},
      {"the character row takes no clicks", ClickAt(34, 425), true, true, "scroll", false, false, false,
       false, ""},
  };
  for (const Case& c : cases) {
    ProgramHarness h;
    WriteBytes(h.folder, "file", "AB");
    bool viewer_open = false, file_open = false, area_erased = false;
    std::string mode;
    bool keyboard = false, help = false, key_hidden = false;
    h.platform.Click(IconRowCentre(icon::ListFile)).Wait(1).Do([&] { h.ForgetPrints(); });
    Script(h.platform, c.input);
    h.platform.Wait(1).Do([&] {
      const AppState& s = h.State();
      viewer_open = s.Viewer.Shown;
      file_open = s.Work.File1.has_value();
      mode = Caption(s.Mode);
      keyboard = s.Keyboard.Shown;
      help = s.Help.Shown;
      key_hidden = s.KeyEntry.Hidden;
      area_erased = h.Pixel(34, 400) == Black && h.Pixel(34, 425) == Black;
    });
    h.Run();
    EXPECT_EQ(viewer_open, c.viewer_open) << c.name;
    EXPECT_EQ(file_open, c.file_open) << c.name;
    EXPECT_EQ(mode, c.mode) << c.name;
    EXPECT_EQ(keyboard, c.keyboard) << c.name;
    EXPECT_EQ(help, c.help) << c.name;
    EXPECT_EQ(key_hidden, c.key_hidden) << c.name;
    if (c.area_erased) {
      EXPECT_TRUE(area_erased) << c.name;
    }
    if (*c.printed != '\0') {
      EXPECT_TRUE(h.LastPrint(c.printed)) << c.name;
    }
    EXPECT_TRUE(h.platform.ScriptDone()) << c.name;
  }
}

TEST(ByteViewer, StillTakesClicksAfterIgnoredOnes) {
  ProgramHarness h;
  WriteBytes(h.folder, "file", "A");
  h.platform.Click(IconRowCentre(icon::ListFile))
      .Click(34, 400, 2)
      .Click(600, 300)
      .Click(34, 425)
      .Click(34, 400)
      .Wait(1);
  h.Run();
  EXPECT_EQ(LineAt(h.Paint(), InfoLineY(h.State())), "Bit  7 Byte 1 B01000001  H41 D65  Code A");
}

TEST(ByteViewer, FileHeldElsewhereIsNotShown) {
  ProgramHarness h;
  WriteBytes(h.folder, "held", "held");
  const int holder = open(h.folder.PathOf("held").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
  h.platform.Click(IconRowCentre(icon::ListFile)).Wait(1);
  h.Run();
  close(holder);
  EXPECT_TRUE(h.LastPrint("Already open"));
  EXPECT_FALSE(h.LastPrint("From"));
  EXPECT_FALSE(h.State().Viewer.Shown);
  EXPECT_EQ(Caption(h.State().Mode), "scroll");
}

}  // namespace
}  // namespace quorvant::testing
