#pragma once

// A run's journal as a test sees it from outside, while the run is held:
// which journal the folder has, its header and its newest record; and the
// moment of a run that these show.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "rewrite/journal_format.h"
#include "tests/support/stopped_process.h"
#include "tests/support/temp_folder.h"

namespace quorvant::testing {

// The folder's journal (not a draft of one), if it has one.
inline std::optional<std::string> JournalIn(const TempFolder& folder) {
  for (const std::string& name : folder.Names()) {
    if (IsJournalName(name) && !name.ends_with(OrphanJournalSuffix)) return name;
  }
  return std::nullopt;
}

struct JournalView {
  JournalRunHeader header;
  std::uint64_t newest_record = 0;  // 0 before the first window's record
};

inline std::optional<JournalView> ReadJournal(const TempFolder& folder, const std::string& name) {
  const int file = openat(folder.Fd(), name.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return std::nullopt;
  std::vector<std::uint8_t> pages(static_cast<std::size_t>(3 * JournalPageSize));
  const ssize_t got = pread(file, pages.data(), pages.size(), 0);
  close(file);
  if (got != static_cast<ssize_t>(pages.size())) return std::nullopt;
  std::optional<JournalRunHeader> header = DecodeRunHeader(std::span(pages).first(JournalPageSize));
  if (!header) return std::nullopt;
  JournalView view{*header, 0};
  for (int page = 1; page <= 2; ++page) {
    const auto record =
        DecodeRecord(std::span(pages).subspan(page * JournalPageSize, JournalPageSize), *header);
    if (record) view.newest_record = std::max(view.newest_record, record->sequence);
  }
  return view;
}

// Where the run on `start_name` stands against the moment its journal holds
// `record` as its newest record (0: the journal is there, no record yet); the
// journal seen at the moment goes to `seen`. For StopAtMoment.
inline Moment RunAtRecord(const TempFolder& folder, const std::string& start_name, std::uint64_t record,
                          std::optional<JournalView>& seen) {
  const std::optional<std::string> journal = JournalIn(folder);
  // Without a journal the run has either not begun or is over.
  if (!journal) return folder.Exists(start_name) ? Moment::NotYet : Moment::Missed;
  std::optional<JournalView> view = ReadJournal(folder, *journal);
  if (!view || view->newest_record < record) return Moment::NotYet;
  if (view->newest_record > record) return Moment::Missed;
  seen = std::move(view);
  return Moment::Reached;
}

}  // namespace quorvant::testing
