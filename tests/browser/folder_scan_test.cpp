#include "browser/folder_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "base/clock.h"
#include "browser/navigation.h"
#include "crypto/encrypted_name.h"
#include "crypto/strong_trailer.h"
#include "files/opened_file.h"
#include "rewrite/admission.h"
#include "rewrite/journal_format.h"
#include "rewrite/run_mark.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using testing::TempFolder;

std::vector<std::string> Names(const FileTable& table) {
  std::vector<std::string> names;
  for (const FileEntry& entry : table.entries) names.push_back(entry.name);
  return names;
}

// ---------------------------------------------------------------------------
// Which folder items are listed, and how. Each case is one item in a fresh
// folder; the folder's listing must hold exactly that item or nothing.

enum class Kind { File, Folder, SymlinkToFile, DanglingSymlink, Fifo, Socket, Device };
enum class Expect { Hidden, Plain, Encrypted };

struct ListingCase {
  const char* label;
  Kind kind;
  std::string name;
  std::size_t size;
  Expect expect;
  const char* shown_name = nullptr;  // DisplayName when listed, if it differs from the name
};

class ListingRules : public ::testing::TestWithParam<ListingCase> {};

TEST_P(ListingRules, ListsOnlyWhatIsMeant) {
  const ListingCase& item = GetParam();
  TempFolder outside;  // link targets live here, so that they are not listed themselves
  outside.Write("target.txt", 10);
  TempFolder folder;
  switch (item.kind) {
    case Kind::File: folder.Write(item.name, item.size); break;
    case Kind::Folder:
      folder.MakeFolder(item.name);
      folder.Write(item.name + "/inside.txt", 10);
      break;
    case Kind::SymlinkToFile: folder.MakeSymlink(item.name, outside.PathOf("target.txt")); break;
    case Kind::DanglingSymlink: folder.MakeSymlink(item.name, outside.PathOf("missing.txt")); break;
    case Kind::Fifo: folder.MakeFifo(item.name); break;
    case Kind::Socket: folder.MakeSocket(item.name); break;
    case Kind::Device:
      if (!folder.MakeDevice(item.name)) GTEST_SKIP() << "no privilege to make a device file";
      break;
  }

  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  if (item.expect == Expect::Hidden) {
    EXPECT_EQ(table.FileCount(), 0) << "listed: " << (table.FileCount() ? table.Entry(1).name : "");
    EXPECT_EQ(table.EncryptedCount, 0);
    return;
  }
  ASSERT_EQ(table.FileCount(), 1);
  const FileEntry& entry = table.Entry(1);
  EXPECT_EQ(entry.name, item.name);
  EXPECT_EQ(entry.size, item.size);
  const int flag = item.expect == Expect::Encrypted ? 1 : 0;
  EXPECT_EQ(entry.encrypted_flag, flag);
  EXPECT_EQ(table.EncryptedCount, flag);
  EXPECT_EQ(DisplayName(entry), item.shown_name != nullptr ? std::string(item.shown_name) : item.name);
}

const std::string LongestName(255, 'n');

