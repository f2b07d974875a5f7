#include "crypto/key_derivation.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <array>
#include <cerrno>
#include <string>
#include <vector>

namespace quorvant {
namespace {

// libsodium's smallest Argon2id memory (8 KiB) keeps each derivation far
// below a millisecond; nothing else differs.
constexpr Argon2idCost TinyCost{1, 8};

std::array<std::uint8_t, 16> SaltOf(std::uint8_t byte) {
  std::array<std::uint8_t, 16> salt{};
  salt.fill(byte);
  return salt;
}

std::vector<std::uint8_t> Bytes(DerivedKey key) { return std::vector<std::uint8_t>(key.begin(), key.end()); }

// What libsodium itself gives for the same question, called directly.
std::vector<std::uint8_t> RawArgon2id(std::string_view key, std::span<const std::uint8_t, 16> salt,
                                      Argon2idCost cost) {
  EXPECT_GE(sodium_init(), 0);
  std::vector<std::uint8_t> out(32);
  EXPECT_EQ(crypto_pwhash(out.data(), out.size(), key.data(), key.size(), salt.data(), cost.passes,
                          std::size_t{cost.memory_kib} * 1024, crypto_pwhash_ALG_ARGON2ID13),
            0);
  return out;
}

TEST(KeyDerivation, DerivesOncePerSaltAndCost) {
  KeyDerivation derivations("a key text");
  const auto salt = SaltOf(1);
  Result<DerivedKey> first = derivations.Derive(salt, TinyCost);
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(Bytes(*first), RawArgon2id("a key text", salt, TinyCost));
  Result<DerivedKey> again = derivations.Derive(salt, TinyCost);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again->data(), first->data()) << "given back from memory";
  EXPECT_EQ(derivations.Derivations(), 1u);

  // Another salt, more passes, more memory: each its own derivation.
  const Argon2idCost more_passes{2, 8};
  const Argon2idCost more_memory{1, 16};
  for (const auto& [other_salt, cost] :
       {std::pair{SaltOf(2), TinyCost}, std::pair{salt, more_passes}, std::pair{salt, more_memory}}) {
    Result<DerivedKey> other = derivations.Derive(other_salt, cost);
    ASSERT_TRUE(other.ok());
    EXPECT_EQ(Bytes(*other), RawArgon2id("a key text", other_salt, cost));
    EXPECT_NE(Bytes(*other), Bytes(*first));
  }
  EXPECT_EQ(derivations.Derivations(), 4u);
}

// A derived key is handed out as a view into the store: it must stay where
// it is, unchanged, however many derivations come after it.
TEST(KeyDerivation, AKeyStaysPutAsTheStoreGrows) {
  KeyDerivation derivations("a key text");
  Result<DerivedKey> first = derivations.Derive(SaltOf(0), TinyCost);
  ASSERT_TRUE(first.ok());
  const std::vector<std::uint8_t> expected = RawArgon2id("a key text", SaltOf(0), TinyCost);
  for (int salt = 1; salt < 100; ++salt) ASSERT_TRUE(derivations.Derive(SaltOf(salt), TinyCost).ok());
  EXPECT_EQ(Bytes(*first), expected);
  EXPECT_EQ(derivations.Derivations(), 100u);
}

TEST(KeyDerivation, RefusesACostLibsodiumDoesNotAccept) {
  KeyDerivation derivations("a key text");
  for (const Argon2idCost cost : {Argon2idCost{0, 8}, Argon2idCost{1, 0}, Argon2idCost{1, 7}}) {
    Result<DerivedKey> derived = derivations.Derive(SaltOf(1), cost);
    ASSERT_FALSE(derived.ok());
    EXPECT_EQ(derived.error().code, EINVAL);
  }
  EXPECT_EQ(derivations.Derivations(), 0u);
}

TEST(KeyDerivation, KnowsItsOwnKeyText) {
  const KeyDerivation derivations("hunter2");
  EXPECT_EQ(derivations.KeyText(), "hunter2");
  EXPECT_TRUE(derivations.HoldsKeyText("hunter2"));
  for (const std::string other : {"hunter3", "Hunter2", "hunter", "hunter22", ""}) {
    EXPECT_FALSE(derivations.HoldsKeyText(other)) << other;
  }
  const KeyDerivation empty("");
  EXPECT_TRUE(empty.HoldsKeyText(""));
  EXPECT_FALSE(empty.HoldsKeyText("a"));
}

}  // namespace
}  // namespace quorvant
