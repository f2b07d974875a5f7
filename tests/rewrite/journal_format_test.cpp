#include "rewrite/journal_format.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvant {
namespace {

JournalRunHeader SampleHeader() {
  JournalRunHeader header;
  header.run_id = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  header.direction = Direction::Decrypt;
  header.suffix = {' ', 'A', 'b', '3', '~', ' ', 'x', '!', '['};
  header.length = 5 * MaxBlockLength + 77;
  header.block_length = MaxBlockLength;
  header.inode = 123456789012345ull;
  header.slot_length = 2 * MaxBlockLength;
  header.old_name = "report.txt A b3~ x![";
  header.new_name = "report.txt";
  header.key_check = std::vector<std::uint8_t>(53, 0xAB);
  header.had_key_check = true;
  return header;
}

JournalRecord SampleRecord() {
  JournalRecord record;
  record.sequence = 7;
  record.phase = JournalPhase::Undo;
  record.offset = 2 * MaxBlockLength;
  record.length = 2 * MaxBlockLength;
  record.done_after = record.offset;
  record.image_hash = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
  return record;
}

TEST(JournalFormat, HeadersAndRecordsReadBackAsWritten) {
  const JournalRunHeader header = SampleHeader();
  EXPECT_EQ(DecodeRunHeader(EncodeRunHeader(header)), header);
  const JournalRecord record = SampleRecord();
  EXPECT_EQ(DecodeRecord(EncodeRecord(record, header.run_id), header), record);
  EXPECT_EQ(JournalWindowLength(header), 2 * MaxBlockLength);
  EXPECT_EQ(JournalRecordOffset(7), 2 * JournalPageSize);
  EXPECT_EQ(JournalRecordOffset(8), JournalPageSize);
}

// A torn page is never trusted: every single changed bit of what the page
// holds is caught, and so is a page cut short.
TEST(JournalFormat, AnyChangedBitMakesAPageUnreadable) {
  const JournalRunHeader header = SampleHeader();
  const JournalPage run_page = EncodeRunHeader(header);
  const JournalPage record_page = EncodeRecord(SampleRecord(), header.run_id);
  // The sample's run header fills 179 bytes of its page (20- and 10-byte
  // names, a 53-byte check); a record always fills 89.
  for (std::size_t at = 0; at < 179; ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      JournalPage changed = run_page;
      changed[at] ^= static_cast<std::uint8_t>(1 << bit);
      EXPECT_FALSE(DecodeRunHeader(changed)) << at << " " << bit;
      if (at >= 89) continue;
      changed = record_page;
      changed[at] ^= static_cast<std::uint8_t>(1 << bit);
      EXPECT_FALSE(DecodeRecord(changed, header)) << at << " " << bit;
    }
  }
  EXPECT_FALSE(DecodeRunHeader(std::span(run_page).first(100)));
  EXPECT_FALSE(DecodeRunHeader(JournalPage{}));
  EXPECT_FALSE(DecodeRecord(JournalPage{}, header));
}

// Sound checksums, unsound figures: refused, so that nothing downstream
// trusts a window outside the file or a block length the cipher would not use.
TEST(JournalFormat, RefusesFiguresThatCannotBelongToARun) {
  const JournalRunHeader header = SampleHeader();
  const std::vector<std::function<void(JournalRunHeader&)>> bad_headers = {
      [](JournalRunHeader& h) { h.block_length = 4096; },
      [](JournalRunHeader& h) { h.slot_length = 5000; },
      [](JournalRunHeader& h) { h.slot_length = 4096; },
      [](JournalRunHeader& h) { h.new_name = h.old_name; },
      [](JournalRunHeader& h) { h.new_name = "a/b"; },
      [](JournalRunHeader& h) { h.old_name = ".."; },
      [](JournalRunHeader& h) { h.length = -1; },
  };
  for (std::size_t index = 0; index < bad_headers.size(); ++index) {
    JournalRunHeader bad = header;
    bad_headers[index](bad);
    EXPECT_FALSE(DecodeRunHeader(EncodeRunHeader(bad))) << index;
  }
  const std::vector<std::function<void(JournalRecord&)>> bad_records = {
      [](JournalRecord& r) { r.offset += 1; },
      [](JournalRecord& r) { r.length = 3 * MaxBlockLength; },       // larger than the slot
      [](JournalRecord& r) { r.offset = 5 * MaxBlockLength; },       // runs past the end
      [](JournalRecord& r) { r.done_after = r.offset + r.length; },  // an undo's boundary is its start
      [](JournalRecord& r) { r.sequence = 0; },
      [](JournalRecord& r) { r.length = 0; },
  };
  for (std::size_t index = 0; index < bad_records.size(); ++index) {
    JournalRecord bad = SampleRecord();
    bad_records[index](bad);
    EXPECT_FALSE(DecodeRecord(EncodeRecord(bad, header.run_id), header)) << index;
  }
  // A record of another run of the same file.
  RunId other = header.run_id;
  other[0] ^= 1;
  EXPECT_FALSE(DecodeRecord(EncodeRecord(SampleRecord(), other), header));
}

