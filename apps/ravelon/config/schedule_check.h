// Checks the hex text of a source's weekly schedule before it is stored. The
// engine replaces a schedule it cannot read by "normal all week" without a
// word, so a mistake here would silently record around the clock.
//
// The binary form, for each day from Monday to Sunday: a 32-bit
// little-endian count of entries, then per entry an 8-byte little-endian
// double (seconds since midnight at which the entry takes effect) and a
// one-byte action (1 normal, 2 connected without storing, 3 disconnected).
// Pure; any thread.
#pragma once

#include <string>

namespace ravelon::cli {

// Returns "" and the schedule as upper-case hex in `hex` when `text` is empty
// (the default schedule) or a complete schedule; otherwise what is wrong.
std::string CheckScheduleHex(const std::string& text, std::string& hex);

}  // namespace ravelon::cli
