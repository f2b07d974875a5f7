#include "crypto/erase_screen.h"

namespace quorvant {

// FIXME: secure erase on screen is not built yet.
Next EraseSelectedFile(AppState&) { return Next::BrowseEntry; }

}  // namespace quorvant
