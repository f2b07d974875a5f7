#pragma once

// How the tool words the outcome of a file operation.

#include <string>
#include <string_view>

#include "crypto/cipher.h"
#include "files/file_outcome.h"

namespace quorvant::cli {

// "Name in use: rename a.txt to ... : File exists; the file is unchanged".
// `path` is the file's path as the user would give it now (for the command
// that finishes an interrupted run), `direction` the run's.
std::string DescribeReport(const FileReport& report, std::string_view path = {},
                           Direction direction = Direction::Encrypt);

// The command that finishes (or, with `undo`, takes back) the interrupted run
// of the file at `path`, ready to paste into a shell.
std::string ResumeCommandFor(std::string_view path, bool undo);

// For an open that was refused.
std::string DescribeRefusal(FileOutcome outcome, const Error& error);

// `text` with control characters shown as "?", so that a file name cannot
// send escape sequences to the terminal.
std::string Printable(std::string_view text);

}  // namespace quorvant::cli
