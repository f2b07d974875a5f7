#include "crypto/key_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <new>
#include <string>

namespace quorvant {
namespace {

// A key of `length` characters, none of them a byte the bookkeeping could
// hold (the length is at most 77, the flag 0 or 1), so finding one in the
// object's bytes means a key character was left behind.
std::string SampleKey(std::size_t length) {
  std::string key;
  for (std::size_t i = 0; i < length; ++i) key.push_back(static_cast<char>('a' + i % 26));
  return key;
}

bool HoldsKeyCharacter(const unsigned char* bytes, std::size_t size) {
  return std::any_of(bytes, bytes + size, [](unsigned char byte) { return byte >= 'a' && byte <= 'z'; });
}

void Fill(KeyText& key, const std::string& text) {
  for (const char character : text) ASSERT_TRUE(key.Append(character));
}

TEST(KeyText, TakesTheLongestKeyAndRefusesOneCharacterMore) {
  KeyText key;
  Fill(key, SampleKey(MaxKeyLength));
  EXPECT_EQ(key.View(), SampleKey(MaxKeyLength));
  EXPECT_FALSE(key.Overflowed());
  EXPECT_FALSE(key.Insert(0, '!'));
  EXPECT_TRUE(key.Overflowed());
  EXPECT_EQ(key.View(), SampleKey(MaxKeyLength)) << "a refused character changes nothing";
  key.Clear();
  EXPECT_FALSE(key.Overflowed()) << "a new typing starts afresh";
}

TEST(KeyText, EditsInPlaceWithoutMovingTheBuffer) {
  KeyText key;
  const char* const buffer = key.View().data();
  Fill(key, "ace");
  ASSERT_TRUE(key.Insert(1, 'b'));
  ASSERT_TRUE(key.Insert(3, 'd'));
  EXPECT_EQ(key.View(), "abcde");
  key.Erase(0);
  key.Erase(10);  // past the end: nothing
  key.DropLast();
  EXPECT_EQ(key.View(), "bcd");
  for (std::size_t i = key.Size(); i < KeyText::Capacity; ++i) ASSERT_TRUE(key.Append('x'));
  EXPECT_EQ(key.View().data(), buffer) << "the key never moves to another buffer";
}

// Every way a key character leaves the text also leaves no copy of it in the
// buffer.
TEST(KeyText, CharactersThatLeaveAreWiped) {
  struct Case {
    const char* name;
    void (*leave)(KeyText& key);
  } cases[] = {
      {"Clear", [](KeyText& key) { key.Clear(); }},
      {"Erase from the front",
       [](KeyText& key) {
         while (!key.Empty()) key.Erase(0);
       }},
      {"Erase from the middle",
       [](KeyText& key) {
         while (!key.Empty()) key.Erase(key.Size() / 2);
       }},
      {"DropLast",
       [](KeyText& key) {
         while (!key.Empty()) key.DropLast();
       }},
      {"TakeFrom into another key",
       [](KeyText& key) {
         KeyText other;
         other.TakeFrom(key);
       }},
  };
  for (const Case& c : cases) {
    KeyText key;
    Fill(key, SampleKey(MaxKeyLength));
    c.leave(key);
    EXPECT_TRUE(key.IsWiped()) << c.name;
  }
}

TEST(KeyText, TakeFromMovesTheTextAndWipesTheSource) {
  KeyText first, second;
  Fill(first, "first typing");
  Fill(second, "old");
  second.TakeFrom(first);
  EXPECT_EQ(second.View(), "first typing");
  EXPECT_TRUE(first.IsWiped());
  second.TakeFrom(second);
  EXPECT_EQ(second.View(), "first typing") << "taking from itself keeps the text";
}

TEST(KeyText, EndingWipesTheObject) {
  alignas(KeyText) unsigned char storage[sizeof(KeyText)] = {};
  KeyText* key = new (storage) KeyText;
  Fill(*key, SampleKey(MaxKeyLength));
  ASSERT_TRUE(HoldsKeyCharacter(storage, sizeof storage));
  key->~KeyText();
  EXPECT_FALSE(HoldsKeyCharacter(storage, sizeof storage));
}

}  // namespace
}  // namespace quorvant
