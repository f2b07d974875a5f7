// Crash simulation of the journaled file run on the model file system
// (tests/support/model_file_system.h). For each scenario the run goes once to
// the end with every change logged. Then, at every point of the log, the
// state there is rebuilt and
//   - the power is lost (several seeds: each unsynced page, size, attribute
//     and name change kept or dropped at random; half the seeds also tear the
//     write in progress page by page), or
//   - the process is killed (everything written so far kept; the write in
//     progress stopped half-way),
// and resume and resume --undo run on copies of what is left, each after a
// resume with a wrong key that must change nothing at all. Afterwards the
// folder must hold exactly the original file or exactly the reference
// encryption (decryption) under its new name, each with its key check
// attribute as it should be, and no journal. At some points the resume is
// crashed in turn, at each of its changes, and resumed again. Finally each
// change of the run fails in turn, then the power goes at each later point.

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "crypto/encrypted_name.h"
#include "crypto/strong_format.h"
#include "crypto/undo_mark.h"
#include "rewrite/admission.h"
#include "rewrite/file_transform.h"
#include "rewrite/journal_format.h"
#include "tests/support/model_file_system.h"
#include "tests/support/remembering_key_checker.h"
#include "tests/support/sample_key.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using testing::Key;
using testing::ModelFileSystem;
using testing::ModelOp;
using testing::ModelState;
using testing::StrongSuffix;
using testing::Suffix;

constexpr char WrongKey[] = "correct horsf";
const std::string PlainName = "report.txt";
const std::string EncryptedFileName = PlainName + std::string(Suffix.begin(), Suffix.end());
const std::string StrongFileName = PlainName + std::string(StrongSuffix.begin(), StrongSuffix.end());
constexpr std::int64_t Block = MaxBlockLength;

// Power-loss seeds per crash point, and how often a resume is crashed in turn.
constexpr int PowerSeeds = 6;
constexpr std::size_t SecondCrashEvery = 4;

testing::RememberingKeyChecker& Checker() {
  static testing::RememberingKeyChecker checker;
  return checker;
}

std::vector<std::uint8_t> Encrypted(std::vector<std::uint8_t> data) {
  KeyWords words = BuildKeyWords(Key, Suffix);
  const auto block = static_cast<std::int32_t>(std::min<std::size_t>(data.size(), MaxBlockLength));
  for (std::size_t at = 0; at < data.size(); at += static_cast<std::size_t>(block)) {
    TransformBlock(std::span(data).subspan(at, std::min(data.size() - at, static_cast<std::size_t>(block))),
                   block, Direction::Encrypt, words);
  }
  return data;
}

// The strong format draws its file key and nonces afresh for each run, so
// its encryption is known by what it decrypts to.
std::vector<std::uint8_t> StrongEncrypted(const std::vector<std::uint8_t>& plain) {
  StrongFreshParts parts = DrawStrongFreshParts();
  parts.salt = Checker().NewStrongSalt();
  const Result<StrongMasterKey, StrongKeyFailure> master =
      Checker().StrongMaster(Key, parts.salt, Checker().NewStrongCost());
  return EncryptStrongImage(*master, parts, Checker().NewStrongCost(), plain);
}

bool IsStrongEncryptionOf(const std::vector<std::uint8_t>& image, const std::vector<std::uint8_t>& plain) {
  const StrongEnd end = ClassifyStrongEnd(image, static_cast<std::int64_t>(image.size()));
  if (end.kind != StrongEndKind::Sound) return false;
  const Result<StrongMasterKey, StrongKeyFailure> master = Checker().StrongMaster(Key, end.trailer.salt, end.trailer.cost);
  if (!master) return false;
  const Result<StrongDecrypted, StrongKeyFailure> decrypted = DecryptStrongImage(*master, image);
  return decrypted && decrypted->damaged_chunks.empty() && decrypted->plaintext == plain;
}

bool IsJournal(const std::string& name) { return name.starts_with(JournalNamePrefix); }
bool IsDraft(const std::string& name) { return IsJournal(name) && name.ends_with(JournalDraftSuffix); }