INSTANTIATE_TEST_SUITE_P(
    Folder, ListingRules,
    ::testing::Values(
        ListingCase{"plain", Kind::File, "report.txt", 10, Expect::Plain},
        ListingCase{"one_byte", Kind::File, "a", 1, Expect::Plain},
        ListingCase{"empty", Kind::File, "empty.txt", 0, Expect::Hidden},
        ListingCase{"prefix_upper", Kind::File, "QUORVANT.cfg", 10, Expect::Hidden},
        ListingCase{"prefix_mixed_case", Kind::File, "qUoRvAnT.txt", 10, Expect::Hidden},
        ListingCase{"prefix_alone", Kind::File, "quorvant", 10, Expect::Hidden},
        ListingCase{"prefix_seven_letters", Kind::File, "Quorvan.txt", 10, Expect::Plain},
        ListingCase{"prefix_eighth_differs", Kind::File, "QUORVANX.txt", 10, Expect::Plain},
        ListingCase{"prefix_not_first", Kind::File, "my quorvant.txt", 10, Expect::Plain},
        ListingCase{"encrypted", Kind::File, "notes.txt Ab3xZ9q[", 20, Expect::Encrypted, "notes.txt"},
        ListingCase{"closing_bracket", Kind::File, "notes.txt Ab3xZ9q]", 20, Expect::Plain},
        ListingCase{"encrypted_suffix_only", Kind::File, " Ab3xZ9q[", 5, Expect::Encrypted, ""},
        ListingCase{"eight_bytes_with_bracket", Kind::File, "Ab3xZ9q[", 5, Expect::Plain},
        ListingCase{"space_one_too_far", Kind::File, "x Ab3xZ9qr[", 5, Expect::Plain},
        ListingCase{"encrypted_program_name", Kind::File, "Quorvant Ab3xZ9q[", 5, Expect::Hidden},
        ListingCase{"hidden", Kind::File, ".secret", 10, Expect::Hidden},
        ListingCase{"hidden_encrypted", Kind::File, ".notes Ab3xZ9q[", 10, Expect::Hidden},
        ListingCase{"sub_folder", Kind::Folder, "photos", 0, Expect::Hidden},
        ListingCase{"sub_folder_encrypted_name", Kind::Folder, "photos Ab3xZ9q[", 0, Expect::Hidden},
        ListingCase{"symlink_to_file", Kind::SymlinkToFile, "link.txt", 0, Expect::Hidden},
        ListingCase{"dangling_symlink", Kind::DanglingSymlink, "gone.txt", 0, Expect::Hidden},
        ListingCase{"fifo", Kind::Fifo, "pipe", 0, Expect::Hidden},
        ListingCase{"socket", Kind::Socket, "socket", 0, Expect::Hidden},
        ListingCase{"device", Kind::Device, "null", 0, Expect::Hidden},
        ListingCase{"not_utf8", Kind::File, "caf\xe9 \xff.txt", 7, Expect::Plain},
        ListingCase{"not_utf8_encrypted", Kind::File, "\xe9t\xe9 Ab3xZ9q[", 7, Expect::Encrypted,
                    "\xe9t\xe9"},
        ListingCase{"longest_name", Kind::File, LongestName, 3, Expect::Plain},
        ListingCase{"large_size", Kind::File, "big.bin", 5'000'000, Expect::Plain}),
    [](const ::testing::TestParamInfo<ListingCase>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------
// Names of the strong shape: the file's end says whether it is encrypted.

// What a strong file of `plain_length` bytes looks like without the key:
// ciphertext, tag table and a trailer whose clear fields and checksum hold.
std::vector<std::uint8_t> StrongFileBytes(std::uint64_t plain_length) {
  std::vector<std::uint8_t> bytes(plain_length + StrongTagLength * StrongChunkCount(plain_length), 0x5A);
  StrongTrailer trailer;
  trailer.plain_length = plain_length;
  StrongTrailerBytes end{};
  EncodeStrongTrailerHead(trailer, end);
  SealStrongChecksum(end);
  bytes.insert(bytes.end(), end.begin(), end.end());
  return bytes;
}

enum class StrongEndShape { Sound, ChecksumDamaged, NoMark, CutInsideTrailer, CutInsideMagic, Appended };

struct StrongNameCase {
  const char* label;
  StrongEndShape end;
  Expect expect;
};

std::vector<std::uint8_t> BytesOf(StrongEndShape shape) {
  std::vector<std::uint8_t> bytes = StrongFileBytes(100);
  switch (shape) {
    case StrongEndShape::Sound: break;
    case StrongEndShape::ChecksumDamaged: bytes[bytes.size() - 30] ^= 1; break;
    case StrongEndShape::NoMark: bytes.assign(300, 'p'); break;
    case StrongEndShape::CutInsideTrailer: bytes.resize(bytes.size() - 20); break;
    // Only the magic's first bytes are left: nothing says strong any more.
    case StrongEndShape::CutInsideMagic: bytes.resize(bytes.size() - StrongTrailerLength + 5); break;
    case StrongEndShape::Appended: bytes.insert(bytes.end(), 40, 'x'); break;
  }
  return bytes;
}

class StrongNames : public ::testing::TestWithParam<StrongNameCase> {};

TEST_P(StrongNames, AreEncryptedWhenTheirEndHoldsATrailersMark) {
  const StrongNameCase& item = GetParam();
  TempFolder folder;
  folder.Write("notes.txt Ab3xZ9q]", BytesOf(item.end));
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  ASSERT_EQ(table.FileCount(), 1);
  const int flag = item.expect == Expect::Encrypted ? 1 : 0;
  EXPECT_EQ(table.Entry(1).encrypted_flag, flag);
  EXPECT_EQ(table.EncryptedCount, flag);
  EXPECT_EQ(DisplayName(table.Entry(1)), flag == 1 ? "notes.txt" : "notes.txt Ab3xZ9q]");
  EXPECT_EQ(FindNextEncrypted(table, 1), 1);
  // Listed as Enter finds it: a plain file is one its admission would
  // encrypt; anything else it decrypts or refuses as damaged or cut.
  FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), "notes.txt Ab3xZ9q]");
  ASSERT_TRUE(opened);
  TestClock clock;
  FileCalls calls;
  const FileResult<Admission> admitted = AdmitFile(*opened, FileIntent::ByName, clock, calls);
  EXPECT_EQ(admitted && admitted->direction == Direction::Encrypt, flag == 0)
      << (admitted ? "admitted" : admitted.error().error.action);
}

