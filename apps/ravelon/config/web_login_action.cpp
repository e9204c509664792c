// `config web-login USER` and `config web-login --off`: the user and
// password that the web view of `ravelon record --http` asks for. The
// password comes from --password or one line of standard input, is stored
// only as a salted hash and is never printed.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cli/command.h"
#include "config/config_actions.h"
#include "web/web_login.h"
#include "web/web_login_store.h"

namespace ravelon::cli {
namespace {

// One line of standard input without its line end, kMaxWebLoginBytes + 1
// bytes at most (the caller refuses that). On a terminal it is asked for on
// standard error and not echoed.
std::string ReadPasswordLine(const std::string& user) {
  termios shown{};
  const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &shown) == 0;
  if (terminal) {
    std::fprintf(stderr, "Password for %s: ", user.c_str());
    termios hidden = shown;
    hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
  }
  std::string line;
  char c = 0;
  while (line.size() <= kMaxWebLoginBytes) {
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n') break;
    line += c;
  }
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &shown);
    std::fputc('\n', stderr);
  }
  if (line.ends_with('\r')) line.pop_back();
  return line;
}

void CheckLength(const std::string& text, const char* what) {
  if (text.size() > kMaxWebLoginBytes)
    throw CommandError(std::string(what) + " is longer than " + std::to_string(kMaxWebLoginBytes) +
                       " bytes");
}

}  // namespace

int SetWebLogin(const ConfigOptions& o) {
  if (o.off) {
    DeleteWebLogin(*OpenRegistry(o.registry, false), o.registry);
    return kExitOk;
  }
  if (o.user.empty()) throw CommandError("give the user name, or --off to remove the login");
  // A browser sends "user:password": a user with a ':' could never log in.
  if (o.user.find(':') != std::string::npos) throw CommandError("a user name cannot hold ':'");
  CheckLength(o.user, "the user name");
  const std::string password = o.password ? *o.password : ReadPasswordLine(o.user);
  if (password.empty())
    throw CommandError("no password: give --password TEXT or a line on standard input");
  CheckLength(password, "the password");
  const auto store = OpenRegistry(o.registry, true);
  WriteWebLogin(*store, o.registry, {o.user, HashPassword(password)});
  return kExitOk;
}

}  // namespace ravelon::cli