// A folder as the checks see it: each name's content and whether it carries
// the key check. Journals are left out (HasJournal looks at them).
struct Picture {
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::map<std::string, bool> has_check;
  // Names whose content is a strong encryption of what `files` holds.
  std::set<std::string> strong;
  // Names that may carry a classic decryption's undo mark (a mark that could
  // not be written is said, not a failure); any other never does.
  std::set<std::string> may_carry_undo;
};

// Whether `state` shows `picture`, compared in place: the states are large and many.
bool Shows(const ModelState& state, const Picture& picture) {
  std::size_t files = 0;
  for (const auto& [name, inode] : state.names) {
    if (IsJournal(name)) continue;
    ++files;
    const auto expected = picture.files.find(name);
    if (expected == picture.files.end()) return false;
    const testing::ModelFile& file = state.files.at(inode);
    const bool content = picture.strong.count(name) != 0 ? IsStrongEncryptionOf(file.current, expected->second)
                                                         : file.current == expected->second;
    if (!content ||
        (file.attributes.count(KeyCheckAttributeName) != 0) != picture.has_check.at(name) ||
        (file.attributes.count(UndoMarkAttributeName) != 0 && picture.may_carry_undo.count(name) == 0)) {
      return false;
    }
  }
  return files == picture.files.size();
}

std::string Describe(const ModelState& state) {
  std::string text;
  for (const auto& [name, inode] : state.names) {
    const testing::ModelFile& file = state.files.at(inode);
    text += "[" + name + " " + std::to_string(file.current.size()) +
            (file.attributes.count(KeyCheckAttributeName) != 0 ? " +check" : "") +
            (file.attributes.count(UndoMarkAttributeName) != 0 ? " +undo" : "") + "]";
  }
  return text;
}

bool HasJournal(const ModelState& state) {
  return std::any_of(state.names.begin(), state.names.end(),
                     [](const auto& entry) { return IsJournal(entry.first) && !IsDraft(entry.first); });
}

std::string FileNameIn(const ModelState& state) {
  for (const auto& [name, inode] : state.names) {
    if (!IsJournal(name)) return name;
  }
  return {};
}

struct Scenario {
  const char* name;
  Direction direction;
  std::size_t length;
  std::int64_t window_blocks;
  std::int64_t chunk_blocks;
  std::int64_t cancel_at_block = -1;
  bool rename_noreplace = true;
  bool stored_check = true;  // for a decryption: the file carries its key check
  CipherFormat format = CipherFormat::Classic;
  bool converts = false;  // a classic file made strong (direction Encrypt)
};

void PrintTo(const Scenario& scenario, std::ostream* output) { *output << scenario.name; }

// Totals over all scenarios, printed at the end.
struct Coverage {
  std::int64_t crash_points = 0;
  std::int64_t resumes = 0;
};
Coverage& Covered() {
  static Coverage coverage;
  return coverage;
}

class CrashSimulation : public ::testing::TestWithParam<Scenario> {
 protected:
  void SetUp() override {
    const Scenario& scenario = GetParam();
    settings_.largest_window = scenario.window_blocks * Block;
    settings_.blocks_per_chunk = scenario.chunk_blocks;
    settings_.key_checker = &Checker();
    plain_ = testing::PatternBytes(scenario.length, static_cast<std::uint32_t>(scenario.length) + 1);
    ModelFileSystem fs;
    if (scenario.format == CipherFormat::Strong) {
      SetUpStrong(fs);
      return;
    }
    const std::vector<std::uint8_t> cipher = Encrypted(plain_);
    const Result<KeyCheckValue> check =
        Checker().Make(Key, Suffix, static_cast<std::int64_t>(scenario.length));
    ASSERT_TRUE(check.ok());
    const std::vector<std::uint8_t> check_bytes(check->begin(), check->end());

    const Picture plain_picture{{{PlainName, plain_}}, {{PlainName, false}}, {}, {}};
    const Picture cipher_picture{{{EncryptedFileName, cipher}}, {{EncryptedFileName, true}}, {}, {}};
    if (scenario.direction == Direction::Encrypt) {
      fs.MakeFile(PlainName, plain_);
      original_ = plain_picture;
      target_ = cipher_picture;
    } else {
      if (scenario.stored_check) {
        fs.MakeFile(EncryptedFileName, cipher, {{KeyCheckAttributeName, check_bytes}});
      } else {
        fs.MakeFile(EncryptedFileName, cipher);
      }
      original_ = cipher_picture;
      original_.has_check[EncryptedFileName] = scenario.stored_check;
      target_ = plain_picture;
      target_.may_carry_undo.insert(PlainName);
    }
    initial_ = fs.State();
  }

