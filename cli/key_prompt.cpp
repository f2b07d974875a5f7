#include "cli/key_prompt.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "base/retry.h"
#include "base/wipe.h"

namespace quorvant::cli {

namespace {

constexpr int InputDescriptor = 0;

// Turns the terminal's echo off for as long as it lives; the newline the
// user types is still echoed.
class EchoOff {
 public:
  explicit EchoOff(int descriptor) : descriptor_(descriptor) {
    active_ = tcgetattr(descriptor_, &saved_) == 0;
    if (!active_) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    tcsetattr(descriptor_, TCSAFLUSH, &quiet);
  }
  ~EchoOff() {
    if (active_) tcsetattr(descriptor_, TCSADRAIN, &saved_);
  }
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;

 private:
  int descriptor_;
  termios saved_{};
  bool active_ = false;
};

// Waits until standard input has a byte or a cancel signal arrives, then
// reads one byte. 1: a byte; 0: end of input; -1: error; -2: cancelled.
int ReadByte(char& byte, CancelSignals& signals) {
  for (;;) {
    if (signals.StopRequested()) return -2;
    pollfd waits[2] = {{InputDescriptor, POLLIN, 0}, {signals.Descriptor(), POLLIN, 0}};
    const int ready = RetryOnInterrupt([&] { return poll(waits, signals.Descriptor() >= 0 ? 2 : 1, -1); });
    if (ready < 0) return -1;
    if (waits[1].revents != 0 && signals.StopRequested()) return -2;
    if (waits[0].revents == 0) continue;
    const ssize_t count = RetryOnInterrupt([&] { return read(InputDescriptor, &byte, 1); });
    if (count < 0 && errno == EAGAIN) continue;
    return count < 0 ? -1 : static_cast<int>(count);
  }
}

// Reads one line byte by byte, handing each byte before the line end to
// `take`; the byte is wiped afterwards, as it may be part of a key.
template <typename Take>
LineOutcome ReadLine(CancelSignals& signals, Take&& take) {
  bool any = false;
  for (;;) {
    char byte = 0;
    const int result = ReadByte(byte, signals);
    if (result == -2) return LineOutcome::Cancelled;
    if (result < 0) return LineOutcome::Failed;
    if (result == 0) return any ? LineOutcome::Read : LineOutcome::EndOfInput;
    any = true;
    if (byte == '\n') return LineOutcome::Read;
    take(byte);
    Wipe(&byte, 1);
  }
}

// One line into `key` (without its line end). A "\r" is held back until
// the next byte: in a line ended "\r\n" by a Windows tool it is the line
// end, not the key, and must not make a longest key overflow.
LineOutcome ReadKeyLine(KeyText& key, CancelSignals& signals) {
  key.Clear();
  bool held_return = false;
  const LineOutcome outcome = ReadLine(signals, [&](char byte) {
    if (held_return) key.Append('\r');
    held_return = byte == '\r';
    if (!held_return) key.Append(byte);
  });
  return outcome;
}

KeyAnswer Failure(std::string message) { return KeyAnswer{KeyOutcome::Failed, std::move(message)}; }

KeyAnswer AnswerOfLine(LineOutcome outcome) {
  switch (outcome) {
    case LineOutcome::Read: return KeyAnswer{};
    case LineOutcome::Cancelled: return KeyAnswer{KeyOutcome::Cancelled, "cancelled"};
    case LineOutcome::EndOfInput: return Failure("no key given (standard input was empty)");
    case LineOutcome::Failed: break;
  }
  return Failure("cannot read the key");
}

KeyAnswer CheckKeyRules(const KeyText& key) {
  const std::string_view text = key.View();
  if (text.empty()) return Failure("the key is empty");
  if (key.Overflowed()) {
    return Failure("the key is longer than " + std::to_string(MaxKeyLength) + " characters");
  }
  if (!IsValidKeyText(text)) {
    return Failure("the key may hold only printable ASCII characters (codes 32 to 126)");
  }
  return KeyAnswer{};
}

}  // namespace

KeyAnswer ReadKey(KeyText& key, KeyConfirmation confirmation, CancelSignals& signals, Messages& messages) {
  if (!isatty(InputDescriptor)) {
    KeyAnswer answer = AnswerOfLine(ReadKeyLine(key, signals));
    if (answer.outcome != KeyOutcome::Read) return answer;
    return CheckKeyRules(key);
  }
  KeyAnswer answer;
  {
    EchoOff quiet(InputDescriptor);
    messages.Prompt("Key: ");
    answer = AnswerOfLine(ReadKeyLine(key, signals));
    if (answer.outcome == KeyOutcome::Read) answer = CheckKeyRules(key);
    if (answer.outcome == KeyOutcome::Read && confirmation == KeyConfirmation::Twice) {
      KeyText again;
      messages.Prompt("Key again: ");
      answer = AnswerOfLine(ReadKeyLine(again, signals));
      // A second typing past the longest key keeps only its first 77
      // characters, which may match the first: it still differs.
      if (answer.outcome == KeyOutcome::Read && (again.Overflowed() || again.View() != key.View())) {
        answer = Failure("the two keys differ");
      }
    }
  }
  if (answer.outcome != KeyOutcome::Read) key.Clear();
  return answer;
}

LineOutcome ReadTerminalLine(std::string& answer, std::size_t limit, CancelSignals& signals) {
  answer.clear();
  return ReadLine(signals, [&](char byte) {
    if (answer.size() < limit) answer.push_back(byte);
  });
}

}  // namespace quorvant::cli
