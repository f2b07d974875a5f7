// How the program waits, through the whole program on the headless platform:
// what was drawn is shown before every timed wait, an idle screen sleeps
// without a time limit, a change in the folder wakes it, and the caret's
// blink is the only thing that limits the wait during key entry.

#include "ui/input_wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/number_format.h"
#include "tests/support/program_harness.h"
#include "ui/key_repeat.h"

namespace quorvant::testing {
namespace {

using WaitKind = HeadlessPlatform::WaitKind;

bool AnyPixel(const Image& image, int x1, int y1, int x2, int y2, Colour colour) {
  for (int y = y1; y < y2; ++y) {
    for (int x = x1; x < x2; ++x) {
      if (image.Pixel(x, y) == colour) return true;
    }
  }
  return false;
}

constexpr Colour NoColour = -1;

// ---------------------------------------------------------------------------
// Each timed wait of a screen comes right after a present of what the screen
// drew for it, so a notice is on screen for its whole time.

struct TimedWait {
  const char* name;
  std::function<void(ProgramHarness&)> arrange;  // files and script
  int milliseconds;
  // True when the frame shows what the wait is for.
  std::function<bool(ProgramHarness&, const Image&)> shows;
};

void PrintTo(const TimedWait& c, std::ostream* out) { *out << c.name; }

class TimedWaitTest : public ::testing::TestWithParam<TimedWait> {};

TEST_P(TimedWaitTest, IsPrecededByAPresentOfWhatItShows) {
  const TimedWait& c = GetParam();
  ProgramHarness h;
  std::map<int, bool> shown;  // frame -> what the wait is for is in it
  h.platform.ObservePresents([&](int frame, const Image& image) { shown[frame] = c.shows(h, image); });
  c.arrange(h);
  h.Run();
  const int frame = h.FrameDuringLastPause(c.milliseconds);
  ASSERT_GE(frame, 0) << "no present right before the " << c.milliseconds << " ms wait";
  EXPECT_TRUE(shown[frame]) << "the frame on screen during the wait does not show it";
}

INSTANTIATE_TEST_SUITE_P(
    Screens, TimedWaitTest,
    ::testing::Values(TimedWait{"PressFlash",
                                [](ProgramHarness& h) {
                                  h.folder.Write("f", 1);
                                  h.platform.Click(IconRowCentre(icon::ShowHide));
                                },
                                100,
                                [](ProgramHarness&, const Image& image) {
                                  const Point corner = IconRowPosition(icon::ShowHide);
                                  return image.Pixel(corner.x, corner.y) == Black &&
                                         image.Pixel(corner.x + 2, corner.y + 2) == DarkGrey;
                                }},
                      TimedWait{"KeyboardKeyPress",
                                [](ProgramHarness& h) {
                                  h.folder.Write("f", 1);
                                  h.platform.Click(IconRowCentre(icon::Keyboard)).Wait(1).Click(40, 313);
                                },
                                100,
                                [](ProgramHarness&, const Image& image) {
                                  // The first key's rim is black while pressed; its face stays.
                                  return image.Pixel(30, 293) == Black && image.Pixel(30, 300) == SlateGrey;
                                }},
                      TimedWait{"NoEncryptedFiles",
                                [](ProgramHarness& h) {
                                  h.folder.Write("plain", 1);
                                  h.platform.Click(IconRowCentre(icon::Encrypted));
                                },
                                1000,
                                [](ProgramHarness& h, const Image& image) {
                                  return h.LastTextAt(20, 200) == "No encrypted files" &&
                                         AnyPixel(image, 20, 200, 200, 218, Grey);
                                }},
                      TimedWait{"NameInUseAlert",
                                [](ProgramHarness& h) {
                                  h.folder.Write("x", 1);
                                  h.folder.Write("x 1234567[", 1);
                                  h.platform.Key(Down).Key(Enter).Type("k").Key(Enter);
                                },
                                1500,
                                [](ProgramHarness& h, const Image& image) {
                                  return h.LastTextAt(20, 200) == "Name in use" &&
                                         AnyPixel(image, 20, 200, 200, 218, Brown);
                                }},
                      TimedWait{"Erased",
                                [](ProgramHarness& h) {
                                  h.folder.Write("a", 10);
                                  h.folder.Write("b", 10);
                                  h.platform.Key(Del).Key(Del);
                                },
                                1000,
                                [](ProgramHarness& h, const Image& image) {
                                  return h.LastTextAt(20, 200) == "Erased" &&
                                         AnyPixel(image, 20, 200, 100, 218, Grey);
                                }},
                      TimedWait{"EmptyFolder",
                                [](ProgramHarness& h) {
                                  h.folder.Write("only", 1);
                                  h.platform.Wait(1).Do([&h] { h.folder.Remove("only"); });
                                },
                                2500,
                                [](ProgramHarness&, const Image& image) {
                                  return AnyPixel(image, 20, 146, 200, 164, Brown);
                                }}),
    [](const ::testing::TestParamInfo<TimedWait>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Idle, every screen sleeps until something happens: an hour passes inside
// one wait, with no time limit and nothing drawn.

struct IdleScreen {
  const char* name;
  std::function<void(HeadlessPlatform&)> open;
};

void PrintTo(const IdleScreen& c, std::ostream* out) { *out << c.name; }

class IdleScreenTest : public ::testing::TestWithParam<IdleScreen> {};

TEST_P(IdleScreenTest, SleepsWithoutALimit) {
  ProgramHarness h;
  h.folder.Write("one", 300);
  h.folder.Write("two", 20);
  std::size_t log_at_start = 0, log_at_end = 0;
  GetParam().open(h.platform);
  h.platform.Wait(1).Do([&] { log_at_start = h.platform.WaitLog().size(); }).Wait(3'600'000).Do([&] {
    log_at_end = h.platform.WaitLog().size();
  });
  h.Run();
  ASSERT_GT(log_at_start, 0u);
  EXPECT_EQ(log_at_end, log_at_start) << "the program woke while nothing happened";
  const HeadlessPlatform::WaitRecord& idle = h.platform.WaitLog()[log_at_start - 1];
  EXPECT_EQ(idle.kind, WaitKind::WaitedForInput);
  EXPECT_EQ(idle.milliseconds, -1) << "the idle wait has no time limit";
}

INSTANTIATE_TEST_SUITE_P(
    Screens, IdleScreenTest,
    ::testing::Values(
        IdleScreen{"Browsing", [](HeadlessPlatform&) {}},
        IdleScreen{"Statistics", [](HeadlessPlatform& p) { p.Click(IconRowCentre(icon::Statistics)); }},
        IdleScreen{"ByteViewer", [](HeadlessPlatform& p) { p.Click(IconRowCentre(icon::ListFile)); }},
        IdleScreen{"Help", [](HeadlessPlatform& p) { p.Click(IconRowCentre(icon::Help)); }},
        IdleScreen{"Keyboard", [](HeadlessPlatform& p) { p.Click(IconRowCentre(icon::Keyboard)); }},
        IdleScreen{"ErasePrompt", [](HeadlessPlatform& p) { p.Key(Del); }}),
    [](const ::testing::TestParamInfo<IdleScreen>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The folder's watch.

TEST(FolderWatchWait, AChangeWakesTheWaitAtOnce) {
  ProgramHarness h;
  h.folder.Write("a", 1);
  std::int64_t slept_before = -1, slept_after = -1;
  int files_seen = 0;
  h.platform.Wait(1)
      .Do([&] {
        slept_before = h.clock.SleptMilliseconds();
        h.folder.Write("b", 1);
      })
      .Do([&] {
        files_seen = h.State().FileCount();
        slept_after = h.clock.SleptMilliseconds();
      });
  h.Run();
  EXPECT_EQ(files_seen, 2);
  EXPECT_EQ(slept_after, slept_before) << "listed at once, not when some timer ran out";
}

// Where other machines change files unreported, the folder is still listed
// once a second: the idle wait is limited to the next listing.
TEST(FolderWatchWait, NetworkFolderIsStillListedOnceASecond) {
  ProgramHarness h;
  h.watch_seam = FolderWatchSeam{[](int) { return std::int64_t{0x6969}; }};  // NFS
  h.folder.Write("a", 1);
  std::size_t log_at_start = 0;
  h.platform.Wait(1).Do([&] { log_at_start = h.platform.WaitLog().size(); }).Wait(10'000);
  h.Run();
  int waits = 0;
  const auto& log = h.platform.WaitLog();
  for (std::size_t i = log_at_start; i < log.size(); ++i) {
    if (log[i].kind != WaitKind::WaitedForInput) continue;
    ++waits;
    EXPECT_GT(log[i].milliseconds, 0);
    EXPECT_LE(log[i].milliseconds, 1000);
  }
  EXPECT_GE(waits, 10);
  EXPECT_LE(waits, 11);
}

// Another program appends to the shown file every 10 ms: the size shown
// follows without a single listing, and the program wakes about twice per
// quiet period instead of once per write.
TEST(FolderWatchWait, ABusyFileCostsNoListing) {
  ProgramHarness h;
  int listings = 0;
  h.watch_seam = FolderWatchSeam{nullptr, FolderScanSeam{nullptr, [&] {
                                                           ++listings;
                                                           return 0;
                                                         }}};
  h.folder.Write("log", 100);
  h.folder.Write("other", 1);
  std::size_t log_at_start = 0, log_at_end = 0;
  h.platform.Wait(1).Do([&] { log_at_start = h.platform.WaitLog().size(); });
  for (int i = 0; i < 100; ++i) h.platform.Do([&] { h.folder.Append("log", 10); }).Wait(10);
  h.platform.Wait(FolderWatch::QuietMs).Do([&] { log_at_end = h.platform.WaitLog().size(); });
  h.Run();
  EXPECT_EQ(listings, 1);
  EXPECT_EQ(h.State().Browser.LastShownSize, 100u + 100u * 10u);
  EXPECT_EQ(h.LastTextAt(h.State().Layout.SizeValueX, SizeRowY(h.State())), FormatGroupedCount(1100));
  int waits = 0;
  const auto& log = h.platform.WaitLog();
  for (std::size_t i = log_at_start; i < log_at_end; ++i) {
    if (log[i].kind == WaitKind::WaitedForInput) ++waits;
  }
  EXPECT_LE(waits, 2 * (1000 / FolderWatch::QuietMs) + 4) << "one wake per write would be 100";
}

// A folder that can no longer be read keeps the listing it had: the notice
// comes once, the cause once on standard error, and the listing is tried
// again each second until it works.
struct UnreadableFolder {
  ProgramHarness h;
  int open_error = 0;
  UnreadableFolder() {
    h.watch_seam = FolderWatchSeam{nullptr, FolderScanSeam{nullptr, [this] { return open_error; }}};
    h.folder.Write("a", 1);
    h.folder.Write("b", 2);
  }
  void Fail() {
    open_error = EACCES;
    h.folder.Write("c", 3);
  }
  int Notices() const {
    const std::vector<TextLogEntry> texts = h.Printed();
    return static_cast<int>(std::count_if(texts.begin(), texts.end(), [](const TextLogEntry& e) {
      return e.text == "Cannot read folder" && e.x == LeftMargin && e.y == StatusY && e.foreground == Brown;
    }));
  }
};

TEST(FolderListingProblem, KeepsTheListingAndSaysSoOnce) {
  UnreadableFolder f;
  int files_while_failing = 0, files_after = 0, notices_while_failing = 0;
  f.h.platform.Wait(1)
      .Do([&] { f.Fail(); })
      .Wait(5000)
      .Do([&] {
        files_while_failing = f.h.State().FileCount();
        notices_while_failing = f.Notices();
        f.open_error = 0;
      })
      .Wait(1000)
      .Do([&] { files_after = f.h.State().FileCount(); });
  ::testing::internal::CaptureStderr();
  f.h.Run();
  const std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(files_while_failing, 2);
  EXPECT_EQ(notices_while_failing, 1);
  EXPECT_EQ(f.h.platform.Beeps(), 1);
  EXPECT_EQ(files_after, 3);
  const std::string line = "quorvant: cannot read the folder: Permission denied\n";
  EXPECT_NE(errors.find(line), std::string::npos) << errors;
  EXPECT_EQ(errors.find(line), errors.rfind(line)) << "logged once";
  EXPECT_GE(f.h.FrameDuringLastPause(AlertMilliseconds), 0) << "the notice is shown for its wait";
}

// During key entry the status band holds the key: the notice waits until
// the program is back in the list.
TEST(FolderListingProblem, TheNoticeWaitsForTheList) {
  UnreadableFolder f;
  int notices_in_key_entry = -1;
  f.h.platform.Key(Enter)
      .Wait(1)
      .Do([&] { f.Fail(); })
      .Wait(1)
      .Do([&] { notices_in_key_entry = f.Notices(); })
      .Key(Escape)
      .Wait(1);
  ::testing::internal::CaptureStderr();
  f.h.Run();
  (void)::testing::internal::GetCapturedStderr();
  EXPECT_EQ(notices_in_key_entry, 0);
  EXPECT_EQ(f.Notices(), 1);
  EXPECT_EQ(f.h.State().FileCount(), 2);
}

// ---------------------------------------------------------------------------
// A long operation never waits, so it asks for each new figure of its
// progress to be shown as it draws it.
TEST(ProgressDisplay, EachNewPercentageIsShownWithoutAWait) {
  ProgramHarness h;
  h.folder.Write("big", 4 * 1024 * 1024);
  std::size_t log_before_run = 0;
  std::vector<std::string> shown_texts;
  h.platform.ObservePresents([&](int, const Image&) {
    const AppState& s = h.State();
    if (s.Mode == ScreenMode::Encrypting)
      shown_texts.push_back(h.LastTextAt(LeftMargin + s.Status.Offset, 200));
  });
  h.platform.Key(Enter)
      .Type("k")
      .Do([&] { log_before_run = h.platform.WaitLog().size(); })
      .Key(Enter)
      .Wait(1);
  h.Run();
  const auto& log = h.platform.WaitLog();
  int presents_without_wait = 0;
  for (std::size_t i = log_before_run; i + 1 < log.size(); ++i) {
    if (log[i].kind == WaitKind::Presented && log[i + 1].kind == WaitKind::Presented) ++presents_without_wait;
  }
  EXPECT_GE(presents_without_wait, 90) << "one frame per percent of 256 blocks";
  ASSERT_GE(shown_texts.size(), 3u);
  EXPECT_EQ(shown_texts.front(), " 0%");
  EXPECT_EQ(shown_texts[shown_texts.size() / 2].back(), '%');
}

// ---------------------------------------------------------------------------
// During key entry the caret blinks: shown for the first 0.4 s of every
// second. The wait ends exactly when its colour changes, and each frame holds
// the colour of the phase it is shown for.
TEST(CaretWait, EachPhaseIsOneWaitShowingItsColour) {
  ProgramHarness h;
  h.folder.Write("f", 1);
  std::map<int, Colour> caret;  // frame -> the caret's colour in it
  h.platform.ObservePresents([&](int frame, const Image& image) {
    const AppState& s = h.State();
    caret[frame] = s.Mode == ScreenMode::Key ? image.Pixel(s.KeyEntry.CaretX, 205) : NoColour;
  });
  std::size_t log_at_start = 0;
  h.platform.Key(Enter).Wait(1).Do([&] { log_at_start = h.platform.WaitLog().size(); }).Wait(5000);
  h.Run();

  const auto& log = h.platform.WaitLog();
  int phases = 0;
  for (std::size_t i = log_at_start; i + 1 < log.size(); ++i) {
    if (log[i].kind != WaitKind::Presented || log[i + 1].kind != WaitKind::WaitedForInput) continue;
    const int limit = log[i + 1].milliseconds;
    const Colour colour = caret[log[i].frame];
    if (limit == 400) {
      EXPECT_EQ(colour, DarkGrey) << "frame " << log[i].frame;
    } else {
      EXPECT_EQ(limit, 600);
      EXPECT_EQ(colour, Black) << "frame " << log[i].frame;
    }
    ++phases;
  }
  EXPECT_GE(phases, 9) << "five seconds of blinking";
}

// ---------------------------------------------------------------------------
// One press, one action: what the keyboard's auto-repeat of a held key may
// do, screen by screen.

struct RepeatCase {
  const char* name;
  ScreenMode mode;
  std::string key;
  bool acts;
};

void PrintTo(const RepeatCase& c, std::ostream* out) { *out << c.name; }

class RepeatActsTest : public ::testing::TestWithParam<RepeatCase> {};

TEST_P(RepeatActsTest, MovesAndTypesButNeverStartsOrConfirms) {
  const RepeatCase& c = GetParam();
  EXPECT_EQ(RepeatActs(c.mode, c.key), c.acts);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RepeatActsTest,
    ::testing::Values(RepeatCase{"DownMovesTheList", ScreenMode::Scroll, Down, true},
                      RepeatCase{"PgDnMovesTheList", ScreenMode::Scroll, PgDn, true},
                      RepeatCase{"ACharacterFindsInTheList", ScreenMode::Scroll, "a", true},
                      RepeatCase{"EnterOpensNothing", ScreenMode::Scroll, Enter, false},
                      RepeatCase{"DelStartsNoErase", ScreenMode::Scroll, Del, false},
                      RepeatCase{"DelConfirmsNoErase", ScreenMode::Erasing, Del, false},
                      RepeatCase{"EscInTheBrowser", ScreenMode::Scroll, Escape, false},
                      RepeatCase{"ACharacterTypesIntoTheKey", ScreenMode::Key, "a", true},
                      RepeatCase{"BackspaceEditsTheKey", ScreenMode::Key, Backspace, true},
                      RepeatCase{"DelEditsTheKey", ScreenMode::Key, Del, true},
                      RepeatCase{"LeftMovesTheCaret", ScreenMode::Key, Left, true},
                      RepeatCase{"EnterConfirmsNoKey", ScreenMode::Key, Enter, false},
                      RepeatCase{"EscLeavesNoKeyEntry", ScreenMode::Key, Escape, false},
                      RepeatCase{"DownScrollsTheStatistics", ScreenMode::Statistics, Down, true}),
    [](const ::testing::TestParamInfo<RepeatCase>& info) { return std::string(info.param.name); });

// Held keys still do what holding them is for: arrows move through the
// list, characters type into the key field.
TEST(HeldKey, DownHeldMovesThroughTheList) {
  ProgramHarness h;
  for (const char* name : {"a", "b", "c", "d", "e", "f"}) h.folder.Write(name, 1);
  h.platform.KeyHeld(Down, 3).Wait(1);
  h.Run();
  EXPECT_EQ(h.State().Browser.SelectedIndex, 5);
}

TEST(HeldKey, ACharacterHeldTypesIntoTheKeyField) {
  ProgramHarness h;
  h.folder.Write("f", 1);
  std::string typed;
  h.platform.Key(Enter).KeyHeld("x", 6).KeyHeld(Backspace, 2).Wait(1).Do([&] {
    typed = std::string(h.State().KeyEntry.TypedKey.View());
  });
  h.Run();
  EXPECT_EQ(typed, "xxxx");
}

// A second click on an icon that comes while the first one's action runs
// (here during its press flash) is dropped: Help shows and stays. A click
// after it acts.
TEST(HeldKey, ASecondClickDuringAnIconsActionIsDropped) {
  ProgramHarness h;
  h.folder.Write("f", 1);
  bool shown_after_double = false;
  h.platform.Click(IconRowCentre(icon::Help))
      .ClickDuringPause(IconRowCentre(icon::Help), 2)
      .Wait(1)
      .Do([&] { shown_after_double = h.State().Help.Shown; })
      .Click(IconRowCentre(icon::Help))
      .Wait(1);
  h.Run();
  EXPECT_TRUE(shown_after_double);
  EXPECT_FALSE(h.State().Help.Shown);
}

// ---------------------------------------------------------------------------
// The Key icon acts as the key that fits the moment: Enter while browsing or
// once a key is typed, Esc in an empty key field. Statistics does nothing
// during key entry.

struct IconMoment {
  const char* name;
  std::function<void(HeadlessPlatform&)> script;  // after the first listing
  ScreenMode mode;                                // afterwards
  const char* typed;                              // the key field afterwards
  bool encrypted;                                 // "f" was encrypted
};

void PrintTo(const IconMoment& c, std::ostream* out) { *out << c.name; }

class IconMomentTest : public ::testing::TestWithParam<IconMoment> {};

TEST_P(IconMomentTest, ActsAsTheKeyOfTheMoment) {
  const IconMoment& c = GetParam();
  ProgramHarness h;
  h.folder.Write("f", 10);
  ScreenMode mode = ScreenMode::Scroll;
  std::string typed;
  bool statistics = true;
  h.platform.Wait(1);
  c.script(h.platform);
  h.platform.Wait(1).Do([&] {
    mode = h.State().Mode;
    typed = std::string(h.State().KeyEntry.TypedKey.View());
    statistics = h.State().Statistics.Shown;
  });
  h.Run();
  EXPECT_EQ(mode, c.mode);
  EXPECT_EQ(typed, c.typed);
  EXPECT_FALSE(statistics);
  EXPECT_EQ(h.folder.Names() != std::vector<std::string>{"f"}, c.encrypted);
}

INSTANTIATE_TEST_SUITE_P(
    KeyIcon, IconMomentTest,
    ::testing::Values(
        IconMoment{"KeyWhileBrowsingStartsKeyEntry",
                   [](HeadlessPlatform& p) { p.Click(IconRowCentre(icon::Key)); }, ScreenMode::Key, "",
                   false},
        IconMoment{"KeyInAnEmptyFieldLeavesIt",
                   [](HeadlessPlatform& p) { p.Key(Enter).Wait(1).Click(IconRowCentre(icon::Key)); },
                   ScreenMode::Scroll, "", false},
        IconMoment{"KeyAfterATypedKeyConfirmsIt",
                   [](HeadlessPlatform& p) { p.Key(Enter).Type("ab").Click(IconRowCentre(icon::Key)); },
                   ScreenMode::Scroll, "", true},
        IconMoment{
            "StatisticsDuringKeyEntryDoesNothing",
            [](HeadlessPlatform& p) { p.Key(Enter).Type("ab").Click(IconRowCentre(icon::Statistics)); },
            ScreenMode::Key, "ab", false}),
    [](const ::testing::TestParamInfo<IconMoment>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvant::testing
