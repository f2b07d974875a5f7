// The help legend and the on-screen keyboard, through the whole program.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/program_harness.h"
#include "ui/fixed_tables.h"
#include "ui/keyboard_screen.h"

namespace quorvant::testing {
namespace {

TEST(Help, LegendAndKeyListStandAtTheirRows) {
  ProgramHarness h;
  h.folder.Write("x", 1);
  Colour icon_frame = -1, encoded = -1, decoded = -1;
  int icon_x_after = -1, icon_y_after = -1;
  h.platform.Click(IconRowCentre(icon::Help)).Wait(1).Do([&] {
    icon_frame = h.Pixel(20, 241);
    encoded = h.Pixel(30, 410 + 10);
    decoded = h.Pixel(30, 435 + 10);
    icon_x_after = h.State().Layout.IconX[0];
    icon_y_after = h.State().Layout.IconY[0];
  });
  h.Run();
  ASSERT_EQ(h.State().Layout.LineHeight, 18);
  // Rows for c = 18: first label at 239.4, its icon at 241; tenth label at
  // 462.1; tenth key line at 439.8, the eleventh (the date) at 462.3.
  // Coordinates round to whole pixels.
  const auto first_label = h.LastPrint("Key");
  ASSERT_TRUE(first_label);
  EXPECT_EQ(first_label->x, 50);
  EXPECT_EQ(first_label->y, 239);
  EXPECT_EQ(first_label->foreground, Grey);
  EXPECT_EQ(icon_frame, Lavender);
  bool tenth_label = false;  // empty, at 462.1
  for (const TextLogEntry& entry : h.Printed())
    tenth_label = tenth_label || (entry.x == 50 && entry.y == 462);
  EXPECT_TRUE(tenth_label);
  const auto tab_key = h.LastPrint("Tab");
  ASSERT_TRUE(tab_key);
  EXPECT_EQ(tab_key->x, 200);
  EXPECT_EQ(tab_key->y, 440);
  EXPECT_EQ(tab_key->foreground, Silver);
  EXPECT_EQ(h.LastPrint("Strong or classic format of a new encryption")->y, 440);
  const auto date_key = h.LastPrint("Updated on");
  ASSERT_TRUE(date_key);
  EXPECT_EQ(date_key->x, 200);
  EXPECT_EQ(date_key->y, 462);
  EXPECT_EQ(date_key->foreground, Silver);
  const auto date = h.LastPrint("20h March 2013");
  ASSERT_TRUE(date);
  EXPECT_EQ(date->y, 462);
  EXPECT_EQ(date->foreground, Grey);
  const auto encoded_label = h.LastPrint("Encoded");
  ASSERT_TRUE(encoded_label);
  EXPECT_EQ(encoded_label->y, RoundCoordinate(192 + 11.0 / 8 * 18 * 8 + 1.257 * 18));
  EXPECT_EQ(encoded, Brown);
  EXPECT_EQ(decoded, DarkGrey);
  EXPECT_EQ(h.LastPrint("Move several files or bytes")->foreground, Grey);
  EXPECT_EQ(icon_x_after, 20);
  EXPECT_EQ(icon_y_after, 95);
  EXPECT_TRUE(h.State().Help.Shown);
}

TEST(Help, AnyKeyOrSecondClickHidesIt) {
  struct Case {
    const char* name;
    std::function<void(HeadlessPlatform&)> hide;
  } cases[] = {
      {"key", [](HeadlessPlatform& p) { p.Key(HeadlessPlatform::Nav(scan::Down)); }},
      {"help again", [](HeadlessPlatform& p) { p.Click(IconRowCentre(icon::Help)); }},
      {"click elsewhere", [](HeadlessPlatform& p) { p.Click(700, 600); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramHarness h;
    h.folder.Write("x", 1);
    h.folder.Write("y", 1);
    h.platform.Click(IconRowCentre(icon::Help)).Wait(1);
    c.hide(h.platform);
    h.platform.Wait(1);
    h.Run();
    EXPECT_FALSE(h.State().Help.Shown);
    EXPECT_EQ(h.Pixel(20, 241), Black) << "the legend was cleared";
  }
}

TEST(Keyboard, OrderTurnsWithTheFractionalSecond) {
  struct Case {
    int fraction_ms;
    char first;
  } cases[] = {
      {0, '}'},    // r = 0
      {527, 'K'},  // r = 50
      {979, ' '},  // r = 93: natural order
      {999, ' '},  // r = 94: natural order
  };
  for (const Case& c : cases) {
    const std::array<char, 95> order = KeyboardOrder(c.fraction_ms);
    EXPECT_EQ(order[0], c.first) << c.fraction_ms;
    // Every printable character once, in ascending cyclic order.
    for (size_t i = 1; i < order.size(); ++i) {
      const char expected = order[i - 1] == '~' ? ' ' : static_cast<char>(order[i - 1] + 1);
      EXPECT_EQ(order[i], expected);
    }
  }
}

TEST(Keyboard, EveryKeyDeliversTheCharacterDrawnOnIt) {
  ProgramHarness h;
  h.folder.Write("x", 1);
  std::vector<std::string> delivered;
  std::vector<std::string> drawn;
  h.platform.Click(IconRowCentre(icon::Keyboard)).Wait(1).Do([&] {
    AppState& s = h.State();
    ASSERT_TRUE(s.Keyboard.Shown);
    for (int row = 0; row < 5; ++row) {
      for (int column = 0; column < 19; ++column) {
        const int x = 40 + 42 * column;
        const int y = 293 + 42 * row + 20;
        s.Input.PendingKey.clear();
        h.ForgetPrints();
        KeyboardClick(s, x, y);
        delivered.push_back(s.Input.PendingKey);
        drawn.push_back(h.Printed().empty() ? "" : h.Printed().back().text);
      }
    }
  });
  h.Run();
  ASSERT_EQ(delivered.size(), 95u);
  for (size_t n = 0; n < 95; ++n) {
    ASSERT_EQ(delivered[n].size(), 1u) << n;
    EXPECT_EQ(drawn[n], delivered[n] == " " ? "" : delivered[n]) << "key " << n;
  }
  for (size_t n = 0; n < 95; ++n) EXPECT_EQ(delivered[n][0], h.State().Keyboard.Chars[n]);
}

TEST(Keyboard, BandsGapsAndSpecialKeys) {
  ProgramHarness h;
  h.folder.Write("x", 1);
  struct Case {
    int x, y;
    ScreenMode mode;
    std::string expected;
  } cases[] = {
      {812, 270, ScreenMode::Scroll, " S"},  // the Del key is 6 pixels wider
      {815, 270, ScreenMode::Scroll, ""},    // past it
      {50, 270, ScreenMode::Scroll, "\r"},   // Enter
      {21, 270, ScreenMode::Scroll, ""},     // a key's own edge
      {514, 270, ScreenMode::Scroll, " H"},  // Up
      {950, 270, ScreenMode::Scroll, ""},    // the erase confirmation only while erasing
      {950, 270, ScreenMode::Erasing, " S"},
      {40, 334, ScreenMode::Scroll, ""},  // between the first two bands
      {40, 335, ScreenMode::Scroll, ""},
      {20, 310, ScreenMode::Scroll, ""},  // a column's edge
      {59, 310, ScreenMode::Scroll, ""},  // the gap between two keys
      {60, 310, ScreenMode::Scroll, ""},
      {40, 499, ScreenMode::Scroll, ""},  // below the grid
  };
  std::vector<std::string> delivered;
  h.platform.Click(IconRowCentre(icon::Keyboard)).Wait(1).Do([&] {
    AppState& s = h.State();
    for (const Case& c : cases) {
      s.Mode = c.mode;
      s.Input.PendingKey.clear();
      KeyboardClick(s, c.x, c.y);
      delivered.push_back(s.Input.PendingKey);
    }
    s.Mode = ScreenMode::Scroll;
  });
  h.Run();
  ASSERT_EQ(delivered.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(delivered[i], cases[i].expected)
        << cases[i].x << "," << cases[i].y << " " << Caption(cases[i].mode);
  }
}

TEST(Keyboard, ClickedSpecialKeyActsLikeTheRealKey) {
  ProgramHarness h;
  h.folder.Write("a", 1);
  h.folder.Write("b", 1);
  h.folder.Write("c", 1);
  h.platform.Click(IconRowCentre(icon::Keyboard)).Wait(1).Click(300 + 10, 270).Wait(1);  // End
  h.Run();
  EXPECT_EQ(h.State().Browser.SelectedIndex, 3);
  EXPECT_TRUE(h.State().Keyboard.Shown);
}

}  // namespace
}  // namespace quorvant::testing

namespace quorvant::testing {
namespace {

// A key typed by clicks on the on-screen keyboard is the key typed on the
// keyboard: the command-line tool decrypts the file with the typed key.
TEST(Keyboard, KeyTypedByClicksEncryptsLikeTheKeyboard) {
  ProgramHarness h;
  const std::string original = "clicked key content, long enough to span more than one window of the cipher";
  h.folder.Write("note.txt", 0);
  { std::ofstream(h.folder.PathOf("note.txt"), std::ios::binary) << original; }
  const std::string key = "Key 1!~";
  h.platform.Click(IconRowCentre(icon::Keyboard)).Wait(1).Key("\r");
  for (char c : key) {
    h.platform.ClickWhere([&h, c] {
      const auto& chars = h.State().Keyboard.Chars;
      const int n = static_cast<int>(std::find(chars.begin(), chars.end(), c) - chars.begin());
      return Click{1, 40 + 42 * (n % 19), 313 + 42 * (n / 19)};
    });
  }
  h.platform.Click(50, 270).Wait(1);  // the on-screen Enter
  h.Run();
  std::string encrypted_name;
  for (const auto& item : std::filesystem::directory_iterator(h.folder.Path())) {
    encrypted_name = item.path().filename().string();
  }
  ASSERT_NE(encrypted_name, "note.txt") << "the file was encrypted";
  const std::string command = "printf '%s\\n' '" + key + "' | " + QUORVANT_CLI_PATH + " decrypt '" +
                              h.folder.PathOf(encrypted_name) + "' 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream in(h.folder.PathOf("note.txt"), std::ios::binary);
  std::string decrypted((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(decrypted, original);
}

}  // namespace
}  // namespace quorvant::testing
