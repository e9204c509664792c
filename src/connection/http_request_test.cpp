#include "connection/http_request.h"

#include <gtest/gtest.h>

#include <tuple>

namespace ravelon {
namespace {

TEST(HttpRequestTest, EachStyleWritesItsRequest) {
  const std::string agent = "User-Agent: Ravelon/" RAVELON_VERSION "\r\n";
  const std::string basic = "Authorization: Basic dTpw\r\n";
  using enum RequestStyle;
  const std::tuple<RequestTarget, std::string> cases[] = {
      {{kBare, "/v", "cam", 8080, false, basic}, "GET /v\r\n" + basic + "\r\n"},
      {{kBare, "/v", "cam", 80, true, ""}, "GET /v\r\n\r\n"},
      {{kHttp10, "/v?a=1", "cam", 80, true, ""},
       "GET /v?a=1 HTTP/1.0\r\nHost: cam\r\n" + agent + "Connection: close\r\n\r\n"},
      {{kHttp11, "/v", "10.0.0.1", 8080, false, basic},
       "GET /v HTTP/1.1\r\nHost: 10.0.0.1:8080\r\n" + agent + basic + "\r\n"},
      {{kHttp11, "/", "::1", 81, false, ""},
       "GET / HTTP/1.1\r\nHost: [::1]:81\r\n" + agent + "\r\n"},
      {{kHttp10, "/", "[fe80::1]", 80, false, ""},
       "GET / HTTP/1.0\r\nHost: [fe80::1]\r\n" + agent + "\r\n"},
  };
  for (const auto& [target, request] : cases) EXPECT_EQ(BuildRequest(target), request);
}

}  // namespace
}  // namespace ravelon
