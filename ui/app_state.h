#pragma once

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "base/clock.h"
#include "base/keys.h"
#include "browser/file_table.h"
#include "browser/folder_watch.h"
#include "crypto/cipher.h"
#include "rewrite/admission.h"
#include "rewrite/file_transform.h"
#include "crypto/key_text.h"
#include "files/opened_file.h"
#include "surface/painter.h"
#include "surface/platform/platform.h"
#include "ui/flow.h"
#include "ui/screen_mode.h"

namespace quorvant {

// The file Enter was pressed on, as key entry found it. The run opens this
// name again once the key is confirmed and goes on only while it is still
// the same file (device, inode, length); its direction comes from the file,
// never from whatever entry the list shows by then.
struct KeyTarget {
  std::string Name;
  // What was decided about the file before the key: the direction, the
  // suffix, the interrupted run to finish.
  Admission Admitted;
};

// Where the window's parts are: measured at start-up from the work area and
// the screen font, and kept.
struct LayoutState {
  int WorkAreaWidth = 0;
  int WorkAreaHeight = 0;
  double DpiFactor = 1.0;
  int LineHeight = 0;
  int FileValueX = 0;  // kept in one byte, as measured
  int SizeValueX = 0;  // kept in one byte
  // Top-left corners of the icon buttons (0..6) and of the help legend's
  // squares (7..11); the help screen moves the buttons and puts them back.
  std::array<int, 12> IconX{};
  std::array<int, 12> IconY{};
  int IconHitY = 95;
  static constexpr int LogoOffset = -50;
  static constexpr int ViewerOffset = -90;
  static constexpr int KeyboardOffset = -150;
};

// The status band at the foot of the window: the mode's caption or a prompt,
// then a value or the key field.
struct StatusBandState {
  std::string Message;  // the notice shown, empty when none
  // The width of the caption or prompt, kept in one byte: the value starts
  // this far after the left margin.
  std::uint8_t Offset = 0;
  // How much of the band's start a clear of the prompt line keeps: the
  // prompt while the key is typed, nothing otherwise.
  std::uint8_t PromptKeepWidth = 0;
};

// The file list and what the header last showed of it.
struct BrowserState {
  FileTable Files;
  int SelectedIndex = 1;
  int LastShownIndex = 0;
  int IndexBeforeKey = 0;
  int PageStep = 0;
  std::string LastShownName;
  std::uint64_t LastShownSize = 0;
};

// What the input wait took and where its dispatch goes on.
struct InputState {
  std::string PendingKey;
  int ClickedIcon = 0;
  int ClickX = 0;  // the last click taken from the window link
  int ClickY = 0;
  // A screen that an input wait handed control to (statistics, byte viewer)
  // passes the input it ends with to where that wait would have: ResumeAt,
  // set by the wait's caller.
  Next ResumeAt = Next::BrowseStep;
  // Where the click dispatch goes on once the byte viewer has closed: after
  // its List file test, or from the start when the statistics screen ran it.
  DispatchFrom ViewerReturn = DispatchFrom::AfterListFile;
  // An icon was clicked: clicks that come before the next input wait begins
  // came while its action ran, and are dropped there.
  bool DropClicksAtWait = false;
};

struct HelpState {
  bool Shown = false;
};

struct KeyboardState {
  bool Shown = false;
  // The character keys, row by row, as last drawn.
  std::array<char, 95> Chars{};
};

struct KeyEntryState {
  // Wiped as soon as the run it is for has made its key check and key words
  // (once FileRun::Prepare has returned), and on Esc, refusals and errors.
  KeyText TypedKey;
  // A hidden key is typed twice for an encryption: the first typing, while
  // the second is asked for. Wiped as TypedKey is.
  KeyText FirstTyping;
  bool AskingAgain = false;
  bool Hidden = false;  // Show|Hide: the key is drawn in the background colour
  int Cursor = 0;       // the caret's place in the key, in characters
  int CaretX = 0;
};

// The file run (encryption, decryption, erase) and the file it works on.
struct FileWorkState {
  // The selected file while it is worked on ("file 1"): open and locked only
  // while it is looked at (Enter), and worked on (from the confirmed key to
  // the end of the run), never while the key is typed.
  std::optional<OpenedFile> File1;
  // The file the key is typed for. An interrupted run found on it is
  // finished by Enter and the key.
  std::optional<KeyTarget> Target;
  // The window was closed while a file was worked on: finish, then end.
  bool EndAfterWork = false;
  // What a long operation last printed (percentage and whether the row was
  // blanked), so an unchanged text is not drawn again; -1 before any.
  int ProgressShown = -1;
};

// The last run's results outlive the screen.
struct StatisticsState {
  bool Shown = false;
  std::array<std::uint64_t, 256> ByteCounts{};
  std::array<std::string, 11> StatValues{};
  int TableTop = 0;  // the byte value in the table's first row
};

struct ByteViewerState {
  bool Shown = false;
  std::int64_t ViewStart = 0;  // file offset of the byte in the first column
  int ColumnCount = 0;         // the columns shown, fixed while the viewer is open
  Point SelectedPoint;         // the last bit-cell click; kept between openings
  // Per column, the byte last drawn there (-1: nothing), so that a redraw
  // draws only the columns that changed. Sized from the window at opening.
  std::vector<int> ColumnCache;
};

// The one application context, owned by the program and passed by reference
// to every screen. Fields are grouped by the screen that owns them, and read
// and written directly; a screen that takes the window over may still close
// another (clear its Shown).
struct AppState {
  // --- The world outside ------------------------------------------------
  // Each field carries its type's name, so the type is written qualified.
  quorvant::Platform* Platform = nullptr;
  quorvant::Clock* Clock = nullptr;
  quorvant::Painter* Painter = nullptr;
  WindowLink* Link = nullptr;
  int FolderFd = -1;          // the folder the program works on, open for its whole run
  std::string CurrentFolder;  // its full path, as shown on the folder line
  std::unique_ptr<FolderWatch> Watch;

  // --- The screens ----------------------------------------------------------
  ScreenMode Mode = ScreenMode::Scroll;
  LayoutState Layout;
  StatusBandState Status;
  BrowserState Browser;
  InputState Input;
  HelpState Help;
  KeyboardState Keyboard;
  KeyEntryState KeyEntry;
  FileWorkState Work;
  StatisticsState Statistics;
  ByteViewerState Viewer;

  // --- Randomness: the logo speckle, seeded once from the time of day -----
  std::mt19937 Random;

  int FileCount() const { return Browser.Files.FileCount(); }
  int EncryptedCount() const { return Browser.Files.EncryptedCount; }
};

// Uniform in [0, 1) from the program's generator.
inline double NextUniform(AppState& state) { return (state.Random() >> 8) * (1.0 / 16777216.0); }

}  // namespace quorvant
