#pragma once

#include "app/app_state.h"

namespace quorvant {

// How the byte viewer hands control back.
enum class ViewerExit {
  Return,                  // closed: the input wait's tests go on
  ContinueAtShowHideTest,  // an icon closed it; the dispatch acts on that icon
  RestartWait,             // the help text replaced it
  BrowseEntry,
  ProgramEnd,
};

// The List file icon: the selected file's bytes as columns of bit cells.
ViewerExit RunByteViewer(AppState& s);

}  // namespace quorvant
