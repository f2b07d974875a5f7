#include "crypto/key_entry.h"

namespace quorvant {

// FIXME: key entry and the file process on screen are not built yet.
Next RunKeyEntry(AppState&) { return Next::WaitThenBrowse; }

}  // namespace quorvant
