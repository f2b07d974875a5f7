#include "cli/command.h"
#include "cli/transform_files.h"

namespace quorvant::cli {

// quorvant-cli decrypt FILE...: the name loses its last nine characters.
int DecryptCommand(const CommandLine& line, CommandContext& context) {
  return TransformFiles(Direction::Decrypt, line, context);
}

}  // namespace quorvant::cli
