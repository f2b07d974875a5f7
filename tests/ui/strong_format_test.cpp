// The strong format from the window: the format choice while the key of a
// new encryption is typed, strong files in the list, and decrypting them,
// through the whole program in real temporary folders. Every strong run
// derives its key at full cost (about a second).

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "crypto/encrypted_name.h"
#include "tests/support/program_harness.h"
#include "tests/support/sample_bytes.h"
#include "ui/format_choice.h"

namespace quorvant::testing {
namespace {

const std::string Tab = "\t";
const std::string ClassicChoice = "Classic format: Tab or a click here makes it strong";
const std::string StrongChoice = "Strong format: Tab or a click here makes it classic";

// The choice's row: the status band's second.
int ChoiceY(ProgramHarness& h) { return StatusY + h.State().Layout.LineHeight; }

// A click in the middle of the choice, where the band shows it now.
Click OnTheChoice(const AppState& s) {
  const Rect box = FormatChoiceBox(s);
  return Click{1, (box.x1 + box.x2) / 2, (box.y1 + box.y2) / 2};
}

// Tab switches the format of this one encryption, and back; a click on the
// choice does the same. Enter alone still encrypts classic.
TEST(FormatChoice, TabOrAClickPicksTheFormatOfTheEncryption) {
  struct Case {
    const char* name;
    std::vector<std::string> tabs;  // Tab, or "click" for a click on the choice
    char suffix_end;
  } cases[] = {
      {"Enter alone", {}, '['},
      {"Tab", {Tab}, ']'},
      {"Tab twice", {Tab, Tab}, '['},
      {"a click", {"click"}, ']'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramHarness h;
    h.folder.Write("report.txt", Prose(14));
    h.platform.Key(Enter);
    for (const std::string& tab : c.tabs) {
      if (tab == Tab) {
        h.platform.Key(Tab);
      } else {
        h.platform.ClickWhere([&] { return OnTheChoice(h.State()); });
      }
    }
    h.platform.Type("k").Key(Enter).Wait(1);
    h.Run();
    const std::vector<std::string> names = h.folder.Names();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].substr(0, 10), "report.txt");
    ASSERT_EQ(names[0].size(), 10u + EncryptedSuffixLength);
    EXPECT_EQ(names[0].back(), c.suffix_end);
    EXPECT_EQ(names[0][10], ' ');
  }
}

// What the band says while the key is typed: the chosen format, and how to
// change it, in the row under the key; redrawn as it changes.
TEST(FormatChoice, TheBandShowsTheChosenFormat) {
  ProgramHarness h;
  h.folder.Write("a", Prose(3));
  std::string before, after_tab, after_click;
  h.platform.Key(Enter)
      .Wait(1)
      .Do([&] { before = h.LastTextAt(LeftMargin, ChoiceY(h)); })
      .Key(Tab)
      .Wait(1)
      .Do([&] { after_tab = h.LastTextAt(LeftMargin, ChoiceY(h)); })
      .ClickWhere([&] { return OnTheChoice(h.State()); })
      .Wait(1)
      .Do([&] { after_click = h.LastTextAt(LeftMargin, ChoiceY(h)); })
      .Key(Escape)
      .Wait(1);
  h.Run();
  EXPECT_EQ(before, ClassicChoice);
  EXPECT_EQ(after_tab, StrongChoice);
  EXPECT_EQ(after_click, ClassicChoice);
  EXPECT_EQ(h.LastPrint(StrongChoice)->foreground, Grey);
  EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"a"}) << "Esc changes nothing";
}

// The wording is the longest that fits the band, whatever its width.
TEST(FormatChoice, WordingFitsTheBand) {
  ProgramHarness h;
  h.folder.Write("a", Prose(3));
  std::vector<std::string> shown;
  std::vector<int> widths;
  h.platform.Key(Enter).Wait(1).Do([&] {
    AppState& s = h.State();
    for (const std::string_view wording :
         {ClassicChoice, std::string("Classic format (Tab: strong)"), std::string("Classic (Tab)")}) {
      widths.push_back(h.Paint().MeasureText(wording).width);
    }
    const int full = s.Layout.WorkAreaWidth;
    for (const int room : {widths[0], widths[0] - 1, widths[1], widths[1] - 1, 1}) {
      s.Layout.WorkAreaWidth = LeftMargin + room;
      shown.emplace_back(FormatChoiceText(s));
    }
    s.Layout.WorkAreaWidth = full;
  });
  h.platform.Key(Escape).Wait(1);
  h.Run();
  EXPECT_EQ(shown,
            (std::vector<std::string>{ClassicChoice, "Classic format (Tab: strong)",
                                      "Classic format (Tab: strong)", "Classic (Tab)", "Classic (Tab)"}));
}

