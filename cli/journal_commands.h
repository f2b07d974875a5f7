#pragma once

// quorvant-cli resume --list [FOLDER] and resume --forget JOURNAL|FILE...:
// looking after the journals of runs, beside resume itself
// (cli/resume_command.cpp), which calls these.

#include "cli/command.h"

namespace quorvant::cli {

int ListJournalsCommand(const CommandLine& line, CommandContext& context);
int ForgetCommand(const CommandLine& line, CommandContext& context);

}  // namespace quorvant::cli
