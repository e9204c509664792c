#include "web/login_check.h"

#include <openssl/crypto.h>
#include <openssl/sha.h>

namespace ravelon::cli {

bool LoginCheck::Allows(const std::string& authorization) {
  Digest digest;
  SHA256(reinterpret_cast<const unsigned char*>(authorization.data()), authorization.size(),
         digest.data());
  {
    std::lock_guard lock(mutex_);
    for (const Digest& passed : passed_)
      if (CRYPTO_memcmp(passed.data(), digest.data(), digest.size()) == 0) return true;
  }
  // The hash runs outside the lock: other requests need not wait for it.
  if (!AuthorizationAllows(login_, authorization)) return false;
  std::lock_guard lock(mutex_);
  passed_.push_back(digest);
  if (passed_.size() > kRemembered) passed_.pop_front();
  return true;
}

}  // namespace ravelon::cli
