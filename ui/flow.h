#pragma once

namespace quorvant {

// Where control goes next. The program's screens hand control to each other
// by returning one of these to the one loop in RunMainLoop, instead of
// jumping or recursing.
enum class Next {
  BrowseEntry,     // the browse loop's entry: reset the status band, maybe wait for a key
  BrowseStep,      // handle PendingKey in the browser
  WaitThenBrowse,  // wait for input, then handle it in the browser
  KeyEntry,        // the selected file is open: type its key
  ErasePrompt,     // Del was pressed: confirm the erase
  ProgramEnd,
};

// What the input wait did with control: came back with PendingKey and
// ClickedIcon set, or passed it on.
enum class WaitResult {
  Input,
  BrowseEntry,
  ProgramEnd,
  RestartWait,  // a screen left control to a fresh input wait
};

inline Next AfterWait(WaitResult result, Next on_input) {
  switch (result) {
    case WaitResult::Input: return on_input;
    case WaitResult::BrowseEntry: return Next::BrowseEntry;
    case WaitResult::ProgramEnd: return Next::ProgramEnd;
    case WaitResult::RestartWait: return Next::WaitThenBrowse;
  }
  return Next::ProgramEnd;
}

}  // namespace quorvant
