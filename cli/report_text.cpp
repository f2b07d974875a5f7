#include "cli/report_text.h"

namespace quorvant::cli {

namespace {

std::string_view Explanation(FileOutcome outcome) {
  switch (outcome) {
    case FileOutcome::AlreadyOpen: return " (another program has it open or locked)";
    case FileOutcome::ReadOnly: return " (it can be read but not changed)";
    case FileOutcome::Vanished: return " (it is no longer there under that name)";
    case FileOutcome::NotRegular: return " (symlinks, FIFOs, devices and folders are never opened)";
    default: return "";
  }
}

std::string_view ConditionText(FileCondition condition) {
  switch (condition) {
    case FileCondition::AsBefore: return "; the file is unchanged";
    case FileCondition::PartlyOverwritten: return "; the file is kept, partly overwritten";
    case FileCondition::PartlyTransformed:
      return "; THE FILE COULD NOT BE RESTORED and is partly transformed. Its name keeps the encrypted-name "
             "suffix, which is needed with the key to recover it";
    case FileCondition::Transformed:
    case FileCondition::Erased: break;
  }
  return "";
}

}  // namespace

std::string DescribeRefusal(FileOutcome outcome, const Error& error) {
  std::string text(OutcomeText(outcome));
  text += Explanation(outcome);
  if (!error.action.empty() && outcome != FileOutcome::Cancelled) text += ": " + error.Describe();
  return text;
}

std::string DescribeReport(const FileReport& report) {
  std::string text = DescribeRefusal(report.outcome, report.error);
  text += ConditionText(report.condition);
  return text;
}

std::string Printable(std::string_view text) {
  std::string shown(text);
  for (char& character : shown) {
    const auto code = static_cast<unsigned char>(character);
    if (code < 32 || code == 127) character = '?';
  }
  return shown;
}

}  // namespace quorvant::cli
