#pragma once

// The real key check (Argon2id, at the cheapest accepted cost) for tests that
// run the same file thousands of times: each answer is worked out once and
// remembered. A remembered check is made with the same salt every time,
// which only tests can afford.

#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "crypto/key_check.h"
#include "crypto/undo_mark.h"

namespace quorvant::testing {

inline constexpr KeyCheckCost CheapKeyCheckCost{MinKeyCheckPasses, MinKeyCheckMemoryMib};
inline constexpr StrongCost CheapStrongCost = MinStrongCost;

class RememberingKeyChecker : public KeyChecker {
 public:
  RememberingKeyChecker() : KeyChecker(CheapKeyCheckCost, CheapStrongCost) {}

  Result<StrongMasterKey, StrongKeyFailure> StrongMaster(std::string_view key_text,
                                                         std::span<const std::uint8_t, 16> salt,
                                                         StrongCost cost) override {
    return Remember(masters_, std::make_tuple(std::string(key_text), ToVector(salt), cost.passes, cost.memory_kib),
                    [&] { return KeyChecker::StrongMaster(key_text, salt, cost); });
  }
  // Always the same salt, so that one derivation serves every run.
  StrongSalt NewStrongSalt() override { return StrongSalt{'t', 'e', 's', 't'}; }

  Result<KeyCheckValue> Make(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                             std::int64_t file_length) override {
    return Remember(made_, std::make_tuple(std::string(key_text), ToVector(suffix), file_length),
                    [&] { return KeyChecker::Make(key_text, suffix, file_length); });
  }

  Result<KeyCheckVerdict> Judge(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                std::int64_t file_length,
                                std::span<const std::uint8_t> stored_value) override {
    return Remember(judged_,
                    std::make_tuple(std::string(key_text), ToVector(suffix), file_length, ToVector(stored_value)),
                    [&] { return KeyChecker::Judge(key_text, suffix, file_length, stored_value); });
  }

  Result<UndoMarkKey> MarkKey(std::string_view key_text, std::span<const std::uint8_t> check,
                              std::uint64_t key_id) override {
    return Remember(mark_keys_, std::make_tuple(std::string(key_text), ToVector(check), key_id),
                    [&] { return KeyChecker::MarkKey(key_text, check, key_id); });
  }

 private:
  // The answer to `question` worked out once by `answer`; failures are not kept.
  template <typename Answers, typename Question, typename Answer>
  static auto Remember(Answers& answers, const Question& question, const Answer& answer) -> decltype(answer()) {
    auto found = answers.find(question);
    if (found == answers.end()) {
      auto worked_out = answer();
      if (!worked_out) return worked_out;
      found = answers.emplace(question, *worked_out).first;
    }
    return found->second;
  }

  template <typename Bytes>
  static std::vector<std::uint8_t> ToVector(const Bytes& bytes) {
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  }

  std::map<std::tuple<std::string, std::vector<std::uint8_t>, std::int64_t>, KeyCheckValue> made_;
  std::map<std::tuple<std::string, std::vector<std::uint8_t>, std::uint32_t, std::uint32_t>, StrongMasterKey>
      masters_;
  std::map<std::tuple<std::string, std::vector<std::uint8_t>, std::int64_t, std::vector<std::uint8_t>>,
           KeyCheckVerdict>
      judged_;
  std::map<std::tuple<std::string, std::vector<std::uint8_t>, std::uint64_t>, UndoMarkKey> mark_keys_;
};

}  // namespace quorvant::testing
