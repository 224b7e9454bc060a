// tools/soupcheck/soupcheck.cpp - header checks, journal parsing and the derived data
// area of a journaled file image.
#include "tools/soupcheck/soupcheck.h"

#include <algorithm>
#include <cstring>

#include "tools/soupcheck/area.h"

namespace bw::soupcheck {
namespace {

constexpr uint8_t kMagic[8] = {'J', 'o', 'u', 'r', 'n', 'a', 'l', 7};
constexpr int64_t kHeader = 28;
constexpr uint32_t kSeed = 0xA9876543u;
constexpr int64_t kChunk = 960;

// Reads the journal sequentially, keeping the running checksum.
struct Parser {
  const std::vector<uint8_t>& f;
  int64_t at;
  uint32_t sum = kSeed;
  std::string problem;

  bool need(int64_t n) {
    if (static_cast<int64_t>(f.size()) - at >= n) return true;
    problem = "journal cut off at " + std::to_string(f.size());
    return false;
  }
  void hash(int64_t from, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
      auto b = static_cast<int8_t>(f[static_cast<size_t>(from + i)]);
      sum = (sum << 1 | sum >> 31) ^ static_cast<uint32_t>(static_cast<int32_t>(b));
    }
  }
  bool value(int bytes, bool hashed, uint64_t& out) {
    if (!need(bytes)) return false;
    out = bigEndian(f, at, bytes);
    if (hashed) hash(at, bytes);
    at += bytes;
    return true;
  }
  bool checkWord(const char* what) {
    uint64_t stored = 0;
    if (!value(4, false, stored)) return false;
    if (static_cast<uint32_t>(stored) == sum) return true;
    problem = std::string("wrong ") + what + " check at " + std::to_string(at - 4);
    return false;
  }
};

struct Record {
  int64_t position;
  int64_t length;
  int64_t dataAt;
};

}  // namespace

Report check(const std::vector<uint8_t>& file, Expect expect, uint8_t padByte) {
  Report r;
  const auto size = static_cast<int64_t>(file.size());
  if (size < kHeader || std::memcmp(file.data(), kMagic, 8) != 0) {
    r.findings.push_back("not a journaled file");
    return r;
  }
  if (bigEndian(file, 8, 4) != 1) {
    r.findings.push_back("unknown version " + std::to_string(bigEndian(file, 8, 4)));
    return r;
  }
  r.dataSize = static_cast<int64_t>(bigEndian(file, 12, 8));
  r.journalPosition = static_cast<int64_t>(bigEndian(file, 20, 8));
  if (r.dataSize < 0 || r.dataSize > size - kHeader) {
    r.findings.push_back("dataSize " + std::to_string(r.dataSize) + " outside the file of " +
                         std::to_string(size) + " bytes");
    return r;
  }
  if (r.journalPosition < kHeader + r.dataSize) {
    r.findings.push_back("journalPosition " + std::to_string(r.journalPosition) +
                         " inside the data area of " + std::to_string(r.dataSize) + " bytes");
    return r;
  }
  r.headerValid = true;
  r.effectiveData.assign(file.begin() + kHeader, file.begin() + kHeader + r.dataSize);
  if (r.journalPosition >= size) return r;

  // A journal follows: parse it whole before anything is applied.
  Parser p{file, r.journalPosition, kSeed, {}};
  std::vector<Record> records;
  bool ok = [&] {
    uint64_t v = 0;
    if (!p.value(8, true, v)) return false;
    r.journalNewSize = static_cast<int64_t>(v);
    if (r.journalNewSize < 0 || r.journalNewSize > r.journalPosition - kHeader) {
      p.problem = "new size " + std::to_string(r.journalNewSize) + " beyond the journal's position";
      return false;
    }
    if (!p.checkWord("size")) return false;
    while (true) {
      uint64_t marker = 0;
      if (!p.value(4, false, marker)) return false;
      if (marker == 0) break;
      if (marker != 0xFFFFFFFFu) {
        p.problem = "bad marker at " + std::to_string(p.at - 4);
        return false;
      }
      uint64_t pos = 0, len = 0;
      if (!p.value(8, true, pos) || !p.value(4, true, len)) return false;
      Record rec{static_cast<int64_t>(pos), static_cast<int32_t>(static_cast<uint32_t>(len)), 0};
      if (!p.checkWord("record")) return false;
      if (rec.position < 0 || rec.length < 0 || rec.position > (kChunk << 31) - rec.length) {
        p.problem = "record out of range at " + std::to_string(p.at - 20);
        return false;
      }
      if (!p.need(rec.length)) return false;
      rec.dataAt = p.at;
      p.hash(p.at, rec.length);
      p.at += rec.length;
      records.push_back(rec);
    }
    int64_t endField = p.at;
    uint64_t endPosition = 0;
    if (!p.value(8, true, endPosition)) return false;
    if (static_cast<int64_t>(endPosition) != endField) {
      p.problem = "end position " + std::to_string(endPosition) + " is not its own offset " + std::to_string(endField);
      return false;
    }
    if (!p.checkWord("end")) return false;
    if (p.at != size) {
      p.problem = std::to_string(size - p.at) + " bytes follow the journal";
      return false;
    }
    return true;
  }();

  if (!ok) {
    r.journal = Journal::kIncomplete;
    r.journalProblem = p.problem;
    if (expect != Expect::kCrashed) r.findings.push_back("incomplete journal: " + p.problem);
    return r;
  }
  r.journal = Journal::kComplete;
  r.journalRecords = static_cast<int64_t>(records.size());
  if (expect == Expect::kClosed) r.findings.push_back("a journal is left in a closed file");
  // Replay: the area grows with pad bytes, later records replace earlier ones,
  // nothing beyond the new size is kept.
  r.effectiveData.resize(static_cast<size_t>(r.journalNewSize), padByte);
  for (const Record& rec : records) {
    int64_t end = std::min(rec.position + rec.length, r.journalNewSize);
    for (int64_t q = rec.position; q < end; ++q) {
      r.effectiveData[static_cast<size_t>(q)] = file[static_cast<size_t>(rec.dataAt + q - rec.position)];
    }
  }
  return r;
}

std::string describe(const Report& r) {
  std::string out;
  for (const auto& f : r.findings) out += "FINDING: " + f + "\n";
  if (r.headerValid) {
    out += "dataSize " + std::to_string(r.dataSize) + ", journalPosition " + std::to_string(r.journalPosition) + "\n";
    if (r.journal == Journal::kComplete) {
      out += "complete journal: new size " + std::to_string(r.journalNewSize) + ", " +
             std::to_string(r.journalRecords) + " records (replayed at the next open)\n";
    } else if (r.journal == Journal::kIncomplete) {
      out += "incomplete journal (discarded at the next open): " + r.journalProblem + "\n";
    }
    out += "effective data area: " + std::to_string(r.effectiveData.size()) + " bytes\n";
  }
  return out;
}

}  // namespace bw::soupcheck
