// The shape every subcommand of `ravelon` shares: a function that adds the
// subcommand's options to the CLI11 app and, when the subcommand is chosen,
// sets the action that main runs after parsing. An action returns the exit
// status; a failure that the user can fix is thrown as CommandError, whose
// sentence main prints on standard error (never a stack trace).
#pragma once

#include <CLI/CLI.hpp>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>

namespace ravelon::cli {

// Exit statuses of the command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the work failed, or found damage
inline constexpr int kExitUsage = 2;    // a bad command line

using Action = std::function<int()>;

// A failure the user can fix: a missing source, an unreadable file, ...
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// CLI::Range for a real number that also refuses "nan": every comparison
// with NaN is false, so CLI::Range lets it through, and a NaN of seconds
// turns into nonsense (a save timer that never fires, a run without end).
inline CLI::Validator RealRange(double min, double max) {
  const CLI::Range range(min, max);
  return CLI::Validator(
      [range](std::string& text) {
        double value = 0;
        if (CLI::detail::lexical_cast(text, value) && std::isnan(value))
          return "Value " + text + " is not a number";
        return range(text);
      },
      range.get_description());
}

// Each adds one subcommand to `app`; the subcommand's callback stores its
// work in `action`. The options live as long as `app`.
void AddRecordCommand(CLI::App& app, Action& action);
void AddConfigCommand(CLI::App& app, Action& action);
void AddStoreCommand(CLI::App& app, Action& action);
void AddCameraCommand(CLI::App& app, Action& action);
void AddSendEventCommand(CLI::App& app, Action& action);
void AddDemoCommand(CLI::App& app, Action& action);

}  // namespace ravelon::cli
