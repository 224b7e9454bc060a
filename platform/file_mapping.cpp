// platform/file_mapping.cpp - the mapping of a file (the guard of its reads
// is guarded_copy.cpp).
#include "platform/file_mapping.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>

namespace bw {
namespace {

constexpr int64_t kPage = 4096;
constexpr int64_t kLeast = 64 * 1024;

std::atomic<int32_t> gWindowBudget{kMappedWindows};

}  // namespace

void setMappedWindowBudget(int32_t windows) { gWindowBudget.store(std::max(1, windows)); }

int32_t mappedWindowBudget() { return gWindowBudget.load(); }

bool FileMapping::cover(int descriptor, int64_t size) {
  if (size <= length_) return true;
  installGuard();
  // Twice what is asked for: a growing file is mapped again now and then,
  // not at every growth.
  const int64_t wanted = (std::max(2 * size, kLeast) + kPage - 1) / kPage * kPage;
  void* bytes = bytes_ ? ::mremap(const_cast<uint8_t*>(bytes_), static_cast<size_t>(length_),
                                  static_cast<size_t>(wanted), MREMAP_MAYMOVE)
                       : ::mmap(nullptr, static_cast<size_t>(wanted), PROT_READ, MAP_SHARED, descriptor, 0);
  if (bytes == MAP_FAILED) {
    unmap();
    return false;
  }
  bytes_ = static_cast<const uint8_t*>(bytes);
  length_ = wanted;
  const int64_t windows = (length_ + kMappedWindowBytes - 1) / kMappedWindowBytes;
  touched_.resize(static_cast<size_t>((windows + 63) / 64));
  return true;
}

void FileMapping::unmap() {
  if (bytes_) ::munmap(const_cast<uint8_t*>(bytes_), static_cast<size_t>(length_));
  bytes_ = nullptr;
  length_ = 0;
  touched_.clear();
  touchedCount_ = 0;
}

void FileMapping::touch(int64_t position, int64_t length) {
  if (length <= 0) return;
  const int64_t last = (position + length - 1) / kMappedWindowBytes;
  for (int64_t window = position / kMappedWindowBytes; window <= last; ++window) {
    uint64_t& word = touched_[static_cast<size_t>(window / 64)];
    const uint64_t bit = uint64_t{1} << (window % 64);
    if (word & bit) continue;
    if (touchedCount_ >= budget_) release();
    word |= bit;
    ++touchedCount_;
  }
}

void FileMapping::release() {
  // A read-only shared mapping: dropping its pages loses nothing.
  ::madvise(const_cast<uint8_t*>(bytes_), static_cast<size_t>(length_), MADV_DONTNEED);
  std::fill(touched_.begin(), touched_.end(), 0);
  touchedCount_ = 0;
}

}  // namespace bw
