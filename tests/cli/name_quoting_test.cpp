#include "cli/name_quoting.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace quorvant::cli {
namespace {

struct QuotingCase {
  const char* what;
  std::string name;
  std::string shown;
};

void PrintTo(const QuotingCase& quoting, std::ostream* output) { *output << quoting.what; }

class NameQuoting : public ::testing::TestWithParam<QuotingCase> {};

// What bash makes of `text` as the argument of printf %s: the bytes a user
// gets when pasting the shown name back into a shell.
std::string AsBashReadsIt(const std::string& text) {
  int output[2];
  if (pipe(output) != 0) return "(no pipe)";
  const pid_t child = fork();
  if (child == 0) {
    dup2(output[1], 1);
    close(output[0]);
    close(output[1]);
    const std::string command = "printf %s " + text;
    execlp("bash", "bash", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(output[1]);
  std::string read_back;
  char buffer[256];
  for (ssize_t count; (count = read(output[0], buffer, sizeof buffer)) > 0;) read_back.append(buffer, count);
  close(output[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return read_back;
}

// Each name shows as `ls --quoting-style=shell-escape` would show it (with
// one $'...' for the whole of a name that needs escapes), never carries a
// control byte to the terminal, and reads back as the same bytes in bash.
TEST_P(NameQuoting, ShowsTheNameSoThatAShellReadsItBack) {
  const QuotingCase& quoting = GetParam();
  const std::string shown = QuoteName(quoting.name);
  EXPECT_EQ(shown, quoting.shown);
  for (const char byte : shown) {
    const auto code = static_cast<unsigned char>(byte);
    EXPECT_TRUE(code >= 0x20 && code != 0x7F) << "raw control byte " << int(code);
  }
  EXPECT_EQ(AsBashReadsIt(shown), quoting.name);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameQuoting,
    ::testing::Values(
        QuotingCase{"plain", "report.txt", "report.txt"},
        QuotingCase{"characters that are never special", "v1.2_%+,-:]@/x", "v1.2_%+,-:]@/x"},
        QuotingCase{"an encrypted name", "a.txt oqF;sA^[", "'a.txt oqF;sA^['"},
        QuotingCase{"an encrypted name with braces and a tilde", "b.txt {~}a!zz[", "'b.txt {~}a!zz['"},
        QuotingCase{"a space", "my file", "'my file'"},
        QuotingCase{"shell characters", "a=b?$(c)*", "'a=b?$(c)*'"},
        QuotingCase{"a backslash", "back\\slash", "'back\\slash'"},
        QuotingCase{"a quote alone", "it's", "\"it's\""},
        QuotingCase{"a quote and a space", "it's here", "\"it's here\""},
        QuotingCase{"a quote among shell characters", "it's $5", "'it'\\''s $5'"},
        QuotingCase{"a leading tilde", "~home", "'~home'"}, QuotingCase{"an inner tilde", "a~b", "a~b"},
        QuotingCase{"a leading comment sign", "#1", "'#1'"},
        QuotingCase{"an inner comment sign", "no#1", "no#1"}, QuotingCase{"a lone brace", "{", "'{'"},
        QuotingCase{"braces in a name", "{a}", "{a}"}, QuotingCase{"a leading dash", "-n", "-n"},
        QuotingCase{"UTF-8 kept as it is", "caf\xc3\xa9 \xe6\x97\xa5.txt", "'caf\xc3\xa9 \xe6\x97\xa5.txt'"},
        QuotingCase{"UTF-8 needing no quotes", "na\xc3\xafve", "na\xc3\xafve"},
        QuotingCase{"a newline", "two\nlines", "$'two\\nlines'"},
        QuotingCase{"a tab and a carriage return", "a\tb\r", "$'a\\tb\\r'"},
        QuotingCase{"an escape sequence", "\x1b[31mred", "$'\\x1b[31mred'"},
        QuotingCase{"DEL", "del\x7f", "$'del\\x7f'"},
        QuotingCase{"a quote and a backslash among escapes", "it's\\\n", "$'it\\'s\\\\\\n'"},
        QuotingCase{"a C1 control",
                    "\xc2\x9b"
                    "2J",
                    "$'\\xc2\\x9b2J'"},
        QuotingCase{"bytes that are not UTF-8", "bad\xff\xfe.txt", "$'bad\\xff\\xfe.txt'"},
        QuotingCase{"an overlong form", "\xc0\xaf", "$'\\xc0\\xaf'"},
        QuotingCase{"a surrogate", "\xed\xa0\x80", "$'\\xed\\xa0\\x80'"},
        QuotingCase{"a sequence cut short", "end\xe2\x82", "$'end\\xe2\\x82'"},
        QuotingCase{"escapes before hex digits",
                    "\x01"
                    "ab",
                    "$'\\x01ab'"}),
    [](const ::testing::TestParamInfo<QuotingCase>& info) { return "Case" + std::to_string(info.index); });

TEST(NameQuotingTest, AnEmptyNameShowsAsEmptyQuotes) { EXPECT_EQ(QuoteName(""), "''"); }

}  // namespace
}  // namespace quorvant::cli
