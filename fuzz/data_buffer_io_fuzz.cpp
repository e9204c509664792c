// Typed reads from a buffer of any bytes, in an order the input chooses, with
// more bytes arriving behind and consumed bytes discarded in between. A read
// that succeeds consumed exactly the bytes that writing its value gives (a
// boolean written back is 0 or 1); a read that fails consumed nothing; the
// bytes available are always those appended and not yet consumed.
//
// Input: steps until the input ends, each an operation byte: 0-7 a read of
// boolean, byte, integer, long, double, string, long string, memory chunk;
// 8 bytes arrive (a length byte, then the bytes); 9 discard what was read.
#include <functional>
#include <memory>

#include "events/data_buffer_io.h"
#include "harness.h"

using ravelon::DataBufferIO;

namespace {

// Reads one value with `read` from one buffer and writes it with `write` to
// another; false when the read failed.
template <typename T, typename Write>
std::function<bool(DataBufferIO&, DataBufferIO&)> ReadAndWriteBack(bool (DataBufferIO::*read)(T&),
                                                                   Write write) {
  return [=](DataBufferIO& in, DataBufferIO& out) {
    T value{};
    return (in.*read)(value) && (out.*write)(value);
  };
}

}  // namespace

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  using IO = DataBufferIO;
  const std::function<bool(IO&, IO&)> kReads[] = {
      ReadAndWriteBack(&IO::readBoolean, &IO::writeBoolean),
      ReadAndWriteBack(&IO::readByte, &IO::writeByte),
      ReadAndWriteBack(&IO::readInteger, &IO::writeInteger),
      ReadAndWriteBack(&IO::readLong, &IO::writeLong),
      ReadAndWriteBack(&IO::readDouble, &IO::writeDouble),
      ReadAndWriteBack(&IO::readString, &IO::writeString),
      ReadAndWriteBack(&IO::readLongString, &IO::writeLongString),
      ReadAndWriteBack(&IO::readMemoryChunk, &IO::writeMemoryChunk)};
  auto buffer = std::make_shared<DataBlock>();
  DataBufferIO reader;
  reader.setDataBuffer(buffer);
  std::string unread;  // what was appended and not yet consumed
  while (!input.empty()) {
    const int op = input.Byte() % 10;
    if (op == 8) {
      const std::string_view bytes = input.Sized();
      buffer->AppendText(bytes);
      unread += bytes;
    } else if (op == 9) {
      reader.discardReadBytes();
    } else {
      auto written = std::make_shared<DataBlock>();
      DataBufferIO writer;
      writer.setDataBuffer(written);
      const int32_t before = reader.getReadByteCount();
      const bool read = kReads[op](reader, writer);
      const auto consumed = static_cast<size_t>(reader.getReadByteCount() - before);
      std::string expected = unread.substr(0, consumed);
      if (op == 0 && read) expected = expected[0] != 0 ? "\1" : std::string(1, '\0');
      Require(read ? written->View() == expected : consumed == 0,
              "a read consumes its value's bytes, or nothing");
      unread.erase(0, consumed);
    }
    Require(reader.getAvailableDataLen() == static_cast<int32_t>(unread.size()),
            "the bytes not consumed are available");
  }
}
