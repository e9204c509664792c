// ravelon: records live network video sources into a store, and the tools
// around it (configuration, store inspection and export, a test camera).
#include <cstdio>
#include <exception>

#include "cli/command.h"

int main(int argc, char** argv) {
  using namespace ravelon::cli;
  CLI::App app{
      "Records live network video sources (multipart JPEG streams, texts, events) into "
      "a crash-repairable store.",
      "ravelon"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "ravelon 0.1");
  Action action;
  AddRecordCommand(app, action);
  AddConfigCommand(app, action);
  AddStoreCommand(app, action);
  AddCameraCommand(app, action);
  AddSendEventCommand(app, action);
  AddDemoCommand(app, action);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);  // prints the help, or the error on standard error
    return code == 0 ? kExitOk : kExitUsage;
  }
  try {
    return action ? action() : kExitOk;
  } catch (const CommandError& e) {
    std::fprintf(stderr, "ravelon: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ravelon: unexpected failure: %s\n", e.what());
  }
  return kExitFailure;
}
