#pragma once

// Everything the tool says, in one form, through one object:
//
//   quorvant-cli: FILE: what went wrong        a file's failure (FileFailure)
//   quorvant-cli: COMMAND: what went wrong     a failure of the whole command,
//                                              such as a key that breaks the rules
//   quorvant-cli: COMMAND: what was wrong      wrong usage (UsageError),
//   Try 'quorvant-cli --help'.                 followed by the pointer to --help
//
// on standard error, and the results ("OLD -> NEW", "erased FILE") one per
// line on standard output. FILE is the path as given, quoted by QuoteName;
// the texts never hold a raw name.
//
// After Ctrl-C the terminal has echoed "^C" wherever its cursor was, so on a
// terminal the first output after a cancel begins on a fresh line.

#include <string_view>

#include "cli/cancel_signals.h"

namespace quorvant::cli {

class Messages {
 public:
  explicit Messages(CancelSignals& signals);

  void FileFailure(std::string_view path, std::string_view what);
  // A file a cancel left before its turn: "cancelled before it was started",
  // then `consequence` ("not erased"), if any.
  void NotStarted(std::string_view path, std::string_view consequence);
  void CommandFailure(std::string_view command, std::string_view what);
  // Returns the exit status of wrong usage. `command` may be empty (no
  // command, or an unknown one).
  int UsageError(std::string_view command, std::string_view what);
  // A line on standard output.
  void Result(std::string_view line);
  // A question on standard error, the cursor left after it.
  void Prompt(std::string_view text);

  bool ErrorIsTerminal() const { return error_is_terminal_; }
  // Once a cancel has arrived: ends the line the "^C" was echoed on (the
  // first time, on a terminal) and answers true.
  bool EndCancelledLine();

 private:
  void Complain(std::string_view subject, std::string_view what);

  CancelSignals& signals_;
  bool error_is_terminal_;
  bool cancelled_line_ended_ = false;
};

}  // namespace quorvant::cli
