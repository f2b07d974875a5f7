#include "cli/command.h"
#include "cli/transform_files.h"

namespace quorvant::cli {

// quorvant-cli encrypt FILE...: NAME becomes NAME + " " + salt + "[".
int EncryptCommand(const CommandLine& line, CommandContext& context) {
  return TransformFiles(Direction::Encrypt, line, context);
}

}  // namespace quorvant::cli
