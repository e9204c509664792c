#include "cli/command.h"

namespace ravelon::cli {

void AddStoreCommand(CLI::App& app, Action& action) {
  CLI::App* command = app.add_subcommand("store", "(not yet built)");
  command->callback([&action] {
    action = [] {
      throw CommandError("not yet built");
      return kExitFailure;
    };
  });
}

}  // namespace ravelon::cli