  // A strong encryption is checked by decrypting it; a strong decryption
  // starts from one made here, and its undo must give back those very bytes.
  void SetUpStrong(ModelFileSystem& fs) {
    const Picture plain_picture{{{PlainName, plain_}}, {{PlainName, false}}, {}, {}};
    if (GetParam().converts) {
      const Result<KeyCheckValue> check = Checker().Make(Key, Suffix, static_cast<std::int64_t>(plain_.size()));
      const std::vector<std::uint8_t> cipher = Encrypted(plain_);
      fs.MakeFile(EncryptedFileName, cipher, {{KeyCheckAttributeName, {check->begin(), check->end()}}});
      original_ = Picture{{{EncryptedFileName, cipher}}, {{EncryptedFileName, true}}, {}, {}};
      target_ = Picture{{{StrongFileName, plain_}}, {{StrongFileName, false}}, {StrongFileName}, {}};
    } else if (GetParam().direction == Direction::Encrypt) {
      fs.MakeFile(PlainName, plain_);
      original_ = plain_picture;
      target_ = Picture{{{StrongFileName, plain_}}, {{StrongFileName, false}}, {StrongFileName}, {}};
    } else {
      const std::vector<std::uint8_t> cipher = StrongEncrypted(plain_);
      fs.MakeFile(StrongFileName, cipher);
      original_ = Picture{{{StrongFileName, cipher}}, {{StrongFileName, false}}, {}, {}};
      target_ = plain_picture;
    }
    initial_ = fs.State();
  }

  const EncryptedSuffix& RunSuffix() const {
    return GetParam().format == CipherFormat::Strong ? StrongSuffix : Suffix;
  }
  std::string EncryptedName() const {
    return GetParam().format == CipherFormat::Strong ? StrongFileName : EncryptedFileName;
  }

  // Runs the scenario's run on `fs` and returns its report.
  FileReport RunOn(ModelFileSystem& fs) {
    const Scenario& scenario = GetParam();
    fs.rename_noreplace = scenario.rename_noreplace;
    const int folder = fs.FolderDescriptor();
    FileResult<OpenedFile> opened =
        OpenFileInFolder(folder,
                         scenario.converts                          ? EncryptedFileName
                         : scenario.direction == Direction::Encrypt ? PlainName
                                                                    : EncryptedName(),
                         fs);
    if (FailureOf(opened).outcome != FileOutcome::Done) {
      FileReport refused;
      refused.outcome = FailureOf(opened).outcome;
      return refused;
    }
    std::int64_t blocks = 0;
    const auto progress = [&](std::int64_t, std::int64_t) {
      return blocks++ == scenario.cancel_at_block ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
    };
    // The content is noise-like, which the judge of a decryption without a
    // key check questions whatever the key: the user says to go on.
    FileRun run(*opened, fs, settings_);
    FileReport prepared;
    if (scenario.converts) {
      TestClock clock;
      FileResult<Admission> admitted =
          AdmitFile(*opened, FileIntent::Convert, clock, fs, CipherFormat::Strong);
      if (!admitted) {
        prepared.outcome = admitted.error().outcome;
        return prepared;
      }
      // The suffix the pictures know, instead of the one drawn.
      admitted->suffix = StrongSuffix;
      admitted->new_name = StrongFileName;
      prepared = run.Prepare(*admitted, Key);
    } else {
      prepared = run.Prepare(scenario.direction, RunSuffix(), Key);
    }
    if (prepared.outcome != FileOutcome::Done && prepared.outcome != FileOutcome::KeyLooksWrong) return prepared;
    return run.Go(progress);
  }

