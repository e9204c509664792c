// One frame of the video source: its bytes (a JPEG picture, event text, ...),
// what kind of data they are, the frame number, the stamp of when it was
// taken, state flags set as it moves through the engine, and the results of
// the host's filters (marks and the motion percentage).
//
// Made by the engine and shared (std::shared_ptr) between the engine's
// queues, the host's filter chain and the store; used on the engine's
// thread. Copies are deliberate only: use cloneFrom.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ravelon/data_block.h"
#include "ravelon/date_time_stamp.h"
#include "ravelon/memory_chunk.h"

namespace ravelon {

// What a frame's data holds.
enum DataType : uint8_t {
  kDataTypeNone = 0,
  kJpeg = 1,
  kText = 2,
  kPlaceholder = 3,
  kRejected = 4,
  kEventList = 7,
  kEvent = 8,
};

// State of a frame; a set of bits that only grows.
enum FrameFlags : int32_t {
  kComplete = 1,
  kQueued = 2,
  kOpen = 4,
};

class MediaFrame {
 public:
  static constexpr uint8_t kMaxMotionPercent = 100;

  MediaFrame() = default;
  MediaFrame(const MediaFrame&) = delete;
  MediaFrame& operator=(const MediaFrame&) = delete;
  MediaFrame(MediaFrame&&) = default;
  MediaFrame& operator=(MediaFrame&&) = default;

  uint8_t getDataType() const { return data_type_; }
  void setDataType(uint8_t data_type) { data_type_ = data_type; }

  int32_t getFrameId() const { return frame_id_; }
  void setFrameId(int32_t frame_id) { frame_id_ = frame_id; }

  // True when the stamp was given by the source and must not be replaced by
  // the time of arrival.
  bool getFixedStamp() const { return fixed_stamp_; }
  void setFixedStamp(bool fixed_stamp) { fixed_stamp_ = fixed_stamp; }

  // The share of the picture that changed, 0-100; set by the host's filters.
  // Larger values are taken as 100.
  uint8_t getMotionPercent() const { return motion_percent_; }
  void setMotionPercent(uint8_t percent);

  // Makes this frame a deep copy of `other`: data, type, id, stamp, flags,
  // marks, motion percentage and fixed-stamp setting. `other` may be *this.
  void cloneFrom(const MediaFrame& other);

  // Marks are small codes (such as 1 and 2) the host's filters set on a frame.
  bool hasMark(int32_t code) const;
  void setMark(int32_t code);

  // The frame's own data; changes through it change the frame.
  DataBlock& getDataBlock() { return data_; }
  const DataBlock& getDataBlock() const { return data_; }

  // A copy of the whole data as one chunk.
  MemoryChunk getDataChunk() const { return data_.GetChunk(); }

  // Replaces the data and its type; the bytes are taken over without a copy.
  void SetData(uint8_t data_type, std::string data);

  // Called right after SetData when a frame is made from a part of the
  // stream: drops the marks and motion percentage left from earlier data, so
  // a frame's analysis results always belong to its present data.
  void commitData();

  // The frame's own stamp; changes through it change the frame.
  DateTimeStamp& getStamp() { return stamp_; }
  const DateTimeStamp& getStamp() const { return stamp_; }

  double getDate() const { return stamp_.GetDate(); }
  void setDate(double date) { stamp_.SetDate(date); }
  double getTime() const { return stamp_.GetTime(); }
  void setTime(double time) { stamp_.SetTime(time); }

  int32_t getFlags() const { return flags_; }
  // Adds `flags` to the set; flags are never removed.
  void addFlags(int32_t flags) { flags_ |= flags; }
  // True when every bit of `flag` is set (a zero flag is always "set").
  bool hasFlag(int32_t flag) const { return (flags_ & flag) == flag; }

  int32_t getDataLength() const { return data_.Size(); }

 private:
  DataBlock data_;
  uint8_t data_type_ = kDataTypeNone;
  int32_t frame_id_ = 0;
  DateTimeStamp stamp_;
  int32_t flags_ = 0;
  // Few marks per frame, so a plain vector beats a set.
  std::vector<int32_t> marks_;
  uint8_t motion_percent_ = 0;
  bool fixed_stamp_ = false;
};

}  // namespace ravelon
