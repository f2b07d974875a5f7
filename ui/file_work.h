#pragma once

#include <cstdint>
#include <string_view>

#include "base/progress.h"
#include "files/file_outcome.h"
#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// The screen side of the file work shared by encryption, erase and the
// analysis views.

// Opens the selected file as File1 (closing any file held before). On a
// refusal the notice is shown ("Already open", "File gone", ...) and false
// returned; an empty folder ends the program (ProgramEnd in `ended`).
bool OpenSelectedFile(AppState& s, bool& ended);

// The per-block step of a long operation: Esc cancels; the percentage of
// `offset` in `last_offset` is printed after the mode text. A closed window
// does not stop the work: it is finished first, then the program ends.
ProgressAnswer ShowProgress(AppState& s, std::int64_t offset, std::int64_t last_offset);

// The end of a long operation: the keys and clicks that came while it ran
// (Esc aside, which ShowProgress took) are dropped, not acted on after it.
void EndLongOperation(AppState& s);

// A refusal or failure of the file work as a notice: beep, the text, wait;
// and LogFileError.
void ShowFileNotice(AppState& s, FileOutcome outcome, const Error& error = {});

// The notice is a word or two: an error with a code is also written to
// standard error in the tool's words, with the selected file's name, where a
// user can find out exactly why.
void LogFileError(AppState& s, FileOutcome outcome, const Error& error);

}  // namespace quorvant
