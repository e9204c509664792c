#include "platform/name_lookup.h"

#include <netdb.h>
#include <sys/socket.h>

#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

namespace ravelon {

LookupResult SystemResolve(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  LookupResult result;
  const int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
  if (status != 0) {
    result.failure = status == EAI_SYSTEM
                         ? std::error_code(errno, std::generic_category()).message()
                         : ::gai_strerror(status);
    return result;
  }
  for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
    asio::ip::tcp::endpoint endpoint;
    if (entry->ai_addrlen > endpoint.capacity()) continue;
    std::memcpy(endpoint.data(), entry->ai_addr, entry->ai_addrlen);
    result.addresses.push_back(endpoint.address());
  }
  ::freeaddrinfo(list);
  if (result.addresses.empty()) result.failure = "no address";
  return result;
}

std::string HostToLookUp(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    return host.substr(1, host.size() - 2);
  return host;
}

void LookupTicket::Cancel() {
  std::lock_guard lock(mutex_);
  wanted_ = false;
}

std::shared_ptr<LookupTicket> StartLookup(asio::io_context::executor_type loop,
                                          const Resolver& resolver, std::string host,
                                          std::function<void(LookupResult)> on_done) {
  auto ticket = std::make_shared<LookupTicket>();
  // The thread owns copies of everything it touches; only the ticket is shared,
  // and its mutex makes "still wanted" and the post one step, so a Cancel on
  // the loop's thread either comes first or finds the result already posted.
  auto work = [ticket, loop, resolver, host = std::move(host), on_done]() mutable {
    LookupResult result = resolver(host);
    std::lock_guard lock(ticket->mutex_);
    if (!ticket->wanted_) return;
    asio::post(loop, [on_done = std::move(on_done), result = std::move(result)]() mutable {
      on_done(std::move(result));
    });
  };
  try {
    std::thread(std::move(work)).detach();
  } catch (const std::system_error& error) {
    LookupResult failed{{}, std::string("cannot start the lookup: ") + error.what()};
    asio::post(loop, [on_done = std::move(on_done), failed = std::move(failed)]() mutable {
      on_done(std::move(failed));
    });
  }
  return ticket;
}

}  // namespace ravelon
