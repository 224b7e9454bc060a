// tools/soupcheck/soupcheck.h - an independent checker of journaled files: it reads the
// header, parses a journal left behind (complete or not) and derives the data
// area the next open would show. It shares no code with database/, so a fault
// in the journal's own format code cannot hide from it.
//
// Findings (the file is not clean):
//   - a header the journaled file would refuse (magic, version, negative or
//     out-of-file sizes) or one no commit can leave (journalPosition before
//     the end of the data area);
//   - a journal that fails its checks, unless the file may come from a crash;
//   - any journal at all when the file was closed properly.
// A complete journal alone is not a finding: a commit may leave its applied
// journal on disk until the next flush, and replaying it again is harmless.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bw::soupcheck {

enum class Expect {
  kClosed,   // closed properly: no journal at all
  kOpen,     // as a run may leave it: a complete journal is allowed
  kCrashed,  // after a crash: an incomplete journal is allowed too
};

enum class Journal { kNone, kComplete, kIncomplete };

struct Report {
  bool headerValid = false;
  int64_t dataSize = 0;
  int64_t journalPosition = 0;
  Journal journal = Journal::kNone;
  int64_t journalNewSize = 0;
  int64_t journalRecords = 0;
  std::string journalProblem;  // why an incomplete journal fails
  // The data area the next open shows (empty when the header is invalid).
  std::vector<uint8_t> effectiveData;
  std::vector<std::string> findings;
  bool clean() const { return findings.empty(); }
};

// Checks a whole file image; padByte fills bytes the file does not hold.
Report check(const std::vector<uint8_t>& file, Expect expect, uint8_t padByte = 0);
// The report as text, one line each, for people (the verdict is the
// caller's, who may check deeper levels).
std::string describe(const Report& report);

}  // namespace bw::soupcheck
