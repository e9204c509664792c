// `config import` and `config export`: .reg files in and out of the store.
// An import reads and checks the whole file before it writes anything.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "cli/command.h"
#include "cli/text.h"
#include "config/config_actions.h"
#include "config/reg_file.h"
#include "config/registry_tree.h"

namespace ravelon::cli {
namespace {

std::string ErrnoText() { return std::error_code(errno, std::generic_category()).message(); }

std::string ShownName(const std::string& file) { return file == "-" ? "(standard input)" : file; }

// The bytes of `file` ("-": standard input), one byte past kMaxRegFileBytes
// at most, which the parser then refuses.
std::string ReadRegFile(const std::string& file) {
  const int fd = file == "-" ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw CommandError("cannot read " + file + ": " + ErrnoText());
  std::string bytes;
  char buffer[65536];
  while (bytes.size() <= kMaxRegFileBytes) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const std::string reason = ErrnoText();
      if (fd != STDIN_FILENO) ::close(fd);
      throw CommandError("cannot read " + ShownName(file) + ": " + reason);
    }
    bytes.append(buffer, static_cast<size_t>(got));
  }
  if (fd != STDIN_FILENO) ::close(fd);
  return bytes;
}

// Writes `text` to `file` ("-": standard output), readable by its owner only:
// an export holds the sources' passwords.
void WriteRegFile(const std::string& file, const std::string& text) {
  const int fd = file == "-" ? STDOUT_FILENO
                             : ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw CommandError("cannot write " + file + ": " + ErrnoText());
  for (size_t done = 0; done < text.size();) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) {
      const std::string reason = ErrnoText();
      if (fd != STDOUT_FILENO) ::close(fd);
      throw CommandError("cannot write " + ShownName(file) + ": " + reason);
    }
    done += static_cast<size_t>(put);
  }
  if (fd != STDOUT_FILENO && ::close(fd) != 0)
    throw CommandError("cannot write " + file + ": " + ErrnoText());
}

// The hive and path of export's --key: a path below HKEY_LOCAL_MACHINE, or
// one that names its root; "" gives the registry root.
std::pair<RegHive, std::string> ExportedKey(const ConfigOptions& o) {
  const std::string key = NormalKeyPath(o.key.empty() ? o.registry.Root() : o.key);
  for (const RegHive hive : {RegHive::kLocalMachine, RegHive::kCurrentUser}) {
    const std::string_view root = HiveName(hive);
    if (StartsWithNoCase(key, root) && (key.size() == root.size() || key[root.size()] == '\\'))
      return {hive, NormalKeyPath(std::string_view(key).substr(root.size()))};
  }
  return {RegHive::kLocalMachine, key};
}

}  // namespace

int ImportRegFile(const ConfigOptions& o) {
  const std::string name = ShownName(o.file);
  const RegParseResult parsed = ParseRegFile(ReadRegFile(o.file));
  if (!parsed.errors.empty()) {
    std::string message;
    for (const RegParseError& error : parsed.errors) {
      message += name + (error.line > 0 ? ":" + std::to_string(error.line) : "") + ": " +
                 error.message + "\n";
    }
    throw CommandError(message + "nothing was imported");
  }
  const auto store = OpenRegistry(o.registry, true);
  ImportOperations(*store, parsed.operations, name);
  return kExitOk;
}

int ExportRegFile(const ConfigOptions& o) {
  const auto [hive, path] = ExportedKey(o);
  const auto store = OpenRegistry(o.registry, false);
  const std::vector<RegOperation> operations = ExportTree(*store, hive, path);
  for (const RegOperation& op : operations) {
    if (!IsWritableRegName(op.key) || !IsWritableRegName(op.name)) {
      throw CommandError("cannot export " + KeyText(hive, op.key) +
                         ": a key or value name holds a line break or a zero byte");
    }
  }
  WriteRegFile(o.file, FormatRegFile(operations));
  return kExitOk;
}

}  // namespace ravelon::cli
