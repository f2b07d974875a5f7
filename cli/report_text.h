#pragma once

// How the tool words the outcome of a file operation.

#include <string>
#include <string_view>

#include "files/file_outcome.h"

namespace quorvant::cli {

// "Name in use: rename a.txt to ... : File exists; the file is unchanged".
std::string DescribeReport(const FileReport& report);

// For an open that was refused.
std::string DescribeRefusal(FileOutcome outcome, const Error& error);

// `text` with control characters shown as "?", so that a file name cannot
// send escape sequences to the terminal.
std::string Printable(std::string_view text);

}  // namespace quorvant::cli
