// The key texts of the real window's key presses.

#include "surface/platform/sdl_keys.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <string>

#include "base/keys.h"

namespace quorvant {
namespace {

std::string Nav(char scan_letter) { return std::string(1, '\0') + scan_letter; }

struct KeyCase {
  const char* name;
  SDL_Keycode sym;
  std::uint16_t modifiers;
  std::string text;
};

class SdlKeyTextTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(SdlKeyTextTest, GivesTheKeyText) {
  const KeyCase& c = GetParam();
  EXPECT_EQ(SdlKeyText(c.sym, c.modifiers), c.text) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, SdlKeyTextTest,
    ::testing::Values(
        KeyCase{"Enter", SDLK_RETURN, KMOD_NONE, "\r"},
        KeyCase{"keypad Enter", SDLK_KP_ENTER, KMOD_NUM, "\r"},
        KeyCase{"Esc", SDLK_ESCAPE, KMOD_NONE, "\x1b"}, KeyCase{"Backspace", SDLK_BACKSPACE, KMOD_NONE, "\b"},
        KeyCase{"Tab", SDLK_TAB, KMOD_NONE, "\t"}, KeyCase{"Shift alone", SDLK_LSHIFT, KMOD_LSHIFT, ""},
        KeyCase{"a letter arrives as text", SDLK_a, KMOD_NONE, ""},
        KeyCase{"Up", SDLK_UP, KMOD_NONE, Nav(scan::Up)},
        KeyCase{"Up with NumLock", SDLK_UP, KMOD_NUM, Nav(scan::Up)},
        KeyCase{"Del", SDLK_DELETE, KMOD_NONE, Nav(scan::Del)}, KeyCase{"F1", SDLK_F1, KMOD_NONE, Nav(';')},
        KeyCase{"F10", SDLK_F10, KMOD_NONE, Nav('D')}, KeyCase{"F12", SDLK_F12, KMOD_NONE, Nav(scan::F12)},
        // The keypad: navigation while NumLock is off, digits (as text) while it is
        // on, and navigation again with Shift held while it is on.
        KeyCase{"keypad 8, NumLock off", SDLK_KP_8, KMOD_NONE, Nav(scan::Up)},
        KeyCase{"keypad 8, NumLock on", SDLK_KP_8, KMOD_NUM, ""},
        KeyCase{"Shift + keypad 8, NumLock on", SDLK_KP_8, KMOD_NUM | KMOD_LSHIFT, Nav(scan::Up)},
        KeyCase{"Shift + keypad 2, NumLock on", SDLK_KP_2, KMOD_NUM | KMOD_RSHIFT, Nav(scan::Down)},
        KeyCase{"Shift + keypad 7, NumLock on", SDLK_KP_7, KMOD_NUM | KMOD_LSHIFT, Nav(scan::Home)},
        KeyCase{"Shift + keypad 3, NumLock on", SDLK_KP_3, KMOD_NUM | KMOD_LSHIFT, Nav(scan::PgDn)},
        KeyCase{"Shift + keypad ., NumLock on", SDLK_KP_PERIOD, KMOD_NUM | KMOD_LSHIFT, Nav(scan::Del)},
        KeyCase{"keypad ., NumLock off", SDLK_KP_PERIOD, KMOD_NONE, Nav(scan::Del)},
        KeyCase{"keypad 5 moves nothing", SDLK_KP_5, KMOD_NONE, ""}));

}  // namespace
}  // namespace quorvant
