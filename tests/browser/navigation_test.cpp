#include "browser/navigation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvant {
namespace {

// Folder order cannot be chosen on a real file system, so these tables are
// built in memory in the order each case needs.
FileTable TableOf(const std::vector<std::string>& names, const std::vector<int>& flags = {}) {
  FileTable table;
  for (std::size_t i = 0; i < names.size(); ++i) {
    table.entries.push_back(FileEntry{names[i], 1, i < flags.size() ? flags[i] : 0});
  }
  for (const FileEntry& entry : table.entries) table.EncryptedCount += entry.encrypted_flag;
  return table;
}

FileTable TableOfCount(int count) {
  std::vector<std::string> names;
  for (int i = 1; i <= count; ++i) names.push_back("file" + std::to_string(i));
  return TableOf(names);
}

// ---------------------------------------------------------------------------

struct MoveCase {
  int file_count;
  int start;
  char letter;
  int expected;
};

class Moves : public ::testing::TestWithParam<MoveCase> {};

TEST_P(Moves, MoveThenClamp) {
  const MoveCase& item = GetParam();
  EXPECT_EQ(MoveSelection(TableOfCount(item.file_count), item.start, item.letter), item.expected);
}

const MoveCase MoveCases[] = {
    // One file: everything stays on it; a page is 0.
    {1, 1, 'H', 1},
    {1, 1, 'P', 1},
    {1, 1, 'I', 1},
    {1, 1, 'Q', 1},
    {1, 1, 'G', 1},
    {1, 1, 'O', 1},
    // Five files: a page is 4.
    {5, 1, 'H', 1},
    {5, 1, 'K', 1},
    {5, 1, 'I', 1},
    {5, 2, 'I', 1},
    {5, 5, 'P', 5},
    {5, 5, 'M', 5},
    {5, 5, 'Q', 5},
    {5, 3, 'Q', 5},
    {5, 1, 'Q', 5},
    {5, 5, 'I', 1},
    {5, 2, 'P', 3},
    {5, 2, 'M', 3},
    {5, 3, 'H', 2},
    {5, 3, 'K', 2},
    {5, 4, 'G', 1},
    {5, 2, 'O', 5},
    // Twenty files: a page is 8.
    {20, 3, 'Q', 11},
    {20, 3, 'I', 1},
    {20, 11, 'I', 3},
    {20, 15, 'Q', 20},
    {20, 20, 'I', 12},
    {20, 20, 'P', 20},
    {20, 7, 'O', 20},
    // Keys that move nothing still clamp a selection the folder shrank below.
    {5, 3, 'F', 3},
    {5, 3, 'X', 3},
    {5, 9, 'F', 5},
    {5, 9, 'H', 5},
    {5, 0, 'X', 1},
    // No files at all: the selection rests at 1.
    {0, 1, 'P', 1},
    {0, 1, 'O', 1},
};

INSTANTIATE_TEST_SUITE_P(Keys, Moves, ::testing::ValuesIn(MoveCases));

TEST(PageStep, IsAPageOfEightOrFewer) {
  const int counts[] = {0, 1, 2, 5, 9, 10, 20};
  const int steps[] = {0, 0, 1, 4, 8, 8, 8};
  for (std::size_t i = 0; i < std::size(counts); ++i) {
    EXPECT_EQ(TableOfCount(counts[i]).PageStep(), steps[i]) << counts[i] << " files";
  }
}

// ---------------------------------------------------------------------------

struct FindCase {
  const char* label;
  std::vector<std::string> names;
  int start;
  char character;
  std::vector<int> expected_steps;  // the selection after each repeated press
};

class FindByFirst : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindByFirst, StepsThroughMatchesInFolderOrder) {
  const FindCase& item = GetParam();
  const FileTable table = TableOf(item.names);
  int selected = item.start;
  for (std::size_t press = 0; press < item.expected_steps.size(); ++press) {
    selected = FindByFirstCharacter(table, selected, item.character);
    EXPECT_EQ(selected, item.expected_steps[press]) << "press " << press + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, FindByFirst,
    ::testing::Values(
        // Case counts: "Report" is never found by "r".
        FindCase{"lower_r", {"read.me", "Report", "rules"}, 1, 'r', {3, 1, 3}},
        FindCase{"upper_r", {"read.me", "Report", "rules"}, 1, 'R', {2, 2}},
        FindCase{"cycles_all", {"apple", "banana", "avocado", "cherry", "apricot"}, 1, 'a', {3, 5, 1, 3}},
        FindCase{"from_between", {"apple", "banana", "avocado", "cherry", "apricot"}, 4, 'a', {5, 1, 3}},
        FindCase{"only_the_selected", {"alpha", "beta"}, 1, 'a', {1}},
        FindCase{"one_file", {"alpha"}, 1, 'a', {1}},
        FindCase{"no_match", {"alpha", "beta", "gamma"}, 2, 'z', {2}},
        FindCase{"high_byte", {"\xe9t\xe9", "x", "\xe9l\xe8ve"}, 1, '\xe9', {3, 1}},
        FindCase{"digit", {"b", "2024 taxes.pdf", "a"}, 3, '2', {2, 2}}),
    [](const ::testing::TestParamInfo<FindCase>& info) { return std::string(info.param.label); });

TEST(FindByFirst, EmptyTableLeavesSelection) { EXPECT_EQ(FindByFirstCharacter(FileTable{}, 1, 'a'), 1); }

// ---------------------------------------------------------------------------

struct EncryptedCase {
  const char* label;
  std::vector<int> flags;
  int start;
  int expected;
};

class NextEncrypted : public ::testing::TestWithParam<EncryptedCase> {};

TEST_P(NextEncrypted, FindsTheNextFlaggedEntryWrapping) {
  const EncryptedCase& item = GetParam();
  std::vector<std::string> names;
  for (std::size_t i = 0; i < item.flags.size(); ++i)
    names.push_back(std::string("f").append(std::to_string(i)));
  EXPECT_EQ(FindNextEncrypted(TableOf(names, item.flags), item.start), item.expected);
}

INSTANTIATE_TEST_SUITE_P(Flags, NextEncrypted,
                         ::testing::Values(EncryptedCase{"after_plain", {0, 1, 0, 1, 0}, 1, 2},
                                           EncryptedCase{"after_encrypted", {0, 1, 0, 1, 0}, 2, 4},
                                           EncryptedCase{"wraps_from_last_encrypted", {0, 1, 0, 1, 0}, 4, 2},
                                           EncryptedCase{"wraps_from_last_entry", {0, 1, 0, 1, 0}, 5, 2},
                                           EncryptedCase{"only_the_selected", {0, 0, 1}, 3, 3},
                                           EncryptedCase{"first_entry_from_end", {1, 0, 0}, 3, 1},
                                           EncryptedCase{"none", {0, 0, 0}, 2, 2}),
                         [](const ::testing::TestParamInfo<EncryptedCase>& info) {
                           return std::string(info.param.label);
                         });

}  // namespace
}  // namespace quorvant
