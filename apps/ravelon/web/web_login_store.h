// Where the web view's login lives: the values User and PasswordHash of
// the key ROOT\Web of the registry store. Run on the command's main thread.
#pragma once

#include "cli/registry_options.h"
#include "ravelon/registry_store.h"
#include "web/web_login.h"

namespace ravelon::cli {

// The login under RegistryOptions::Root() + "Web\". A missing key, or one
// with neither value, asks no login. Throws CommandError when the store
// cannot be read.
WebLogin ReadWebLogin(RegistryStore& store, const RegistryOptions& options);

// Writes both values at once, so a reader never sees one without the other.
void WriteWebLogin(RegistryStore& store, const RegistryOptions& options, const WebLogin& login);

// Removes the two values; nothing when they are not there.
void DeleteWebLogin(RegistryStore& store, const RegistryOptions& options);

}  // namespace ravelon::cli
