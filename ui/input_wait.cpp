#include "ui/input_wait.h"

#include "browser/folder_watch.h"
#include "ui/byte_viewer.h"
#include "ui/click_dispatch.h"
#include "ui/fixed_tables.h"
#include "ui/folder_refresh.h"
#include "ui/key_repeat.h"
#include "ui/panels.h"

namespace quorvant {

namespace {

// The key caret: solid right after a key, otherwise shown for the first
// 0.4 s of every second.
void DrawCaret(AppState& s) {
  Colour colour = DarkGrey;
  if (s.Input.PendingKey.empty()) {
    const std::int64_t fraction_ms = s.Clock->MillisecondsSinceMidnight() % 1000;
    colour = fraction_ms < 400 ? DarkGrey : Black;
  }
  Painter& p = *s.Painter;
  p.SetLineWidth(1);
  p.SetPosition(s.KeyEntry.CaretX, StatusY);
  p.DrawLine(s.KeyEntry.CaretX, StatusY + s.Layout.LineHeight, colour);
}

// When the caret's blink next changes its colour: it is shown for the first
// 400 ms of every second.
int MsUntilBlink(AppState& s) {
  const int fraction_ms = static_cast<int>(s.Clock->MillisecondsSinceMidnight() % 1000);
  return fraction_ms < 400 ? 400 - fraction_ms : 1000 - fraction_ms;
}

// How long the input wait may sleep before something must be drawn or the
// folder listed: -1 for as long as it takes.
int MsUntilDue(AppState& s) {
  int due_ms = -1;
  if (s.Mode == ScreenMode::Key && s.Status.Message.empty()) due_ms = MsUntilBlink(s);
  if (s.Watch != nullptr) {
    const int rescan_ms = s.Watch->MsUntilRescan(*s.Clock);
    if (rescan_ms >= 0 && (due_ms < 0 || rescan_ms < due_ms)) due_ms = rescan_ms;
  }
  return due_ms;
}

}  // namespace

WaitResult InputWait(AppState& s) {
  // An icon's action is over once the program waits again: a second click
  // that came meanwhile (a double click, an impatient one) is not a new
  // command.
  if (s.Input.DropClicksAtWait) {
    s.Input.DropClicksAtWait = false;
    s.Platform->DropInput(InputKind::Clicks);
  }
  // Back from doing something, perhaps to the folder: the changes it made are
  // listed at once, not merged with what another program does meanwhile.
  if (s.Watch != nullptr) s.Watch->EndQuietPeriod();
  for (;;) {
    if (s.Mode == ScreenMode::Key && s.Status.Message.empty()) DrawCaret(s);
    if (s.Link->Alive.load() == 0) return WaitResult::ProgramEnd;
    s.Input.PendingKey = ReadActingKey(s);
    if (ScanFolderStep(s) == WaitResult::ProgramEnd) return WaitResult::ProgramEnd;
    if (s.Link->ClickKind.load() != 0 || !s.Input.PendingKey.empty())
      return DispatchClick(s, DispatchFrom::Start);
    // Nothing to do until input comes, the folder reports a change, or the
    // caret or a re-list is due; the wait shows what was drawn first.
    const int wake_fd = s.Watch != nullptr ? s.Watch->WaitFd() : -1;
    s.Platform->Wait(*s.Clock, WaitRequest::Input(MsUntilDue(s), wake_fd));
  }
}

Next AfterWait(AppState& s, WaitResult result, Next on_input) {
  s.Input.ResumeAt = on_input;
  return Resume(s, result);
}

Next Resume(AppState& s, WaitResult result) {
  switch (result) {
    case WaitResult::Input: return s.Input.ResumeAt;
    case WaitResult::ProgramEnd: return Next::ProgramEnd;
    case WaitResult::Statistics: return Next::Statistics;
    case WaitResult::ByteViewer: return Next::ByteViewer;
  }
  return Next::ProgramEnd;
}

Next RunViewerScreen(AppState& s) {
  switch (RunByteViewer(s)) {
    case ViewerExit::Return: return Resume(s, DispatchClick(s, s.Input.ViewerReturn));
    case ViewerExit::ContinueAtShowHideTest: return Resume(s, DispatchClick(s, DispatchFrom::ShowHideTest));
    case ViewerExit::RestartWait: return Next::ResumeWait;
    case ViewerExit::ProgramEnd: return Next::ProgramEnd;
  }
  return Next::ProgramEnd;
}

}  // namespace quorvant