TEST(JournalFormat, NamesCarryTheInode) {
  EXPECT_EQ(JournalName(42), "quorvant-journal-42");
  EXPECT_EQ(InodeOfJournalName("quorvant-journal-42"), ino_t{42});
  EXPECT_EQ(InodeOfJournalName("quorvant-journal-18446744073709551615"), ino_t{18446744073709551615ull});
  for (const char* other :
       {"quorvant-journal-42.new", "quorvant-journal-", "quorvant-journal-042", "quorvant-journal-4x",
        "Quorvant-journal-42", "quorvant-journal-18446744073709551616", "report.txt"}) {
    EXPECT_FALSE(InodeOfJournalName(other)) << other;
  }
}

// A run's journal is named for the run; the two namings never overlap, and
// a set-aside journal is still a journal, a draft is not.
TEST(JournalFormat, NamesCarryTheRun) {
  RunId run{};
  for (std::size_t at = 0; at < run.size(); ++at) run[at] = static_cast<std::uint8_t>(at * 17 + 3);
  const std::string name = JournalName(run);
  EXPECT_EQ(name, "quorvant-journal-031425364758697a8b9cadbecfe0f102");
  EXPECT_EQ(RunOfJournalName(name), run);
  EXPECT_FALSE(InodeOfJournalName(name));
  const std::string digits_only = JournalName(RunId{});
  EXPECT_EQ(RunOfJournalName(digits_only), RunId{});
  EXPECT_FALSE(InodeOfJournalName(digits_only)) << "32 digits are a run, never an inode";
  EXPECT_FALSE(RunOfJournalName("quorvant-journal-42"));
  for (const std::string& other : {name + ".new", name.substr(0, name.size() - 1), name + "0",
                                   std::string("quorvant-journal-031425364758697A8B9CADBECFE0F102")}) {
    EXPECT_FALSE(RunOfJournalName(other)) << other;
  }
  EXPECT_TRUE(IsJournalName(name));
  EXPECT_TRUE(IsJournalName(name + std::string(OrphanJournalSuffix)));
  EXPECT_TRUE(IsJournalName("quorvant-journal-42.orphan"));
  EXPECT_FALSE(IsJournalName(name + std::string(JournalDraftSuffix)));
  EXPECT_FALSE(IsJournalName("quorvant settings"));
}

TEST(JournalFormat, ImageHashIsTheSameFedWholeOrInPieces) {
  std::vector<std::uint8_t> data(100000);
  for (std::size_t index = 0; index < data.size(); ++index)
    data[index] = static_cast<std::uint8_t>(index * 7);
  ImageHash whole;
  whole.Add(data);
  ImageHash pieces;
  pieces.Add(std::span(data).first(1));
  pieces.Add(std::span(data).subspan(1, 65535));
  pieces.Add(std::span(data).subspan(65536));
  EXPECT_EQ(whole.Finish(), pieces.Finish());
  data[99999] ^= 1;
  ImageHash changed;
  changed.Add(data);
  EXPECT_NE(whole.Finish(), changed.Finish());
}

}  // namespace
}  // namespace quorvant
