// fuzz/fuzz_journal_open.cpp - opens arbitrary bytes as a journaled file on
// the in-memory backend, reads the whole data area, commits a small change
// and closes. Whatever open accepts must show the data area the independent
// checker derives from the same bytes. With libFuzzer a custom mutator
// repairs the journal's check words after each mutation, so that hostile
// positions, lengths and sizes get past the checksums.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "database/journal_file.h"
#include "database/journal_format.h"
#include "fuzz/fuzz_journal_backend.h"
#include "platform/assigns.h"
#include "tools/soupcheck/soupcheck.h"

namespace {

constexpr const char* kPath = "RAM:/fuzz.soup";

// Recomputes every check word of a journal that parses up to where it stops
// parsing; returns the new size of the image (unchanged).
void repairChecks(uint8_t* data, size_t size) {
  using namespace bw;
  if (size < kJournalHeaderSize) return;
  int64_t at = getBig64(data + kHeaderJournalPositionOffset);
  auto fits = [&](int64_t n) { return at >= 0 && n >= 0 && static_cast<int64_t>(size) - at >= n; };
  if (!fits(12)) return;
  uint32_t h = journalChecksum(journalSeed, data + at, 8);
  putBig32(data + at + 8, h);
  at += 12;
  while (fits(4)) {
    uint32_t marker = getBig32(data + at);
    if (marker == kJournalEndMarker) {
      if (!fits(16)) return;
      putBig64(data + at + 4, at + 4);
      h = journalChecksum(h, data + at + 4, 8);
      putBig32(data + at + 12, h);
      return;
    }
    if (marker != kJournalRecordMarker || !fits(20)) return;
    h = journalChecksum(h, data + at + 4, 12);
    putBig32(data + at + 16, h);
    auto length = static_cast<int64_t>(static_cast<int32_t>(getBig32(data + at + 12)));
    at += 20;
    if (!fits(length)) return;
    h = journalChecksum(h, data + at, static_cast<size_t>(length));
    at += length;
  }
}

}  // namespace

#ifdef BRINDLEWORK_LIBFUZZER
extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);
extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned int) {
  size = LLVMFuzzerMutate(data, size, maxSize);
  repairChecks(data, size);
  return size;
}
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace bw;
  fuzzing::initJournal();
  if (!data) return 0;
  std::vector<uint8_t> image(data, data + size);
  auto backend = fuzzing::backendHolding(kPath, image);
  soupcheck::Report expected = soupcheck::check(image, soupcheck::Expect::kCrashed);

  cJournaledFile f;
  f.newFile(0, 0);
  f.setIoBackend(backend);
  try {
    if (!f.open(kPath, false, false, false)) return 0;
    std::vector<uint8_t> all(static_cast<size_t>(f.getSize()));
    f.setPosition(0);
    if (!all.empty()) f.read(all.data(), static_cast<int64_t>(all.size()), 0, -1);
    if (size > 0 && expected.headerValid && all != expected.effectiveData) std::abort();
    {
      JournalTransaction t(f);
      f.setPosition(static_cast<int64_t>(size % 977));
      f.write("fuzz", 4, 0, false);
    }
    f.close();
    if (!soupcheck::check(backend->image(fuzzing::backendName(kPath)), soupcheck::Expect::kClosed).clean()) {
      std::abort();
    }
  } catch (const eException&) {
    // Refusals of damaged files are answers, not faults.
  }
  return 0;
}
