#include "cli/messages.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/command.h"
#include "cli/name_quoting.h"

namespace quorvant::cli {

namespace {

void Write(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

Messages::Messages(CancelSignals& signals) : signals_(signals), error_is_terminal_(isatty(2) != 0) {}

bool Messages::EndCancelledLine() {
  if (!signals_.Requested()) return false;
  if (error_is_terminal_ && !cancelled_line_ended_) Write(stderr, "\n");
  cancelled_line_ended_ = true;
  return true;
}

void Messages::Complain(std::string_view subject, std::string_view what) {
  EndCancelledLine();
  std::string line = "quorvant-cli: ";
  if (!subject.empty()) {
    line += subject;
    line += ": ";
  }
  line += what;
  line += '\n';
  Write(stderr, line);
}

void Messages::FileFailure(std::string_view path, std::string_view what) { Complain(QuoteName(path), what); }

void Messages::NotStarted(std::string_view path, std::string_view consequence) {
  std::string what = "cancelled before it was started";
  if (!consequence.empty()) {
    what += "; ";
    what += consequence;
  }
  FileFailure(path, what);
}

void Messages::CommandFailure(std::string_view command, std::string_view what) { Complain(command, what); }

int Messages::UsageError(std::string_view command, std::string_view what) {
  Complain(command, what);
  Write(stderr, "Try 'quorvant-cli --help'.\n");
  return ExitUsage;
}

void Messages::Result(std::string_view line) {
  EndCancelledLine();
  std::string text(line);
  text += '\n';
  Write(stdout, text);
}

void Messages::Prompt(std::string_view text) {
  EndCancelledLine();
  Write(stderr, text);
}

}  // namespace quorvant::cli