  // A wrong key first, then the right one, on one copy of `state` (the wrong
  // key must change nothing, so the copy is still `state` for the right one);
  // the folder must end original or target. `undo_begun`: the run may have
  // started undoing, so a plain resume may undo. Returns the right resume's
  // log when `keep_log`, for a second crash.
  std::vector<ModelOp> ResumeAndCheck(const ModelState& state, ResumeMode mode, const std::string& where,
                                      bool undo_begun, bool keep_log = false) {
    ++Covered().resumes;
    const std::string context = where + (mode == ResumeMode::Finish ? ", resume" : ", resume --undo");
    const std::string name = FileNameIn(state);
    if (name.empty()) {
      ADD_FAILURE() << "no file left at all: " << context << " " << Describe(state);
      return {};
    }
    ModelFileSystem fs(state);
    fs.rename_noreplace = GetParam().rename_noreplace;
    const int folder = fs.FolderDescriptor();
    const auto resume = [&](const char* key) {
      FileResult<OpenedFile> opened = OpenFileInFolder(folder, name, fs);
      if (FailureOf(opened).outcome != FileOutcome::Done) {
        FileReport refused;
        refused.outcome = FailureOf(opened).outcome;
        return refused;
      }
      return ResumeFile(*opened, key, mode, {}, fs, settings_);
    };
    const FileReport wrong = resume(WrongKey);
    EXPECT_TRUE(wrong.outcome == FileOutcome::WrongKey || wrong.outcome == FileOutcome::NothingToResume)
        << "a wrong key was not refused: " << context << ": " << OutcomeText(wrong.outcome);
    if (!fs.Log().empty()) {
      ADD_FAILURE() << "a wrong key changed something: " << context;
      return {};
    }

    const FileReport right = resume(Key);
    const bool is_original = Shows(fs.State(), original_);
    const bool is_target = Shows(fs.State(), target_);
    if (!HasJournal(state)) {
      EXPECT_EQ(right.outcome, FileOutcome::NothingToResume) << context;
      EXPECT_TRUE(is_original || is_target)
          << "no journal, and the file is neither as before nor done: " << context << " "
          << Describe(fs.State());
    } else {
      EXPECT_EQ(right.outcome, FileOutcome::Done)
          << context << ": " << OutcomeText(right.outcome) << " " << right.error.Describe();
      EXPECT_FALSE(HasJournal(fs.State())) << context;
      if (right.condition == FileCondition::Transformed) {
        EXPECT_TRUE(is_target) << "finished, but not the reference: " << context << " "
                               << Describe(fs.State());
      } else {
        EXPECT_EQ(right.condition, FileCondition::AsBefore) << context;
        EXPECT_TRUE(is_original) << "undone, but not the original: " << context << " "
                                 << Describe(fs.State());
      }
      if (mode == ResumeMode::Undo) {
        EXPECT_EQ(right.condition, FileCondition::AsBefore) << context;
      }
      if (mode == ResumeMode::Finish && GetParam().cancel_at_block < 0 && !undo_begun) {
        EXPECT_EQ(right.condition, FileCondition::Transformed) << "the run was not finished: " << context;
      }
    }
    return keep_log ? fs.Log() : std::vector<ModelOp>{};
  }

  TransformSettings settings_;
  std::vector<std::uint8_t> plain_;
  Picture original_, target_;
  ModelState initial_;
};

// A copy of `state` with only some pages of the write `op` applied on top.
ModelState TornWrite(const ModelState& state, const ModelOp& op, int seed) {
  ModelState torn = state;
  if (op.kind != ModelOp::Kind::Write) return torn;
  const std::size_t pages = (op.data.size() + testing::ModelPageSize - 1) / testing::ModelPageSize + 1;
  std::set<std::size_t> kept;
  for (std::size_t page = 0; page < pages; ++page) {
    if ((page * 7 + static_cast<std::size_t>(seed)) % 3 != 0) kept.insert(page);
  }
  testing::Apply(torn, op, &kept);
  return torn;
}

