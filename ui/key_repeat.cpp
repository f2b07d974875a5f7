#include "ui/key_repeat.h"

#include <utility>

namespace quorvant {

// A key held down repeats; what a repeat may do:
//
//   key                    repeat                        so that
//   Enter, Esc, Tab        dropped                       a held Enter opens, confirms or answers
//                                                        once; a held Tab switches the format once
//   Del                    acts only in the key field    held, it erases nothing, and the erase
//                          (deletes the next character)  prompt waits for a Del pressed anew
//   every other key        acts                          held arrows and page keys move through the
//                                                        list, held characters type
bool RepeatActs(ScreenMode mode, const std::string& key) {
  if (key::Is(key, key::Enter) || key::Is(key, key::Escape) || key::Is(key, key::Tab)) return false;
  if (key::IsExtended(key) && key::Last(key) == scan::Del) return mode == ScreenMode::Key;
  return true;
}

std::string ReadActingKey(AppState& s) {
  for (;;) {
    KeyStroke press = s.Platform->ReadKeyStroke(KeySite::Wait);
    if (press.text.empty() || !press.repeat || RepeatActs(s.Mode, press.text)) return std::move(press.text);
  }
}

}  // namespace quorvant
