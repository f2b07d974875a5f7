#include "surface/platform/sdl_keys.h"

#include <SDL.h>

#include "base/keys.h"

namespace quorvant {

namespace {

// Two-character key texts: code 0, then the keyboard scan code.
std::string Extended(char scan_letter) { return std::string(1, '\0') + scan_letter; }

struct KeyMapping {
  SDL_Keycode key;
  char scan_letter;
};

// Navigation and function keys of the separate key block.
constexpr KeyMapping BlockKeys[] = {
    {SDLK_HOME, scan::Home},  {SDLK_UP, scan::Up},         {SDLK_PAGEUP, scan::PgUp},
    {SDLK_LEFT, scan::Left},  {SDLK_RIGHT, scan::Right},   {SDLK_END, scan::End},
    {SDLK_DOWN, scan::Down},  {SDLK_PAGEDOWN, scan::PgDn}, {SDLK_INSERT, scan::Insert},
    {SDLK_DELETE, scan::Del}, {SDLK_F11, scan::F11},       {SDLK_F12, scan::F12},
};

// The keypad's navigation keys, where they do not type their digit.
constexpr KeyMapping KeypadKeys[] = {
    {SDLK_KP_7, scan::Home},   {SDLK_KP_8, scan::Up},       {SDLK_KP_9, scan::PgUp}, {SDLK_KP_4, scan::Left},
    {SDLK_KP_6, scan::Right},  {SDLK_KP_1, scan::End},      {SDLK_KP_2, scan::Down}, {SDLK_KP_3, scan::PgDn},
    {SDLK_KP_0, scan::Insert}, {SDLK_KP_PERIOD, scan::Del},
};

template <std::size_t N>
std::string Lookup(const KeyMapping (&table)[N], SDL_Keycode key) {
  for (const KeyMapping& mapping : table) {
    if (mapping.key == key) return Extended(mapping.scan_letter);
  }
  return {};
}

}  // namespace

std::string SdlKeyText(std::int32_t sym, std::uint16_t modifiers) {
  switch (sym) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return std::string(1, key::Enter);
    case SDLK_ESCAPE: return std::string(1, key::Escape);
    case SDLK_BACKSPACE: return std::string(1, key::Backspace);
    case SDLK_TAB: return std::string(1, key::Tab);
    default: break;
  }
  if (sym >= SDLK_F1 && sym <= SDLK_F10) return Extended(static_cast<char>(scan::F1 + (sym - SDLK_F1)));
  if (std::string text = Lookup(BlockKeys, sym); !text.empty()) return text;
  // With NumLock on, Shift turns a keypad digit back into its navigation key.
  const bool keypad_navigates = (modifiers & KMOD_NUM) == 0 || (modifiers & KMOD_SHIFT) != 0;
  if (keypad_navigates) return Lookup(KeypadKeys, sym);
  return {};
}

}  // namespace quorvant