INSTANTIATE_TEST_SUITE_P(
    Folder, StrongNames,
    ::testing::Values(StrongNameCase{"sound_trailer", StrongEndShape::Sound, Expect::Encrypted},
                      // Damaged, it is still no plain file: Enter says why it cannot be decrypted.
                      StrongNameCase{"damaged_trailer", StrongEndShape::ChecksumDamaged, Expect::Encrypted},
                      StrongNameCase{"no_trailer", StrongEndShape::NoMark, Expect::Plain},
                      // A trailer's mark a little before the end: cut, or bytes appended.
                      StrongNameCase{"cut_inside_trailer", StrongEndShape::CutInsideTrailer,
                                     Expect::Encrypted},
                      StrongNameCase{"appended_bytes", StrongEndShape::Appended, Expect::Encrypted},
                      StrongNameCase{"cut_inside_magic", StrongEndShape::CutInsideMagic, Expect::Plain}),
    [](const ::testing::TestParamInfo<StrongNameCase>& info) { return std::string(info.param.label); });

// A strong end under a classic name, or under no suffix, is no concern of
// the listing: the name alone decides.
TEST(FolderScan, OnlyStrongShapedNamesAreJudgedByTheirEnd) {
  TempFolder folder;
  folder.Write("a Ab3xZ9q[", StrongFileBytes(10));
  folder.Write("b.bin", StrongFileBytes(10));
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  ASSERT_EQ(Names(table), (std::vector<std::string>{"a Ab3xZ9q[", "b.bin"}));
  EXPECT_EQ(table.Entry(1).encrypted_flag, 1);
  EXPECT_EQ(table.Entry(2).encrypted_flag, 0);
  EXPECT_EQ(table.EncryptedCount, 1);
}

// A file another run holds (its lease) is never waited for: the
// non-blocking open fails and the file is not counted strong. One that
// carries a run's mark is not opened at all, so the run's lease stays whole.
TEST(FolderScan, StrongShapedFileHeldByARunIsNeitherWaitedForNorDisturbed) {
  TempFolder folder;
  folder.Write("held Ab3xZ9q]", StrongFileBytes(10));
  std::optional<FileResult<OpenedFile>> held = OpenFileInFolder(folder.Fd(), "held Ab3xZ9q]");
  ASSERT_EQ(FailureOf(*held).outcome, FileOutcome::Done);
  if ((*held)->Lock() != FileLock::Lease) GTEST_SKIP() << "no leases on this file system";
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  ASSERT_EQ(table.FileCount(), 1);
  EXPECT_EQ(table.Entry(1).encrypted_flag, 0) << "an open that failed counts as plain";

  // The failed open asked the holder to let go; a fresh holder, with a mark.
  held.reset();
  held = OpenFileInFolder(folder.Fd(), "held Ab3xZ9q]");
  ASSERT_EQ(FailureOf(*held).outcome, FileOutcome::Done);
  FileCalls calls;
  const Result<bool> marked = StoreRunMark((*held)->Descriptor(), RunId{1, 2, 3}, calls);
  ASSERT_TRUE(marked);
  if (!*marked) GTEST_SKIP() << "no user attributes on this file system";
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  EXPECT_EQ(table.Entry(1).encrypted_flag, 1);
  EXPECT_EQ(table.EncryptedCount, 1);
  EXPECT_EQ(fcntl((*held)->Descriptor(), F_GETLEASE), F_WRLCK) << "the run's lease was broken";
}

