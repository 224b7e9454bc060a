// platform/file_mapping.h - a read-only shared mapping of an open file, read
// only through copies that survive the file failing under them.
//
// A read of a shared file mapping raises SIGBUS where the page cannot be had:
// the disk failed, or another process cut the file. The guard turns such a
// fault into an answer.
//
// Invariants:
//   1. guardedCopy copies length bytes (guardedPieces the pieces of a
//      range) and answers true, or answers false when reading its source
//      raised SIGBUS (the destination's bytes are then undefined). Only a
//      fault on the source of a copy running on the faulting thread is
//      recovered: any other SIGBUS goes to the action installed before the
//      guard's (by default the process ends with SIGBUS, as it would without
//      the guard). The guard is installed by the first mapping (cover) and
//      stays.
//   2. A FileMapping covers at least the bytes it was asked to (cover), with
//      room to grow; pages past the file's end are mapped but must never be
//      read: the caller bounds every read by the file's size as it knows it.
//   3. Bytes written to the file (pwrite, ftruncate) are seen through the
//      mapping at once: the mapping and the file's reads share the pages.
//   4. The pages a mapping's reads bring into the process stay bounded: the
//      reads note the 64 KiB windows they touch (a page fault maps up to
//      64 KiB around the page), and once more windows were touched than the
//      process's budget allows, the whole mapping is released
//      (MADV_DONTNEED): the pages stay in the system's cache and the next
//      read maps them again. The budget is 256 MiB of a mapping (lists read
//      side by side and read again, as the news list's merge of every feed
//      does, stay mapped); a one-pass walk through every feed sets 8 MiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/host_io.h"

namespace bw {

// The pieces of [from, from + length) (offsets from `from`), each copied
// out; the guard covers the whole range.
bool guardedPieces(const uint8_t* from, int64_t length, const IoPiece* pieces, int32_t count);
// Installs the guard's SIGBUS action (once; later calls only answer);
// false when the system refused it, and guarded copies then run unguarded.
bool installGuard();

// length bytes of from, copied to `to`: a copy under sigsetjmp, which the
// guard's action jumps back to when reading the source faults.
bool guardedCopy(void* to, const void* from, size_t length);

inline constexpr int64_t kMappedWindowBytes = 64 * 1024;
inline constexpr int32_t kMappedWindows = 4096;
inline constexpr int32_t kMappedWindowsOnePass = 128;

// The windows every mapping of the process keeps before it is released
// (kMappedWindows until set); for mappings made from then on.
void setMappedWindowBudget(int32_t windows);
int32_t mappedWindowBudget();

class FileMapping {
 public:
  FileMapping() = default;
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;
  ~FileMapping() { unmap(); }

  // Maps (or maps again, larger) the descriptor's first bytes so that at
  // least size of them are covered; false when the system refuses (nothing
  // stays mapped then).
  bool cover(int descriptor, int64_t size);
  // How many bytes are mapped, 0 when none.
  int64_t length() const { return length_; }
  // Where the mapped bytes begin, null when none are.
  const uint8_t* bytes() const { return bytes_; }
  // length bytes from position (within length()) by a guarded copy.
  bool read(void* out, int64_t length, int64_t position) {
    touch(position, length);
    return guardedCopy(out, bytes_ + position, static_cast<size_t>(length));
  }
  // The pieces of the length bytes at position (within length()).
  bool readPieces(int64_t position, int64_t length, const IoPiece* pieces, int32_t count) {
    touch(position, length);
    return guardedPieces(bytes_ + position, length, pieces, count);
  }
  void unmap();

 private:
  // Notes the windows of [position, position + length); past the budget
  // the mapping is released first.
  void touch(int64_t position, int64_t length);
  void release();

  const uint8_t* bytes_ = nullptr;
  int64_t length_ = 0;
  std::vector<uint64_t> touched_;  // a bit a window, touched since the last release
  int32_t touchedCount_ = 0;
  int32_t budget_ = mappedWindowBudget();
};

}  // namespace bw
