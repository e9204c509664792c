// HttpResponseGate: stands between the socket's bytes and the StreamReader
// and lets through what the reader should see of a response.
//
// A response that does not start with "HTTP/" (a source that answers with its
// content-type line, or with the multipart body at once) passes untouched. A
// response that does is held until the blank line that ends its head, so that
// its status and its transfer coding are known before any of the body is
// read: a status outside 200-299 stops the gate (the owner reports it and
// ends the attempt); otherwise the head passes as it came, and the body
// follows, through a ChunkedDecoder when the head says "Transfer-Encoding:
// chunked". The reader thus sees exactly the bytes of an unchunked response.
//
//   Start --"HTTP/"--> Head --blank line, 2xx--> Body (plain or de-chunked) --last chunk--> Ended
//     |                 |  \--other status--> Refused
//     |                 \--kResponseHeadLimit passed, or no status code--.
//     \--anything else------------------------------------------------> PassThrough
//
// Owned by the engine's connection, one response per connection attempt
// (Reset between them). Bytes only: no socket, timer or clock. Single-threaded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parsing/chunked_decoder.h"

namespace ravelon {

class HttpResponseGate {
 public:
  enum Outcome {
    kPassing,  // `out` holds whatever of this arrival the reader should see
    kRefused,  // the status is not 2xx: StatusLine() and Challenges() tell more
    kBroken,   // the chunked body is malformed: Error() says how
  };

  // Reads one arrival and appends what passes to `out`. After kRefused or
  // kBroken, and after the last chunk, nothing more passes until Reset().
  Outcome Feed(std::string_view arrival, std::string& out);

  // True while every byte passes untouched (a response without an HTTP head,
  // or the plain body after one): the owner may then hand the arrival to the
  // reader itself instead of calling Feed.
  bool PassingThrough() const { return m_state == State::kPassThrough || m_state == State::kBody; }

  // Of a refused response: its status code, "404 Not Found" (the status line
  // without its protocol version), and the values of its "WWW-Authenticate"
  // lines.
  int32_t StatusCode() const { return m_statusCode; }
  const std::string& StatusLine() const { return m_statusLine; }
  const std::vector<std::string>& Challenges() const { return m_challenges; }
  // Of a broken body: one sentence.
  const std::string& Error() const { return m_decoder.Error(); }

  // Starts a new response.
  void Reset();

 private:
  enum class State { kStart, kHead, kBody, kChunkedBody, kEnded, kPassThrough, kRefused };

  // Reads the complete head in m_head (`size` bytes, blank line included).
  Outcome OnHead(size_t size, std::string& out);
  void PassHeld(std::string& out);

  State m_state = State::kStart;
  std::string m_head;  // held bytes of the head
  int32_t m_statusCode = 0;
  std::string m_statusLine;
  std::vector<std::string> m_challenges;
  ChunkedDecoder m_decoder;
};

}  // namespace ravelon
