#include "store/stamp_text.h"

#include <cstdio>

#include "cli/command.h"

namespace ravelon::cli {
namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

// Reads exactly `digits` decimal digits at `at`, moving `at` past them.
bool ReadDigits(const std::string& text, size_t& at, int digits, int& value) {
  if (at + digits > text.size()) return false;
  value = 0;
  for (int i = 0; i < digits; ++i) {
    const char c = text[at + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  at += digits;
  return true;
}

bool ReadChar(const std::string& text, size_t& at, char wanted) {
  if (at >= text.size() || text[at] != wanted) return false;
  ++at;
  return true;
}

// The fields of a typed moment; -1 marks a field left out.
struct TypedMoment {
  int year = 0, month = 0, day = 0;
  int hour = -1, minute = -1, second = -1, millisecond = -1;
};

bool ReadMoment(const std::string& text, TypedMoment& m) {
  size_t at = 0;
  if (!ReadDigits(text, at, 4, m.year) || !ReadChar(text, at, '-') ||
      !ReadDigits(text, at, 2, m.month) || !ReadChar(text, at, '-') ||
      !ReadDigits(text, at, 2, m.day)) {
    return false;
  }
  if (at == text.size()) return true;
  if (!ReadChar(text, at, ' ') && !ReadChar(text, at, 'T')) return false;
  if (!ReadDigits(text, at, 2, m.hour) || !ReadChar(text, at, ':') ||
      !ReadDigits(text, at, 2, m.minute)) {
    return false;
  }
  if (at == text.size()) return true;
  if (!ReadChar(text, at, ':') || !ReadDigits(text, at, 2, m.second)) return false;
  if (at == text.size()) return true;
  if (!ReadChar(text, at, '.')) return false;
  const size_t fraction = text.size() - at;
  if (fraction < 1 || fraction > 3 ||
      !ReadDigits(text, at, static_cast<int>(fraction), m.millisecond)) {
    return false;
  }
  for (size_t i = fraction; i < 3; ++i) m.millisecond *= 10;
  return true;
}

}  // namespace

bool IsValidStamp(int32_t date, int32_t time) {
  if (date < 0 || time < 0) return false;
  const int hour = time / 10'000'000, minute = time / 100'000 % 100, second = time / 1'000 % 100;
  return IsValidDate(date / 10'000, date / 100 % 100, date % 100) && hour < 24 && minute < 60 &&
         second < 60;
}

std::string FormatStamp(int32_t date, int32_t time) {
  char text[64];
  if (IsValidStamp(date, time)) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", date / 10'000,
                  date / 100 % 100, date % 100, time / 10'000'000, time / 100'000 % 100,
                  time / 1'000 % 100, time % 1'000);
  } else {
    std::snprintf(text, sizeof text, "(date %d, time %d)", date, time);
  }
  return text;
}

std::string FormatStampKey(StampKey key) {
  return FormatStamp(static_cast<int32_t>(key / 1'000'000'000),
                     static_cast<int32_t>(key % 1'000'000'000));
}

StampKey ParseStampArgument(const std::string& text, bool end_of_range, const std::string& option) {
  TypedMoment m;
  if (!ReadMoment(text, m) || !IsValidDate(m.year, m.month, m.day) || m.hour > 23 ||
      m.minute > 59 || m.second > 59) {
    throw CommandError(option + " \"" + text +
                       "\" is not a moment of the form YYYY-MM-DD[ HH:MM[:SS[.mmm]]]");
  }
  const auto fill = [end_of_range](int field, int last) {
    return field >= 0 ? field : (end_of_range ? last : 0);
  };
  const int32_t date = m.year * 10'000 + m.month * 100 + m.day;
  const int32_t time = fill(m.hour, 23) * 10'000'000 + fill(m.minute, 59) * 100'000 +
                       fill(m.second, 59) * 1'000 + fill(m.millisecond, 999);
  return ToStampKey(date, time);
}

std::string StampRange::Describe() const {
  constexpr StampRange kAll;
  if (from != kAll.from && to != kAll.to) {
    return "between " + FormatStampKey(from) + " and " + FormatStampKey(to);
  }
  if (from != kAll.from) return "from " + FormatStampKey(from) + " on";
  if (to != kAll.to) return "up to " + FormatStampKey(to);
  return "";
}

}  // namespace ravelon::cli
