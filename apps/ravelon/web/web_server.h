// WebServer: the web view of `ravelon record --http`. It serves a page with
// every source's live picture and state, each source's newest JPEG
// (latest.jpg) and live multipart stream (live.mjpg), the days' recorded
// spans of its store, playback of a range at the recorded pace and a
// download of it, /api/status as JSON and /metrics for Prometheus.
//
// cpp-httplib serves it on threads of its own: the recorder's engines are
// never waited on. What it shows comes from WebSources: the recorder's
// status snapshots, each source's LiveFrames, and the store folders, read
// without an engine. Only the paths above exist: no request can reach a
// file outside a source's store, and a store is read only through the
// store reader.
//
// Owned by the thread that runs the recorder; Start and Stop on that thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "record/source_status.h"
#include "web/live_frames.h"

namespace ravelon::cli {

struct WebAddress {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port

  // "PORT", "HOST:PORT" or "[IPV6]:PORT"; a bare port listens on loopback
  // only. Throws CommandError on anything else.
  static WebAddress Parse(const std::string& text);
};

struct WebSources {
  // The sources' names, in the recorder's order, and their pictures.
  std::vector<std::string> names;
  std::vector<std::shared_ptr<LiveFrames>> live;
  // The recorder's newest status of every source, in the same order.
  std::function<std::vector<SourceStatus>()> statuses;
  // Whether a request's "Authorization" header ("" when none) may see the
  // view; null: everybody may.
  std::function<bool(const std::string& authorization)> allow;
};

class WebServer {
 public:
  explicit WebServer(WebSources sources);
  ~WebServer();  // stops

  // Listens on `address` and serves on threads of its own; returns the port.
  // Throws CommandError when the address cannot be listened on.
  int Start(const WebAddress& address);
  // Ends every stream and waits for the server's threads.
  void Stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ravelon::cli
