#pragma once

#include "ui/app_state.h"
#include "ui/flow.h"

namespace quorvant {

// A click on the icon row or the on-screen keyboard, or a key the input wait
// passed on: the clicked icon acts (see the table in click_dispatch.cpp), and
// any input but the Help icon hides the help text. `from` is where the tests
// start: a screen that an icon handed control to hands it back part-way.
WaitResult DispatchClick(AppState& s, DispatchFrom from);

}  // namespace quorvant
