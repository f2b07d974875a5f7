#pragma once

namespace quorvant {

// Where control goes next. The program's screens hand control to each other
// by returning one of these to the one loop in RunMainLoop, instead of
// jumping or recursing, so the stack stays as deep as one screen however
// often the user moves between screens.
enum class Next {
  BrowseEntry,     // the browse loop's entry: reset the status band, maybe wait for a key
  BrowseStep,      // handle PendingKey in the browser
  WaitThenBrowse,  // wait for input, then handle it in the browser
  KeyEntry,        // the selected file is open: type its key
  ErasePrompt,     // Del was pressed: ask for the confirmation
  EraseChoice,     // the key that answered the erase prompt is in PendingKey
  Statistics,      // the statistics screen takes over
  ByteViewer,      // the byte viewer takes over
  ResumeWait,      // a fresh input wait, then on to AppState::Input.ResumeAt
  ProgramEnd,
};

// What the input wait did with control: came back with PendingKey and
// ClickedIcon set, or passes it on.
enum class WaitResult {
  Input,
  ProgramEnd,
  Statistics,  // the Statistics icon opens its screen
  ByteViewer,  // the List file icon opens the viewer
};

// Where the input wait's click dispatch is entered.
enum class DispatchFrom {
  Start,          // ClickedIcon := -1, then any pending click
  ShowHideTest,   // the tests from the Show|Hide icon on, for ClickedIcon as it is
  AfterListFile,  // the byte viewer that List file opened has closed: the tests after it
};

}  // namespace quorvant
