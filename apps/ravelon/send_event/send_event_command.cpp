// `ravelon send-event`: sends one block of event text (a receipt printer's
// output, ESC/POS control bytes included) to a named port of a running host,
// which hands it to the engine connected to that port.
//
//   ravelon send-event --port NAME [--folder DIR] (TEXT | --file PATH | -)
//
// The bytes go out exactly as given: from the argument, from a file, or from
// standard input with "-". A text that begins with '-' goes after "--".
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "cli/command.h"
#include "ravelon/named_port.h"

namespace ravelon::cli {
namespace {

std::string ErrnoText() { return std::error_code(errno, std::generic_category()).message(); }

// Reads `fd` to its end; stops early past the largest message a port takes,
// which the send then refuses with its own message.
std::string ReadAll(int fd, const std::string& what) {
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) return bytes;
    if (got < 0) {
      if (errno == EINTR) continue;
      throw CommandError("cannot read " + what + ": " + ErrnoText());
    }
    bytes.append(buffer, static_cast<size_t>(got));
    if (bytes.size() > static_cast<size_t>(kMaxMessageBytes)) return bytes;
  }
}

struct SendEventOptions {
  std::string port;
  std::string folder;
  std::string file;
  std::string text;
};

int SendEvent(const SendEventOptions& o, bool from_file, bool has_text) {
  std::string bytes;
  if (from_file) {
    const int fd = ::open(o.file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw CommandError("cannot read " + o.file + ": " + ErrnoText());
    try {
      bytes = ReadAll(fd, o.file);
    } catch (...) {
      ::close(fd);
      throw;
    }
    ::close(fd);
  } else if (!has_text) {
    throw CommandError("give the event text, --file PATH or - for standard input (see --help)");
  } else if (o.text == "-") {
    bytes = ReadAll(STDIN_FILENO, "standard input");
  } else {
    bytes = o.text;
  }
  std::string problem;
  if (SendToNamedPort(o.port, bytes, problem, o.folder) != 0) throw CommandError(problem);
  return kExitOk;
}

}  // namespace

void AddSendEventCommand(CLI::App& app, Action& action) {
  auto options = std::make_shared<SendEventOptions>();
  CLI::App* command = app.add_subcommand(
      "send-event",
      "Sends event text (a receipt printer's output, ESC/POS bytes included) unchanged to a "
      "named port of a running host");
  command->add_option("--port", options->port, "name of the port the host listens on")->required();
  command->add_option("--folder", options->folder,
                      "folder of the port's socket (default: $XDG_RUNTIME_DIR/ravelon, else the "
                      "user's private /tmp/ravelon-<uid>-* folders)");
  CLI::Option* file = command->add_option("--file", options->file, "send the bytes of this file");
  CLI::Option* text =
      command->add_option("text", options->text, "the event text, or - to send standard input");
  text->excludes(file);
  command->footer("A text that begins with '-' goes after \"--\".");
  command->callback([&action, options, file, text] {
    action = [options, file, text] {
      return SendEvent(*options, file->count() > 0, text->count() > 0);
    };
  });
}

}  // namespace ravelon::cli
