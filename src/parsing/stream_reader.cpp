// The input buffer of the stream reader: a preallocated block of capacity
// with a fill length, so an arrival costs one copy into spare space (none when
// the socket writes it there). It grows by half again when too small and is
// cut back by a quarter after a long spell of low use, never below its
// initial size and never beyond its limit.
//
// Frames share the block their bytes were cut from. Bytes a frame may hold are
// never overwritten: while a frame holds the block, the data moves to a new
// block instead of to the front of this one.
#include "parsing/stream_reader.h"

#include <algorithm>
#include <cstring>

#include "parsing/byte_search.h"

namespace ravelon {

StreamReader::StreamReader() { Relocate(kInitialInputCapacity); }

StreamReader::AppendOutcome StreamReader::Append(std::string_view bytes) {
  const int32_t n = static_cast<int32_t>(std::min<size_t>(bytes.size(), INT32_MAX));
  if (n < 1) return kAppended;
  char* destination = nullptr;
  const AppendOutcome prepared = PrepareAppend(n, destination);
  if (destination == nullptr) return prepared;
  std::memcpy(destination, bytes.data(), n);
  return CommitAppend(n, prepared);
}

StreamReader::AppendOutcome StreamReader::PrepareAppend(int32_t n, char*& destination) {
  destination = nullptr;
  if (n < 1) return kAppended;
  AppendOutcome outcome = kAppended;
  if (static_cast<int64_t>(m_inputLength) + n > kInputBufferLimit) {
    outcome = kCleared;
    Clear();
    if (n > kInputBufferLimit) return kCleared;
  }
  const int32_t needed = m_inputLength + n;
  if (needed > Capacity()) {
    m_bufferIdleParts = 0;
    outcome = kGrown;
    Relocate(static_cast<int32_t>(std::min<int64_t>(int64_t{needed} * 3 / 2, kInputBufferLimit)));
  } else if (m_inputHead + needed > Capacity() ||
             (Shared() && m_inputHead + m_inputLength < m_sharedEnd)) {
    Relocate(Capacity());
  }
  destination = m_block.get() + m_inputHead + m_inputLength;
  return outcome;
}

StreamReader::AppendOutcome StreamReader::CommitAppend(int32_t count, AppendOutcome prepared) {
  m_inputLength += std::max(count, 0);
  if (m_inputLength > Capacity() * 7 / 10) {
    m_bufferIdleParts = 0;
    return prepared;
  }
  if (m_bufferIdleParts >= kIdlePartsBeforeReduction) {
    Reduce();
    return kReduced;
  }
  return prepared;
}

void StreamReader::Reduce() {
  m_bufferIdleParts = 0;
  const int32_t target = Capacity() * 3 / 4;
  if (target >= m_inputLength && target >= kInitialInputCapacity) Relocate(target);
}

bool StreamReader::Shared() const { return m_block.use_count() > 1; }

// Moves the data to the front of a block of `capacity` bytes: of this one
// when its size stays and no frame holds it, else of a new one.
void StreamReader::Relocate(int32_t capacity) {
  if (m_block && capacity == m_capacity && !Shared()) {
    if (m_inputHead > 0) std::memmove(m_block.get(), InputData(), m_inputLength);
  } else {
    std::shared_ptr<char[]> block = TakeSpareBlock(capacity);
    if (m_inputLength > 0) std::memcpy(block.get(), InputData(), m_inputLength);
    // A block left to frames becomes the spare, free again once they are gone.
    if (capacity == m_capacity && Shared()) m_spare = m_block;
    m_block = std::move(block);
    m_capacity = capacity;
    m_sharedEnd = 0;
  }
  m_inputHead = 0;
}

// The spare when it has that capacity and no frame holds it any more, so a
// stream alternates between two blocks whose pages are already in use; else
// a new block.
std::shared_ptr<char[]> StreamReader::TakeSpareBlock(int32_t capacity) {
  std::shared_ptr<char[]> spare = std::move(m_spare);
  if (spare && spare.use_count() == 1 && capacity == m_capacity) return spare;
  return std::shared_ptr<char[]>(new char[static_cast<size_t>(capacity)]);
}

std::shared_ptr<const void> StreamReader::ShareBytes(int32_t start, int32_t length) {
  if (int64_t{length} * kMaxBufferPerSharedFrame < m_capacity) return nullptr;
  m_sharedEnd = std::max(m_sharedEnd, m_inputHead + start - 1 + length);
  return m_block;
}

void StreamReader::Clear() {
  m_inputLength = 0;
  m_inputHead = 0;
  m_bufferIdleParts = 0;
  m_boundaryPos = 0;
  m_partEndSearchPos = 0;
  m_headFitsFor = 0;
  m_crlfEndMemo = m_lfEndMemo = SearchMemo{};
  m_headerSearch = HeaderSearch{};
  m_brokenReason.clear();
  m_spare.reset();  // between streams one block is enough
}

int32_t StreamReader::Find(int32_t start, std::string_view text, CompareMode mode,
                           int32_t lastStart) const {
  if (start < 1 || start > m_inputLength || lastStart < start) return 0;
  const int64_t last_byte =
      std::min<int64_t>(m_inputLength, int64_t{lastStart} + static_cast<int64_t>(text.size()) - 1);
  const std::string_view data(InputData() + start - 1, static_cast<size_t>(last_byte - start + 1));
  const size_t found = FindBytes(data, text, mode == kTextCompare);
  return found == std::string_view::npos ? 0 : start + static_cast<int32_t>(found);
}

void StreamReader::KeepTail(int32_t n) {
  if (n < 1) {
    m_inputLength = 0;
    m_inputHead = 0;
  } else if (n < m_inputLength) {
    m_inputHead += m_inputLength - n;
    m_inputLength = n;
  } else {
    return;
  }
  m_crlfEndMemo = m_lfEndMemo = SearchMemo{};
}

void StreamReader::DiscardHead(int32_t n) {
  if (n < 1) return;
  if (n >= m_inputLength) {
    m_inputLength = 0;
    m_inputHead = 0;
    m_crlfEndMemo = m_lfEndMemo = SearchMemo{};
    return;
  }
  m_inputHead += n;
  m_inputLength -= n;
  for (SearchMemo* memo : {&m_crlfEndMemo, &m_lfEndMemo}) {
    memo->from = std::max(memo->from - n, 1);
    memo->to -= n;
    if (memo->to <= memo->from) *memo = SearchMemo{};
  }
}

}  // namespace ravelon
