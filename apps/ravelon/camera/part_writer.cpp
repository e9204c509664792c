#include "camera/part_writer.h"

#include <bit>
#include <cstdio>

#include "camera/response_head.h"

namespace ravelon::cli {
namespace {

void AppendLittleEndian(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

void AppendEvent(std::string& out, double days, double seconds, std::string_view text) {
  constexpr size_t kStampBytes = 16;  // the date and the time
  AppendLittleEndian(out, static_cast<uint32_t>(kStampBytes + text.size()), 4);
  AppendLittleEndian(out, std::bit_cast<uint64_t>(days), 8);
  AppendLittleEndian(out, std::bit_cast<uint64_t>(seconds), 8);
  out.append(text);
}

}  // namespace

void AppendPartHead(std::string& out, std::string_view boundary, std::string_view content_type,
                    uint64_t body_length, bool odd_case) {
  out.append("--");
  out.append(boundary);
  out.append("\r\n");
  AppendHeader(out, "Content-Type", content_type, odd_case);
  AppendHeader(out, "Content-Length", std::to_string(body_length), odd_case);
  out.append("\r\n");
}

void AppendPart(std::string& out, std::string_view boundary, std::string_view content_type,
                std::string_view body, bool odd_case) {
  AppendPartHead(out, boundary, content_type, body.size(), odd_case);
  out.append(body);
  out.append("\r\n");
}

std::string FrameLabel(uint64_t number, const LocalStamp& stamp) {
  char digits[24];
  std::snprintf(digits, sizeof digits, "%06llu\n", static_cast<unsigned long long>(number));
  return digits + stamp.Text();
}

std::string ReceiptText(uint64_t number, const LocalStamp& stamp) {
  char text[160];
  std::snprintf(text, sizeof text,
                "RAVELON TEST CAMERA\r\n%s\r\nRECEIPT %06llu\r\n1 x TEST ITEM     2.50\r\n"
                "TOTAL            2.50\r\n\r\n\x1b"
                "i",
                stamp.Text().c_str(), static_cast<unsigned long long>(number));
  return text;
}

std::string EventListBody(uint64_t number, const LocalStamp& stamp) {
  const double days = stamp.Days();
  const double seconds = stamp.Seconds();
  // A second earlier, borrowing a day before local midnight.
  const bool borrow = seconds < 1;
  const std::string suffix = " " + std::to_string(number);
  std::string body;
  AppendEvent(body, borrow ? days - 1 : days, borrow ? seconds + 86399 : seconds - 1,
              "DOOR OPEN" + suffix);
  AppendEvent(body, days, seconds, "DOOR CLOSED" + suffix);
  return body;
}

}  // namespace ravelon::cli
