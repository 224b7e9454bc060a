// platform/huge_pages.h - HugePagePool: blocks of one size for a large
// working set that is walked all over (a document's tree), carved from
// 2 MiB-aligned regions that the system is asked to back with huge pages
// (madvise MADV_HUGEPAGE). A walk over tens of megabytes of 4 KiB pages
// misses the TLB at nearly every step; on huge pages it seldom does.
//
// Invariants:
//   1. allocate() gives a block of the pool's size, aligned to 64 bytes,
//      never one that is in use; release() gives it back. Both may be
//      called on any thread.
//   2. A region whose blocks are all released is kept for the next
//      allocations, up to keptRegions such regions; one past them goes back
//      to the system. (Kept regions keep their huge pages: a new region's
//      may not be had while the system's memory is fragmented.)
//   3. The advice is only advice: where the system gives no huge pages the
//      blocks are ordinary memory, and nothing else changes.
//   4. Under AddressSanitizer a released block is poisoned until it is
//      handed out again, and the leak checker reads the regions for
//      pointers as it reads the heap.
#pragma once

#include <cstddef>
#include <mutex>

namespace bw {

class HugePagePool {
 public:
  static constexpr size_t kRegionBytes = size_t{2} << 20;
  // blockBytes: at least 64 and at most a region less its head.
  HugePagePool(size_t blockBytes, size_t keptRegions);
  ~HugePagePool();
  HugePagePool(const HugePagePool&) = delete;
  HugePagePool& operator=(const HugePagePool&) = delete;

  void* allocate();
  // block: from this pool's allocate(); NIL is ignored.
  void release(void* block) noexcept;

  size_t blockBytes() const { return blockBytes_; }
  size_t blocksPerRegion() const { return perRegion_; }
  // Regions held now (in use or kept).
  size_t regions() const;
  // Bytes of the blocks in use in every pool of the process: memory the
  // heap's own figures (mallinfo) no longer see.
  static size_t bytesInUse();

 private:
  struct Region;
  // Into and out of withRoom_.
  void link(Region* region) noexcept;
  void unlink(Region* region) noexcept;
  size_t blockBytes_;
  size_t perRegion_;
  mutable std::mutex mutex_;
  Region* withRoom_ = nullptr;  // regions with a free block, a list
  Region* empty_ = nullptr;     // empty regions kept, a list
  size_t keptRegions_;
  size_t emptyRegions_ = 0;
  size_t regions_ = 0;
};

}  // namespace bw
