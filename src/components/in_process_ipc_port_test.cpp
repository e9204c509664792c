#include "components/in_process_ipc_port.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace ravelon {
namespace {

// Queues posted tasks and runs them only when the test asks.
class QueueLoop : public EventLoop {
 public:
  void Post(Task task) override { tasks_.push_back(std::move(task)); }
  void ProcessPendingEventsOnce() override {
    while (!tasks_.empty()) {
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      task();
    }
  }
  void Run() override { ProcessPendingEventsOnce(); }
  void Stop() override {}
  std::unique_ptr<Timer> NewTimer(Task) override { return nullptr; }

 private:
  std::deque<Task> tasks_;
};

using Blocks = std::vector<std::string>;

class InProcessIpcPortTest : public testing::Test {
 protected:
  // An observer that records the blocks it receives into `blocks`.
  static std::shared_ptr<IpcPortObserver> Recorder(Blocks& blocks) {
    auto observer = std::make_shared<IpcPortObserver>();
    observer->SetOnData([&blocks](MemoryChunk& data) { blocks.push_back(data.Bytes()); });
    return observer;
  }
  static int32_t Connect(InProcessIpcPort& port, std::shared_ptr<IpcPort> other) {
    return port.connect(other);
  }
  static bool Send(InProcessIpcPort& port, std::string text) {
    return port.send(MemoryChunk(std::move(text)));
  }

  QueueLoop loop_a_, loop_b_;
  std::shared_ptr<InProcessIpcPort> a_ = std::make_shared<InProcessIpcPort>(loop_a_);
  std::shared_ptr<InProcessIpcPort> b_ = std::make_shared<InProcessIpcPort>(loop_b_);
  Blocks at_a_, at_b_;
};

TEST_F(InProcessIpcPortTest, DeliversOnReceiversLoopInOrderWithBoundaries) {
  a_->addObserver(Recorder(at_a_));
  b_->addObserver(Recorder(at_b_));
  ASSERT_EQ(Connect(*a_, b_), kIpcConnected);

  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  MemoryChunk first(std::string("one"));
  EXPECT_TRUE(a_->send(first));
  first.CopyFrom("changed", 7);  // the port sent a copy
  for (const std::string& text : {std::string(), big, std::string("four")}) Send(*a_, text);
  EXPECT_TRUE(Send(*b_, "reply"));
  loop_a_.ProcessPendingEventsOnce();
  EXPECT_EQ(at_a_, Blocks{"reply"});
  EXPECT_TRUE(at_b_.empty());  // nothing inside send, nothing on the sender's loop

  loop_b_.ProcessPendingEventsOnce();
  EXPECT_EQ(at_b_, (Blocks{"one", "", big, "four"}));
}

TEST_F(InProcessIpcPortTest, EndedLinkDropsQueuedBlocks) {
  a_->addObserver(Recorder(at_a_));
  b_->addObserver(Recorder(at_b_));
  ASSERT_EQ(Connect(*a_, b_), kIpcConnected);
  Send(*a_, "to b");
  Send(*b_, "to a");
  b_->close();
  EXPECT_FALSE(Send(*a_, "x"));
  EXPECT_FALSE(Send(*b_, "x"));
  EXPECT_EQ(Connect(*b_, a_), kIpcPortClosed);
  EXPECT_EQ(Connect(*a_, b_), kIpcPortClosed);

  // The open side may link again; blocks of the old link stay dropped.
  auto c = std::make_shared<InProcessIpcPort>(loop_b_);
  c->addObserver(Recorder(at_b_));
  ASSERT_EQ(Connect(*a_, c), kIpcConnected);
  Send(*a_, "to c");
  loop_a_.ProcessPendingEventsOnce();
  loop_b_.ProcessPendingEventsOnce();
  EXPECT_TRUE(at_a_.empty());
  EXPECT_EQ(at_b_, Blocks{"to c"});

  // A destroyed receiver or sender leaves no delivery behind.
  Send(*a_, "to c");
  Send(*c, "to a");
  c.reset();
  EXPECT_FALSE(a_->IsConnected());
  loop_a_.ProcessPendingEventsOnce();
  loop_b_.ProcessPendingEventsOnce();
  EXPECT_TRUE(at_a_.empty());
  EXPECT_EQ(at_b_, Blocks{"to c"});
}

TEST_F(InProcessIpcPortTest, ObserversChangedBeforeOrDuringDelivery) {
  auto recorder = Recorder(at_b_);
  Blocks at_last;
  auto last = Recorder(at_last);
  b_->addObserver(last);
  ASSERT_EQ(Connect(*a_, b_), kIpcConnected);
  Send(*a_, "one");
  b_->removeObserver(last);
  loop_b_.ProcessPendingEventsOnce();
  EXPECT_TRUE(at_last.empty());

  // The first observer changes its block, drops its own handler and removes
  // the last observer: the next still sees the block as sent, the last gets
  // nothing, and no freed handler runs.
  auto first = std::make_shared<IpcPortObserver>();
  int first_calls = 0;
  first->SetOnData([&](MemoryChunk& data) {
    ++first_calls;
    data.CopyFrom("changed", 7);
    first->SetOnData(nullptr);
    b_->removeObserver(last);
  });
  for (const auto& observer : {first, recorder, recorder, last}) b_->addObserver(observer);
  Send(*a_, "two");
  Send(*a_, "three");
  loop_b_.ProcessPendingEventsOnce();
  EXPECT_EQ(first_calls, 1);
  EXPECT_EQ(at_b_, (Blocks{"two", "three"}));
  EXPECT_TRUE(at_last.empty());
}

TEST_F(InProcessIpcPortTest, ConnectResultCodes) {
  class OtherKindOfPort : public IpcPort {
    void close() override {}
    int32_t connect(std::shared_ptr<IpcPort>&) override { return 0; }
    void addObserver(std::shared_ptr<IpcPortObserver>) override {}
    void removeObserver(const std::shared_ptr<IpcPortObserver>&) override {}
    bool send(const MemoryChunk&) override { return true; }
  };
  EXPECT_EQ(Connect(*a_, nullptr), kIpcIncompatiblePort);
  EXPECT_EQ(Connect(*a_, std::make_shared<OtherKindOfPort>()), kIpcIncompatiblePort);
  EXPECT_EQ(Connect(*a_, a_), kIpcIncompatiblePort);
  InProcessIpcPort unshared(loop_a_);
  EXPECT_EQ(Connect(unshared, b_), kIpcIncompatiblePort);
  EXPECT_FALSE(Send(*a_, "unconnected"));

  ASSERT_EQ(Connect(*a_, b_), kIpcConnected);
  EXPECT_EQ(Connect(*b_, a_), kIpcConnected);
  auto c = std::make_shared<InProcessIpcPort>(loop_a_);
  EXPECT_EQ(Connect(*a_, c), kIpcPortBusy);
  EXPECT_EQ(Connect(*c, b_), kIpcPortBusy);
  c->close();
  EXPECT_EQ(Connect(*b_, c), kIpcPortClosed);
}

}  // namespace
}  // namespace ravelon
