// platform/file_mapping.cpp - the mapping of a file (the guard of its reads
// is guarded_copy.cpp).
#include "platform/file_mapping.h"

#include <sys/mman.h>

#include <algorithm>

namespace bw {
namespace {

constexpr int64_t kPage = 4096;
constexpr int64_t kLeast = 64 * 1024;

}  // namespace

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
  return true;
}

void FileMapping::unmap() {
  if (bytes_) ::munmap(const_cast<uint8_t*>(bytes_), static_cast<size_t>(length_));
  bytes_ = nullptr;
  length_ = 0;
}

}  // namespace bw
