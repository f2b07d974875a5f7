#pragma once

// Reading the key: from the terminal without echo, or from the first line of
// standard input when that is not a terminal. Never from the command line,
// where other users could read it in the process list.

#include <string>

#include "cli/cancel_signals.h"
#include "cli/messages.h"
#include "crypto/key_text.h"

namespace quorvant::cli {

enum class KeyConfirmation { Once, Twice };

enum class KeyOutcome { Read, Cancelled, Failed };

struct KeyAnswer {
  KeyOutcome outcome = KeyOutcome::Read;
  std::string message;  // what went wrong, for Failed
};

// Fills `key`. On a terminal the key is asked for on standard error with
// echo off, twice for KeyConfirmation::Twice (the two must match). A key
// breaking the rules (1 to 77 characters, codes 32 to 126) is Failed with a
// message saying which rule.
KeyAnswer ReadKey(KeyText& key, KeyConfirmation confirmation, CancelSignals& signals, Messages& messages);

enum class LineOutcome { Read, EndOfInput, Cancelled, Failed };

// Reads one line of the terminal on standard input into `answer` (at most
// `limit` characters kept), returning early when a cancel signal arrives.
LineOutcome ReadTerminalLine(std::string& answer, std::size_t limit, CancelSignals& signals);

}  // namespace quorvant::cli
