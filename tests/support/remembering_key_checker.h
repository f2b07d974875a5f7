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
    const auto question = std::make_tuple(std::string(key_text), ToVector(salt), cost.passes, cost.memory_kib);
    auto found = masters_.find(question);
    if (found == masters_.end()) {
      Result<StrongMasterKey, StrongKeyFailure> master = KeyChecker::StrongMaster(key_text, salt, cost);
      if (!master) return master;
      found = masters_.emplace(question, *master).first;
    }
    return found->second;
  }
  // Always the same salt, so that one derivation serves every run.
  StrongSalt NewStrongSalt() override { return StrongSalt{'t', 'e', 's', 't'}; }

  Result<KeyCheckValue> Make(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                             std::int64_t file_length) override {
    const auto question = std::make_tuple(std::string(key_text), ToVector(suffix), file_length);
    auto found = made_.find(question);
    if (found == made_.end()) {
      Result<KeyCheckValue> value = KeyChecker::Make(key_text, suffix, file_length);
      if (!value) return value;
      found = made_.emplace(question, *value).first;
    }
    return found->second;
  }

  Result<KeyCheckVerdict> Judge(std::string_view key_text, std::span<const std::uint8_t, 9> suffix,
                                std::int64_t file_length,
                                std::span<const std::uint8_t> stored_value) override {
    const auto question =
        std::make_tuple(std::string(key_text), ToVector(suffix), file_length, ToVector(stored_value));
    auto found = judged_.find(question);
    if (found == judged_.end()) {
      Result<KeyCheckVerdict> verdict = KeyChecker::Judge(key_text, suffix, file_length, stored_value);
      if (!verdict) return verdict;
      found = judged_.emplace(question, *verdict).first;
    }
    return found->second;
  }

  Result<UndoMarkKey> MarkKey(std::string_view key_text, std::span<const std::uint8_t> check,
                              std::uint64_t key_id) override {
    const auto question = std::make_tuple(std::string(key_text), ToVector(check), key_id);
    auto found = mark_keys_.find(question);
    if (found == mark_keys_.end()) {
      Result<UndoMarkKey> key = KeyChecker::MarkKey(key_text, check, key_id);
      if (!key) return key;
      found = mark_keys_.emplace(question, *key).first;
    }
    return found->second;
  }

 private:
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
