#include "web/web_login_store.h"

#include <optional>
#include <vector>

#include "cli/command.h"
#include "cli/text.h"
#include "config/registry_tree.h"

namespace ravelon::cli {
namespace {

constexpr char kUserValue[] = "User";
constexpr char kHashValue[] = "PasswordHash";

std::string WebKeyPath(const RegistryOptions& options) { return options.Root() + "Web\\"; }

std::string WebKeyText(const RegistryOptions& options) {
  return KeyText(RegHive::kLocalMachine, NormalKeyPath(WebKeyPath(options)));
}

[[noreturn]] void Fail(const std::string& what, const RegistryOptions& options, int32_t result) {
  throw CommandError("cannot " + what + " " + WebKeyText(options) + " (registry error " +
                     std::to_string(result) + ")");
}

// The text of the value called `name`; nullopt when there is none. A value
// of another type reads as "".
std::optional<std::string> FindText(const std::vector<RegistryValue>& values,
                                    std::string_view name) {
  for (const RegistryValue& value : values) {
    if (!EqualsNoCase(value.name, name)) continue;
    if (value.type != kRegSz) return "";
    std::string_view text = value.data;
    if (text.ends_with('\0')) text.remove_suffix(1);
    return std::string(text);
  }
  return std::nullopt;
}

}  // namespace

WebLogin ReadWebLogin(RegistryStore& store, const RegistryOptions& options) {
  const std::optional<OpenedKey> key =
      OpenExistingKey(store, RegHive::kLocalMachine, WebKeyPath(options));
  if (!key) return {};
  // Both values from one state of the store, never one from before a write
  // and one from after it.
  std::vector<RegistryValue> values;
  const int32_t result = store.ReadValues(key->Get(), values);
  if (result == kRegFileNotFound) return {};  // removed since it was opened
  if (result != kRegSuccess) Fail("read", options, result);
  const std::optional<std::string> user = FindText(values, kUserValue);
  const std::optional<std::string> hash = FindText(values, kHashValue);
  if (!user && !hash) return {};
  // Either value alone is a half-written or damaged setting, and it must
  // keep the door shut: without a usable hash the login gets a text that is
  // no hash, which no password matches (and without a user, no one passes).
  WebLogin login{user.value_or(""), hash.value_or("")};
  if (login.password_hash.empty()) login.password_hash = "none";
  return login;
}

void WriteWebLogin(RegistryStore& store, const RegistryOptions& options, const WebLogin& login) {
  const OpenedKey key = CreateKeyForWriting(store, RegHive::kLocalMachine, WebKeyPath(options));
  const int32_t result = store.SetValues(
      key.Get(),
      {{kUserValue, kRegSz, login.user + '\0'}, {kHashValue, kRegSz, login.password_hash + '\0'}});
  if (result != kRegSuccess) Fail("write the login to", options, result);
}

void DeleteWebLogin(RegistryStore& store, const RegistryOptions& options) {
  const std::optional<OpenedKey> key =
      OpenExistingKey(store, RegHive::kLocalMachine, WebKeyPath(options));
  if (!key) return;
  // The hash first: until the user goes too, what is left asks a login that
  // no password passes.
  for (const char* name : {kHashValue, kUserValue}) {
    const int32_t result = store.DeleteValue(key->Get(), name);
    if (result != kRegSuccess && result != kRegFileNotFound)
      Fail("delete the login of", options, result);
  }
  if (const int32_t result = store.FlushKey(key->Get()); result != kRegSuccess)
    Fail("save", options, result);
}

}  // namespace ravelon::cli