// For a decryption the file decides: nothing is shown to choose, and Tab
// changes nothing.
TEST(FormatChoice, DecryptionHasNothingToChoose) {
  ProgramHarness h;
  h.folder.Write("x 1234567[", Noise(100, 1));
  bool chosen = true;
  h.platform.Key(Enter).Key(Tab).Wait(1).Do([&] { chosen = FormatIsChosen(h.State()); });
  h.platform.Key(Escape).Wait(1);
  h.Run();
  EXPECT_FALSE(chosen);
  EXPECT_FALSE(h.LastPrint(ClassicChoice));
  EXPECT_FALSE(h.LastPrint(StrongChoice));
  EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"x 1234567["});
}

// Tab, the key, Enter: a strong file, listed as encrypted (Brown, its name
// without the suffix, counted); Enter and the key on it decrypt it.
TEST(StrongFile, EncryptedByTabIsListedAndDecryptedByEnter) {
  ProgramHarness h;
  const std::vector<std::uint8_t> original = Noise(70'000, 2);
  h.folder.Write("report.txt", original);
  std::vector<std::string> names_between;
  std::string shown_name;
  Colour shown_colour = -1;
  int encrypted_count = -1, flag = -1;
  h.platform.Key(Enter).Key(Tab).Type("pass word").Key(Enter).Wait(1).Do([&] {
    names_between = h.folder.Names();
    AppState& s = h.State();
    encrypted_count = s.EncryptedCount();
    flag = s.Browser.Files.Entry(1).encrypted_flag;
    const std::vector<TextLogEntry> printed = h.Printed();
    for (const TextLogEntry& entry : printed) {
      if (entry.x == s.Layout.FileValueX && entry.y == FileRowY(s)) {
        shown_name = entry.text;
        shown_colour = entry.foreground;
      }
    }
  });
  h.platform.Key(Enter).Type("pass word").Key(Enter).Wait(1);
  h.Run();

  ASSERT_EQ(names_between.size(), 1u);
  EXPECT_TRUE(HasStrongSuffixShape(names_between[0])) << names_between[0];
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(encrypted_count, 1);
  EXPECT_EQ(shown_name, "report.txt");
  EXPECT_EQ(shown_colour, Brown);
  EXPECT_EQ(h.folder.Names(), std::vector<std::string>{"report.txt"});
  EXPECT_EQ(h.folder.Read("report.txt"), original);
}

// A strong file the command-line tool made, refused with its notice and
// left exactly as it was: a wrong key, a damaged chunk, a file cut short.
TEST(StrongFile, RefusalsLeaveTheFileAsItWas) {
  struct Case {
    const char* name;
    const char* key;
    void (*spoil)(std::vector<std::uint8_t>& bytes);
    const char* notice;
  } cases[] = {
      {"wrong key", "wrong", [](std::vector<std::uint8_t>&) {}, "Wrong key"},
      {"damaged chunk", "right", [](std::vector<std::uint8_t>& bytes) { bytes[10] ^= 0x40; }, "Damaged"},
      {"cut inside the trailer", "right",
       [](std::vector<std::uint8_t>& bytes) { bytes.resize(bytes.size() - 20); }, "Damaged or cut"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramHarness h;
    h.folder.Write("data.bin", Noise(5000, 3));
    const std::string command = std::string("printf 'right\\n' | ") + QUORVANT_CLI_PATH + " encrypt '" +
                                h.folder.PathOf("data.bin") + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::vector<std::string> names = h.folder.Names();
    ASSERT_EQ(names.size(), 1u);
    ASSERT_TRUE(HasStrongSuffixShape(names[0]));
    std::vector<std::uint8_t> bytes = h.folder.Read(names[0]);
    c.spoil(bytes);
    h.folder.Write(names[0], bytes);

    h.platform.Key(Enter).Type(c.key).Key(Enter).Wait(1);
    h.Run();
    const auto notice = h.LastPrint(c.notice);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->foreground, Brown);
    EXPECT_EQ(notice->y, StatusY);
    EXPECT_EQ(h.folder.Names(), names);
    EXPECT_EQ(h.folder.Read(names[0]), bytes);
  }
}

}  // namespace
}  // namespace quorvant::testing
