#include "events/data_buffer_io.h"

#include <limits>
#include <stdexcept>
#include <utility>

#include "common/number_encoding.h"

namespace ravelon {
namespace {

constexpr int32_t kIntegerBytes = 2;
constexpr int32_t kLongBytes = 4;
constexpr int32_t kDoubleBytes = 8;

std::string IntegerToBytes(int16_t value) {
  const auto bits = static_cast<uint16_t>(value);
  return {static_cast<char>(bits & 0xFF), static_cast<char>(bits >> 8)};
}

// Requires 2 readable bytes at `bytes`.
int16_t BytesToInteger(const char* bytes) {
  const auto bits = static_cast<uint16_t>(static_cast<unsigned char>(bytes[0]) |
                                          static_cast<unsigned char>(bytes[1]) << 8);
  // Conversion to a signed type is modular since C++20.
  return static_cast<int16_t>(bits);
}

}  // namespace

void DataBufferIO::fromStart() { m_readPosition = 0; }

int32_t DataBufferIO::getAvailableDataLen() const {
  if (!m_buffer) return 0;
  const int32_t available = m_buffer->Size() - m_readPosition;
  return available > 0 ? available : 0;
}

int32_t DataBufferIO::getReadByteCount() const { return m_readPosition; }

void DataBufferIO::discardReadBytes() {
  if (m_buffer) m_buffer->DropFront(m_readPosition);
  m_readPosition = 0;
}

void DataBufferIO::setDataBuffer(std::shared_ptr<DataBlock> dataBuffer) {
  m_buffer = std::move(dataBuffer);
  m_readPosition = 0;
}

bool DataBufferIO::readBoolean(bool& result) {
  uint8_t byte = 0;
  const bool read = readByte(byte);
  result = read && byte != 0;
  return read;
}

bool DataBufferIO::writeBoolean(bool value) { return writeByte(value ? 1 : 0); }

bool DataBufferIO::readByte(uint8_t& result) {
  const char* bytes = Peek(1);
  if (bytes == nullptr) return false;
  result = static_cast<uint8_t>(bytes[0]);
  m_readPosition += 1;
  return true;
}

bool DataBufferIO::writeByte(uint8_t value) {
  const char byte = static_cast<char>(value);
  return AppendBytes({&byte, 1});
}

bool DataBufferIO::readInteger(int16_t& result) {
  const char* bytes = Peek(kIntegerBytes);
  if (bytes == nullptr) return false;
  result = BytesToInteger(bytes);
  m_readPosition += kIntegerBytes;
  return true;
}

bool DataBufferIO::writeInteger(int16_t value) { return AppendBytes(IntegerToBytes(value)); }

bool DataBufferIO::readLong(int32_t& result) {
  const char* bytes = Peek(kLongBytes);
  if (bytes == nullptr) return false;
  result = BytesToLong({bytes, kLongBytes});
  m_readPosition += kLongBytes;
  return true;
}

bool DataBufferIO::writeLong(int32_t value) { return AppendBytes(LongToBytes(value)); }

bool DataBufferIO::readDouble(double& result) {
  const char* bytes = Peek(kDoubleBytes);
  if (bytes == nullptr) return false;
  result = BytesToDouble({bytes, kDoubleBytes});
  m_readPosition += kDoubleBytes;
  return true;
}

bool DataBufferIO::writeDouble(double value) { return AppendBytes(DoubleToBytes(value)); }

bool DataBufferIO::readString(std::string& result) {
  const std::optional<std::string_view> text = TakePrefixed(kIntegerBytes);
  if (!text) return false;
  if (!text->empty()) result.assign(*text);
  return true;
}

bool DataBufferIO::writeString(const std::string& value) {
  if (value.size() > static_cast<size_t>(kMaxStringLength)) {
    throw std::length_error("DataBufferIO::writeString: text longer than 32767 characters");
  }
  return AppendPrefixed(IntegerToBytes(static_cast<int16_t>(value.size())), value);
}

bool DataBufferIO::readLongString(std::string& result) {
  const std::optional<std::string_view> text = TakePrefixed(kLongBytes);
  if (!text) return false;
  if (!text->empty()) result.assign(*text);
  return true;
}

bool DataBufferIO::writeLongString(const std::string& value) {
  if (value.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return false;
  return AppendPrefixed(LongToBytes(static_cast<int32_t>(value.size())), value);
}

bool DataBufferIO::readMemoryChunk(MemoryChunk& result) {
  const std::optional<std::string_view> bytes = TakePrefixed(kLongBytes);
  if (!bytes) return false;
  result.CopyFrom(bytes->data(), static_cast<int32_t>(bytes->size()));
  return true;
}

bool DataBufferIO::writeMemoryChunk(const MemoryChunk& value) {
  return AppendPrefixed(LongToBytes(value.GetSize()), value.Bytes());
}

const char* DataBufferIO::Peek(int32_t n) const {
  if (getAvailableDataLen() < n) return nullptr;
  return m_buffer->Data() + m_readPosition;
}

std::optional<std::string_view> DataBufferIO::TakePrefixed(int32_t prefixBytes) {
  const char* prefix = Peek(prefixBytes);
  if (prefix == nullptr) return std::nullopt;
  const int32_t n =
      prefixBytes == kIntegerBytes ? BytesToInteger(prefix) : BytesToLong({prefix, kLongBytes});
  if (n < 0) return std::nullopt;
  // The sum in 64 bits, so that a 4-byte length near 2^31 cannot wrap it and
  // pass the check.
  if (int64_t{prefixBytes} + n > getAvailableDataLen()) return std::nullopt;
  m_readPosition += prefixBytes + n;
  return std::string_view(prefix + prefixBytes, static_cast<size_t>(n));
}

bool DataBufferIO::AppendBytes(std::string_view bytes) {
  if (!m_buffer) return false;
  return m_buffer->Append(bytes.data(), static_cast<int32_t>(bytes.size()));
}

bool DataBufferIO::AppendPrefixed(std::string_view prefix, std::string_view payload) {
  if (!AppendBytes(prefix)) return false;
  if (payload.empty()) return true;
  return AppendBytes(payload);
}

}  // namespace ravelon
