// The input buffer of the stream reader: a preallocated block of capacity
// with a fill length, so an arrival costs one copy into spare space. It grows
// by half again when too small and is cut back by a quarter after a long
// spell of low use, never below its initial size and never beyond its limit.
#include "parsing/stream_reader.h"

#include <algorithm>
#include <cstring>

#include "parsing/byte_search.h"

namespace ravelon {

StreamReader::StreamReader() { m_inputBuffer.assign(kInitialInputCapacity, ' '); }

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
    const int32_t capacity =
        static_cast<int32_t>(std::min<int64_t>(int64_t{needed} * 3 / 2, kInputBufferLimit));
    Compact();
    m_inputBuffer.resize(capacity, ' ');
  } else if (m_inputHead + needed > Capacity()) {
    Compact();
  }
  destination = m_inputBuffer.data() + m_inputHead + m_inputLength;
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
  if (target >= m_inputLength && target >= kInitialInputCapacity) {
    Compact();
    m_inputBuffer.resize(target);
    m_inputBuffer.shrink_to_fit();  // the point of a reduction is to give memory back
  }
}

// Moves the data to the front of the allocation.
void StreamReader::Compact() {
  if (m_inputHead == 0) return;
  std::memmove(m_inputBuffer.data(), m_inputBuffer.data() + m_inputHead, m_inputLength);
  m_inputHead = 0;
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
