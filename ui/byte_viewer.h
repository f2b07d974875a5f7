#pragma once

#include "ui/app_state.h"

namespace quorvant {

// How the byte viewer hands control back to the click dispatch that ran it:
//   Return                  closed by Esc, Enter, List file, Key or a click on
//                           nothing; the dispatch's tests go on
//   ContinueAtShowHideTest  left on the Encrypted, Statistics or Keyboard icon;
//                           the dispatch acts on ClickedIcon
//   RestartWait             the help text replaced it: a fresh input wait
//   ProgramEnd              the window was closed, or the folder is empty
enum class ViewerExit {
  Return,
  ContinueAtShowHideTest,
  RestartWait,
  ProgramEnd,
};

// The List file icon: the selected file's bytes as a row of columns, each of
// eight bit cells (most significant bit lowest) over the byte's character.
// Arrow, Home, End and page keys scroll; a click under the columns jumps to
// that part of the file; a click on a bit cell describes the bit and its
// byte. Runs its own input loop until it is left; the exit table in
// byte_viewer.cpp says what each way out leaves behind. The file is closed
// on every way out.
ViewerExit RunByteViewer(AppState& s);

}  // namespace quorvant
