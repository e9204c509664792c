#include "events/data_buffer_io.h"

#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <stdexcept>
#include <tuple>

#include "common/number_encoding.h"

namespace ravelon {
namespace {

// The encoding byte for byte; then the bytes arrive one at a time at a
// reader, whose reads succeed only once their last byte is there.
TEST(DataBufferIOTest, WritesLittleEndianAndReadsOnceTheLastByteArrived) {
  auto source = std::make_shared<DataBlock>(), buffer = std::make_shared<DataBlock>();
  DataBufferIO writer, io;
  writer.setDataBuffer(source);
  io.setDataBuffer(buffer);
  const std::string binary("\0\x80\xFF", 3);
  const uint64_t nan = 0x7FF8000000000001ull;  // its bits are kept
  ASSERT_TRUE(writer.writeBoolean(true) && writer.writeByte(0xC3) && writer.writeInteger(-300) &&
              writer.writeLong(INT32_MIN) && writer.writeDouble(std::bit_cast<double>(nan)) &&
              writer.writeString(binary) && writer.writeLongString("long") &&
              writer.writeMemoryChunk(MemoryChunk(binary)) && writer.writeLongString(""));
  EXPECT_EQ(source->View(), std::string("\1\xC3\xD4\xFE\0\0\0\x80\1\0\0\0\0\0\xF8\x7F\3\0\0\x80\xFF"
                                        "\4\0\0\0long\3\0\0\0\0\x80\xFF\0\0\0\0",
                                        40));
  bool flag = false;
  uint8_t byte = 0;
  int16_t integer = 0;
  int32_t value = 0;
  double number = 0;
  std::string text, longText;
  MemoryChunk chunk;
  const int32_t sizes[] = {1, 1, 2, 4, 8, 5, 8, 7, 4};
  const std::function<bool()> reads[] = {
      [&] { return io.readBoolean(flag); },        [&] { return io.readByte(byte); },
      [&] { return io.readInteger(integer); },     [&] { return io.readLong(value); },
      [&] { return io.readDouble(number); },       [&] { return io.readString(text); },
      [&] { return io.readLongString(longText); }, [&] { return io.readMemoryChunk(chunk); },
      [&] { return io.readLongString(longText); }};  // empty: keeps what it held
  // A failed read consumes nothing, so it is simply repeated after each byte.
  int32_t consumed = 0;
  size_t next = 0;
  for (char arrived : source->View()) {
    ASSERT_TRUE(buffer->Append(&arrived, 1));
    const bool complete = consumed + sizes[next] == buffer->Size();
    EXPECT_EQ(reads[next](), complete) << "read " << next << " at size " << buffer->Size();
    if (complete) consumed += sizes[next++];
    EXPECT_EQ(io.getReadByteCount(), consumed);
  }
  ASSERT_EQ(next, std::size(reads));
  // At the end every read fails and keeps its result; readBoolean reports false.
  for (const auto& read : reads) EXPECT_FALSE(read());
  EXPECT_EQ(std::tuple(flag, byte, integer, value, std::bit_cast<uint64_t>(number), text, longText,
                       chunk.Bytes()),
            std::tuple(false, uint8_t{0xC3}, int16_t{-300}, INT32_MIN, nan, binary,
                       std::string("long"), binary));
}

TEST(DataBufferIOTest, BadLengthsAreRefusedAndTheLimitIs32767) {
  auto buffer = std::make_shared<DataBlock>();
  DataBufferIO io;
  io.setDataBuffer(buffer);
  std::string text = "kept";
  MemoryChunk chunk(std::string("kept"));
  for (const char* prefix : {"\xFF\xFF", "\x00\x80", "\x05\x00"}) {
    buffer->Assign(std::string(prefix, 2) + "abcd");
    EXPECT_FALSE(io.readString(text));
  }
  // Including lengths whose sum with the prefix wraps in 32 bits.
  for (int32_t length : {-1, INT32_MIN, INT32_MAX, INT32_MAX - 1, INT32_MAX - 3, 5}) {
    buffer->Assign(LongToBytes(length) + "abcd");
    EXPECT_FALSE(io.readLongString(text) || io.readMemoryChunk(chunk)) << length;
  }
  EXPECT_EQ(std::tuple(io.getReadByteCount(), text, chunk.Bytes()), std::tuple(0, "kept", "kept"));
  buffer->AppendText("e");
  EXPECT_TRUE(io.readMemoryChunk(chunk) && chunk.Bytes() == "abcde");
  // A text one past the limit throws and writes nothing.
  const std::string longest(DataBufferIO::kMaxStringLength, '\xE9');
  EXPECT_THROW(io.writeString(longest + "x"), std::length_error);
  EXPECT_EQ(io.getAvailableDataLen(), 0);
  ASSERT_TRUE(io.writeString(longest) && io.writeLongString(longest + "x"));
  EXPECT_TRUE(io.readString(text) && text == longest);
  EXPECT_TRUE(io.readLongString(text) && text == longest + "x");
}

}  // namespace
}  // namespace ravelon
