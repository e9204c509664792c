#include "events/data_buffer_io.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <tuple>

#include "common/number_encoding.h"

namespace ravelon {
namespace {

class DataBufferIOTest : public ::testing::Test {
 protected:
  void SetUp() override { io.setDataBuffer(buffer); }

  std::shared_ptr<DataBlock> buffer = std::make_shared<DataBlock>();
  DataBufferIO io;
};

TEST_F(DataBufferIOTest, EncodesLittleEndianByteForByte) {
  ASSERT_TRUE(io.writeBoolean(true) && io.writeBoolean(false) && io.writeByte(0xC3) &&
              io.writeInteger(-2) && io.writeLong(INT32_MIN) &&
              io.writeDouble(std::bit_cast<double>(0x7FF8000000000001ull)) &&
              io.writeString("abc") && io.writeMemoryChunk(MemoryChunk("\x80")) &&
              io.writeLongString(""));
  EXPECT_EQ(buffer->Text(), std::string("\1\0\xC3\xFE\xFF\0\0\0\x80"
                                        "\1\0\0\0\0\0\xF8\x7F"
                                        "\3\0abc\1\0\0\0\x80\0\0\0\0",
                                        31));
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
  const int32_t sizes[] = {1, 1, 2, 4, 8, 5, 8, 7};
  const std::function<bool()> reads[] = {
      [&] { return io.readBoolean(flag); },        [&] { return io.readByte(byte); },
      [&] { return io.readInteger(integer); },     [&] { return io.readLong(value); },
      [&] { return io.readDouble(number); },       [&] { return io.readString(text); },
      [&] { return io.readLongString(longText); }, [&] { return io.readMemoryChunk(chunk); }};
  // A failed read consumes nothing, so it is simply repeated after each byte.
  int32_t consumed = 0;
  size_t next = 0;
  for (char arrived : source->Text()) {
    ASSERT_TRUE(buffer->Append(&arrived, 1));
    const bool complete = consumed + sizes[next] == buffer->Size();
    EXPECT_EQ(reads[next](), complete) << "read " << next << " at size " << buffer->Size();
    if (complete) consumed += sizes[next++];
    EXPECT_EQ(io.getReadByteCount(), consumed);
  }
  ASSERT_EQ(next, std::size(reads));
  // At the end every read fails and keeps its result; readBoolean reports false.
  for (const auto& read : reads) EXPECT_FALSE(read());
  EXPECT_EQ(std::make_tuple(flag, byte, integer, value, number, text, longText, chunk.Bytes()),
            std::make_tuple(false, uint8_t{0x80}, int16_t{-300}, -70000, -2.5, binary,
                            std::string("long"), binary));
}

TEST_F(DataBufferIOTest, BadLengthsAreRefusedAndTheLimitIs32767) {
  std::string text = "kept";
  MemoryChunk chunk(std::string("kept"));
  for (const char* prefix : {"\xFF\xFF", "\x00\x80", "\x05\x00"}) {
    buffer->Assign(std::string(prefix, 2) + "abcd");
    EXPECT_FALSE(io.readString(text));
  }
  // Including lengths whose sum with the prefix wraps in 32 bits.
  for (int32_t length : {-1, INT32_MIN, INT32_MAX, INT32_MAX - 1, INT32_MAX - 3, 5}) {
    buffer->Assign(LongToBytes(length) + "abcd");
    EXPECT_FALSE(io.readLongString(text)) << length;
    EXPECT_FALSE(io.readMemoryChunk(chunk)) << length;
  }
  EXPECT_EQ(io.getReadByteCount(), 0);
  EXPECT_EQ(text, "kept");
  EXPECT_EQ(chunk.Bytes(), "kept");
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