// The end is looked at again when only the file's content changed.
TEST(FolderScan, UpdateEntryJudgesAStrongShapedNameAgain) {
  TempFolder folder;
  folder.Write("x Ab3xZ9q]", BytesOf(StrongEndShape::NoMark));
  folder.Write("y", 3);
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  ASSERT_EQ(table.Entry(1).encrypted_flag, 0);

  const std::vector<std::uint8_t> strong = StrongFileBytes(50);
  const UniqueFd file(openat(folder.Fd(), "x Ab3xZ9q]", O_WRONLY | O_TRUNC | O_CLOEXEC));
  ASSERT_TRUE(file.IsOpen());
  ASSERT_EQ(write(file.Get(), strong.data(), strong.size()), static_cast<ssize_t>(strong.size()));
  ASSERT_TRUE(UpdateEntry(folder.Fd(), table, "x Ab3xZ9q]"));
  EXPECT_EQ(table.Entry(1).size, strong.size());
  EXPECT_EQ(table.Entry(1).encrypted_flag, 1);
  EXPECT_EQ(table.EncryptedCount, 1);

  // Plain bytes over the whole file: no trailer's mark is left anywhere.
  const std::vector<std::uint8_t> plain(300, 'p');
  ASSERT_EQ(pwrite(file.Get(), plain.data(), plain.size(), 0), static_cast<ssize_t>(plain.size()));
  ASSERT_TRUE(UpdateEntry(folder.Fd(), table, "x Ab3xZ9q]"));
  EXPECT_EQ(table.Entry(1).encrypted_flag, 0);
  EXPECT_EQ(table.EncryptedCount, 0);
}

// ---------------------------------------------------------------------------
// Scans over time: the table is reused, so nothing of an earlier scan may stay.

TEST(FolderScan, EmptyFileAppearsOnceItGrows) {
  TempFolder folder;
  folder.Write("growing.log", 0);
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  EXPECT_EQ(table.FileCount(), 0);

  folder.Append("growing.log", 3);
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  ASSERT_EQ(table.FileCount(), 1);
  EXPECT_EQ(table.Entry(1).name, "growing.log");
  EXPECT_EQ(table.Entry(1).size, 3u);
}

TEST(FolderScan, RescanForgetsRemovedEntriesAndStaleFlags) {
  TempFolder folder;
  folder.Write("a Ab3xZ9q[", 1);
  folder.Write("b Ab3xZ9q[", 2);
  folder.Write("c Ab3xZ9q[", 3);
  folder.Write("a long name that does not fit a short string.txt", 4);
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  ASSERT_EQ(table.FileCount(), 4);
  EXPECT_EQ(table.EncryptedCount, 3);

  // Decrypting renames the file back; erasing removes one.
  folder.Rename("a Ab3xZ9q[", "a");
  folder.Remove("b Ab3xZ9q[");
  folder.Remove("a long name that does not fit a short string.txt");
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  ASSERT_EQ(table.FileCount(), 2);
  std::set<std::string> names;
  for (const FileEntry& entry : table.entries) {
    names.insert(entry.name);
    EXPECT_EQ(entry.encrypted_flag, HasEncryptedSuffixShape(entry.name) ? 1 : 0) << entry.name;
  }
  EXPECT_EQ(names, (std::set<std::string>{"a", "c Ab3xZ9q["}));
  EXPECT_EQ(table.EncryptedCount, 1);
  EXPECT_EQ(table.PageStep(), 1);
}

