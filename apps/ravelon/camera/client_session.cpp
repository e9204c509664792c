#include "camera/client_session.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "camera/camera_limits.h"
#include "camera/part_writer.h"
#include "camera/response_head.h"

namespace ravelon::cli {

ClientSession::ClientSession(asio::ip::tcp::socket socket, CameraState& camera, uint64_t seed)
    : m_socket(std::move(socket)),
      m_timer(m_socket.get_executor()),
      m_camera(camera),
      m_chunks(camera.options.chunk_size),
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
        ++m_camera.requests_seen;
        Refuse({431, "Request Header Fields Too Large", {}});
        break;
      case HeadStatus::kComplete: {
        ++m_camera.requests_seen;
        RequestHead request;
        if (ParseRequestHead(std::string_view(m_head).substr(0, head_size), request)) {
          Answer(request);
        } else {
          Refuse({400, "Bad Request", {}});
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
  if (const std::optional<Refusal> refusal = m_camera.gate.Screen(request)) {
    Refuse(*refusal);
  } else if (options.single) {
    SendSingleImage();
  } else {
    // The head goes out with the first frame, or alone when a fault starts at once.
    m_camera.CountResponse(200);
    m_stage = Stage::kStreaming;
    m_out = StreamResponseHead(options, kBoundary);
    if (options.blank_before_boundary) AppendBody(m_out, "\r\n");
    m_nextFrame = Clock::now();
    OnTick();
  }
}

void ClientSession::Refuse(const Refusal& refusal) {
  m_camera.CountResponse(refusal.status);
  if (refusal.stale) ++m_camera.stale_challenges;
  End(StatusResponse(refusal.status, refusal.reason, refusal.headers,
                     m_camera.options.odd_header_case),
      0);
}

void ClientSession::SendSingleImage() {
  const uint64_t number = ++m_camera.single_frame_number;
  const std::string_view jpeg = m_camera.frames.Make(
      number, FrameLabel(number, LocalStamp::Of(std::chrono::system_clock::now())));
  if (jpeg.empty()) {
    Refuse({500, "Internal Server Error", {}});
    return;
  }
  m_camera.made.Remember(jpeg);
  m_camera.CountResponse(200);
  std::string response = SingleImageHead(m_camera.options, jpeg.size());
  AppendBody(response, std::string(jpeg) + "\r\n");
  if (m_camera.options.chunked) ChunkWriter::AppendLast(response);
  End(std::move(response), 1);
}

void ClientSession::AppendBody(std::string& out, std::string_view body) {
  if (m_camera.options.chunked) {
    m_chunks.Append(out, body);
  } else {
    out.append(body);
  }
}

void ClientSession::End(std::string response, uint64_t jpegs) {
  m_stage = Stage::kEnding;
  Arm(Clock::now() + kRequestHeadTimeout, &ClientSession::OnEndTimeout);
  m_out = std::move(response);  // never called while a write is under way
  m_sent = 0;
  Write(m_out.size(), jpegs);
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
      case FaultMode::kClose: {
        std::string end;  // a chunked body ends with its last chunk
        if (m_camera.options.chunked) ChunkWriter::AppendLast(end);
        End(std::move(end), 0);
        return;
      }
      case FaultMode::kDrip:
        OnDripTick();
        return;
      case FaultMode::kGarbage:
        AppendGarbage();
        Write(m_out.size(), 0);
        ScheduleNextFrame();
        return;
      case FaultMode::kOversized:
        if (!m_oversizedSent) {
          m_oversizedSent = true;
          AppendOversizedPart();
          Write(m_out.size(), 0);
          ScheduleNextFrame();
          return;
        }
        break;  // then the stream goes on as before
      case FaultMode::kNone:
        break;
    }
  }
  if (m_camera.options.flood) {
    SendFloodPart();  // its write's end calls OnTick again
    return;
  }
  if (!AppendFrameParts()) return;
  Write(m_out.size(), 1);
  ScheduleNextFrame();
}

