// A reader and writer of typed values in a compact binary encoding over a
// growable byte buffer (a DataBlock). Writes append at the end of the buffer;
// reads consume from a read position that starts at the first byte.
//
// The buffer is shared with whoever supplied it, not copied: several
// instances, or a reader and the buffer's owner, may work on one buffer, and
// bytes appended by anyone land behind the bytes still to be read. Used on the
// engine's thread.
//
// Encoding: no alignment, no padding, no type tags; every multi-byte number
// is little-endian.
//   Boolean      1 byte: 0x01 true, 0x00 false when written; any non-zero
//                byte reads as true
//   Byte         1 byte, unsigned
//   Integer      2 bytes, signed (two's complement)
//   Long         4 bytes, signed (two's complement)
//   Double       8 bytes, IEEE 754 binary64 (every bit pattern kept)
//   String       2-byte signed length n, then n bytes, one per character
//   LongString   4-byte signed length n, then n bytes, one per character
//   MemoryChunk  4-byte signed length n, then the chunk's n bytes
//
// Every read and write reports its outcome as its result. A read that finds
// too few bytes consumes nothing, so it can be repeated once more bytes have
// been appended; discardReadBytes drops what has been consumed. Before a
// buffer is set (or after a null one was set) every read and write returns
// false.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "ravelon/data_block.h"
#include "ravelon/memory_chunk.h"

namespace ravelon {

class DataBufferIO {
 public:
  // The longest text writeString can encode in its 16-bit length.
  static constexpr int32_t kMaxStringLength = 32767;

  DataBufferIO() = default;

  // Read position := 0: the buffer's content can be read again from the start.
  void fromStart();
  // Bytes from the read position to the end of the buffer; 0 without a buffer
  // and never below 0, also when the owner shortened the buffer behind the
  // read position.
  int32_t getAvailableDataLen() const;
  // The read position: the bytes consumed since the buffer was set or the
  // last fromStart or discardReadBytes.
  int32_t getReadByteCount() const;
  // Removes the consumed bytes from the front of the buffer (all of them when
  // the owner shortened it behind the read position); read position := 0.
  void discardReadBytes();
  // Works on `dataBuffer` from now on, from its first byte. A null buffer
  // returns the instance to its state before any buffer was set.
  void setDataBuffer(std::shared_ptr<DataBlock> dataBuffer);

  // Reads: true and the value, the read position advanced past it; false when
  // too few bytes are available, with nothing consumed and `result` unchanged
  // (except readBoolean, which then sets false).
  // Writes: append the value's encoding at the end of the buffer and return
  // the buffer's append result.

  bool readBoolean(bool& result);
  bool writeBoolean(bool value);
  bool readByte(uint8_t& result);
  bool writeByte(uint8_t value);
  bool readInteger(int16_t& result);
  bool writeInteger(int16_t value);
  bool readLong(int32_t& result);
  bool writeLong(int32_t value);
  bool readDouble(double& result);
  bool writeDouble(double value);

  // Length-prefixed reads also fail, consuming nothing, for a negative length.
  // A length is checked against the bytes present before anything is copied,
  // so a hostile one costs nothing. An empty text leaves `result` as it was;
  // callers that need it empty clear it first.
  bool readString(std::string& result);
  // Throws std::length_error, writing nothing, for a text of more than
  // kMaxStringLength characters: the one length its prefix cannot hold.
  bool writeString(const std::string& value);
  bool readLongString(std::string& result);
  // False, writing nothing, for a text of more than 2^31 - 1 characters.
  bool writeLongString(const std::string& value);
  // `result` is the caller's chunk; it is resized to the length read (also to
  // 0) and filled with the bytes.
  bool readMemoryChunk(MemoryChunk& result);
  bool writeMemoryChunk(const MemoryChunk& value);

 private:
  // The `n` (>= 1) bytes at the read position, or nullptr when fewer are
  // available. Valid until the buffer changes.
  const char* Peek(int32_t n) const;
  // Consumes a length prefix of `prefixBytes` (2 or 4) and the payload behind
  // it; nullopt, consuming nothing, when the length is negative or the payload
  // is not complete. The view is valid until the buffer changes.
  std::optional<std::string_view> TakePrefixed(int32_t prefixBytes);
  // Appends `bytes` to the buffer; false without a buffer.
  bool AppendBytes(std::string_view bytes);
  // Appends `prefix`, then `payload` when it is not empty.
  bool AppendPrefixed(std::string_view prefix, std::string_view payload);

  std::shared_ptr<DataBlock> m_buffer;
  // Byte offset from the buffer's first byte; may lie behind the end when the
  // owner shortened the buffer.
  int32_t m_readPosition = 0;
};

}  // namespace ravelon
