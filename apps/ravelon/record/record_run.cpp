#include "record/record_run.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

#include "cli/command.h"
#include "cli/held_signals.h"
#include "web/web_server.h"

namespace ravelon::cli {
namespace {

// The saving cadence: ForcedSave more often than every 10 ms only burns CPU,
// and a queue saved less often than every minute risks many frames at once.
constexpr double kMinSaveEverySeconds = 0.01;
constexpr double kMaxSaveEverySeconds = 60;

void ShowTable(const Recorder& recorder, const LogSink& log) {
  std::string screen = "\x1b[H\x1b[J" + FormatStatusTable(recorder.Statuses()) + "\n";
  for (const std::string& line : log.Recent()) screen += line + "\n";
  std::fputs(screen.c_str(), stdout);
  std::fflush(stdout);
}

void ShowLines(const Recorder& recorder, LogSink& log) {
  for (const SourceStatus& s : recorder.Statuses())
    log.Write(s.name, kDebugLifecycle, FormatStatusLine(s));
}

// Gives every plan a board for its pictures and returns what the web view
// serves; the statuses come from `recorder` once it runs.
WebSources PrepareWebView(std::vector<SourcePlan>& plans, const Recorder& recorder,
                          const RunOptions& options) {
  WebSources sources;
  for (SourcePlan& plan : plans) {
    plan.live = std::make_shared<LiveFrames>();
    sources.names.push_back(plan.name);
    sources.live.push_back(plan.live);
  }
  sources.statuses = [&recorder] { return recorder.Statuses(); };
  sources.allow = options.http_allow;
  return sources;
}

}  // namespace

void AddRunOptions(CLI::App& command, RunOptions& o) {
  command.add_option("--save-every", o.save_every_seconds, "seconds between saves of the queue")
      ->check(RealRange(kMinSaveEverySeconds, kMaxSaveEverySeconds))
      ->capture_default_str();
  command.add_option("--loops", o.loops, "threads the sources are spread over (0: one per core)")
      ->check(CLI::Range(0, 1024))
      ->capture_default_str();
  command
      .add_option("--status-every", o.status_every_seconds,
                  "seconds between status lines when there is no live table")
      ->check(RealRange(1, 86400))
      ->capture_default_str();
  command.add_option("--for", o.for_seconds, "stop after this many seconds (0: at a signal)")
      ->check(RealRange(0, 1e9));
  command
      .add_option("--status", o.display,
                  "the live table (on a terminal by default) or status lines")
      ->transform(CLI::CheckedTransformer(
          std::map<std::string, StatusDisplay>{{"auto", StatusDisplay::kAuto},
                                               {"table", StatusDisplay::kTable},
                                               {"lines", StatusDisplay::kLines}}));
}

int RunRecorder(std::vector<SourcePlan> plans, RecorderSettings settings,
                const RunOptions& options) {
  const bool table = options.display == StatusDisplay::kTable ||
                     (options.display == StatusDisplay::kAuto && ::isatty(STDOUT_FILENO));
  settings.loops = options.loops;
  settings.save_every_ms = static_cast<int32_t>(std::lround(options.save_every_seconds * 1000));
  LogSink log(stdout, options.min_level);
  log.KeepForTable(table);
  HeldSignals signals;  // before the recorder's threads start
  Recorder recorder(settings, log);
  std::optional<WebServer> web;
  std::optional<WebAddress> web_address;
  if (!options.http.empty()) {
    web_address = WebAddress::Parse(options.http);
    web.emplace(PrepareWebView(plans, recorder, options));
  }
  recorder.Start(std::move(plans));
  if (web) {
    const int port = web->Start(*web_address);
    const std::string& host = web_address->host;
    log.Write("ravelon", kDebugLifecycle,
              "Web view on http://" +
                  (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
                  std::to_string(port) + "/");
    const bool loopback = host == "localhost" || host == "::1" || host.starts_with("127.");
    if (!loopback && !options.http_allow) {
      log.Write("ravelon", kDebugConfiguration,
                "The web view is open to every client that reaches " + host +
                    ": set a login with `ravelon config web-login`.");
    }
  }

  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  Clock::time_point next_status =
      start + std::chrono::duration_cast<Clock::duration>(
                  std::chrono::duration<double>(options.status_every_seconds));
  const double tick = table ? 1.0 : std::min(1.0, options.status_every_seconds);
  int signal = 0;
  for (;;) {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (options.for_seconds > 0 && elapsed >= options.for_seconds) break;
    const double wait =
        options.for_seconds > 0 ? std::min(tick, options.for_seconds - elapsed) : tick;
    signal = signals.Wait(wait);
    if (signal != 0) break;
    if (table) {
      ShowTable(recorder, log);
    } else if (Clock::now() >= next_status) {
      ShowLines(recorder, log);
      next_status += std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(options.status_every_seconds));
    }
  }
  if (table) ShowTable(recorder, log);
  log.KeepForTable(false);
  if (signal != 0) {
    log.Write("ravelon", kDebugLifecycle,
              std::string("Stopping on ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
                  ": saving what is queued.");
  }
  if (web) web->Stop();
  recorder.Stop();
  // The last word on every source, whatever the log level.
  for (const SourceStatus& s : recorder.Statuses())
    std::printf("%s: %s\n", s.name.c_str(), FormatStatusLine(s).c_str());
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace ravelon::cli
