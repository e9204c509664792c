// Every delay and limit of the engine, in one place, each with its reason.
// No other file writes these numbers; tests use the names too.
#pragma once

#include <chrono>
#include <cstdint>

namespace ravelon {

// --- Delays of the connection's watchdog (milliseconds) ---
// A source that has not accepted the connection by then is taken as down.
inline constexpr int32_t kConnectTimeoutMs = 5'000;
// From the request to the first byte of the response.
inline constexpr int32_t kResponseTimeoutMs = 10'000;
// From the first byte to a usable content-type line with its boundary.
inline constexpr int32_t kHeaderTimeoutMs = 10'000;
// Between two parts of the stream: a source that stalls longer is restarted.
inline constexpr int32_t kPartTimeoutMs = 15'000;
// After a connection broke (closed, error, or an error while reading): short,
// the source was there a moment ago.
inline constexpr int32_t kReconnectAfterBreakMs = 5'000;
// After a connect that failed or timed out: long, the source is down.
inline constexpr int32_t kReconnectAfterFailedConnectMs = 50'000;
// The rate period: packet and save rates are reported at most this often.
inline constexpr int32_t kStatsPeriodMs = 600'000;

// --- Intervals a host or the registry store may set (milliseconds) ---
// The view tick's default: twice a second is enough for a live picture.
inline constexpr int32_t kDefaultViewIntervalMs = 500;
// The save interval's default: two images a second in the store.
inline constexpr int32_t kDefaultSaveIntervalMs = 500;
// View, save and poll intervals outside [10 ms, 60 s] are ignored or clamped:
// faster would busy the loop, slower is no longer live.
inline constexpr int32_t kMinIntervalMs = 10;
inline constexpr int32_t kMaxIntervalMs = 60'000;

// --- The input buffer (bytes) ---
// The capacity an engine starts with: a few small parts.
inline constexpr int32_t kInitialInputCapacity = 10'000;
// A stream that never completes a part within this much is broken or
// hostile: the buffer is cleared rather than grown further.
inline constexpr int32_t kInputBufferLimit = 10'000'000;
// Parts parsed while the buffer stays at most 70% full before it is cut
// back by a quarter: a long enough spell that a burst does not flap it.
inline constexpr int32_t kIdlePartsBeforeReduction = 500;
// A frame cut from the stream shares the input buffer's block instead of
// copying its bytes when the block is at most this many times its size, so
// a small frame kept long (the newest, a queued one) cannot pin a large block.
inline constexpr int32_t kMaxBufferPerSharedFrame = 4;
// A boundary shorter than this would match inside every image.
inline constexpr int32_t kMinBoundaryLength = 2;
// MIME allows 70 characters; servers seen use up to about 60. A longer one
// (not counting its leading "--") is no boundary but a stream out of step,
// and every search for it would cost its length again.
inline constexpr int32_t kMaxBoundaryLength = 256;
// The bytes a socket holds for an owner that does not take its arrivals. The
// socket stops reading while this much waits untaken, so a fast source cannot
// make the backlog outgrow the input buffer, and no single arrival is dropped
// whole at the input limit.
inline constexpr int32_t kMaxSocketBacklogBytes = 1'048'576;
// The most bytes one data arrival announces; the rest waits in the system and
// comes as the next arrival at once. Arrivals of up to the backlog bound made
// the input buffer grow past four times a frame of a fast stream, so frames
// copied their bytes instead of sharing its block, and each arrival cost more.
inline constexpr int32_t kMaxArrivalBytes = 131'072;

// --- A part's header lines (bytes) ---
// A camera sends two to five header lines of a few dozen bytes each. A head
// larger than this, with that many lines or a line that long, is no part
// head: the stream is taken as broken and the connection made again.
inline constexpr int32_t kMaxPartHeaderBytes = 16'384;
inline constexpr int32_t kMaxPartHeaderLines = 100;
inline constexpr int32_t kMaxHeaderLineBytes = 8'192;

// --- An HTTP response head (bytes) ---
// A response that starts with a status line is held until its blank line, so
// that its status and transfer coding are known before the body is read.
// Servers commonly refuse request heads past 8 to 64 KB; a response head that
// runs past this is no HTTP head and goes to the stream reader unread.
inline constexpr int32_t kResponseHeadLimit = 65'536;

// --- A chunked response body (bytes) ---
// A chunk-size line is a dozen bytes; extensions after ';' are rarely sent and
// get the rest. Longer, the line is not a size line: a stream out of step.
inline constexpr int32_t kChunkSizeLineLimit = 1'024;
// A trailer field line, as long as the header lines servers commonly accept.
// Trailer lines are read and dropped, so this bounds what is held for one.
inline constexpr int32_t kChunkTrailerLineLimit = 8'192;
// A chunk's data streams through and costs no memory, so a chunk may be far
// larger than kInputBufferLimit. One terabyte is days of a camera's video in a
// single chunk: a larger size is a line read out of step, and the cap keeps
// the count far from overflow.
inline constexpr int64_t kChunkSizeLimit = int64_t{1} << 40;

// --- Frames ---
// Frames waiting for a save run: about 10 s of a 30 fps source; a full queue
// keeps the most valuable of its newest frame and the new one.
inline constexpr int32_t kSaveQueueCapacity = 300;
// The bytes those frames may hold: 64 MB is about 8 s of a 1080p source at
// 25 fps (300 KB frames), so a save cadence of a few seconds loses nothing,
// while a stalled disk cannot make 300 large frames take hundreds of MB.
inline constexpr int32_t kDefaultSaveQueueMegabytes = 64;
// A host may allow up to 1 GB per source.
inline constexpr int32_t kMaxSaveQueueMegabytes = 1'024;
// An open event list (a receipt whose paper cut has not come) is closed and
// saved when it grows past this: a busy till prints far less in an hour, and
// a printer feed that never cuts must not take the machine's memory.
inline constexpr int32_t kMaxEventListBytes = 4'194'304;
// Two texts taken from a full save queue are joined only up to this; a text
// that would make the joined frame larger is counted as lost.
inline constexpr int32_t kMaxTextJoinBytes = 4'194'304;
// Frame numbers wrap to 1 after this: nine digits in every host's display.
inline constexpr int32_t kMaxFrameNumber = 999'999'999;
// The number of the placeholder frame a connection starts with; the next
// real frame is number 1.
inline constexpr int32_t kPlaceholderFrameId = -2;
// Two stamps in one millisecond, or a clock set back: the later frame gets
// the last stamp plus this, so stamps stay strictly increasing.
inline constexpr double kStampStepSeconds = 0.002;

// --- The frame store ---
inline constexpr int64_t kMegabyte = 1'048'576;
// File-size limits and preallocation steps are set in megabytes up to this.
inline constexpr int16_t kMaxLimitSetting = 999;
// The registry store may hold a file limit up to this (hours under a time
// limit: almost twelve weeks).
inline constexpr int32_t kMaxStoredFileLimit = 1'999;
// Under a time limit a data file still ends its set before it passes this:
// positions in the index are 32-bit.
inline constexpr int64_t kTimeLimitSizeCap = 2'000 * kMegabyte;
// The index file grows in steps of this, up to its cap (about 5.8 million
// frames of 18 bytes).
inline constexpr int32_t kIndexGrowthStep = 1'048'576;
inline constexpr int32_t kIndexMaxSize = 104'857'600;
// A write of at least this many bytes (a save run's frames) goes to the disk
// without passing through the page cache, through an aligned staging buffer:
// the kernel's copy into the cache and its write-back cost the saving thread
// more than reading the stream did. Shorter writes (index and segment records,
// runs of a few frames) stay buffered, where that copy is cheap.
inline constexpr int64_t kMinDirectWriteBytes = 262'144;
// The staging buffer of such writes (one per thread, made at its first direct
// write) and so the most that one of its system calls writes.
inline constexpr int64_t kDirectStagingBytes = 1'048'576;
// Direct writes start and end on multiples of this, which every common
// device's block size divides; the partial blocks at either end of a write
// share a block with other writes' bytes and stay buffered.
inline constexpr int64_t kDirectWriteAlignment = 4'096;
// Frames queued longer ago than this keep their own stamps in a save run;
// younger ones are spread evenly up to now.
inline constexpr double kRecentSeconds = 20;
// The smallest spacing between spread stamps.
inline constexpr double kMinSpacingSeconds = 0.001;
// A failing disk reports at most once per 25.92 s (in days): the host's log
// must not drown.
inline constexpr double kErrorReportGapDays = 0.0003;
// A save run asks whether the open set's files still have their names (three
// stat calls) at most this often, and always after a failed run: a folder
// removed under a recording costs at most this much of it, while a host saving
// once a second makes no stat call in most runs.
inline constexpr std::chrono::seconds kStoreNameCheckInterval{5};
// A save run with no frame moves the segment's end to now in memory; the
// segment file gets it with the next frame, or once it is this old, so that
// idle ticks write nothing and a reader's view of the end lags by this at most.
inline constexpr std::chrono::seconds kSegmentEndRefreshInterval{10};

// --- Digest authorization ---
// The longest "WWW-Authenticate" value (one header line) whose challenges are
// read. A Digest challenge (realm, nonce, opaque and a few options) takes a
// few hundred bytes, and its realm, nonce and opaque go back in every request:
// a longer value is refused rather than parsed and carried along.
inline constexpr int32_t kMaxChallengeValueLength = 4'096;
// Stale answers in a row that are retried at once with the fresh nonce. A
// source may find a nonce stale that it issued a moment before (a very short
// nonce lifetime, a slow network); one that does so every time would keep the
// engine retrying without pause, so the next one is taken as a refusal of the
// credentials and waits for the reconnect like any other.
inline constexpr int32_t kMaxStaleRetries = 3;

// --- The inter-process port ---
// (The largest message, kMaxMessageBytes, is in include/ravelon/named_port.h,
// where senders see it.)
// A connection silent this long is closed: senders write at once, so it is
// stuck or hostile, and must not keep a slot.
inline constexpr int32_t kNamedPortIdleTimeoutMs = 30'000;
// Connections one listening port holds at once. When all are taken, the one
// silent the longest is closed to make room for a new one.
inline constexpr int32_t kMaxNamedPortConnections = 64;
// Bytes read from a connection at a time, into one buffer the port shares,
// so that a connection holds only what it has been sent.
inline constexpr int32_t kNamedPortReadBytes = 65'536;
// A failed accept (out of file descriptors, say) is tried again after this
// pause: trying at once would spin the engine's loop.
inline constexpr int32_t kNamedPortAcceptRetryMs = 100;
// Bounds each blocking step of a sender (connect, send, answer): a stalled
// listener cannot hang the program that sends.
inline constexpr int32_t kNamedPortSendTimeoutMs = 10'000;

}  // namespace ravelon
