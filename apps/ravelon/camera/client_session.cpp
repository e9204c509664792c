#include "camera/client_session.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "camera/camera_limits.h"
#include "camera/part_writer.h"

namespace ravelon::cli {
namespace {

std::string UnauthorizedResponse() {
  return StatusResponse(401, "Unauthorized",
                        "WWW-Authenticate: Basic realm=\"ravelon test camera\"\r\n");
}

}  // namespace

ClientSession::ClientSession(asio::ip::tcp::socket socket, CameraState& camera, uint64_t seed)
    : m_socket(std::move(socket)),
      m_timer(m_socket.get_executor()),
      m_camera(camera),
      m_framePeriod(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(1.0 / camera.options.fps))),
      m_random(seed * 0x9E3779B97F4A7C15ull | 1) {}

void ClientSession::Start() {
  Arm(Clock::now() + kRequestHeadTimeout, &ClientSession::OnEndTimeout);
  Read();
}

void ClientSession::Close() {
  if (m_stage == Stage::kClosed) return;
  m_stage = Stage::kClosed;
  asio::error_code ignored;
  m_socket.shutdown(asio::socket_base::shutdown_both, ignored);
  m_socket.close(ignored);
  m_timer.cancel();
}

// One read is always pending, in every stage: it collects the head, and
// afterwards notices the client closing (what it sends then is dropped).
void ClientSession::Read() {
  m_socket.async_read_some(
      asio::buffer(m_readBuffer),
      [self = shared_from_this()](const asio::error_code& error, size_t bytes) {
        self->OnRead(error, bytes);
      });
}

void ClientSession::OnRead(const asio::error_code& error, size_t bytes) {
  if (m_stage == Stage::kClosed) return;
  if (error == asio::error::eof && m_stage == Stage::kEnding && m_writing) {
    // A client that shut down its sending side after the request still
    // gets the response; OnWritten closes once it is out.
    m_clientDone = true;
    return;
  }
  if (error) {
    Close();
    return;
  }
  if (m_stage == Stage::kReadingHead) {
    m_head.append(m_readBuffer.data(), bytes);
    size_t head_size = 0;
    switch (FindHeadEnd(m_head, kMaxRequestHeadBytes, head_size)) {
      case HeadStatus::kIncomplete:
        break;
      case HeadStatus::kTooLarge:
        End(StatusResponse(431, "Request Header Fields Too Large", ""), 0);
        break;
      case HeadStatus::kComplete: {
        RequestHead request;
        if (ParseRequestHead(std::string_view(m_head).substr(0, head_size), request)) {
          Answer(request);
        } else {
          End(StatusResponse(400, "Bad Request", ""), 0);
        }
        break;
      }
    }
  }
  if (m_stage != Stage::kClosed) Read();
}

void ClientSession::Answer(const RequestHead& request) {
  m_head = std::string();
  const CameraOptions& options = m_camera.options;
  if (request.method != "GET") {
    End(StatusResponse(405, "Method Not Allowed", "Allow: GET\r\n"), 0);
  } else if (!Authorized(request.authorization, options.user, options.password)) {
    End(UnauthorizedResponse(), 0);
  } else if (options.single) {
    const uint64_t number = ++m_camera.single_frame_number;
    const std::string_view jpeg = m_camera.frames.Make(
        number, FrameLabel(number, LocalStamp::Of(std::chrono::system_clock::now())));
    if (jpeg.empty()) {
      End(StatusResponse(500, "Internal Server Error", ""), 0);
    } else {
      End(SingleImageResponse(jpeg), 1);
    }
  } else {
    // The head goes out with the first frame, or alone when a fault starts at once.
    m_stage = Stage::kStreaming;
    m_out = StreamResponseHead(kBoundary);
    m_nextFrame = Clock::now();
    OnTick();
  }
}

void ClientSession::End(std::string response, uint64_t jpegs) {
  m_stage = Stage::kEnding;
  Arm(Clock::now() + kRequestHeadTimeout, &ClientSession::OnEndTimeout);
  m_out = std::move(response);  // never called while a write is under way
  m_sent = 0;
  Write({asio::buffer(m_out)}, jpegs);
}

void ClientSession::Arm(Clock::time_point when, void (ClientSession::*on_expiry)()) {
  m_timer.expires_at(when);
  m_timer.async_wait([self = shared_from_this(), generation = ++m_timerGeneration,
                      on_expiry](const asio::error_code& error) {
    if (error || generation != self->m_timerGeneration || self->m_stage == Stage::kClosed) return;
    (self.get()->*on_expiry)();
  });
}

void ClientSession::OnEndTimeout() { Close(); }

bool ClientSession::Faulty() const {
  return m_camera.options.fault != FaultMode::kNone &&
         m_frameNumber >= m_camera.options.fault_after;
}

