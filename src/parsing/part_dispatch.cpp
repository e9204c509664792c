// The dispatch of a complete part by its content type: keep-alive parts only
// keep the connection alive, data-carrying parts become frames.
#include <string_view>

#include "parsing/stream_reader.h"
#include "ravelon/media_frame.h"

namespace ravelon {
namespace {

constexpr std::string_view kKeepAliveType = "text/keepalive";

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

StreamReader::PartKind StreamReader::MakePartFrame(const std::string& contentType,
                                                   int32_t bodyStart, int32_t bodyLength,
                                                   std::shared_ptr<MediaFrame>& frame) {
  if (contentType == kKeepAliveType) return kKeepAlive;
  const uint8_t type = DataTypeOf(contentType);
  if (type == kDataTypeNone) return kFramePart;
  frame = std::make_shared<MediaFrame>();
  // A degenerate part whose blank line runs into the next boundary has an
  // empty body.
  if (bodyLength > 0) {
    const std::string_view body(InputData() + bodyStart - 1, bodyLength);
    frame->getDataBlock().Share(ShareBytes(bodyStart, bodyLength), body);
  }
  frame->setDataType(type);
  frame->commitData();
  frame->setFixedStamp(false);
  return kFramePart;
}

}  // namespace ravelon