TEST_P(CrashSimulation, EveryCrashEndsAsBeforeOrDone) {
  const Scenario& scenario = GetParam();
  const bool cancelled = scenario.cancel_at_block >= 0;
  ModelFileSystem fs(initial_);
  const FileReport report = RunOn(fs);
  EXPECT_EQ(report.outcome, cancelled ? FileOutcome::Cancelled : FileOutcome::Done)
      << report.error.Describe();
  EXPECT_EQ(report.condition, cancelled ? FileCondition::AsBefore : FileCondition::Transformed);
  ASSERT_TRUE(Shows(fs.State(), cancelled ? original_ : target_)) << Describe(fs.State());
  ASSERT_FALSE(HasJournal(fs.State()));
  // A classic decryption that went through leaves its undo mark.
  EXPECT_EQ(report.undo_marked, !cancelled && scenario.direction == Direction::Decrypt &&
                                    scenario.format == CipherFormat::Classic && !scenario.converts);
  const std::vector<ModelOp> log = fs.Log();

  std::int64_t points = 0;
  ModelState at = initial_;
  for (std::size_t n = 0; n <= log.size(); ++n) {
    if (n > 0) testing::Apply(at, log[n - 1]);
    const std::string where =
        std::string(scenario.name) + ", change " + std::to_string(n) + " of " + std::to_string(log.size());
    ++points;
    for (int seed = 1; seed <= PowerSeeds; ++seed) {
      const ModelState base = n < log.size() && seed % 2 == 0 ? TornWrite(at, log[n], seed) : at;
      const ModelState crashed = testing::PowerLoss(base, 1000 * n + static_cast<std::uint64_t>(seed));
      for (const ResumeMode mode : {ResumeMode::Finish, ResumeMode::Undo}) {
        const std::string here = where + ", power loss " + std::to_string(seed);
        const bool again = seed == 1 && n % SecondCrashEvery == 0;
        const std::vector<ModelOp> resume_log = ResumeAndCheck(crashed, mode, here, cancelled, again);
        if (!again) continue;
        // The resume is cut short too, at each of its changes, and resumed again.
        ModelState resumed = crashed;
        for (std::size_t m = 0; m <= resume_log.size(); ++m) {
          if (m > 0) testing::Apply(resumed, resume_log[m - 1]);
          const ModelState second = testing::PowerLoss(resumed, 77 * m + n);
          ++points;
          for (const ResumeMode next : {ResumeMode::Finish, ResumeMode::Undo}) {
            ResumeAndCheck(second, next, here + " then crashed at its change " + std::to_string(m),
                           cancelled || mode == ResumeMode::Undo);
          }
        }
      }
    }
    // A kill: everything written so far is there; the write in progress stopped half-way.
    ModelState killed = at;
    if (n < log.size() && log[n].kind == ModelOp::Kind::Write) {
      std::set<std::size_t> first_half;
      for (std::size_t page = 0; page < log[n].data.size() / testing::ModelPageSize / 2; ++page)
        first_half.insert(page);
      testing::Apply(killed, log[n], &first_half);
    }
    for (const ResumeMode mode : {ResumeMode::Finish, ResumeMode::Undo}) {
      ResumeAndCheck(killed, mode, where + ", kill", cancelled);
    }
  }

  // Each change of the run fails in turn; then the power goes at each later point.
  for (std::size_t k = 1; k <= log.size(); ++k) {
    ModelFileSystem faulty(initial_);
    faulty.fail_change = static_cast<int>(k);
    const FileReport failed = RunOn(faulty);
    const std::string where = std::string(scenario.name) + ", change " + std::to_string(k) + " failing (" +
                              std::string(OutcomeText(failed.outcome)) + ")";
    switch (failed.condition) {
      case FileCondition::Transformed: EXPECT_TRUE(Shows(faulty.State(), target_)) << where; break;
      case FileCondition::AsBefore: EXPECT_TRUE(Shows(faulty.State(), original_)) << where; break;
      case FileCondition::Interrupted:
      case FileCondition::RestoredNameTaken: EXPECT_TRUE(HasJournal(faulty.State())) << where; break;
      default: ADD_FAILURE() << where << ": unexpected condition";
    }
    EXPECT_EQ(HasJournal(faulty.State()), !failed.journal.empty()) << where;
    for (const ResumeMode mode : {ResumeMode::Finish, ResumeMode::Undo}) {
      ResumeAndCheck(faulty.State(), mode, where + ", then resumed", true);
    }
    const std::vector<ModelOp>& faulty_log = faulty.Log();
    ModelState before_crash = testing::Replay(initial_, faulty_log, k - 1);
    for (std::size_t n = k - 1; n <= faulty_log.size(); ++n) {
      if (n > k - 1) testing::Apply(before_crash, faulty_log[n - 1]);
      ++points;
      const ModelState crashed = testing::PowerLoss(before_crash, 31 * n + k);
      for (const ResumeMode mode : {ResumeMode::Finish, ResumeMode::Undo}) {
        ResumeAndCheck(crashed, mode, where + ", then power loss at change " + std::to_string(n), true);
      }
    }
  }
  Covered().crash_points += points;
  std::printf("[ crash sim ] %s: %zu changes, %lld crash points\n", scenario.name, log.size(),
              static_cast<long long>(points));
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, CrashSimulation,
    ::testing::Values(
        Scenario{"encrypt 7.3 blocks, window 2, chunk 1", Direction::Encrypt, 7 * Block + 5000, 2, 1},
        Scenario{"decrypt 7.3 blocks, window 2, chunk 1", Direction::Decrypt, 7 * Block + 5000, 2, 1},
        Scenario{"encrypt 6 blocks, window 3, chunk 2", Direction::Encrypt, 6 * Block, 3, 2},
        Scenario{"decrypt 6 blocks, window 3, chunk 2", Direction::Decrypt, 6 * Block, 3, 2},
        Scenario{"encrypt cancelled at block 5", Direction::Encrypt, 7 * Block + 5000, 2, 1, 5},
        Scenario{"decrypt cancelled at block 4", Direction::Decrypt, 7 * Block + 5000, 2, 1, 4},
        Scenario{"encrypt one short block", Direction::Encrypt, 5000, 2, 1},
        Scenario{"decrypt 1 byte", Direction::Decrypt, 1, 2, 1},
        Scenario{"encrypt an empty file", Direction::Encrypt, 0, 2, 1},
        Scenario{"encrypt 16385 bytes, window 1", Direction::Encrypt, Block + 1, 1, 1},
        Scenario{"encrypt, rename by link and unlink", Direction::Encrypt, 3 * Block + 7, 2, 1, -1, false},
        Scenario{"decrypt, rename by link and unlink", Direction::Decrypt, 3 * Block + 7, 2, 1, -1, false},
        Scenario{"decrypt without a stored key check", Direction::Decrypt, 5 * Block + 3, 2, 1, -1, true,
                 false},
        Scenario{"decrypt without a stored key check, cancelled", Direction::Decrypt, 5 * Block + 3, 2, 1, 3,
                 true, false},
        Scenario{"encrypt 9 blocks, window 4, chunk 4", Direction::Encrypt, 9 * Block, 4, 4},
        // The strong format: windows of whole 64 KiB chunks (4 blocks), with
        // their tags; the tail grown first, cut last.
        Scenario{"strong encrypt 3 chunks and 5 bytes, window 1 chunk", Direction::Encrypt, 12 * Block + 5, 4, 1,
                 -1, true, true, CipherFormat::Strong},
        Scenario{"strong decrypt 3 chunks and 5 bytes, window 2 chunks", Direction::Decrypt, 12 * Block + 5, 8,
                 1, -1, true, true, CipherFormat::Strong},
        Scenario{"strong encrypt cancelled at block 6", Direction::Encrypt, 12 * Block + 5, 4, 1, 6, true, true,
                 CipherFormat::Strong},
        Scenario{"strong decrypt cancelled at block 9", Direction::Decrypt, 12 * Block + 5, 4, 1, 9, true, true,
                 CipherFormat::Strong},
        Scenario{"strong encrypt an empty file", Direction::Encrypt, 0, 4, 1, -1, true, true,
                 CipherFormat::Strong},
        Scenario{"strong decrypt 1 byte, rename by link and unlink", Direction::Decrypt, 1, 4, 1, -1, false, true,
                 CipherFormat::Strong},
        // A classic file made strong in one run: classic blocks decrypted and
        // strong chunks encrypted in memory, window by window.
        Scenario{"convert 3 chunks and 5 bytes, window 1 chunk", Direction::Encrypt, 12 * Block + 5, 4, 1, -1,
                 true, true, CipherFormat::Strong, true},
        Scenario{"convert cancelled at block 6", Direction::Encrypt, 12 * Block + 5, 4, 1, 6, true, true,
                 CipherFormat::Strong, true},
        Scenario{"convert one short block", Direction::Encrypt, 5000, 4, 1, -1, true, true, CipherFormat::Strong,
                 true}),
    [](const ::testing::TestParamInfo<Scenario>& info) {
      std::string name = info.param.name;
      for (char& character : name) {
        if (!std::isalnum(static_cast<unsigned char>(character))) character = '_';
      }
      return name;
    });

