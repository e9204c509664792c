#include "platform/connect_race.h"

#include <algorithm>
#include <asio/error.hpp>

namespace ravelon {

using asio::ip::address;
using asio::ip::tcp;

std::vector<address> AlternateFamilies(const std::vector<address>& addresses) {
  std::vector<address> first_family, other_family;
  for (const address& a : addresses) {
    auto& family = a.is_v6() == addresses.front().is_v6() ? first_family : other_family;
    if (std::ranges::find(family, a) == family.end()) family.push_back(a);
  }
  std::vector<address> ordered;
  for (size_t i = 0; i < std::max(first_family.size(), other_family.size()); ++i) {
    if (i < first_family.size()) ordered.push_back(first_family[i]);
    if (i < other_family.size()) ordered.push_back(other_family[i]);
  }
  return ordered;
}

std::error_code MoreTellingError(const std::error_code& so_far, const std::error_code& latest) {
  const std::error_code refused = asio::error::connection_refused;
  return so_far == refused && latest != refused ? so_far : latest;
}

std::shared_ptr<ConnectRace> ConnectRace::Start(asio::io_context& context,
                                                const std::vector<address>& addresses,
                                                uint16_t port, Done done) {
  std::vector<tcp::endpoint> endpoints;
  for (const address& a : AlternateFamilies(addresses)) endpoints.emplace_back(a, port);
  auto race = std::make_shared<ConnectRace>(context, std::move(endpoints), std::move(done));
  race->StartNextAttempt();
  return race;
}

ConnectRace::ConnectRace(asio::io_context& context, std::vector<tcp::endpoint> endpoints, Done done)
    : context_(context),
      endpoints_(std::move(endpoints)),
      head_start_(context),
      done_(std::move(done)) {}

void ConnectRace::Cancel() {
  finished_ = true;
  head_start_.cancel();
  std::error_code ignored;
  for (auto& attempt : attempts_) attempt->close(ignored);
}

void ConnectRace::StartNextAttempt() {
  const size_t index = attempts_.size();
  if (index == endpoints_.size()) return;
  tcp::socket& attempt = *attempts_.emplace_back(std::make_unique<tcp::socket>(context_));
  ++running_;
  attempt.async_connect(endpoints_[index],
                        [self = shared_from_this(), index](const std::error_code& error) {
                          self->OnAttempt(index, error);
                        });
  if (index + 1 == endpoints_.size()) return;
  // Re-arming drops the previous head start; a wake-up of it already queued
  // finds another attempt started meanwhile and does nothing.
  head_start_.expires_after(kAttemptHeadStart);
  head_start_.async_wait(
      [self = shared_from_this(), next = index + 1](const std::error_code& error) {
        if (!error && !self->finished_ && self->attempts_.size() == next) {
          self->StartNextAttempt();
        }
      });
}

void ConnectRace::OnAttempt(size_t index, const std::error_code& error) {
  if (finished_) return;
  if (!error) return Finish({}, std::move(*attempts_[index]));
  // A failed attempt gives its descriptor back at once: a name may stand for
  // hundreds of addresses, and the race may go on for the connect timeout.
  std::error_code ignored;
  attempts_[index]->close(ignored);
  --running_;
  error_ = MoreTellingError(error_, error);
  if (attempts_.size() < endpoints_.size()) return StartNextAttempt();  // fail over at once
  if (running_ == 0) Finish(error_, tcp::socket(context_));
}

void ConnectRace::Finish(const std::error_code& error, tcp::socket winner) {
  Cancel();  // closes the losers; the winner has been moved out
  // `done` may end the socket that owns this race, and with it Cancel again.
  Done done = std::move(done_);
  done(error, std::move(winner));
}

}  // namespace ravelon
