#pragma once

namespace quorvant {

// What a long operation's per-block progress step answers: go on, or stop
// (the user pressed Esc).
enum class ProgressAnswer { Continue, Cancel };

}  // namespace quorvant
