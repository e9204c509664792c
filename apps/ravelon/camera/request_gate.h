// RequestGate: what the test camera answers a well-formed request before it
// serves one: a refusal (a request line without an HTTP version in HTTP-only
// mode, the fixed reply of --reply, a method other than GET, credentials
// missing or wrong) or the go-ahead. The first of those that applies wins,
// in that order.
//
// Owned by the camera's shared state; the camera's thread only (Digest
// nonces are remembered across connections).
#pragma once

#include <optional>
#include <string>

#include "camera/camera_options.h"
#include "camera/digest_guard.h"
#include "camera/request_head.h"
#include "camera/response_head.h"

namespace ravelon::cli {

struct Refusal {
  int status = 0;
  std::string reason;  // "Unauthorized" and the like
  HeaderList headers;  // "WWW-Authenticate" or "Allow"
  bool stale = false;  // a Digest challenge with stale=true
};

class RequestGate {
 public:
  // `options` must outlive the gate.
  explicit RequestGate(const CameraOptions& options);

  // No value: serve the request.
  std::optional<Refusal> Screen(const RequestHead& request);

 private:
  std::optional<Refusal> CheckCredentials(const RequestHead& request);

  const CameraOptions& m_options;
  std::optional<DigestGuard> m_digest;  // when Digest credentials are demanded
};

}  // namespace ravelon::cli
