#pragma once

// How the tool words what went wrong with a file: the text that follows
// "quorvant-cli: FILE: ". System errors are given by their strerror text;
// the action recorded in an Error is never printed, since it may hold a raw
// file name.

#include <string>
#include <string_view>

#include "files/file_outcome.h"

namespace quorvant::cli {

// "another program has it open or locked", "write error: No space left on device".
std::string DescribeFailure(FileOutcome outcome, const Error& error);

// A transform that did not finish: the failure, then the state the file is
// left in ("; the file is unchanged"). `new_path`, when given, is the name
// the file was to get, quoted where a name in use is reported.
std::string DescribeTransformReport(const FileReport& report, std::string_view new_path = {});

}  // namespace quorvant::cli
