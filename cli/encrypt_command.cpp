#include "cli/command.h"
#include "cli/transform_files.h"

namespace quorvant::cli {

// quorvant-cli encrypt FILE...: NAME becomes NAME + " " + salt + "[".
int EncryptCommand(std::span<const std::string_view> arguments, CommandContext& context) {
  return TransformFiles(Direction::Encrypt, arguments, context);
}

}  // namespace quorvant::cli
