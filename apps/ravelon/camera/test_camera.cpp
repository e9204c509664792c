#include "camera/test_camera.h"

#include <algorithm>
#include <asio.hpp>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "camera/camera_limits.h"
#include "camera/client_session.h"
#include "camera/frame_maker.h"
#include "camera/response_head.h"
#include "cli/command.h"

namespace ravelon::cli {
namespace {

// After a failed accept (out of descriptors, say) the listener waits this
// long before it tries again, rather than spinning on the same error.
constexpr std::chrono::milliseconds kAcceptRetry{100};

}  // namespace

struct TestCamera::Impl {
  explicit Impl(CameraOptions camera_options)
      : options(std::move(camera_options)),
        frames(options.width, options.height),
        state(options, frames) {}

  void Listen();
  void Accept();
  void OnAccepted(asio::ip::tcp::socket socket);
  void CloseAll();

  const CameraOptions options;
  FrameMaker frames;
  CameraState state;
  asio::io_context io{1};
  asio::ip::tcp::acceptor acceptor{io};
  asio::steady_timer accept_retry{io};
  std::vector<std::weak_ptr<ClientSession>> sessions;  // the camera's thread only
  std::atomic<uint64_t> clients_accepted{0};
  int port = 0;

  std::mutex mutex;  // guards the two flags and the thread
  bool started = false;
  bool stopped = false;
  std::thread thread;
};

void TestCamera::Impl::Listen() {
  asio::error_code error;
  const asio::ip::address address = asio::ip::make_address(options.address, error);
  if (error) throw CommandError("cannot listen on " + options.address + ": not an IP address");
  const asio::ip::tcp::endpoint endpoint(address, options.port);
  acceptor.open(endpoint.protocol(), error);
  if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (error) {
    throw CommandError("cannot listen on " + options.address + " port " +
                       std::to_string(options.port) + ": " + error.message());
  }
  port = acceptor.local_endpoint().port();
}

void TestCamera::Impl::Accept() {
  acceptor.async_accept([this](const asio::error_code& error, asio::ip::tcp::socket socket) {
    if (!acceptor.is_open()) return;
    if (!error) {
      OnAccepted(std::move(socket));
      Accept();
      return;
    }
    accept_retry.expires_after(kAcceptRetry);
    accept_retry.async_wait([this](const asio::error_code& wait_error) {
      if (!wait_error && acceptor.is_open()) Accept();
    });
  });
}

void TestCamera::Impl::OnAccepted(asio::ip::tcp::socket socket) {
  std::erase_if(sessions, [](const std::weak_ptr<ClientSession>& s) { return s.expired(); });
  if (sessions.size() >= kMaxClients) {
    const std::string busy =
        StatusResponse(503, "Service Unavailable", {}, options.odd_header_case);
    state.CountResponse(503);
    asio::error_code ignored;
    socket.non_blocking(true, ignored);
    socket.write_some(asio::buffer(busy), ignored);
    socket.close(ignored);
    return;
  }
  const uint64_t index = ++clients_accepted;
  auto session = std::make_shared<ClientSession>(std::move(socket), state, index);
  sessions.push_back(session);
  session->Start();
}

void TestCamera::Impl::CloseAll() {
  asio::error_code ignored;
  acceptor.close(ignored);
  accept_retry.cancel();
  for (const std::weak_ptr<ClientSession>& weak : sessions) {
    if (const std::shared_ptr<ClientSession> session = weak.lock()) session->Close();
  }
  sessions.clear();
}

TestCamera::TestCamera(CameraOptions options) {
  CheckCameraOptions(options);
  m_impl = std::make_unique<Impl>(std::move(options));
  m_impl->Listen();
}

TestCamera::~TestCamera() { Stop(); }

int TestCamera::Port() const { return m_impl->port; }

std::string TestCamera::Endpoint() const {
  const std::string& address = m_impl->options.address;
  const bool v6 = address.find(':') != std::string::npos;
  return (v6 ? "[" + address + "]" : address) + ":" + std::to_string(m_impl->port);
}

void TestCamera::Start() {
  std::lock_guard lock(m_impl->mutex);
  if (m_impl->started || m_impl->stopped) return;
  m_impl->started = true;
  m_impl->Accept();
  m_impl->thread = std::thread([impl = m_impl.get()] {
    try {
      impl->io.run();
    } catch (const std::exception& e) {
      // Nothing in the handlers throws but allocation failures; the camera
      // then stops serving rather than taking the process down.
      std::fprintf(stderr, "ravelon camera: stopped serving: %s\n", e.what());
    }
  });
}

void TestCamera::Stop() {
  std::lock_guard lock(m_impl->mutex);
  if (m_impl->stopped) return;
  m_impl->stopped = true;
  if (!m_impl->started) return;
  // Closing everything ends every pending wait, so run() returns.
  asio::post(m_impl->io, [impl = m_impl.get()] { impl->CloseAll(); });
  m_impl->thread.join();
}

uint64_t TestCamera::FramesServed() const { return m_impl->state.frames_served; }

uint64_t TestCamera::ClientsAccepted() const { return m_impl->clients_accepted; }

uint64_t TestCamera::RequestsSeen() const { return m_impl->state.requests_seen; }

uint64_t TestCamera::Responses(int status) const {
  const auto& responses = m_impl->state.responses;
  return status >= 0 && static_cast<size_t>(status) < responses.size() ? responses[status].load()
                                                                       : 0;
}

uint64_t TestCamera::StaleChallenges() const { return m_impl->state.stale_challenges; }

bool TestCamera::Made(std::string_view jpeg) const { return m_impl->state.made.Contains(jpeg); }

}  // namespace ravelon::cli
