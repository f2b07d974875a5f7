#include "ui/browse_loop.h"

#include <cctype>

#include "browser/navigation.h"
#include "ui/erase_screen.h"
#include "ui/folder_refresh.h"
#include "ui/input_wait.h"
#include "ui/key_entry.h"
#include "ui/panels.h"
#include "ui/statistics_screen.h"

namespace quorvant {

Next BrowseEntry(AppState& s) {
  s.Status.Offset = 0;
  s.Status.PromptKeepWidth = 0;
  ClearPromptLine(s);
  s.Mode = ScreenMode::Scroll;
  if (s.Browser.IndexBeforeKey != s.Browser.LastShownIndex)
    return AfterWait(s, InputWait(s), Next::BrowseStep);
  return Next::BrowseStep;
}

Next BrowseStep(AppState& s) {
  s.Statistics.Shown = false;
  s.Status.Message.clear();
  s.Browser.IndexBeforeKey = s.Browser.SelectedIndex;

  // Navigation keys move by their scan letter; Del asks to erase.
  if (key::IsExtended(s.Input.PendingKey)) {
    const char letter = key::Last(s.Input.PendingKey);
    if (letter == scan::Del) return Next::ErasePrompt;
    s.Browser.SelectedIndex = MoveSelection(s.Browser.Files, s.Browser.SelectedIndex, letter);
  }
  if (s.Input.PendingKey == EncryptedIconKey && s.EncryptedCount() == 0) {
    s.Painter->SetBackground(Black);
    std::string notice = "No encrypted files";
    notice += Spaces(50);
    s.Painter->PrintAt(LeftMargin, StatusY, Grey, notice);
    NoticePause(s, 1000);
    s.Status.Offset = 0;
    ClearPromptLine(s);
  }
  if (s.EncryptedCount() > 0 && key::IsExtended(s.Input.PendingKey) &&
      key::Last(s.Input.PendingKey) == scan::Encrypted) {
    s.Browser.SelectedIndex = FindNextEncrypted(s.Browser.Files, s.Browser.SelectedIndex);
    s.Input.PendingKey.clear();
  }
  if (!s.Input.PendingKey.empty()) {
    const auto first = static_cast<unsigned char>(s.Input.PendingKey[0]);
    if (first >= 33 && first <= 126) {
      s.Browser.SelectedIndex =
          FindByFirstCharacter(s.Browser.Files, s.Browser.SelectedIndex, static_cast<char>(first));
    }
  }
  if (s.Browser.SelectedIndex != s.Browser.LastShownIndex) {
    if (ShowSelectedFile(s) == WaitResult::ProgramEnd) return Next::ProgramEnd;
    s.Browser.LastShownIndex = s.Browser.SelectedIndex;
  }
  if (key::Is(s.Input.PendingKey, key::Enter)) return Next::KeyEntry;
  return Next::WaitThenBrowse;
}

Next ErasePrompt(AppState& s) {
  s.Mode = ScreenMode::Erasing;
  s.Painter->SetBackground(Black);
  s.Painter->PrintAt(LeftMargin, StatusY, Brown, "Delete");
  return AfterWait(s, InputWait(s), Next::EraseChoice);
}

Next EraseChoice(AppState& s) {
  if (key::IsExtended(s.Input.PendingKey) &&
      std::toupper(static_cast<unsigned char>(key::Last(s.Input.PendingKey))) == scan::Del) {
    return EraseSelectedFile(s);
  }
  // Any other key cancels; the browser then handles it as well.
  return Next::BrowseEntry;
}

void RunMainLoop(AppState& s, Next next) {
  while (next != Next::ProgramEnd) {
    switch (next) {
      case Next::BrowseEntry: next = BrowseEntry(s); break;
      case Next::BrowseStep: next = BrowseStep(s); break;
      case Next::WaitThenBrowse: next = AfterWait(s, InputWait(s), Next::BrowseStep); break;
      case Next::KeyEntry: next = RunKeyEntry(s); break;
      case Next::ErasePrompt: next = ErasePrompt(s); break;
      case Next::EraseChoice: next = EraseChoice(s); break;
      case Next::Statistics: next = RunStatistics(s); break;
      case Next::ByteViewer: next = RunViewerScreen(s); break;
      case Next::ResumeWait: next = Resume(s, InputWait(s)); break;
      case Next::ProgramEnd: break;
    }
  }
}

}  // namespace quorvant
