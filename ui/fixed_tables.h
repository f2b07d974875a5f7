#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace quorvant {

// The twelve special keys of the on-screen keyboard: the key text each
// delivers and its caption. A navigation key's text is a space and the scan
// letter, so it acts like the real key (code 0 and the letter) on its last
// character. The arrows have no caption; they are drawn.
struct SpecialKey {
  std::string_view KeyString;
  std::string_view KeyCap;
};
constexpr std::array<SpecialKey, 12> SpecialKeys = {{
    {"\r", "Enter"},  // 0 Enter
    {"\x1b", "Esc"},  // 1 Escape
    {"\b", "BkSp"},   // 2 Backspace
    {" G", "Home"},   // 3 Home
    {" O", "End"},    // 4 End
    {" I", "PgUp"},   // 5 Page Up
    {" Q", "PgDn"},   // 6 Page Down
    {" H", ""},       // 7 Up
    {" P", ""},       // 8 Down
    {" K", ""},       // 9 Left
    {" M", ""},       // 10 Right
    {" S", "Del"},    // 11 Delete
}};

// The help screen's key list: the key's name, then what it does. The last
// line is the program's date line.
struct HelpLine {
  std::string_view HelpKey;
  std::string_view HelpText;
};
constexpr std::array<HelpLine, 11> HelpLines = {{
    {"Up or Down ", "Move bytes|files up or down Show|Hide"},
    {"Left or Right ", "Move bytes|files left or right"},
    {"PgUp or PgDn ", "Move several files or bytes"},
    {"Home or End ", "First or last file or byte"},
    {"Enter ", "Select a file or introduce the key"},
    {"Escape ", "Back to previous level"},
    {"Delete ", "Key character or press twice to erase file"},
    {"Character ", "Find files by the first character"},
    {"Back Space ", "Delete key characters"},
    {"Tab ", "Strong or classic format of a new encryption"},
    {"Updated on ", "20h March 2013"},
}};

// Names of the icon row's buttons in order (0..6); 7 and 8 label the colour
// squares of the help legend; 9 is empty.
constexpr std::array<std::string_view, 10> MenuLabels = {
    "Key",            // 0: Enter, or Escape while the key is empty
    "Encrypted",      // 1: next encrypted file
    "Show|Hide key",  // 2: show or hide the key while typing
    "Statistics",     // 3: statistics of the selected file
    "Keyboard",       // 4: on-screen keyboard
    "List file",      // 5: byte viewer
    "Help",           // 6: this legend and the key list
    "Encoded",        // 7: colour of encrypted names
    "Decoded",        // 8: colour of plain names
    "",               // 9
};

namespace icon {
constexpr int Key = 0;
constexpr int Encrypted = 1;
constexpr int ShowHide = 2;
constexpr int Statistics = 3;
constexpr int Keyboard = 4;
constexpr int ListFile = 5;
constexpr int Help = 6;
}  // namespace icon

// Names of the control codes 0..32; every other byte names itself, except
// 127, "DEL (Delete)".
// clang-format off
constexpr std::array<std::string_view, 33> ControlCodeNames = {
    "NUL (Null)", "SOH (Start of heading)", "STX (Start of text)", "ETX (End of text)",
    "EOT (End of transmission)", "ENQ (Enquiry)", "ACK (Acknowledge)", "BEL (Bell)",
    "BS (Backspace)", "TAB (Horizontal tab)", "LF (Line feed New line)", "VT (Vertical tab)",
    "FF (Form feed New page)", "CR (Carriage return)", "SO (Shift out)", "SI (Shift in)",
    "DLE (Data link escape)", "DC1 (Device control 1)", "DC2 (Device control 2)", "DC3 (Device control 3)",
    "DC4 (Device control 4)", "NAK (Negative acknowledge)", "SYN (Synchronous idle)",
    "ETB (End of trans. block)", "CAN (Cancel)", "EM (End of medium)", "SUB (Substitute)",
    "ESC (Escape)", "FS (File separator)", "GS (Groupe separator)", "RS (Record separator)",
    "US (Unit separator)", "SPC (Space)",
};
// clang-format on

namespace detail {
constexpr std::array<char, 256> AllBytes = [] {
  std::array<char, 256> bytes{};
  for (int i = 0; i < 256; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>(i);
  return bytes;
}();
}  // namespace detail

// The name of every byte value, as the byte viewer and the statistics table
// show it. Bytes 128..255 are Windows-1252 characters.
constexpr std::array<std::string_view, 256> CodeNames = [] {
  std::array<std::string_view, 256> names{};
  for (size_t i = 0; i < 256; ++i) {
    names[i] = i <= 32 ? ControlCodeNames[i] : std::string_view(&detail::AllBytes[i], 1);
  }
  names[127] = "DEL (Delete)";
  return names;
}();

}  // namespace quorvant
