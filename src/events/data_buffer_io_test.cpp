#include "events/data_buffer_io.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "common/number_encoding.h"

namespace ravelon {
namespace {

constexpr int32_t kMaxLong = std::numeric_limits<int32_t>::max();

class DataBufferIOTest : public ::testing::Test {
 protected:
  void SetUp() override { io.setDataBuffer(buffer); }

  std::shared_ptr<DataBlock> buffer = std::make_shared<DataBlock>();
  DataBufferIO io;
};

TEST_F(DataBufferIOTest, EncodesLittleEndianByteForByte) {
  ASSERT_TRUE(io.writeBoolean(true) && io.writeBoolean(false) && io.writeByte(0xC3) &&
              io.writeInteger(-2) && io.writeLong(std::numeric_limits<int32_t>::min()) &&
              io.writeDouble(1.0) && io.writeString("abc") &&
              io.writeMemoryChunk(MemoryChunk("\x80")) && io.writeLongString(""));
  EXPECT_EQ(buffer->Text(), std::string("\1\0\xC3\xFE\xFF\0\0\0\x80"
                                        "\0\0\0\0\0\0\xF0\x3F"
                                        "\3\0abc\1\0\0\0\x80\0\0\0\0",
                                        31));

  // Doubles keep every bit: NaN payloads, signed zero, infinities, subnormals.
  for (uint64_t bits : {0x7FF8000000000001ull, 0xFFF4000000000000ull, 0x8000000000000000ull,
                        0x7FF0000000000000ull, 0xFFF0000000000000ull, 0x1ull}) {
    double number = 0;
    buffer->Clear();
    io.fromStart();
    ASSERT_TRUE(io.writeDouble(std::bit_cast<double>(bits)) && io.readDouble(number));
    EXPECT_EQ(std::bit_cast<uint64_t>(number), bits);
  }
}

TEST_F(DataBufferIOTest, ReadsSucceedOnlyOnceTheirLastByteArrived) {
  auto source = std::make_shared<DataBlock>();
  DataBufferIO writer;
  writer.setDataBuffer(source);
  const std::string binary("\0\x80\xFF", 3);
  ASSERT_TRUE(writer.writeBoolean(true) && writer.writeByte(0x80) && writer.writeInteger(-300) &&
              writer.writeLong(-70000) && writer.writeDouble(-2.5) && writer.writeString(binary) &&
              writer.writeLongString("long") && writer.writeMemoryChunk(MemoryChunk(binary)));

  bool flag = false;
  uint8_t byte = 0;
  int16_t integer = 0;
  int32_t value = 0;
  double number = 0;
  std::string text, longText;
  MemoryChunk chunk;
  const std::vector<std::pair<int32_t, std::function<bool()>>> reads = {
      {1, [&] { return io.readBoolean(flag); }},
      {1, [&] { return io.readByte(byte); }},
      {2, [&] { return io.readInteger(integer); }},
      {4, [&] { return io.readLong(value); }},
      {8, [&] { return io.readDouble(number); }},
      {5, [&] { return io.readString(text); }},
      {8, [&] { return io.readLongString(longText); }},
      {7, [&] { return io.readMemoryChunk(chunk); }},
  };
  // A failed read consumes nothing, so it is simply repeated after each byte.
  int32_t consumed = 0;
  size_t next = 0;
  for (char arrived : source->Text()) {
    ASSERT_TRUE(buffer->Append(&arrived, 1));
    const bool complete = consumed + reads[next].first == buffer->Size();
    EXPECT_EQ(reads[next].second(), complete) << "read " << next << " at size " << buffer->Size();
    if (complete) consumed += reads[next++].first;
    EXPECT_EQ(io.getReadByteCount(), consumed);
  }
  ASSERT_EQ(next, reads.size());
  // At the end every read fails and keeps its result; readBoolean reports false.
  for (const auto& read : reads) EXPECT_FALSE(read.second());
  EXPECT_FALSE(flag);
  EXPECT_EQ(byte, 0x80);
  EXPECT_EQ(integer, -300);
  EXPECT_EQ(value, -70000);
  EXPECT_EQ(number, -2.5);
  EXPECT_EQ(text, binary);
  EXPECT_EQ(longText, "long");
  EXPECT_EQ(chunk.Bytes(), binary);
}

TEST_F(DataBufferIOTest, StringLengthLimitsAndEmptyValues) {
  const std::string longest(DataBufferIO::kMaxStringLength, '\xE9');
  EXPECT_THROW(io.writeString(longest + "x"), std::length_error);
  EXPECT_EQ(buffer->Size(), 0);
  ASSERT_TRUE(io.writeString(longest) && io.writeLongString(longest + "x"));
  ASSERT_TRUE(io.writeString("") && io.writeMemoryChunk(MemoryChunk()));
  std::string text;
  EXPECT_TRUE(io.readString(text) && text == longest);
  EXPECT_TRUE(io.readLongString(text) && text == longest + "x");
  // An empty text leaves the caller's string as it was; a chunk becomes empty.
  MemoryChunk chunk(std::string("old"));
  EXPECT_TRUE(io.readString(text) && text == longest + "x");
  EXPECT_TRUE(io.readMemoryChunk(chunk) && chunk.GetSize() == 0);
}

TEST_F(DataBufferIOTest, BadLengthsAreRefusedWithoutReading) {
  std::string text = "kept";
  MemoryChunk chunk(std::string("kept"));
  for (const char* prefix : {"\xFF\xFF", "\x00\x80", "\x05\x00"}) {
    buffer->Assign(std::string(prefix, 2) + "abcd");
    EXPECT_FALSE(io.readString(text));
  }
  // Including lengths whose sum with the prefix wraps in 32 bits.
  for (int32_t length :
       {-1, std::numeric_limits<int32_t>::min(), kMaxLong, kMaxLong - 1, kMaxLong - 3, 5}) {
    buffer->Assign(LongToBytes(length) + "abcd");
    EXPECT_FALSE(io.readLongString(text)) << length;
    EXPECT_FALSE(io.readMemoryChunk(chunk)) << length;
  }
  EXPECT_EQ(io.getReadByteCount(), 0);
  EXPECT_EQ(text, "kept");
  EXPECT_EQ(chunk.Bytes(), "kept");
  buffer->AppendText("e");
  EXPECT_TRUE(io.readMemoryChunk(chunk) && chunk.Bytes() == "abcde");
}

TEST_F(DataBufferIOTest, DiscardAndOwnerChangesToTheBuffer) {
  buffer->AppendText("0123456789");
  int32_t value = 0;
  int16_t integer = 0;
  ASSERT_TRUE(io.readLong(value) && io.readInteger(integer));
  io.discardReadBytes();
  EXPECT_EQ(buffer->Text(), "6789");
  EXPECT_EQ(io.getReadByteCount(), 0);
  buffer->AppendText("AB");  // lands behind the unread bytes
  EXPECT_TRUE(io.readLong(value) && value == 0x39383736);
  EXPECT_TRUE(io.readInteger(integer) && integer == 0x4241);

  buffer->DropFront(4);  // the owner shortens it behind the read position
  EXPECT_EQ(io.getAvailableDataLen(), 0);
  EXPECT_FALSE(io.readInteger(integer));
  io.discardReadBytes();
  EXPECT_EQ(buffer->Size(), 0);
  ASSERT_TRUE(io.writeInteger(7) && io.readInteger(integer));
  EXPECT_EQ(integer, 7);
}

TEST(DataBufferIOUnsetTest, WithoutABufferEverythingFails) {
  DataBufferIO io;
  bool flag = true;
  MemoryChunk chunk;
  EXPECT_FALSE(io.writeBoolean(true) || io.writeString("a") || io.writeMemoryChunk(chunk));
  EXPECT_FALSE(io.readBoolean(flag) || io.readMemoryChunk(chunk));
  EXPECT_EQ(io.getAvailableDataLen(), 0);
  io.discardReadBytes();

  // A buffer is read from its first byte; a null one unsets it.
  auto buffer = std::make_shared<DataBlock>();
  buffer->AppendText("xy");
  io.setDataBuffer(buffer);
  EXPECT_TRUE(io.readBoolean(flag) && flag);
  io.setDataBuffer(buffer);
  EXPECT_EQ(io.getReadByteCount(), 0);
  io.setDataBuffer(nullptr);
  EXPECT_FALSE(io.readBoolean(flag) || io.writeByte(1));
  EXPECT_EQ(buffer->Text(), "xy");
}

}  // namespace
}  // namespace ravelon
