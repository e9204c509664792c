#include "web/web_server.h"

#include <httplib.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "cli/command.h"
#include "ravelon/media_frame.h"
#include "ravelon/store_reader.h"
#include "record/log_sink.h"
#include "store/frame_export.h"
#include "store/frame_range.h"
#include "web/recorded_spans.h"
#include "web/status_report.h"
#include "web/tar_stream.h"
#include "web/web_limits.h"
#include "web/web_login.h"
#include "web/web_page.h"

namespace ravelon::cli {
namespace {

using SteadyClock = std::chrono::steady_clock;

const std::string kStreamType =
    "multipart/x-mixed-replace; boundary=" + std::string(kExportBoundary);

// One part of a multipart stream, in the form `store export --stdout` writes.
bool WritePart(httplib::DataSink& sink, std::string_view jpeg, const std::string& stamp) {
  const std::string head = MultipartPartHead("image/jpeg", jpeg.size(), stamp);
  return sink.write(head.data(), head.size()) && sink.write(jpeg.data(), jpeg.size()) &&
         sink.write("\r\n", 2);
}

// Milliseconds from one stored stamp to the next; 0 when they run backwards
// or either is not a real moment.
int64_t MillisBetween(const StoredFrame& earlier, const StoredFrame& later) {
  if (!IsValidStamp(earlier.date, earlier.time) || !IsValidStamp(later.date, later.time)) return 0;
  const auto millis = [](const StoredFrame& f) {
    using namespace std::chrono;
    const sys_days day = year_month_day{year{f.date / 10000}, month{unsigned(f.date / 100 % 100)},
                                        std::chrono::day{unsigned(f.date % 100)}};
    const int64_t t = f.time;
    return int64_t{day.time_since_epoch().count()} * 86'400'000 +
           ((t / 10'000'000) * 3600 + (t / 100'000 % 100) * 60 + t / 1000 % 100) * 1000 + t % 1000;
  };
  return std::max<int64_t>(0, millis(later) - millis(earlier));
}

// The server's local time to the second, "2026-12-07 10:00:00".
std::string LocalNow() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  return FormatLocalTime(std::chrono::duration_cast<std::chrono::milliseconds>(now).count())
      .substr(0, 19);
}

void Refuse(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

// A store folder's file sets as they are now, for one walk through them; a
// folder that cannot be listed has none.
struct OpenedStore {
  explicit OpenedStore(const std::string& folder)
      : files(NewPosixFileSystem()), store{folder, true, folder} {
    std::string error;
    StoreReader(*files, folder).ListFileSets(sets, error);
  }

  std::unique_ptr<FileSystem> files;
  StoreFolder store;
  std::vector<FileSetInfo> sets;
};

// Every path of an archive, "NAME-2026-12-06/" and a file name of up to 23
// bytes ("index.tsv", or a frame's number of any size and its extension),
// fits the name field of a ustar header.
static_assert(kMaxDownloadNameBytes + std::string_view("-2026-12-06/").size() + 23 <=
              TarStream::kMaxNameBytes);

// A stream has no length: it ends when the connection closes (the server
// closes every connection after one request).
void SetStreamHeaders(httplib::Response& res) { res.set_header("Cache-Control", "no-store"); }

// One connection of the web view as cpp-httplib reads and writes it, with
// every byte read counted: past kMaxWebRequestBytes reading fails, and the
// library answers 400 and closes. The library bounds a request's body, but
// neither the number of header lines it keeps nor the length of a line it
// buffers while looking for its end, so without this a client sending
// header lines without end would make the recorder's memory grow until the
// system kills it.
class BoundedSocketStream final : public httplib::Stream {
 public:
  BoundedSocketStream(socket_t socket, int read_timeout_ms, int write_timeout_ms)
      : socket_(socket), read_timeout_ms_(read_timeout_ms), write_timeout_ms_(write_timeout_ms) {}

  bool is_readable() const override { return begin_ < end_ || Ready(POLLIN, read_timeout_ms_); }
  bool is_writable() const override { return Ready(POLLOUT, write_timeout_ms_); }

  // The library reads a request's head a byte at a time: the bytes come out
  // of a buffer refilled by one recv.
  ssize_t read(char* data, size_t size) override {
    if (begin_ == end_) {
      if (received_ >= kMaxWebRequestBytes || !Ready(POLLIN, read_timeout_ms_)) return -1;
      const size_t room = std::min(sizeof buffer_, kMaxWebRequestBytes - received_);
      ssize_t got;
      do {
        got = ::recv(socket_, buffer_, room, 0);
      } while (got < 0 && errno == EINTR);
      if (got <= 0) return got;
      received_ += static_cast<size_t>(got);
      begin_ = 0;
      end_ = static_cast<size_t>(got);
    }
    const size_t taken = std::min(size, end_ - begin_);
    std::memcpy(data, buffer_ + begin_, taken);
    begin_ += taken;
    return static_cast<ssize_t>(taken);
  }

  ssize_t write(const char* data, size_t size) override {
    if (!Ready(POLLOUT, write_timeout_ms_)) return -1;
    ssize_t put;
    do {
      put = ::send(socket_, data, size, MSG_NOSIGNAL);
    } while (put < 0 && errno == EINTR);
    return put;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    Address(::getpeername, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    Address(::getsockname, ip, port);
  }
  socket_t socket() const override { return socket_; }

 private:
  // Whether the socket is ready for `events` within `timeout_ms`; a closed
  // or failed connection is not.
  bool Ready(short events, int timeout_ms) const {  // NOLINT(runtime/int)
    pollfd entry{socket_, events, 0};
    int ready;
    do {
      ready = ::poll(&entry, 1, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (entry.revents & events) != 0 &&
           (entry.revents & (POLLERR | POLLNVAL)) == 0;
  }

  void Address(int (*name_of)(int, sockaddr*, socklen_t*), std::string& ip, int& port) const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    char host[NI_MAXHOST], service[NI_MAXSERV];
    if (name_of(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, service,
                      sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
      return;
    }
    ip = host;
    port = std::atoi(service);
  }

  const socket_t socket_;
  const int read_timeout_ms_;
  const int write_timeout_ms_;
  char buffer_[4096];
  size_t begin_ = 0, end_ = 0;  // the bytes of buffer_ not yet read
  size_t received_ = 0;
};

// cpp-httplib's server with each connection read through a
// BoundedSocketStream. One request per connection, as the server is set up
// anyway.
class BoundedServer final : public httplib::Server {
 private:
  bool process_and_close_socket(socket_t socket) override {
    const auto millis = [](time_t seconds, time_t micros) {
      return static_cast<int>(seconds * 1000 + micros / 1000);
    };
    BoundedSocketStream stream(socket, millis(read_timeout_sec_, read_timeout_usec_),
                               millis(write_timeout_sec_, write_timeout_usec_));
    bool closed = false;
    const bool served = process_request(stream, /*close_connection=*/true, closed, nullptr);
    ::shutdown(socket, SHUT_RDWR);
    ::close(socket);
    return served;
  }
};

}  // namespace

WebAddress WebAddress::Parse(const std::string& text) {
  WebAddress address;
  std::string port = text;
  const size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    address.host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (address.host.size() >= 2 && address.host.front() == '[' && address.host.back() == ']')
      address.host = address.host.substr(1, address.host.size() - 2);
  }
  const bool digits = !port.empty() && port.size() <= 5 &&
                      port.find_first_not_of("0123456789") == std::string::npos;
  if (address.host.empty() || !digits || std::stoi(port) > 65535)
    throw CommandError("\"" + text + "\" is not PORT or ADDRESS:PORT (port 0 to 65535)");
  address.port = std::stoi(port);
  return address;
}

struct WebServer::State {
  explicit State(WebSources s) : sources(std::move(s)) {}

  // The position of the source a request's first match names, or -1 after
  // answering 404.
  int FindSource(const httplib::Request& req, httplib::Response& res) const {
    for (size_t i = 0; i < sources.names.size(); ++i)
      if (sources.names[i] == req.matches[1].str()) return static_cast<int>(i);
    Refuse(res, 404, "no such source");
    return -1;
  }

  std::string StoreFolderOf(int source) const {
    const std::vector<SourceStatus> all = sources.statuses();
    return static_cast<size_t>(source) < all.size() ? all[source].store_folder : "";
  }

  // Counts a stream in; false (after answering 503) when there are too many.
  bool TakeStream(httplib::Response& res) {
    if (streams.fetch_add(1) >= kMaxWebStreams) {
      streams.fetch_sub(1);
      Refuse(res, 503, "too many streams open; try again later");
      return false;
    }
    return true;
  }

  // Waits `duration` unless the server stops first; true when it stops.
  bool WaitOrStop(std::chrono::milliseconds duration) {
    std::unique_lock lock(stop_mutex);
    return stop_changed.wait_for(lock, duration, [this] { return stopping; });
  }

  bool Stopping() {
    std::lock_guard lock(stop_mutex);
    return stopping;
  }

  void ServeLive(int source, httplib::Response& res) {
    if (!TakeStream(res)) return;
    std::shared_ptr<LiveFrames> live = sources.live[source];
    live->AddWatcher();
    SetStreamHeaders(res);
    res.set_content_provider(
        kStreamType,
        [this, live, sent = int64_t{0}, sent_at = SteadyClock::time_point{}](
            size_t, httplib::DataSink& sink) mutable {
          if (Stopping()) return false;
          LiveFrame frame = live->WaitNewer(sent, kStreamWaitSlice);
          // A source with nothing new still gets its last picture again now
          // and then, so that the stream does not look dead.
          if (!frame.jpeg && SteadyClock::now() - sent_at >= kLiveRepeatAfter)
            frame = live->Newest();
          if (!frame.jpeg) return true;
          sent = frame.number;
          sent_at = SteadyClock::now();
          return WritePart(sink, *frame.jpeg, "");
        },
        [this, live](bool) {
          live->RemoveWatcher();
          streams.fetch_sub(1);
        });
  }

  // The frames of a range as a multipart stream: paced as recorded (scaled
  // by `speed`), or as fast as the client takes them (speed 0).
  void ServeRange(int source, const StampRange& range, double speed, httplib::Response& res) {
    if (!TakeStream(res)) return;
    SetStreamHeaders(res);
    res.set_content_provider(
        kStreamType,
        [this, folder = StoreFolderOf(source), range, speed](size_t, httplib::DataSink& sink) {
          const OpenedStore opened(folder);
          bool ok = true;
          // No real moment before the first frame: it goes out at once.
          StoredFrame previous;
          ForEachFrameInRange(
              *opened.files, opened.store, opened.sets, range,
              [&](int32_t, const StoredFrame& frame) {
                if (frame.data_type != kJpeg) return true;
                if (speed > 0) {
                  const auto pause = std::chrono::milliseconds(static_cast<int64_t>(
                      static_cast<double>(MillisBetween(previous, frame)) / speed));
                  if (WaitOrStop(std::min<std::chrono::milliseconds>(pause, kMaxPlaybackPause))) {
                    ok = false;
                    return false;
                  }
                }
                previous.date = frame.date;
                previous.time = frame.time;
                ok = WritePart(sink, frame.data, FormatStamp(frame.date, frame.time));
                return ok;
              });
          if (!ok) return false;
          const std::string end = MultipartEnd();
          sink.write(end.data(), end.size());
          sink.done();
          return true;
        },
        [this](bool) { streams.fetch_sub(1); });
  }

  void Route() {
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(WebPageHtml(), "text/html; charset=utf-8");
    });
    server.Get("/api/status", [this](const httplib::Request&, httplib::Response& res) {
      res.set_header("Cache-Control", "no-store");
      res.set_content(FormatStatusJson(sources.statuses(), LocalNow()), "application/json");
    });
    server.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
      const std::vector<SourceStatus> all = sources.statuses();
      const std::unique_ptr<FileSystem> files = NewPosixFileSystem();
      std::vector<int64_t> store_bytes;
      for (const SourceStatus& s : all) {
        std::vector<FileSetInfo> sets;
        std::string error;
        int64_t bytes = -1;
        if (!s.store_folder.empty() &&
            StoreReader(*files, s.store_folder).ListFileSets(sets, error)) {
          bytes = 0;
          for (const FileSetInfo& set : sets)
            bytes += std::max<int64_t>(set.bin_bytes, 0) + std::max<int64_t>(set.idx_bytes, 0) +
                     std::max<int64_t>(set.id2_bytes, 0);
        }
        store_bytes.push_back(bytes);
      }
      res.set_content(FormatMetrics(all, store_bytes), "text/plain; version=0.0.4; charset=utf-8");
    });
    server.Get(R"(/sources/([^/]+)/latest\.jpg)",
               [this](const httplib::Request& req, httplib::Response& res) {
                 const int source = FindSource(req, res);
                 if (source < 0) return;
                 const LiveFrame frame = sources.live[source]->Newest();
                 if (!frame.jpeg) return Refuse(res, 404, "no picture yet");
                 res.set_header("Cache-Control", "no-store");
                 res.set_content(*frame.jpeg, "image/jpeg");
               });
    server.Get(R"(/sources/([^/]+)/live\.mjpg)",
               [this](const httplib::Request& req, httplib::Response& res) {
                 const int source = FindSource(req, res);
                 if (source >= 0) ServeLive(source, res);
               });
    server.Get(R"(/sources/([^/]+)/timeline)", [this](const httplib::Request& req,
                                                      httplib::Response& res) {
      const int source = FindSource(req, res);
      if (source < 0) return;
      const std::string day =
          req.has_param("day") ? req.get_param_value("day") : LocalNow().substr(0, 10);
      int32_t date = 0;
      try {
        date = static_cast<int32_t>(ParseStampArgument(day, false, "day") / 1'000'000'000);
      } catch (const CommandError& e) {
        return Refuse(res, 400, e.what());
      }
      std::vector<RecordedSpan> spans;
      std::string error;
      const std::unique_ptr<FileSystem> files = NewPosixFileSystem();
      if (!RecordedSpansOfDay(*files, StoreFolderOf(source), date, spans, error))
        spans.clear();  // no store yet: nothing recorded
      res.set_header("Cache-Control", "no-store");
      res.set_content(FormatSpansJson(date, spans), "application/json");
    });
    server.Get(R"(/sources/([^/]+)/(playback|export)\.mjpg)",
               [this](const httplib::Request& req, httplib::Response& res) {
                 const int source = FindSource(req, res);
                 StampRange range;
                 if (source < 0 || !ReadRange(req, res, range)) return;
                 const bool playback = req.matches[2].str() == "playback";
                 double speed = 0;
                 if (playback) {
                   try {
                     speed = req.has_param("speed") ? std::stod(req.get_param_value("speed")) : 1;
                   } catch (const std::exception&) {
                     speed = -1;
                   }
                   if (!(speed >= kMinPlaybackSpeed && speed <= kMaxPlaybackSpeed))
                     return Refuse(res, 400, "speed must lie between 0.1 and 64");
                 } else {
                   SetDownloadName(res, DownloadName(source, range) + ".mjpg");
                 }
                 ServeRange(source, range, speed, res);
               });
    server.Get(R"(/sources/([^/]+)/export\.tar)",
               [this](const httplib::Request& req, httplib::Response& res) {
                 const int source = FindSource(req, res);
                 StampRange range;
                 if (source < 0 || !ReadRange(req, res, range)) return;
                 const std::string name = DownloadName(source, range);
                 SetDownloadName(res, name + ".tar");
                 ServeArchive(source, range, name, res);
               });
  }

  // The `from` and `to` of a request; false after answering 400.
  static bool ReadRange(const httplib::Request& req, httplib::Response& res, StampRange& range) {
    try {
      range.from = ParseStampArgument(req.get_param_value("from"), false, "from");
      range.to = ParseStampArgument(req.get_param_value("to"), true, "to");
      return true;
    } catch (const CommandError& e) {
      Refuse(res, 400, e.what());
      return false;
    }
  }

  // "cam-2026-12-06": the source's name with only the characters every file
  // system and header takes (a name is the user's, and ends up in a header
  // and in the paths of an archive), and the range's first day. A long name
  // is cut, so that every path of the archive fits a ustar header.
  std::string DownloadName(int source, const StampRange& range) const {
    std::string name = sources.names[source].substr(0, kMaxDownloadNameBytes);
    for (char& c : name)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
    return name + "-" + FormatStampKey(range.from).substr(0, 10);
  }

  static void SetDownloadName(httplib::Response& res, const std::string& file) {
    res.set_header("Content-Disposition", "attachment; filename=\"" + file + "\"");
  }

  // The range as the files `store export --out` writes, in one tar archive
  // under the folder `folder`; the index comes last, kept in a temporary
  // file meanwhile (a long range has millions of lines).
  void ServeArchive(int source, const StampRange& range, const std::string& folder,
                    httplib::Response& res) {
    if (!TakeStream(res)) return;
    SetStreamHeaders(res);
    res.set_content_provider(
        "application/x-tar",
        [folder, store_folder = StoreFolderOf(source), range](size_t, httplib::DataSink& sink) {
          const OpenedStore opened(store_folder);
          const std::unique_ptr<std::FILE, int (*)(std::FILE*)> index(std::tmpfile(), std::fclose);
          if (!index) return false;
          TarStream tar([&sink](std::string_view bytes) {
            if (!sink.write(bytes.data(), bytes.size())) throw CommandError("the client left");
          });
          try {
            ExportFiles(
                *opened.files, opened.store, opened.sets, range,
                [&](const std::string& name, std::string_view bytes) {
                  tar.Add(folder + "/" + name, bytes);
                },
                [&](std::string_view line) {
                  if (std::fwrite(line.data(), 1, line.size(), index.get()) != line.size())
                    throw CommandError("cannot keep the index");
                });
            const int64_t size = std::ftell(index.get());
            std::rewind(index.get());
            tar.Add(folder + "/" + std::string(kExportIndexFile), size, [&](const ByteSink& out) {
              char buffer[64 * 1024];
              for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, index.get())) > 0;)
                out(std::string_view(buffer, n));
            });
            tar.Finish();
          } catch (const CommandError&) {
            return false;
          }
          sink.done();
          return true;
        },
        [this](bool) { streams.fetch_sub(1); });
  }

  WebSources sources;
  BoundedServer server;
  std::thread thread;
  std::atomic<bool> listening_ended{false};
  std::atomic<int> streams{0};
  std::mutex stop_mutex;
  std::condition_variable stop_changed;
  bool stopping = false;
};