// The journal shrinks to the space there is; with none at all, nothing changes.
TEST(CrashSimulationSpace, TheWindowShrinksToTheFreeSpaceOrTheRunIsRefused) {
  const std::vector<std::uint8_t> plain = testing::PatternBytes(10 * Block, 3);
  TransformSettings settings;
  settings.largest_window = 8 * Block;
  settings.key_checker = &Checker();
  struct Case {
    std::int64_t free_space;
    FileOutcome expected;
  };
  for (const Case& space : {Case{JournalImageOffset + 2 * Block, FileOutcome::Done},
                            Case{JournalImageOffset + Block, FileOutcome::Done},
                            Case{JournalImageOffset + Block - 1, FileOutcome::NoSpace}}) {
    ModelFileSystem fs;
    fs.MakeFile(PlainName, plain);
    fs.free_space = space.free_space;
    const int folder = fs.FolderDescriptor();
    std::optional<FileResult<OpenedFile>> opened = OpenFileInFolder(folder, PlainName, fs);
    ASSERT_EQ(FailureOf(*opened).outcome, FileOutcome::Done);
    const FileReport report = TransformFile(**opened, Direction::Encrypt, Suffix, Key, {}, fs, settings);
    opened.reset();
    EXPECT_EQ(report.outcome, space.expected) << space.free_space;
    if (space.expected == FileOutcome::Done) {
      EXPECT_TRUE(
          Shows(fs.State(), Picture{{{EncryptedFileName, Encrypted(plain)}}, {{EncryptedFileName, true}}, {}, {}}));
    } else {
      EXPECT_EQ(report.condition, FileCondition::AsBefore);
      EXPECT_TRUE(Shows(fs.State(), Picture{{{PlainName, plain}}, {{PlainName, false}}, {}, {}}));
    }
    EXPECT_FALSE(HasJournal(fs.State()));
  }
}

class CoverageReport : public ::testing::Environment {
 public:
  void SetUp() override {
    // The model copies states of a few hundred KiB tens of thousands of
    // times: keep glibc from giving the memory back and faulting it in again
    // each time, which costs more than the simulation itself.
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
  }
  void TearDown() override {
    // Every crashed state is resumed twice (resume, resume --undo), each time
    // after a resume with a wrong key.
    std::printf("[ crash sim ] %lld crash points, %lld crashed states, %lld resumes checked\n",
                static_cast<long long>(Covered().crash_points), static_cast<long long>(Covered().resumes / 2),
                static_cast<long long>(Covered().resumes));
  }
};
const auto* const Registered = ::testing::AddGlobalTestEnvironment(new CoverageReport);

}  // namespace
}  // namespace quorvant
