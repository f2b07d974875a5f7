#pragma once

// File names printed so that they can be pasted back into a shell, the way
// `ls --quoting-style=shell-escape` shows them, and so that no name can send
// control bytes to the terminal:
//
//   report.txt            bare: nothing in it a shell treats specially
//   'a.txt oqF;sA^['      single quotes: spaces or characters special to a shell
//   "it's"                double quotes: a single quote, and otherwise only
//                         characters that are plain inside double quotes
//   'it'\''s $5'          a single quote among other special characters
//   $'line\nbreak\x1b'    control bytes, C1 controls or bytes that are not
//                         UTF-8, escaped as \n, \t, ... and \xHH
//
// Names are bytes; valid UTF-8 beyond ASCII is printed as it is.

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvant::cli {

std::string QuoteName(std::string_view name);

// The length of the valid UTF-8 sequence at the start of `text` (1 to 4), or
// 0 when its first byte does not start one: overlong forms, surrogates and
// code points above U+10FFFF are not valid. `code_point` gets its value.
// `text` must not be empty.
std::size_t Utf8SequenceLength(std::string_view text, char32_t& code_point);

}  // namespace quorvant::cli