// A journal named for a file's inode marks that file interrupted and is
// itself never listed; once it is gone, a rescan forgets the mark.
TEST(FolderScan, MarksTheFileAJournalIsNamedFor) {
  TempFolder folder;
  folder.Write("a.txt", 1);
  folder.Write("b.txt", 2);
  struct stat facts {};
  ASSERT_EQ(::fstatat(folder.Fd(), "a.txt", &facts, AT_SYMLINK_NOFOLLOW), 0);
  const std::string journal = JournalName(facts.st_ino);
  folder.Write(journal, 3);
  // A journal of a run no file here is marked for holds nothing up.
  folder.Write(JournalName(RunId{7}), 3);
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  ASSERT_EQ(Names(table), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_TRUE(table.Entry(1).interrupted);
  EXPECT_FALSE(table.Entry(2).interrupted);

  folder.Remove(journal);
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  EXPECT_FALSE(table.Entry(1).interrupted);
}

TEST(FolderScan, ListsInNameOrderWithCaseFolded) {
  TempFolder folder;
  for (const char* name :
       {"rules", "Report", "read.me", "b", "B", "a.txt 1234567[", "a.txt", "Zeta", "_x", "10", "9"}) {
    folder.Write(name, 1);
  }
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  EXPECT_EQ(Names(table), (std::vector<std::string>{"10", "9", "_x", "a.txt", "a.txt 1234567[", "B", "b",
                                                    "read.me", "Report", "rules", "Zeta"}));
}

TEST(FolderScan, WorksThroughAPathOnlyDescriptorAndLeavesItsPositionAlone) {
  TempFolder folder;
  folder.Write("one", 1);
  folder.Write("two", 2);
  const int path_fd = open(folder.Path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(path_fd, 0);
  FileTable table;
  EXPECT_TRUE(FolderScan(path_fd, table).ok());
  EXPECT_EQ(table.FileCount(), 2);
  close(path_fd);

  // The caller's own descriptor, read to its end elsewhere, lists in full.
  char buffer[4096];
  while (getdents64(folder.Fd(), buffer, sizeof buffer) > 0) {
  }
  EXPECT_TRUE(FolderScan(folder.Fd(), table).ok());
  EXPECT_EQ(table.FileCount(), 2);
}

// ---------------------------------------------------------------------------
// Races with other programs, made to happen at the worst moment.

struct RaceCase {
  const char* label;
  void (*act)(TempFolder& folder);  // runs just before "victim" is looked at
};

class ScanRace : public ::testing::TestWithParam<RaceCase> {};

TEST_P(ScanRace, ChangedEntryIsSkippedAndTheRestListed) {
  TempFolder folder;
  folder.Write("before", 1);
  folder.Write("victim", 1);
  folder.Write("after", 1);
  bool acted = false;
  FolderScanSeam seam;
  seam.BeforeStat = [&](std::string_view name) {
    if (name == "victim" && !acted) {
      acted = true;
      GetParam().act(folder);
    }
  };
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table, &seam).ok());
  EXPECT_TRUE(acted);
  std::set<std::string> names;
  for (const FileEntry& entry : table.entries) names.insert(entry.name);
  EXPECT_EQ(names, (std::set<std::string>{"before", "after"}));
}

