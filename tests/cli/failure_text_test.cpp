// What the tool says of a run that stopped part-way: every byte range it
// names must be what the report says, and nothing may read as "untouched"
// when bytes were being written.

#include "cli/failure_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace quorvant::cli {
namespace {

FileReport Interrupted(FileOutcome outcome, Error error, std::int64_t done, std::int64_t torn_length) {
  FileReport report;
  report.outcome = outcome;
  report.condition = FileCondition::Interrupted;
  report.name = "f.dat x";
  report.error = std::move(error);
  report.journal = "quorvant-journal-7";
  report.done = done;
  report.length = 41943040;
  report.torn_from = done;
  report.torn_length = torn_length;
  return report;
}

TEST(FailureText, AnInterruptedRunNamesTheBytesItWasWriting) {
  struct Case {
    const char* name;
    FileReport report;
    std::vector<std::string> says;
    std::vector<std::string> never;
  } cases[] = {
      {"out of space in place, nothing whole yet",
       Interrupted(FileOutcome::NoSpace, Error{ENOSPC, "write f.dat x"}, 0, 10485760),
       {"the disk ran out of space part-way (write f.dat x: No space left on device)",
        "the first 0 of 41943040 bytes are encrypted and the rest are as before, except bytes 0 to 10485759, "
        "which were being written when it stopped",
        "quorvant-cli resume 'f.dat x' finishes the run"},
       {"no space for the run's journal"}},
      {"a write error between windows",
       Interrupted(FileOutcome::WriteError, Error{EIO, "write f.dat x"}, 4096, 0),
       {"write error: Input/output error",
        "the first 4096 of 41943040 bytes are encrypted and the rest are as before. Its journal"},
       {"except bytes"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = DescribeTransformReport(c.report, "f.dat x", "f.dat x", Direction::Encrypt);
    for (const std::string& part : c.says) EXPECT_NE(text.find(part), std::string::npos) << text << "\n" << part;
    for (const std::string& part : c.never) EXPECT_EQ(text.find(part), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace quorvant::cli
