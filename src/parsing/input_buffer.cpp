// The engine's input buffer: the bytes of the stream that are not yet parsed.
//
// Positions are 1-based over the data (0 = not found). The data lives at
// m_inputBuffer[m_inputHead, m_inputHead + m_inputLength); the capacity is the
// length of m_inputBuffer.
#include "parsing/input_buffer.h"

#include <algorithm>
#include <cstring>

#include "parsing/byte_search.h"
#include "ravelon/korvid.h"

namespace ravelon {

int16_t Korvid::AppendToInputBuffer(const std::string& bytes) {
  const int32_t n = static_cast<int32_t>(std::min<size_t>(bytes.size(), INT32_MAX));
  if (n < 1) return kInputOk;
  int16_t outcome = kInputOk;
  if (static_cast<int64_t>(m_inputLength) + n > kInputBufferLimit) {
    outcome = kInputCleared;
    ClearInputBuffer();
    if (n > kInputBufferLimit) return kInputCleared;
  }
  const int32_t needed = m_inputLength + n;
  if (needed > static_cast<int32_t>(m_inputBuffer.size())) {
    m_bufferIdleParts = 0;
    outcome = kInputGrown;
    const int32_t capacity =
        static_cast<int32_t>(std::min<int64_t>(int64_t{needed} * 3 / 2, kInputBufferLimit));
    CompactInputBuffer();
    m_inputBuffer.resize(capacity, ' ');
  } else if (m_inputHead + needed > static_cast<int32_t>(m_inputBuffer.size())) {
    CompactInputBuffer();
  }
  std::memcpy(m_inputBuffer.data() + m_inputHead + m_inputLength, bytes.data(), n);
  m_inputLength = needed;

  const int32_t capacity = static_cast<int32_t>(m_inputBuffer.size());
  if (m_inputLength > capacity * 7 / 10) {
    m_bufferIdleParts = 0;
    return outcome;
  }
  if (m_bufferIdleParts >= kIdlePartsBeforeReduction) {
    outcome = kInputReduced;
    ReduceInputBuffer();
  }
  return outcome;
}

void Korvid::ReduceInputBuffer() {
  m_bufferIdleParts = 0;
  const int32_t target = static_cast<int32_t>(m_inputBuffer.size()) * 3 / 4;
  if (target >= m_inputLength && target >= kInitialInputCapacity) {
    CompactInputBuffer();
    m_inputBuffer.resize(target);
    m_inputBuffer.shrink_to_fit();  // the point of a reduction is to give memory back
  }
}

// Moves the data to the front of the allocation.
void Korvid::CompactInputBuffer() {
  if (m_inputHead == 0) return;
  std::memmove(m_inputBuffer.data(), m_inputBuffer.data() + m_inputHead, m_inputLength);
  m_inputHead = 0;
}

// Forgets the buffered data and the part positions; the capacity stays.
void Korvid::ClearInputBuffer() {
  m_inputLength = 0;
  m_inputHead = 0;
  m_bufferIdleParts = 0;
  m_boundaryPos = 0;
  m_partEndSearchPos = 0;
  m_crlfEndMemo = m_lfEndMemo = SearchMemo{};
}

int32_t Korvid::FindInInputBuffer(int32_t start, std::string_view text, CompareMode mode) const {
  if (start < 1 || start > m_inputLength) return 0;
  const std::string_view data(InputData() + start - 1, m_inputLength - start + 1);
  const size_t found = FindBytes(data, text, mode == kTextCompare);
  return found == std::string_view::npos ? 0 : start + static_cast<int32_t>(found);
}

void Korvid::KeepInputBufferTail(int32_t n) {
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

void Korvid::DiscardInputBufferHead(int32_t n) {
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
