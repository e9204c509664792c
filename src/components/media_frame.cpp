#include "ravelon/media_frame.h"

#include <algorithm>
#include <utility>

namespace ravelon {

void MediaFrame::setMotionPercent(uint8_t percent) {
  motion_percent_ = std::min(percent, kMaxMotionPercent);
}

void MediaFrame::cloneFrom(const MediaFrame& other) {
  if (&other == this) return;
  data_.Assign(other.data_.GetText());
  data_type_ = other.data_type_;
  frame_id_ = other.frame_id_;
  stamp_.CopyFrom(other.stamp_);
  flags_ = other.flags_;
  marks_ = other.marks_;
  motion_percent_ = other.motion_percent_;
  fixed_stamp_ = other.fixed_stamp_;
}

bool MediaFrame::hasMark(int32_t code) const {
  return std::find(marks_.begin(), marks_.end(), code) != marks_.end();
}

void MediaFrame::setMark(int32_t code) {
  if (!hasMark(code)) marks_.push_back(code);
}

void MediaFrame::SetData(uint8_t data_type, std::string data) {
  data_.Assign(std::move(data));
  data_type_ = data_type;
}

void MediaFrame::commitData() {
  marks_.clear();
  motion_percent_ = 0;
}

}  // namespace ravelon
