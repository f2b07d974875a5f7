#pragma once

// Encrypting or decrypting an opened file in place, renaming it, and undoing
// everything when the run does not finish.

#include <cstdint>

#include "crypto/cipher.h"
#include "files/file_calls.h"
#include "files/file_outcome.h"
#include "files/opened_file.h"

namespace quorvant {

// Encrypts (`file`'s name + `suffix` becomes its name) or decrypts (the name
// must end with `suffix`, which is removed) `file` in place, block by block,
// calling `progress` once per block before the block is changed, and
// `sync_start` (when given) once after the last block is written, just before
// the data is synced.
//
// `key_words` must be BuildKeyWords(key, suffix) for this file; the caller
// owns them and they are wiped (all zero) when this returns, whatever the
// outcome. The file stays open and locked throughout, so no other program can
// take it between the key entry and the end of the run.
//
// Order of work, chosen so that the name carries the salt whenever the data
// is partly encrypted: an encryption renames first (and syncs the folder),
// then transforms; a decryption transforms first, then renames. A new name
// that is taken or too long is refused before anything changes. The data is
// synced with fdatasync before the run counts as Done.
//
// A cancel, or a read, write or sync error, undoes the run: the blocks
// already written are transformed back and the name restored, so the file is
// byte for byte as it was (condition AsBefore). The undo replays the
// keystream from a copy of the key words as they were at the start: the
// words advance the same way whatever the data is, and the rotation of each
// block is taken from the words before the block, so running the opposite
// direction over the same blocks in the same order, from the same starting
// words, yields each block's original bytes. A chunk whose write failed
// midway is first restored from memory (transformed back from the words at
// its start) and written whole. Should the undo itself fail, it stops and
// the file is left PartlyTransformed, keeping the encrypted name so that the
// salt is not lost.
//
// Refused, untouched: ReadOnly, AlreadyOpen, Vanished (see
// CheckReadyToChange), NameInvalid, NameInUse, NameTooLong.
FileReport TransformFile(OpenedFile& file, Direction direction, const EncryptedSuffix& suffix,
                         KeyWords& key_words, const ProgressFunction& progress, FileCalls& calls,
                         const SyncStartFunction& sync_start = {});
FileReport TransformFile(OpenedFile& file, Direction direction, const EncryptedSuffix& suffix,
                         KeyWords& key_words, const ProgressFunction& progress,
                         const SyncStartFunction& sync_start = {});

}  // namespace quorvant
