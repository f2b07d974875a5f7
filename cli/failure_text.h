#pragma once

// How the tool words what went wrong with a file: the text that follows
// "quorvant-cli: FILE: ". Each outcome's own words are in the outcome table
// (files/file_outcome.h, DescribeFailure); here, what a run's report adds.

#include <string>
#include <string_view>

#include "crypto/cipher.h"
#include "files/file_outcome.h"

namespace quorvant::cli {

// A transform or resume that did not simply finish: the failure, then the
// state the file is left in ("; the file is unchanged"). `new_path`, when
// given, is the name the file was to get, quoted where a name in use is
// reported; `path_now` is the file's path as it is named now, for the
// commands that finish or undo an interrupted run; `direction` is the run's.
std::string DescribeTransformReport(const FileReport& report, std::string_view new_path,
                                    std::string_view path_now, Direction direction);

// The command that finishes (or, with `undo`, takes back) the interrupted run
// of the file at `path`, ready to paste into a shell.
std::string ResumeCommandFor(std::string_view path, bool undo);

}  // namespace quorvant::cli
