// The web view's limits and delays, each with the reason for its value.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace ravelon::cli {

// Server threads: every open live or playback stream holds one for as long
// as it runs, and pages, pictures and the API need a few more besides.
inline constexpr size_t kWebThreads = 40;
// Streams (live and playback) served at once; a further one is refused with
// 503 so that the page and the API always keep threads of their own.
inline constexpr int kMaxWebStreams = 32;
// A client that takes no bytes for this long is cut off: a stalled browser
// gives its thread back instead of holding it forever.
inline constexpr std::chrono::seconds kWebWriteTimeout{5};
// The kernel's send buffer of a client's connection. Left alone, Linux grows
// it to megabytes, and a slow viewer then falls seconds behind before it
// skips a picture, and a stalled one is noticed only once megabytes have
// queued; this holds a few pictures of a usual camera.
inline constexpr int kWebSendBufferBytes = 256 * 1024;
// How long a stream waits for a new frame before it checks whether the
// server is stopping; also how quickly a stopping server lets streams go.
inline constexpr std::chrono::milliseconds kStreamWaitSlice{250};
// A live stream with no new frame for this long still sends its last one
// again, so that proxies and browsers do not take the stream for dead.
inline constexpr std::chrono::seconds kLiveRepeatAfter{10};
// Playback waits out the recorded time between frames, but never longer
// than this: a gap of hours in the recording is skipped, not replayed.
inline constexpr std::chrono::seconds kMaxPlaybackPause{2};
// Playback speeds people use: a slow look at an incident up to a quick scan
// of an hour. Faster than this the server would only send frames in a burst.
inline constexpr double kMinPlaybackSpeed = 0.1;
inline constexpr double kMaxPlaybackSpeed = 64;
// Request lines and headers beyond this are refused: the web view takes no
// uploads, so anything longer is a mistake or an attack.
inline constexpr size_t kMaxWebRequestBytes = 64 * 1024;
// The most bytes of a source's name that a download's folder name keeps: the
// paths of an archive must fit a ustar header's 100-byte name field, and 64
// still tells sources apart.
inline constexpr size_t kMaxDownloadNameBytes = 64;

}  // namespace ravelon::cli
