#pragma once

#include <cstdint>
#include <string>

namespace quorvant {

// The key text of an SDL key press that types no character (the character
// keys arrive as text input instead): Enter, Esc, Backspace and Tab as their
// one character; navigation and function keys as code 0 plus the scan-code
// letter. The keypad's digits are navigation keys while NumLock is off, and
// also with Shift held while it is on, as a PC keyboard has it. Everything
// else (Shift, a keypad digit that types itself) gives "".
// `sym` is an SDL_Keycode, `modifiers` the SDL_Keymod bits.
std::string SdlKeyText(std::int32_t sym, std::uint16_t modifiers);

}  // namespace quorvant
