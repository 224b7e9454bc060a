// database/journal_image_test_support.h - builds journaled file images byte by
// byte for tests, the checker's tests and the fuzz seeds: a header, a data
// area and a journal with correct (or deliberately wrong) checks.
#pragma once

#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "database/journal_format.h"

namespace bw::testing_journal {

struct JournalRecord {
  int64_t position;
  std::vector<uint8_t> data;
  int32_t length = INT32_MIN;  // INT32_MIN: data.size(); else the stored length field
};

inline void appendBig32(std::vector<uint8_t>& out, uint32_t v) {
  out.resize(out.size() + 4);
  putBig32(out.data() + out.size() - 4, v);
}
inline void appendBig64(std::vector<uint8_t>& out, int64_t v) {
  out.resize(out.size() + 8);
  putBig64(out.data() + out.size() - 8, v);
}

// Header and data area (dataSize = data.size() unless given).
inline std::vector<uint8_t> makeImage(const std::vector<uint8_t>& data, int64_t journalPosition = -1,
                                      int64_t dataSize = -1) {
  std::vector<uint8_t> out(journalMagic.begin(), journalMagic.end());
  appendBig32(out, kJournalVersion);
  appendBig64(out, dataSize < 0 ? static_cast<int64_t>(data.size()) : dataSize);
  appendBig64(out, journalPosition < 0 ? kJournalHeaderSize + static_cast<int64_t>(data.size()) : journalPosition);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// Appends a journal at the end of the image (which must be journalPosition).
inline void appendJournal(std::vector<uint8_t>& out, int64_t newSize, const std::vector<JournalRecord>& records) {
  auto hashLast = [&](uint32_t h, size_t n) { return journalChecksum(h, out.data() + out.size() - n, n); };
  appendBig64(out, newSize);
  uint32_t h = hashLast(journalSeed, 8);
  appendBig32(out, h);
  for (const auto& r : records) {
    appendBig32(out, kJournalRecordMarker);
    appendBig64(out, r.position);
    h = hashLast(h, 8);
    appendBig32(out, static_cast<uint32_t>(r.length == INT32_MIN ? static_cast<int32_t>(r.data.size()) : r.length));
    h = hashLast(h, 4);
    appendBig32(out, h);
    out.insert(out.end(), r.data.begin(), r.data.end());
    h = journalChecksum(h, r.data.data(), r.data.size());
  }
  appendBig32(out, kJournalEndMarker);
  appendBig64(out, static_cast<int64_t>(out.size()));
  h = hashLast(h, 8);
  appendBig32(out, h);
}

inline std::vector<uint8_t> bytesOf(const char* text) {
  return std::vector<uint8_t>(text, text + std::strlen(text));
}

}  // namespace bw::testing_journal
