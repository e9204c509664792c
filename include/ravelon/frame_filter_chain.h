// The host's frame filters as the engine sees them: a chain that gets every
// frame, may change or replace it, and answers with an error code and the
// frame to go on with. PassThroughFilterChain is a chain that changes
// nothing and counts its calls, for hosts without filters and for tests.
//
// The chain is owned by the host and handed to the engine as a shared
// object; the engine calls it on its thread only: process once per frame,
// reset when a connection starts or the store begins a new file, release
// once when the engine terminates.
#pragma once

#include <cstdint>
#include <memory>

#include "ravelon/media_frame.h"

namespace ravelon {

// What a chain answered for one frame.
class FilterResult {
 public:
  virtual ~FilterResult() = default;

  // 0 when the chain succeeded; other values are the chain's own codes.
  virtual int32_t getErrorCode() const = 0;
  // The frame to go on with; may differ from the one given, or be nullptr.
  virtual std::shared_ptr<MediaFrame> getOutputFrame() const = 0;
};

class SimpleFilterResult : public FilterResult {
 public:
  SimpleFilterResult(int32_t error_code, std::shared_ptr<MediaFrame> output_frame)
      : error_code_(error_code), output_frame_(std::move(output_frame)) {}

  int32_t getErrorCode() const override { return error_code_; }
  std::shared_ptr<MediaFrame> getOutputFrame() const override { return output_frame_; }

 private:
  int32_t error_code_;
  std::shared_ptr<MediaFrame> output_frame_;
};

class FrameFilterChain {
 public:
  virtual ~FrameFilterChain() = default;

  // The engine is done with the chain; called once, when it terminates.
  virtual void release() = 0;

  // Filters one frame. The chain may change the frame or replace `frame`.
  // Returns nullptr when it has no result for this frame.
  virtual std::shared_ptr<FilterResult> process(std::shared_ptr<MediaFrame>& frame) = 0;

  // Forgets what earlier frames taught the chain: a connection starts or
  // the store begins a new file.
  virtual void reset() = 0;
};

class PassThroughFilterChain : public FrameFilterChain {
 public:
  void release() override { ++release_count_; }

  // Leaves the frame alone: code 0 and the same frame as output.
  std::shared_ptr<FilterResult> process(std::shared_ptr<MediaFrame>& frame) override {
    ++process_count_;
    return std::make_shared<SimpleFilterResult>(0, frame);
  }

  void reset() override { ++reset_count_; }

  int32_t ProcessCount() const { return process_count_; }
  int32_t ResetCount() const { return reset_count_; }
  int32_t ReleaseCount() const { return release_count_; }

 private:
  int32_t process_count_ = 0;
  int32_t reset_count_ = 0;
  int32_t release_count_ = 0;
};

}  // namespace ravelon
