// A TCP client with the contract the engine's connection code is written
// against: a connect that never blocks and reports its outcome as an event,
// a close that takes effect at once, byte strings in both directions and four
// events (connect, data arrival, close by the peer, error).
//
// Made by Platform::NewTcpSocket and owned by one engine; all calls and events
// on the loop's thread. Events of a connection that the owner has closed are
// never delivered.
#pragma once

#include <cstdint>
#include <string>

namespace ravelon {

class TcpSocketObserver {
 public:
  virtual ~TcpSocketObserver() = default;
  // The connection is up; State() is kConnected.
  virtual void OnConnect() = 0;
  // Bytes arrived; `bytes_total` is how many are waiting to be taken, or fewer
  // (a socket may announce what waits in pieces, one arrival after another).
  virtual void OnDataArrival(int32_t bytes_total) = 0;
  // The peer closed the connection; State() is kClosing until Close().
  virtual void OnClose() = 0;
  // The connect failed or the connection broke; State() is kError until Close().
  virtual void OnError(int16_t number, const std::string& description) = 0;
};

// Error numbers of the error event, as Windows socket hosts know them.
enum SocketError : int16_t {
  kSocketErrorInvalidArgument = 10022,
  kSocketErrorAddressNotAvailable = 10049,
  kSocketErrorNetworkUnreachable = 10051,
  kSocketErrorConnectionAborted = 10053,
  kSocketErrorConnectionReset = 10054,
  kSocketErrorAlreadyConnected = 10056,
  kSocketErrorNotConnected = 10057,
  kSocketErrorTimedOut = 10060,
  kSocketErrorConnectionRefused = 10061,
  kSocketErrorHostUnreachable = 10065,
  kSocketErrorHostNotFound = 11001,
};

class TcpSocket {
 public:
  // Values of State(); the engine relies only on kClosed and kConnected.
  enum StateCode : int {
    kClosed = 0,
    kResolving = 4,
    kConnectPending = 6,
    kConnected = 7,
    kClosing = 8,
    kError = 9,
  };

  virtual ~TcpSocket() = default;

  // The observer receives every event; nullptr receives none. Not owned.
  virtual void SetObserver(TcpSocketObserver* observer) = 0;

  // Starts connecting to `host` (a name or an address) and `port`. Never
  // blocks: the outcome arrives as OnConnect or OnError. Expects kClosed; in
  // any other state the attempt fails with an error event.
  virtual void Connect(const std::string& host, int32_t port) = 0;

  // Ends the connection or attempt at once, in any state. Afterwards State()
  // is kClosed and no event of that connection follows.
  virtual void Close() = 0;

  virtual int State() const = 0;

  // Queues the bytes for sending, in order. Expects kConnected; an empty
  // string sends nothing.
  virtual void SendData(const std::string& data) = 0;

  // Moves up to `capacity` of the bytes received and not yet taken into
  // `destination`, in order, and returns how many it moved (0 when none
  // wait). A socket may read them from the system straight into
  // `destination`, so a caller that takes the bytes of each data arrival at
  // once copies them no more. Bytes not taken during their arrival event stay
  // with the socket, which holds a bounded backlog of them and stops reading
  // while it is full.
  virtual int32_t Receive(char* destination, int32_t capacity) = 0;

  // Replaces `data` with every byte received and not yet taken.
  void GetData(std::string& data) {
    constexpr int32_t kStep = 64 * 1024;
    data.clear();
    for (int32_t got = kStep; got == kStep;) {
      const size_t filled = data.size();
      data.resize(filled + kStep);
      got = Receive(data.data() + filled, kStep);
      data.resize(filled + static_cast<size_t>(got));
    }
  }
};

}  // namespace ravelon
