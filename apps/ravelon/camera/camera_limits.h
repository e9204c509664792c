// Every limit and fixed figure of the test camera, each with its reason.
// Used by the camera's server (TestCamera and its client sessions, on the
// camera's thread) and by the checks of its options (on the caller's thread).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ravelon::cli {

// --- Requests ---
// A request head (request line and header lines up to the blank line) larger
// than this is refused: the engine's GET line with a path and an
// Authorization line fits many times over, and a head that keeps growing is
// not a client of ours.
inline constexpr size_t kMaxRequestHeadBytes = 8192;
// A client that has not finished its head by then is dropped, so a silent
// client cannot hold a connection for ever; the engine sends its request at
// once after connecting. The same bound applies to a client that does not
// close after a response that ends the connection.
inline constexpr std::chrono::milliseconds kRequestHeadTimeout{5000};
// Clients served at once; more are answered "503" and closed. Every client
// costs an encode per frame: 64 VGA streams at 25 fps are already more than
// one core can make, and the 8-source demo needs 8.
inline constexpr size_t kMaxClients = 64;

// --- Frames ---
// Sides of a frame in pixels: below 16 the label and the pattern lose all
// meaning; above 4096 one RGB frame buffer passes 48 MiB, far beyond any
// source the engine is tested with.
inline constexpr int kMinFrameSide = 16;
inline constexpr int kMaxFrameSide = 4096;
// Frame rates: below 0.1 fps the engine's 15 s part timeout would cut every
// stream; above 100 fps the steady timer's wake-ups and the encoding cost
// dominate and nothing real sends that fast.
inline constexpr double kMinFps = 0.1;
inline constexpr double kMaxFps = 100;
// JPEG quality of the frames: small files, artefacts that do not matter.
inline constexpr int kJpegQuality = 75;

// --- The stream ---
// The multipart boundary; long and unusual enough never to occur inside a
// JPEG (the engine searches for it without trusting Content-Length).
inline constexpr std::string_view kBoundary = "ravelon-test-camera-boundary";

// --- Flood mode ---
// The frames a flood cycles through, each made once: their sizes differ from
// part to part, as a real camera's do, so that a reader's cost does not hinge
// on one part size lining up with its buffers (it does, by up to twice, for
// some peers); few enough that making them all stays under a second at the
// largest frame size.
inline constexpr size_t kFloodFrames = 16;

// --- Fault modes ---
// The engine clears its input buffer once it would pass this many bytes
// without a complete part (its documented input limit); the "oversized" part
// claims and sends more than that.
inline constexpr int64_t kEngineInputLimit = 10'000'000;
inline constexpr int64_t kOversizedBodyBytes = kEngineInputLimit + 1'000'000;
// A client's output buffer larger than this (only the oversized part makes
// one) is given back once sent, rather than kept for the small parts after.
inline constexpr size_t kKeptOutputCapacity = 1 << 20;
// "garbage" sends this much random data per frame tick: at 10 fps the engine's
// input limit is passed in about 8 s, before its 15 s part timeout, so both of
// its defences get exercised.
inline constexpr size_t kGarbageBytesPerTick = 128 * 1024;
// "drip" sends this many bytes per tick: 800 bytes a second, so a tiny frame
// still arrives within the engine's part timeout and a VGA one does not.
inline constexpr size_t kDripBytesPerTick = 8;
inline constexpr std::chrono::milliseconds kDripTick{10};
// The JPEGs a camera remembers for tests that compare what an engine received
// with what was sent: minutes of frames at test rates, a few hundred KB.
inline constexpr size_t kJpegLedgerSize = 10'000;

}  // namespace ravelon::cli
