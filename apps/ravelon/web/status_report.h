// What the web view reports about the sources: `/api/status` as JSON and
// `/metrics` in the Prometheus text format. Pure functions over the
// recorder's status snapshot; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "record/source_status.h"

namespace ravelon::cli {

// {"now": "2026-12-07 10:00:00", "sources": [{"name": "door", "state": "receiving", ...}]}
// `now` is the server's local time, so that a page shows the server's day.
std::string FormatStatusJson(const std::vector<SourceStatus>& sources, const std::string& now);

// `store_bytes[i]` is the size of source i's store (-1: unknown, left out).
std::string FormatMetrics(const std::vector<SourceStatus>& sources,
                          const std::vector<int64_t>& store_bytes);

}  // namespace ravelon::cli
