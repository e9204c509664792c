#include "web/status_report.h"

#include <cstdio>
#include <functional>

#include "cli/json_text.h"

namespace ravelon::cli {
namespace {

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", value);
  return text;
}

// A label value: backslash, double quote and line feed are escaped.
std::string LabelValue(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

struct Metric {
  const char* name;
  const char* type;
  const char* help;
  std::function<int64_t(const SourceStatus&)> value;
};

}  // namespace

std::string FormatStatusJson(const std::vector<SourceStatus>& sources, const std::string& now) {
  std::string out = "{\"now\": " + JsonString(now) + ", \"sources\": [";
  for (size_t i = 0; i < sources.size(); ++i) {
    const SourceStatus& s = sources[i];
    out += std::string(i ? ", " : "") + "{\"name\": " + JsonString(s.name) +
           ", \"state\": " + JsonString(s.state) +
           ", \"packets_per_second\": " + Number(s.packets_per_second) +
           ", \"saves_per_second\": " + Number(s.saves_per_second) +
           ", \"queued\": " + std::to_string(s.queued) +
           ", \"file_set\": " + JsonString(s.file_set) +
           ", \"last_error\": " + JsonString(s.last_error) +
           ", \"frames\": " + std::to_string(s.frames) + ", \"saved\": " + std::to_string(s.saved) +
           ", \"bytes\": " + std::to_string(s.bytes) +
           ", \"reconnects\": " + std::to_string(s.reconnects) + "}";
  }
  return out + "]}\n";
}

std::string FormatMetrics(const std::vector<SourceStatus>& sources,
                          const std::vector<int64_t>& store_bytes) {
  static const Metric kMetrics[] = {
      {"ravelon_frames_received_total", "counter", "Frames the engine took in.",
       [](const SourceStatus& s) { return s.frames; }},
      {"ravelon_frames_saved_total", "counter", "Frames saved by the recorder's saves.",
       [](const SourceStatus& s) { return s.saved; }},
      {"ravelon_bytes_received_total", "counter", "Bytes of the frames taken in.",
       [](const SourceStatus& s) { return s.bytes; }},
      {"ravelon_reconnects_total", "counter", "Connections lost or timed out.",
       [](const SourceStatus& s) { return s.reconnects; }},
      {"ravelon_queued_frames", "gauge", "Frames waiting to be saved.",
       [](const SourceStatus& s) { return int64_t{s.queued}; }},
  };
  std::string out;
  for (const Metric& m : kMetrics) {
    out +=
        std::string("# HELP ") + m.name + " " + m.help + "\n# TYPE " + m.name + " " + m.type + "\n";
    for (const SourceStatus& s : sources)
      out += std::string(m.name) + "{source=\"" + LabelValue(s.name) + "\"} " +
             std::to_string(m.value(s)) + "\n";
  }
  out +=
      "# HELP ravelon_log_lines_total The engine's log lines by level (10: errors, 9: "
      "warnings).\n# TYPE ravelon_log_lines_total counter\n";
  for (const SourceStatus& s : sources)
    for (size_t level = 0; level < s.log_lines.size(); ++level)
      if (s.log_lines[level] > 0)
        out += "ravelon_log_lines_total{source=\"" + LabelValue(s.name) + "\",level=\"" +
               std::to_string(level) + "\"} " + std::to_string(s.log_lines[level]) + "\n";
  out +=
      "# HELP ravelon_store_bytes Bytes of the source's file sets.\n# TYPE ravelon_store_bytes "
      "gauge\n";
  for (size_t i = 0; i < sources.size() && i < store_bytes.size(); ++i)
    if (store_bytes[i] >= 0)
      out += "ravelon_store_bytes{source=\"" + LabelValue(sources[i].name) + "\"} " +
             std::to_string(store_bytes[i]) + "\n";
  return out;
}

}  // namespace ravelon::cli
