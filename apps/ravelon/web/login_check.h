// LoginCheck: the web view's guard, a WebLogin checked against the
// "Authorization" header of each request. One check costs a password hash
// (about 18 ms of a core), and a page asks several times a second with the
// same header, so the digests of the last headers that passed are
// remembered and compared in constant time instead.
//
// Shared by the server's threads; every member is safe on any thread.
#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

#include "web/web_login.h"

namespace ravelon::cli {

class LoginCheck {
 public:
  // Browsers and scripts watching at once, each with its own header.
  static constexpr size_t kRemembered = 16;

  explicit LoginCheck(WebLogin login) : login_(std::move(login)) {}

  bool Allows(const std::string& authorization);

 private:
  using Digest = std::array<unsigned char, 32>;

  const WebLogin login_;
  std::mutex mutex_;
  std::deque<Digest> passed_;  // newest last
};

}  // namespace ravelon::cli
