#pragma once

// What encrypt, decrypt and resume share: check the files and their names,
// read the key once, then work on each file in place exactly as the window
// program does.

#include <functional>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "cli/file_argument.h"
#include "cli/key_prompt.h"
#include "crypto/cipher.h"
#include "crypto/key_text.h"
#include "rewrite/admission.h"

namespace quorvant::cli {

// encrypt, decrypt and convert: each file admitted before the key, then run with it.
int TransformFiles(FileIntent intent, const CommandLine& line, CommandContext& context);

// One admitted file with the key: prepared, asked about (--force answers the
// questions "key looks wrong" and "not the key it was decrypted with"), run,
// and reported. Whether it went well.
bool TransformOne(const Admission& admitted, const FileArgument& file, const KeyText& key, bool force,
                  CommandContext& context);

// Reads the key (twice or once), then runs `one` on each of `files` in turn
// while no cancel has come; each file a cancel left before its turn is named
// as not started, with `left_as` ("the file is unchanged"). `any_failed` says whether a file was
// already refused. Returns the command's exit status.
int RunWithKey(const CommandLine& line, CommandContext& context, const std::vector<FileArgument>& files,
               KeyConfirmation confirmation, bool any_failed, std::string_view left_as,
               const std::function<bool(const FileArgument& file, const KeyText& key)>& one);

}  // namespace quorvant::cli