void ClientSession::SendFloodPart() {
  if (!MakeFloodParts()) {
    std::fprintf(stderr, "ravelon camera: encoding the flood's frames failed; client dropped\n");
    Close();
    return;
  }
  const std::string& part = m_camera.flood_parts[m_frameNumber++ % kFloodFrames];
  if (!m_out.empty()) {
    m_out.append(part);
    Write(m_out.size(), 1);
    return;
  }
  m_writing = true;
  asio::async_write(m_socket, asio::buffer(part),
                    [self = shared_from_this()](const asio::error_code& error, size_t) {
                      self->OnWritten(error, 0, 1);  // none of m_out was sent
                    });
}

bool ClientSession::MakeFloodParts() {
  std::vector<std::string>& parts = m_camera.flood_parts;
  while (parts.size() < kFloodFrames) {
    const uint64_t n = parts.size() + 1;
    const LocalStamp stamp = LocalStamp::Of(std::chrono::system_clock::now());
    const std::string_view jpeg = m_camera.frames.Make(n, FrameLabel(n, stamp));
    if (jpeg.empty()) return false;
    m_camera.made.Remember(jpeg);
    AppendPart(parts.emplace_back(), kBoundary, kJpegType, jpeg, m_camera.options.odd_header_case);
  }
  return true;
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
  Write(bytes, m_sent + bytes == m_out.size() ? 1 : 0);
}

bool ClientSession::AppendFrameParts() {
  const CameraOptions& o = m_camera.options;
  const uint64_t n = ++m_frameNumber;
  const LocalStamp stamp = LocalStamp::Of(std::chrono::system_clock::now());
  const std::string label = FrameLabel(n, stamp);
  const std::string_view jpeg = m_camera.frames.Make(n, label);
  m_camera.made.Remember(jpeg);
  if (jpeg.empty()) {
    std::fprintf(stderr, "ravelon camera: encoding frame %llu failed; client dropped\n",
                 static_cast<unsigned long long>(n));
    Close();
    return false;
  }
  const bool odd = o.odd_header_case;
  std::string parts;
  AppendPart(parts, kBoundary, kJpegType, jpeg, odd);
  const auto due = [n](int every) { return every > 0 && n % static_cast<uint64_t>(every) == 0; };
  if (due(o.text_every)) AppendPart(parts, kBoundary, kTextType, label, odd);
  if (due(o.event_every)) AppendPart(parts, kBoundary, kEventType, ReceiptText(n, stamp), odd);
  if (due(o.event_list_every)) {
    AppendPart(parts, kBoundary, kEventListType, EventListBody(n, stamp), odd);
  }
  if (due(o.keep_alive_every)) AppendPart(parts, kBoundary, kKeepAliveType, "", odd);
  AppendBody(m_out, parts);
  return true;
}

// Random bytes with every '-' replaced, so that no boundary can appear.
void ClientSession::AppendGarbage() {
  std::string garbage(kGarbageBytesPerTick, '\0');
  for (char& byte : garbage) {
    m_random ^= m_random << 13;  // xorshift64
    m_random ^= m_random >> 7;
    m_random ^= m_random << 17;
    byte = static_cast<char>(m_random >> 56);
    if (byte == '-') byte = '+';
  }
  AppendBody(m_out, garbage);
}

void ClientSession::AppendOversizedPart() {
  std::string part;
  AppendPartHead(part, kBoundary, kJpegType, kOversizedBodyBytes, m_camera.options.odd_header_case);
  part.append(static_cast<size_t>(kOversizedBodyBytes), '\0');
  part.append("\r\n");
  AppendBody(m_out, part);
}

void ClientSession::Write(size_t count, uint64_t jpegs) {
  m_writing = true;
  asio::async_write(
      m_socket, asio::buffer(m_out.data() + m_sent, count),
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
    if (m_out.capacity() > kKeptOutputCapacity) m_out = std::string();  // after the oversized part
    m_sent = 0;
  }
  if (m_stage == Stage::kEnding) {
    asio::error_code ignored;
    m_socket.shutdown(asio::socket_base::shutdown_send, ignored);
    if (m_clientDone) Close();
  } else if (m_stage == Stage::kStreaming && m_camera.options.flood) {
    OnTick();
  }
}

}  // namespace ravelon::cli