INSTANTIATE_TEST_SUITE_P(
    Folder, ScanRace,
    ::testing::Values(RaceCase{"vanished", [](TempFolder& folder) { folder.Remove("victim"); }},
                      RaceCase{"became_folder",
                               [](TempFolder& folder) {
                                 folder.Remove("victim");
                                 folder.MakeFolder("victim");
                               }},
                      RaceCase{"became_symlink",
                               [](TempFolder& folder) {
                                 folder.Remove("victim");
                                 folder.MakeSymlink("victim", folder.PathOf("before"));
                               }},
                      RaceCase{"became_fifo",
                               [](TempFolder& folder) {
                                 folder.Remove("victim");
                                 folder.MakeFifo("victim");
                               }},
                      RaceCase{"emptied", [](TempFolder& folder) { folder.Write("victim", 0); }}),
    [](const ::testing::TestParamInfo<RaceCase>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------

TEST(FolderScan, UnreadableFolderListsAsEmpty) {
  TempFolder folder;
  folder.Write("a", 1);
  folder.Write("plain file", 1);
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  ASSERT_EQ(table.FileCount(), 2);

  const int file_fd = openat(folder.Fd(), "plain file", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(file_fd, 0);
  const Status not_a_folder = FolderScan(file_fd, table);
  close(file_fd);
  ASSERT_FALSE(not_a_folder.ok());
  EXPECT_EQ(not_a_folder.error().code, ENOTDIR);
  EXPECT_EQ(table.FileCount(), 0);
  EXPECT_EQ(table.EncryptedCount, 0);

  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  const Status closed = FolderScan(-1, table);
  EXPECT_FALSE(closed.ok());
  EXPECT_EQ(table.FileCount(), 0);
}

TEST(FolderScan, DeletedFolderListsAsEmpty) {
  TempFolder folder;
  folder.Write("a", 1);
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  folder.Remove("a");
  ASSERT_EQ(rmdir(folder.Path().c_str()), 0);
  (void)FolderScan(folder.Fd(), table);
  EXPECT_EQ(table.FileCount(), 0);
}

TEST(FolderScan, ListsAtMostTheTableCapacity) {
  TempFolder folder;
  const int total = FileTable::Capacity + 15;
  folder.Write("0 Ab3xZ9q[", 1);
  for (int i = 1; i < total; ++i) folder.Link("0 Ab3xZ9q[", std::to_string(i) + " Ab3xZ9q[");
  folder.Write(".hidden", 1);
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  EXPECT_EQ(table.FileCount(), FileTable::Capacity);
  EXPECT_EQ(table.EncryptedCount, FileTable::Capacity);
  EXPECT_EQ(table.PageStep(), 8);
  const std::vector<std::string> names = Names(table);
  const std::set<std::string> distinct(names.begin(), names.end());
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(FileTable::Capacity));
}

// ---------------------------------------------------------------------------
// One entry brought up to date without a listing: only while the name still
// names the same listable file; anything else asks for a whole listing.

struct EntryCase {
  const char* label;
  void (*change)(TempFolder& folder);
  const char* name;
  bool updated;
  std::uint64_t size;  // of "b Ab3xZ9q[" in the table afterwards
};

class UpdateEntryTest : public ::testing::TestWithParam<EntryCase> {};

void PrintTo(const EntryCase& c, std::ostream* out) { *out << c.label; }

TEST_P(UpdateEntryTest, UpdatesOnlyTheSameFile) {
  const EntryCase& c = GetParam();
  TempFolder folder;
  folder.Write("a", 1);
  folder.Write("b Ab3xZ9q[", 2);
  folder.Write("C", 3);
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  const FileTable before = table;
  c.change(folder);
  EXPECT_EQ(UpdateEntry(folder.Fd(), table, c.name), c.updated);
  ASSERT_EQ(Names(table), Names(before)) << "names and order stay";
  EXPECT_EQ(table.Entry(2).size, c.size);
  EXPECT_EQ(table.Entry(2).encrypted_flag, 1);
  EXPECT_EQ(table.EncryptedCount, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, UpdateEntryTest,
    ::testing::Values(
        EntryCase{"Grown", [](TempFolder& f) { f.Append("b Ab3xZ9q[", 40); }, "b Ab3xZ9q[", true, 42},
        EntryCase{"Unchanged", [](TempFolder&) {}, "b Ab3xZ9q[", true, 2},
        EntryCase{"Emptied", [](TempFolder& f) { f.Write("b Ab3xZ9q[", 0); }, "b Ab3xZ9q[", false, 2},
        EntryCase{"Removed", [](TempFolder& f) { f.Remove("b Ab3xZ9q["); }, "b Ab3xZ9q[", false, 2},
        EntryCase{"ReplacedByAnotherInode",
                  [](TempFolder& f) {
                    f.Write("other", 7);
                    f.Rename("other", "b Ab3xZ9q[");
                  },
                  "b Ab3xZ9q[", false, 2},
        EntryCase{"NowALink",
                  [](TempFolder& f) {
                    f.Remove("b Ab3xZ9q[");
                    f.MakeSymlink("b Ab3xZ9q[", f.PathOf("a"));
                  },
                  "b Ab3xZ9q[", false, 2},
        EntryCase{"NotListed", [](TempFolder& f) { f.Write("d", 5); }, "d", false, 2},
        // Names are found by their exact bytes, not by the folded order.
        EntryCase{"OtherCase", [](TempFolder& f) { f.Write("c", 5); }, "c", false, 2}),
    [](const ::testing::TestParamInfo<EntryCase>& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------
// What the main loop does after a scan.

struct DecisionCase {
  const char* label;
  std::vector<FileEntry> entries;
  int selected_index;
  std::string last_shown_name;
  std::uint64_t last_shown_size;
  int expected_index;
  bool expected_empty;
  bool expected_redraw;
};

class AfterScan : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(AfterScan, ClampsAndRedrawsOnlyOnChange) {
  const DecisionCase& item = GetParam();
  FileTable table;
  table.entries = item.entries;
  const ScanDecision decision =
      DecideAfterScan(table, item.selected_index, item.last_shown_name, item.last_shown_size);
  EXPECT_EQ(decision.SelectedIndex, item.expected_index);
  EXPECT_EQ(decision.FolderEmpty, item.expected_empty);
  EXPECT_EQ(decision.RedrawSelected, item.expected_redraw);
}

const std::vector<FileEntry> ThreeFiles = {{"a", 1}, {"b", 2}, {"c", 3}};

INSTANTIATE_TEST_SUITE_P(
    Decisions, AfterScan,
    ::testing::Values(
        DecisionCase{"unchanged", ThreeFiles, 2, "b", 2, 2, false, false},
        DecisionCase{"unchanged_last", ThreeFiles, 3, "c", 3, 3, false, false},
        DecisionCase{"first_scan", ThreeFiles, 1, "", 0, 1, false, true},
        DecisionCase{"selected_grew", ThreeFiles, 2, "b", 1, 2, false, true},
        DecisionCase{
            "selected_renamed", {{"a", 1}, {"b Ab3xZ9q[", 2, 1}, {"c", 3}}, 2, "b", 2, 2, false, true},
        DecisionCase{"other_entry_changed", {{"a", 9}, {"b", 2}}, 2, "b", 2, 2, false, false},
        DecisionCase{"shrunk_below_selection", {{"a", 1}, {"b", 2}}, 5, "e", 5, 2, false, true},
        // The entry is the one shown before, but the index moved: the screen must follow.
        DecisionCase{"clamped_onto_same_file", {{"c", 3}}, 3, "c", 3, 1, false, true},
        DecisionCase{"emptied", {}, 3, "c", 3, 3, true, false}),
    [](const ::testing::TestParamInfo<DecisionCase>& info) { return std::string(info.param.label); });

TEST(AfterScan, ErasingTheLastFileSelectsTheNewLastOnce) {
  TempFolder folder;
  folder.Write("x", 1);
  folder.Write("y", 2);
  folder.Write("z", 3);
  FileTable table;
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  int selected = MoveSelection(table, 1, 'O');
  std::string shown_name = table.Entry(selected).name;
  std::uint64_t shown_size = table.Entry(selected).size;

  folder.Remove(shown_name);
  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  ScanDecision decision = DecideAfterScan(table, selected, shown_name, shown_size);
  EXPECT_EQ(decision.SelectedIndex, 2);
  EXPECT_TRUE(decision.RedrawSelected);
  selected = decision.SelectedIndex;
  shown_name = table.Entry(selected).name;
  shown_size = table.Entry(selected).size;

  ASSERT_TRUE(FolderScan(folder.Fd(), table).ok());
  decision = DecideAfterScan(table, selected, shown_name, shown_size);
  EXPECT_EQ(decision.SelectedIndex, 2);
  EXPECT_FALSE(decision.RedrawSelected);
}

}  // namespace
}  // namespace quorvant