void ClientSession::OnTick() {
  if (m_stage != Stage::kStreaming) return;
  if (m_writing) {  // the client is slower than the rate: this frame is skipped
    ScheduleNextFrame();
    return;
  }
  if (Faulty()) {
    switch (m_camera.options.fault) {
      case FaultMode::kStall:
        return;  // no more ticks; the pending read still notices the client leaving
      case FaultMode::kClose:
        End(std::string(), 0);
        return;
      case FaultMode::kDrip:
        OnDripTick();
        return;
      case FaultMode::kGarbage:
        AppendGarbage();
        Write({asio::buffer(m_out)}, 0);
        ScheduleNextFrame();
        return;
      case FaultMode::kOversized:
        if (!m_oversizedSent) {
          m_oversizedSent = true;
          AppendPartHead(m_out, kBoundary, kJpegType, kOversizedBodyBytes);
          m_oversizedBody.assign(static_cast<size_t>(kOversizedBodyBytes), '\0');
          Write({asio::buffer(m_out), asio::buffer(m_oversizedBody), asio::buffer("\r\n", 2)}, 0);
          ScheduleNextFrame();
          return;
        }
        break;  // then the stream goes on as before
      case FaultMode::kNone:
        break;
    }
  }
  if (!AppendFrameParts()) return;
  Write({asio::buffer(m_out)}, 1);
  ScheduleNextFrame();
}

void ClientSession::ScheduleNextFrame() {
  const Clock::time_point now = Clock::now();
  m_nextFrame += m_framePeriod;
  // After a stall (a slow client, a busy machine) the stream resumes at the
  // rate rather than catching up in a burst.
  if (m_nextFrame + m_framePeriod < now) m_nextFrame = now;
  Arm(m_nextFrame, &ClientSession::OnTick);
}

// The stream goes on as it would, but a few bytes a tick.
void ClientSession::OnDripTick() {
  if (m_stage != Stage::kStreaming) return;
  Arm(Clock::now() + kDripTick, &ClientSession::OnDripTick);
  if (m_writing) return;
  if (m_out.empty() && !AppendFrameParts()) return;
  const size_t bytes = std::min(kDripBytesPerTick, m_out.size() - m_sent);
  Write({asio::buffer(m_out.data() + m_sent, bytes)}, m_sent + bytes == m_out.size() ? 1 : 0);
}

bool ClientSession::AppendFrameParts() {
  const CameraOptions& o = m_camera.options;
  const uint64_t n = ++m_frameNumber;
  const LocalStamp stamp = LocalStamp::Of(std::chrono::system_clock::now());
  const std::string label = FrameLabel(n, stamp);
  const std::string_view jpeg = m_camera.frames.Make(n, label);
  if (jpeg.empty()) {
    std::fprintf(stderr, "ravelon camera: encoding frame %llu failed; client dropped\n",
                 static_cast<unsigned long long>(n));
    Close();
    return false;
  }
  AppendPart(m_out, kBoundary, kJpegType, jpeg);
  const auto due = [n](int every) { return every > 0 && n % static_cast<uint64_t>(every) == 0; };
  if (due(o.text_every)) AppendPart(m_out, kBoundary, kTextType, label);
  if (due(o.event_every)) AppendPart(m_out, kBoundary, kEventType, ReceiptText(n, stamp));
  if (due(o.event_list_every)) {
    AppendPart(m_out, kBoundary, kEventListType, EventListBody(n, stamp));
  }
  if (due(o.keep_alive_every)) AppendPart(m_out, kBoundary, kKeepAliveType, "");
  return true;
}

// Random bytes with every '-' replaced, so that no boundary can appear.
void ClientSession::AppendGarbage() {
  const size_t start = m_out.size();
  m_out.resize(start + kGarbageBytesPerTick);
  for (size_t i = start; i < m_out.size(); ++i) {
    m_random ^= m_random << 13;  // xorshift64
    m_random ^= m_random >> 7;
    m_random ^= m_random << 17;
    const char byte = static_cast<char>(m_random >> 56);
    m_out[i] = byte == '-' ? '+' : byte;
  }
}

void ClientSession::Write(std::vector<asio::const_buffer> buffers, uint64_t jpegs) {
  m_writing = true;
  asio::async_write(
      m_socket, buffers,
      [self = shared_from_this(), jpegs](const asio::error_code& error, size_t bytes) {
        self->OnWritten(error, bytes, jpegs);
      });
}

void ClientSession::OnWritten(const asio::error_code& error, size_t bytes, uint64_t jpegs) {
  m_writing = false;
  if (m_stage == Stage::kClosed) return;
  if (error) {
    Close();
    return;
  }
  m_camera.frames_served += jpegs;
  m_sent += bytes;
  if (m_sent >= m_out.size()) {
    m_out.clear();
    m_sent = 0;
    m_oversizedBody = std::string();
  }
  if (m_stage == Stage::kEnding) {
    asio::error_code ignored;
    m_socket.shutdown(asio::socket_base::shutdown_send, ignored);
    if (m_clientDone) Close();
  }
}

}  // namespace ravelon::cli
