// Typed reads from a buffer of any bytes, in an order the input chooses, with
// more bytes arriving behind and consumed bytes discarded in between. A read
// that succeeds consumed exactly the bytes that writing its value gives (a
// boolean written back is 0 or 1); a read that fails consumed nothing; the
// bytes available are always those appended and not yet consumed.
//
// Input: steps until the input ends, each an operation byte: 0-7 a read of
// boolean, byte, integer, long, double, string, long string, memory chunk;
// 8 bytes arrive (a length byte, then the bytes); 9 discard what was read.
#include <cstdint>
#include <memory>
#include <string>

#include "events/data_buffer_io.h"
#include "finding.h"
#include "fuzz_input.h"

using namespace ravelon;
using ravelon::fuzz::Require;

namespace {

// Reads one value with `read` from `in` and writes it with `write` to `out`;
// false when the read failed.
template <typename T, typename Write>
bool ReadAndWriteBack(DataBufferIO& in, DataBufferIO& out, bool (DataBufferIO::*read)(T&),
                      Write write) {
  T value{};
  return (in.*read)(value) && (out.*write)(value);
}

bool ReadAndWriteBack(int kind, DataBufferIO& in, DataBufferIO& out) {
  using IO = DataBufferIO;
  switch (kind) {
    case 0:
      return ReadAndWriteBack(in, out, &IO::readBoolean, &IO::writeBoolean);
    case 1:
      return ReadAndWriteBack(in, out, &IO::readByte, &IO::writeByte);
    case 2:
      return ReadAndWriteBack(in, out, &IO::readInteger, &IO::writeInteger);
    case 3:
      return ReadAndWriteBack(in, out, &IO::readLong, &IO::writeLong);
    case 4:
      return ReadAndWriteBack(in, out, &IO::readDouble, &IO::writeDouble);
    case 5:
      return ReadAndWriteBack(in, out, &IO::readString, &IO::writeString);
    case 6:
      return ReadAndWriteBack(in, out, &IO::readLongString, &IO::writeLongString);
    default:
      return ReadAndWriteBack(in, out, &IO::readMemoryChunk, &IO::writeMemoryChunk);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::FuzzInput input(data, size);
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
      const bool read = ReadAndWriteBack(op, reader, writer);
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
  return 0;
}
