// The dispatch of a complete part by its content type: keep-alive parts keep
// the connection alive, data-carrying parts become frames for the pipeline,
// and a frame the pipeline cannot handle is taken as a broken stream.
#include <string_view>

#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"

namespace ravelon {
namespace {

constexpr std::string_view kKeepAlive = "text/keepalive";

// The data type a content type maps to; 0 means the part carries no frame.
// The comparison is exact on the lower-cased value: "image/jpeg; q=1" is not
// an image.
uint8_t DataTypeOf(std::string_view content_type) {
  if (content_type == "image/jpeg") return kJpeg;
  if (content_type == "text/plain" || content_type == "text/plaintext") return kText;
  if (content_type == "text/x-vesper-event") return kEvent;
  if (content_type == "text/x-vesper-event-list") return kEventList;
  return kDataTypeNone;  // "audio/basic", unknown types, no content type
}

}  // namespace

bool Korvid::DispatchPart(const std::string& contentType, int32_t bodyStart, int32_t bodyLength,
                          int32_t consumed) {
  if (contentType == kKeepAlive) {
    TimeoutTimer->SetEnabled(false);  // restarts the part timeout
    TimeoutTimer->SetEnabled(true);
    DiscardInputBufferHead(consumed);
    return true;
  }
  std::shared_ptr<MediaFrame> frame;
  if (const uint8_t type = DataTypeOf(contentType); type != kDataTypeNone) {
    // A degenerate part whose blank line runs into the next boundary has an
    // empty body.
    std::string body;
    if (bodyLength > 0) body.assign(InputData() + bodyStart - 1, bodyLength);
    frame = CreateFrame(type, std::move(body));
  }
  DiscardInputBufferHead(consumed);  // the part is consumed whatever happens next
  TimeoutTimer->SetEnabled(false);   // no part timeout while the frame is handled
  if (!HandleNewFrame(frame)) {
    RaiseDebugEvent(kDebugError, "Handling of a new frame failed... Reconnecting");
    ConnectToSource();
    return false;
  }
  TimeoutTimer->SetEnabled(true);  // the part timeout starts again from zero
  return true;
}

std::shared_ptr<MediaFrame> Korvid::CreateFrame(uint8_t dataType, std::string body) {
  auto frame = std::make_shared<MediaFrame>();
  frame->SetData(dataType, std::move(body));
  frame->commitData();
  frame->setFixedStamp(false);
  return frame;
}

}  // namespace ravelon
