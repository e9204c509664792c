// Name lookups that never hold up the loop, a socket's close or the program's
// exit. Each lookup runs on a detached thread of its own; its result is posted
// to the loop only while the lookup is still wanted, so a lookup that hangs
// (a DNS server that never answers) is simply abandoned. Internal to the
// platform.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/address.hpp>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ravelon {

// The addresses a name stands for, in the resolver's order; when there are
// none, `failure` says why.
struct LookupResult {
  std::vector<asio::ip::address> addresses;
  std::string failure;
};

// Looks a name or address literal up; may block for as long as it likes.
using Resolver = std::function<LookupResult(const std::string& host)>;

// The system's resolver (getaddrinfo), for TCP, both families.
LookupResult SystemResolve(const std::string& host);

// The host as the resolver wants it: an IPv6 literal in brackets
// ("[::1]", "[fe80::1%lo]") loses them; anything else stays as it is.
std::string HostToLookUp(const std::string& host);

// Shared by the loop and the lookup's thread: whether the result is still wanted.
class LookupTicket {
 public:
  // After Cancel returns, the result is never posted.
  void Cancel();

 private:
  friend std::shared_ptr<LookupTicket> StartLookup(asio::io_context::executor_type, const Resolver&,
                                                   std::string, std::function<void(LookupResult)>);
  std::mutex mutex_;
  bool wanted_ = true;
};

// Runs `resolver(host)` on a detached thread and posts `on_done` with its
// result to `loop`, unless the ticket is cancelled first. A thread that cannot
// be started gives a failed result at once, also through the loop.
std::shared_ptr<LookupTicket> StartLookup(asio::io_context::executor_type loop,
                                          const Resolver& resolver, std::string host,
                                          std::function<void(LookupResult)> on_done);

}  // namespace ravelon
