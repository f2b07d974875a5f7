#include "ui/notices.h"

#include <cstdio>

#include "ui/fixed_tables.h"
#include "ui/panels.h"

namespace quorvant {

void DrawAlert(AppState& s, std::string_view message) {
  s.Platform->Beep();
  ClearStatusBand(s, 2);
  s.Painter->SetBackground(Black);
  s.Painter->PrintAt(LeftMargin, StatusY, FileColours[1], message);
}

void ShowAlert(AppState& s, std::string_view message) {
  DrawAlert(s, message);
  NoticePause(s, AlertMilliseconds);
  ClearStatusBand(s, 1);
  s.Status.Message.clear();
}

void Pause(AppState& s, int milliseconds) { s.Platform->Wait(*s.Clock, WaitRequest::Pause(milliseconds)); }

void NoticePause(AppState& s, int milliseconds) {
  Pause(s, milliseconds);
  s.Platform->DropInput(InputKind::KeysAndClicks);
}

void ShowFatalMessage(AppState& s, std::string_view message) {
  // Also where a terminal or a log keeps it: the window closes by itself.
  std::fprintf(stderr, "quorvant: %s: %.*s\n", s.CurrentFolder.c_str(), static_cast<int>(message.size()),
               message.data());
  s.Platform->Beep();
  s.Painter->DrawBox(0, FileRowY(s), s.Layout.WorkAreaWidth, s.Layout.WorkAreaHeight, 0, Black, Black);
  s.Painter->SetBackground(Black);
  // In the alert colour: the current foreground may be black by now.
  s.Painter->PrintAt(LeftMargin, FileRowY(s), FileColours[1], message);
  Pause(s, 2500);
  s.Link->Alive.store(0);
}

}  // namespace quorvant
