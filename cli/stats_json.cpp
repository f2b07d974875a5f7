#include "cli/stats_json.h"

#include <cstdio>

#include "analysis/number_format.h"
#include "cli/name_quoting.h"

namespace quorvant::cli {

namespace {

// A figure's text as the window shows it, made a JSON number: the digit
// groups' spaces go, "undefined" becomes null.
std::string JsonNumber(std::string_view shown) {
  if (shown == UndefinedText) return "null";
  std::string number;
  for (const char character : shown) {
    if (character != ' ') number += character;
  }
  return number;
}

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t position = 0; position < text.size();) {
    char32_t code_point = 0;
    const std::size_t length = Utf8SequenceLength(text.substr(position), code_point);
    if (length == 0) {
      out += "\\ufffd";
      ++position;
      continue;
    }
    if (length > 1 && code_point > 0x9F) {
      out.append(text.substr(position, length));
    } else if (code_point == '"' || code_point == '\\') {
      out += '\\';
      out += static_cast<char>(code_point);
    } else if (code_point == '\n') {
      out += "\\n";
    } else if (code_point == '\t') {
      out += "\\t";
    } else if (code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code_point));
      out += escape;
    } else {
      out += static_cast<char>(code_point);
    }
    position += length;
  }
  return out + "\"";
}

std::string StatisticsJson(std::string_view file, const FileStatistics& statistics, ReportCounts counts) {
  std::string line = "{\"file\":" + JsonString(file);
  for (std::size_t index = 0; index < StatFigureCount; ++index) {
    line += ",\"";
    line += StatJsonKeys[index];
    line += "\":";
    line += JsonNumber(statistics.StatValues[index]);
  }
  if (counts == ReportCounts::Include) {
    line += ",\"counts\":[";
    for (std::size_t value = 0; value < statistics.ByteCounts.size(); ++value) {
      if (value > 0) line += ',';
      line += std::to_string(statistics.ByteCounts[value]);
    }
    line += ']';
  }
  return line + "}\n";
}

}  // namespace quorvant::cli
