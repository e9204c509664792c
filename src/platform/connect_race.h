// Connecting to a name that stands for several addresses: every address gets
// its attempt, IPv6 and IPv4 taking turns, and the attempts overlap so that
// together they fit in the engine's connect timeout. The next address is
// tried as soon as the current one fails, or once it has had its head start
// without answering; earlier attempts stay open meanwhile. The first attempt
// to connect wins and the others are closed. Internal to the platform.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <system_error>
#include <vector>

namespace ravelon {

// How long an attempt has to itself before the next address is tried too.
constexpr std::chrono::milliseconds kAttemptHeadStart{250};

// The addresses with the families taking turns, starting with the family of
// the first; within a family the order stays, and repeats are dropped.
std::vector<asio::ip::address> AlternateFamilies(const std::vector<asio::ip::address>& addresses);

// The error to report when every attempt failed: a refusal says a host was
// reached and answered, which tells more than the routing errors of other
// addresses; otherwise the latest error stands.
std::error_code MoreTellingError(const std::error_code& so_far, const std::error_code& latest);

class ConnectRace : public std::enable_shared_from_this<ConnectRace> {
 public:
  // Called once, on the loop: with the connected socket, or with an error
  // (and a closed socket) when every attempt failed.
  using Done = std::function<void(std::error_code, asio::ip::tcp::socket)>;

  // `addresses` must not be empty; they are tried in AlternateFamilies order.
  static std::shared_ptr<ConnectRace> Start(asio::io_context& context,
                                            const std::vector<asio::ip::address>& addresses,
                                            uint16_t port, Done done);

  ConnectRace(asio::io_context& context, std::vector<asio::ip::tcp::endpoint> endpoints, Done done);

  // Closes every attempt; `done` is not called afterwards.
  void Cancel();

 private:
  void StartNextAttempt();
  void OnAttempt(size_t index, const std::error_code& error);
  void Finish(const std::error_code& error, asio::ip::tcp::socket winner);

  asio::io_context& context_;
  const std::vector<asio::ip::tcp::endpoint> endpoints_;
  std::vector<std::unique_ptr<asio::ip::tcp::socket>> attempts_;  // one per address started
  size_t running_ = 0;
  asio::steady_timer head_start_;
  std::error_code error_;
  bool finished_ = false;
  Done done_;
};

}  // namespace ravelon
