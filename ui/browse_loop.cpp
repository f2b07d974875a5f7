#include "ui/browse_loop.h"

#include <cctype>

#include "browser/navigation.h"
#include "ui/erase_screen.h"
#include "ui/input_wait.h"
#include "ui/key_entry.h"
#include "ui/panels.h"
#include "ui/statistics_screen.h"

namespace quorvant {

Next BrowseEntry(AppState& s) {
  s.StatusOffset = 0;
  s.PromptKeepWidth = 0;
  ClearPromptLine(s);
  s.Mode = ScreenMode::Scroll;
  if (s.IndexBeforeKey != s.LastShownIndex) return AfterWait(s, InputWait(s), Next::BrowseStep);
  return Next::BrowseStep;
}

Next BrowseStep(AppState& s) {
  s.StatisticsShown = false;
  s.StatusMessage.clear();
  s.IndexBeforeKey = s.SelectedIndex;

  // Navigation keys move by their scan letter; Del asks to erase.
  if (key::IsExtended(s.PendingKey)) {
    const char letter = key::Last(s.PendingKey);
    if (letter == scan::Del) return Next::ErasePrompt;
    s.SelectedIndex = MoveSelection(s.Files, s.SelectedIndex, letter);
  }
  if (s.PendingKey == EncryptedIconKey && s.EncryptedCount() == 0) {
    s.painter->SetBackground(Black);
    std::string notice = "No encrypted files";
    notice += Spaces(50);
    s.painter->PrintAt(LeftMargin, StatusY, Grey, notice);
    Pause(s, 1000);
    s.StatusOffset = 0;
    ClearPromptLine(s);
  }
  if (s.EncryptedCount() > 0 && key::IsExtended(s.PendingKey) && key::Last(s.PendingKey) == scan::Encrypted) {
    s.SelectedIndex = FindNextEncrypted(s.Files, s.SelectedIndex);
    s.PendingKey.clear();
  }
  if (!s.PendingKey.empty()) {
    const auto first = static_cast<unsigned char>(s.PendingKey[0]);
    if (first >= 33 && first <= 126) {
      s.SelectedIndex = FindByFirstCharacter(s.Files, s.SelectedIndex, static_cast<char>(first));
    }
  }
  if (s.SelectedIndex != s.LastShownIndex) {
    if (ShowSelectedFile(s) == WaitResult::ProgramEnd) return Next::ProgramEnd;
    s.LastShownIndex = s.SelectedIndex;
  }
  if (key::Is(s.PendingKey, key::Enter)) return Next::KeyEntry;
  return Next::WaitThenBrowse;
}

Next ErasePrompt(AppState& s) {
  s.Mode = ScreenMode::Erasing;
  s.painter->SetBackground(Black);
  s.painter->PrintAt(LeftMargin, StatusY, Brown, "Delete");
  return AfterWait(s, InputWait(s), Next::EraseChoice);
}

Next EraseChoice(AppState& s) {
  if (key::IsExtended(s.PendingKey) &&
      std::toupper(static_cast<unsigned char>(key::Last(s.PendingKey))) == scan::Del) {
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