WebServer::WebServer(WebSources sources) : state_(std::make_unique<State>(std::move(sources))) {
  State& s = *state_;
  s.server.new_task_queue = [] { return new httplib::ThreadPool(kWebThreads); };
  s.server.set_write_timeout(kWebWriteTimeout);
  // A part goes out as its head, its bytes and a line end: without this the
  // small writes after a large one wait for the client's delayed ACK.
  s.server.set_tcp_nodelay(true);
  // One request per connection: a stream has no length, so its end is the
  // connection's close; and an idle kept-alive connection would hold one of
  // the server's threads for seconds.
  s.server.set_keep_alive_max_count(1);
  // Set on the listening socket, so that every accepted connection has it.
  s.server.set_socket_options([](int socket) {
    httplib::default_socket_options(socket);
    ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &kWebSendBufferBytes, sizeof kWebSendBufferBytes);
  });
  s.server.set_payload_max_length(kMaxWebRequestBytes);
  s.server.set_default_headers({{"X-Content-Type-Options", "nosniff"}});
  s.server.set_pre_routing_handler([&s](const httplib::Request& req, httplib::Response& res) {
    if (!s.sources.allow || s.sources.allow(req.get_header_value("Authorization")))
      return httplib::Server::HandlerResponse::Unhandled;
    res.set_header("WWW-Authenticate", AuthenticateChallenge());
    Refuse(res, 401, "this view needs a login");
    return httplib::Server::HandlerResponse::Handled;
  });
  s.server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.body.empty()) Refuse(res, res.status, res.status == 404 ? "not found" : "refused");
  });
  s.Route();
}

WebServer::~WebServer() { Stop(); }

int WebServer::Start(const WebAddress& address) {
  State& s = *state_;
  int port = address.port;
  if (port == 0) {
    port = s.server.bind_to_any_port(address.host);
  } else if (!s.server.bind_to_port(address.host, port)) {
    port = -1;
  }
  if (port < 0) {
    throw CommandError("cannot listen on " + address.host + ":" + std::to_string(address.port) +
                       " for the web view (" + std::strerror(errno) + ")");
  }
  s.thread = std::thread([&s] {
    s.server.listen_after_bind();
    s.listening_ended = true;
  });
  // A stop before the server runs would be lost (it stops only a running
  // server), so Start returns once it runs.
  while (!s.server.is_running() && !s.listening_ended)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return port;
}

void WebServer::Stop() {
  State& s = *state_;
  {
    std::lock_guard lock(s.stop_mutex);
    s.stopping = true;
  }
  s.stop_changed.notify_all();
  for (const auto& live : s.sources.live) live->Close();
  s.server.stop();
  if (s.thread.joinable()) s.thread.join();
}

}  // namespace ravelon::cli
