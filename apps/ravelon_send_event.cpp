// ravelon-send-event: sends one block of event text (a receipt printer's
// output, ESC/POS control bytes included) to a named port of a running
// Ravelon host, which hands it to the engine connected to that port.
//
//   ravelon-send-event --port NAME [--folder DIR] (TEXT | --file PATH | -)
//
// The bytes go out exactly as given: from the argument, from a file, or from
// standard input with "-". A text that begins with '-' goes after "--".
// Exits 0 once the host has handed the text to its engine's port, 1 with a
// message on standard error otherwise.
#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>

#include "ravelon/named_port.h"

namespace {

// Reads `fd` to its end into `bytes`; "" or why not.
std::string ReadAll(int fd, std::string& bytes) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) return "";
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::error_code(errno, std::generic_category()).message();
    }
    bytes.append(buffer, static_cast<size_t>(got));
    // Stop early rather than gather a stream no port would take.
    if (bytes.size() > static_cast<size_t>(ravelon::kMaxMessageBytes)) return "";
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Sends event text (a receipt printer's output, ESC/POS bytes included) unchanged to a "
      "named port of a running Ravelon host.",
      "ravelon-send-event"};
  std::string port;
  std::string folder;
  std::string file;
  std::string text;
  app.add_option("--port", port, "name of the port the host listens on")->required();
  app.add_option(
      "--folder", folder,
      "folder of the port's socket (default: " + ravelon::DefaultNamedPortFolder() + ")");
  CLI::Option* file_option = app.add_option("--file", file, "send the bytes of this file");
  CLI::Option* text_option =
      app.add_option("text", text, "the event text, or - to send standard input");
  text_option->excludes(file_option);
  file_option->excludes(text_option);
  app.footer("A text that begins with '-' goes after \"--\".");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);  // prints the help, or the error on stderr
    return code == 0 ? 0 : 1;
  }

  std::string bytes;
  std::string problem;
  if (file_option->count() > 0) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      problem = std::error_code(errno, std::generic_category()).message();
    } else {
      problem = ReadAll(fd, bytes);
      ::close(fd);
    }
    if (!problem.empty()) problem = "cannot read " + file + ": " + problem;
  } else if (text_option->count() == 0) {
    problem = "give the event text, --file PATH or - for standard input (see --help)";
  } else if (text == "-") {
    problem = ReadAll(STDIN_FILENO, bytes);
    if (!problem.empty()) problem = "cannot read standard input: " + problem;
  } else {
    bytes = text;
  }
  if (problem.empty() && ravelon::SendToNamedPort(port, bytes, problem, folder) == 0) return 0;
  std::fprintf(stderr, "ravelon-send-event: %s\n", problem.c_str());
  return 1;
}
