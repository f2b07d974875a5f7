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
#include "crypto/file_transform.h"
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
  std::string name;
  dev_t device = 0;
  ino_t inode = 0;
  std::int64_t length = 0;
  Direction direction = Direction::Encrypt;
};

// The one application context, owned by the program and passed by reference
// to every screen. Fields are read and written directly by the screen that
// owns each behaviour.
struct AppState {
  // --- The world outside ------------------------------------------------
  Platform* platform = nullptr;
  Clock* clock = nullptr;
  Painter* painter = nullptr;
  WindowLink* link = nullptr;
  int FolderFd = -1;          // the folder the program works on, open for its whole run
  std::string CurrentFolder;  // its full path, as shown on the folder line
  std::unique_ptr<FolderWatch> Watch;

  // --- Layout -----------------------------------------------------------
  int W = 0;  // work-area width
  int H = 0;  // work-area height
  double DpiFactor = 1.0;
  int LineHeight = 0;
  int FileValueX = 0;  // kept in one byte, as measured
  int SizeValueX = 0;  // kept in one byte
  std::uint8_t StatusOffset = 0;
  std::uint8_t PromptKeepWidth = 0;
  // Top-left corners of the icon buttons (0..6) and of the help legend's
  // squares (7..11); the help screen moves the buttons and puts them back.
  std::array<int, 12> IconX{};
  std::array<int, 12> IconY{};
  int IconHitY = 95;
  static constexpr int LogoOffset = -50;
  static constexpr int ViewerOffset = -90;
  static constexpr int KeyboardOffset = -150;

  // --- Browser ------------------------------------------------------------
  FileTable Files;
  int SelectedIndex = 1;
  int LastShownIndex = 0;
  int IndexBeforeKey = 0;
  int PageStep = 0;
  std::string LastShownName;
  std::uint64_t LastShownSize = 0;

  // --- Interaction --------------------------------------------------------
  std::string PendingKey;
  ScreenMode Mode = ScreenMode::Scroll;
  std::string StatusMessage;
  int ClickedIcon = 0;
  int ClickX = 0;  // the last click taken from the window link
  int ClickY = 0;
  bool HelpShown = false;
  bool KeyHidden = false;
  bool KeyboardShown = false;
  bool StatisticsShown = false;
  bool ViewerShown = false;
  // A screen that an input wait handed control to (statistics, byte viewer)
  // passes the input it ends with to where that wait would have: ResumeAt,
  // set by the wait's caller.
  Next ResumeAt = Next::BrowseStep;
  // Where the click dispatch goes on once the byte viewer has closed: after
  // its List file test, or from the start when the statistics screen ran it.
  DispatchFrom ViewerReturn = DispatchFrom::AfterListFile;

  // The on-screen keyboard's character keys, row by row, as last drawn.
  std::array<char, 95> KeyboardChars{};

  // --- Key entry and the file work ------------------------------------------
  // Wiped as soon as the run it is for has made its key check and key words
  // (TransformSettings::key_text_done), and on Esc, refusals and errors.
  KeyText TypedKey;
  // A hidden key is typed twice for an encryption: the first typing, while
  // the second is asked for. Wiped as TypedKey is.
  KeyText FirstKey;
  bool AskingAgain = false;
  int KeyCursor = 0;
  int CaretX = 0;
  // The selected file while it is worked on ("file 1"): open and locked only
  // while it is looked at (Enter), and worked on (from the confirmed key to
  // the end of the run), never while the key is typed.
  std::optional<OpenedFile> File1;
  std::optional<KeyTarget> Target;
  EncryptedSuffix Suffix{};
  // File1's interrupted run, when it has one: Enter and the key finish it.
  std::optional<InterruptedRun> Interrupted;
  // The window was closed while a file was worked on: finish, then end.
  bool EndAfterWork = false;
  // What a long operation last printed (percentage and whether the row was
  // blanked), so an unchanged text is not drawn again; -1 before any.
  int ProgressShown = -1;

  // --- Statistics: the last run's results outlive the screen --------------
  std::array<std::uint64_t, 256> ByteCounts{};
  std::array<std::string, 11> StatValues{};
  int TableTop = 0;  // the byte value in the table's first row

  // --- Byte viewer ---
  std::int64_t ViewStart = 0;  // file offset of the byte in the first column
  int ColumnCount = 0;         // the columns shown, fixed while the viewer is open
  Point SelectedPoint;         // the last bit-cell click; kept between openings
  // Per column, the byte last drawn there (-1: nothing), so that a redraw
  // draws only the columns that changed. Sized from the window at opening.
  std::vector<int> ColumnCache;

  // --- Randomness: the logo speckle, seeded once from the time of day -----
  std::mt19937 Random;

  int FileCount() const { return Files.FileCount(); }
  int EncryptedCount() const { return Files.EncryptedCount; }
};

// Uniform in [0, 1) from the program's generator.
inline double NextUniform(AppState& state) { return (state.Random() >> 8) * (1.0 / 16777216.0); }

}  // namespace quorvant
