#include "components/in_process_ipc_port.h"

#include <gtest/gtest.h>

#include "ravelon/testing/simulated_loop.h"

namespace ravelon {
namespace {

using Blocks = std::vector<std::string>;
using Codes = std::vector<int32_t>;

// A port on a loop of its own, with an observer that records what arrives.
struct End {
  End() {
    observer->SetOnData([this](MemoryChunk& data) { got.push_back(data.Bytes()); });
    port->addObserver(observer);
  }
  int32_t Connect(std::shared_ptr<IpcPort> other) { return port->connect(other); }
  bool Send(std::string text) { return port->send(MemoryChunk(std::move(text))); }
  SimulatedLoop loop;
  std::shared_ptr<InProcessIpcPort> port = std::make_shared<InProcessIpcPort>(loop);
  std::shared_ptr<IpcPortObserver> observer = std::make_shared<IpcPortObserver>();
  Blocks got;
};

struct OtherKindOfPort : IpcPort {
  void close() override {}
  int32_t connect(std::shared_ptr<IpcPort>&) override { return 0; }
  void addObserver(std::shared_ptr<IpcPortObserver>) override {}
  void removeObserver(const std::shared_ptr<IpcPortObserver>&) override {}
  bool send(const MemoryChunk&) override { return true; }
};

TEST(InProcessIpcPortTest, ConnectDeliverOnReceiversLoopInOrderAndClose) {
  End a, b, c;
  using Port = std::shared_ptr<IpcPort>;
  for (const Port& other : {Port(), Port(std::make_shared<OtherKindOfPort>()), Port(a.port)})
    EXPECT_EQ(a.Connect(other), kIpcIncompatiblePort);
  InProcessIpcPort unshared(a.loop);  // not made with make_shared
  std::shared_ptr<IpcPort> other = b.port;
  EXPECT_EQ(unshared.connect(other), kIpcIncompatiblePort);
  EXPECT_FALSE(a.Send("unconnected"));
  EXPECT_EQ((Codes{a.Connect(b.port), b.Connect(a.port), a.Connect(c.port), c.Connect(b.port)}),
            (Codes{kIpcConnected, kIpcConnected, kIpcPortBusy, kIpcPortBusy}));

  MemoryChunk first(std::string("one"));
  EXPECT_TRUE(a.port->send(first));
  first.CopyFrom("changed", 7);  // the port sent a copy
  for (const char* text : {"", "three"}) a.Send(text);
  EXPECT_TRUE(b.Send("reply"));
  a.loop.ProcessPendingEventsOnce();
  EXPECT_EQ(a.got, Blocks{"reply"});
  EXPECT_TRUE(b.got.empty());  // nothing inside send, nothing on the sender's loop
  b.loop.ProcessPendingEventsOnce();
  EXPECT_EQ(b.got, (Blocks{"one", "", "three"}));

  // During a delivery an observer changes its own copy of the block, drops
  // its own handler and removes a later observer: that one gets nothing from
  // then on, the next one (c's, for now) sees the blocks as sent.
  auto remover = std::make_shared<IpcPortObserver>();
  remover->SetOnData([&](MemoryChunk& data) {
    data.CopyFrom("changed", 7);
    remover->SetOnData(nullptr);
    b.port->removeObserver(b.observer);
  });
  b.port->removeObserver(b.observer);
  for (const auto& observer : {remover, c.observer, c.observer, b.observer})
    b.port->addObserver(observer);
  for (const char* text : {"four", "five"}) a.Send(text);
  b.loop.ProcessPendingEventsOnce();
  EXPECT_EQ(c.got, (Blocks{"four", "five"}));
  EXPECT_EQ(b.got.size(), 3u);

  // Closing ends the link both ways and drops the blocks still queued.
  a.Send("to b");
  b.Send("to a");
  b.port->close();
  EXPECT_FALSE(a.Send("x") || b.Send("x"));
  EXPECT_EQ((Codes{b.Connect(a.port), a.Connect(b.port)}), (Codes{kIpcPortClosed, kIpcPortClosed}));
  // The open side may link again; a peer destroyed with blocks queued both
  // ways leaves no delivery behind.
  ASSERT_EQ(a.Connect(c.port), kIpcConnected);
  a.Send("to c");
  c.Send("to a");
  c.port.reset();
  for (End* end : {&a, &b, &c}) end->loop.ProcessPendingEventsOnce();
  EXPECT_EQ(a.got, Blocks{"reply"});
  EXPECT_EQ(c.got.size(), 2u);
}

}  // namespace
}  // namespace ravelon
