// platform/huge_pages.cpp - the huge-page block pool.
#include "platform/huge_pages.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define BW_HUGE_PAGES_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BW_HUGE_PAGES_ASAN 1
#endif
#endif
// The poisoning macros are no-ops in a build without AddressSanitizer.
#include <sanitizer/asan_interface.h>
#ifdef BW_HUGE_PAGES_ASAN
#include <sanitizer/lsan_interface.h>
#endif

namespace bw {

// A region's head, at its start; its blocks follow. The blocks past
// `carved` were never handed out; those released since are in `free`, a
// list linked through each block's first word.
struct HugePagePool::Region {
  Region* prev = nullptr;  // in withRoom_
  Region* next = nullptr;
  void* free = nullptr;
  size_t carved = 0;  // blocks handed out at least once
  size_t used = 0;
  bool listed = false;  // in withRoom_
  static constexpr size_t kHeadBytes = 64;
  unsigned char* block(size_t k, size_t bytes) {
    return reinterpret_cast<unsigned char*>(this) + kHeadBytes + k * bytes;
  }
};

namespace {

constexpr size_t kBlockAlign = 64;
static_assert(sizeof(void*) <= kBlockAlign);

std::atomic<size_t> gBytesInUse{0};

// A region of fresh pages, advised before any is touched: pages the heap
// handed out before keep their small pages.
void* mapRegion() {
  const size_t span = 2 * HugePagePool::kRegionBytes;
  void* mapped = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + HugePagePool::kRegionBytes - 1) & ~(HugePagePool::kRegionBytes - 1);
  if (aligned > start) ::munmap(mapped, aligned - start);
  const uintptr_t end = aligned + HugePagePool::kRegionBytes;
  if (start + span > end) ::munmap(reinterpret_cast<void*>(end), start + span - end);
  void* region = reinterpret_cast<void*>(aligned);
  ::madvise(region, HugePagePool::kRegionBytes, MADV_HUGEPAGE);
#ifdef BW_HUGE_PAGES_ASAN
  // The leak checker reads the heap's blocks for pointers, not mapped
  // memory: what the blocks point at is reachable through them.
  __lsan_register_root_region(region, HugePagePool::kRegionBytes);
#endif
  return region;
}

void unmapRegion(void* region) noexcept {
#ifdef BW_HUGE_PAGES_ASAN
  __lsan_unregister_root_region(region, HugePagePool::kRegionBytes);
  // The poisoning would outlast the mapping, in the shadow of whatever is
  // mapped here next.
  ASAN_UNPOISON_MEMORY_REGION(region, HugePagePool::kRegionBytes);
#endif
  ::munmap(region, HugePagePool::kRegionBytes);
}

}  // namespace

HugePagePool::HugePagePool(size_t blockBytes, size_t keptRegions)
    : blockBytes_((blockBytes + kBlockAlign - 1) / kBlockAlign * kBlockAlign),
      perRegion_((kRegionBytes - Region::kHeadBytes) / blockBytes_),
      keptRegions_(keptRegions) {
  static_assert(sizeof(Region) <= Region::kHeadBytes);
  if (blockBytes < kBlockAlign || perRegion_ == 0) std::abort();
}

HugePagePool::~HugePagePool() {
  // Regions still in use are left to their blocks' holders (a pool is made
  // once and lives as long as the program).
  while (Region* region = empty_) {
    empty_ = region->next;
    unmapRegion(region);
  }
}

size_t HugePagePool::bytesInUse() { return gBytesInUse.load(std::memory_order_relaxed); }

size_t HugePagePool::regions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return regions_;
}

void HugePagePool::link(Region* region) noexcept {
  region->prev = nullptr;
  region->next = withRoom_;
  if (withRoom_) withRoom_->prev = region;
  withRoom_ = region;
  region->listed = true;
}

void HugePagePool::unlink(Region* region) noexcept {
  (region->prev ? region->prev->next : withRoom_) = region->next;
  if (region->next) region->next->prev = region->prev;
  region->prev = region->next = nullptr;
  region->listed = false;
}

void* HugePagePool::allocate() {
  std::lock_guard<std::mutex> lock(mutex_);
  Region* region = withRoom_;
  if (!region) {
    region = empty_;
    if (region) {
      empty_ = region->next;
      --emptyRegions_;
    } else {
      region = new (mapRegion()) Region();
      ++regions_;
    }
    link(region);
  }
  void* block;
  if (region->free) {
    block = region->free;
    ASAN_UNPOISON_MEMORY_REGION(block, blockBytes_);
    region->free = *static_cast<void**>(block);
  } else {
    block = region->block(region->carved++, blockBytes_);
  }
  if (++region->used == perRegion_) unlink(region);
  gBytesInUse.fetch_add(blockBytes_, std::memory_order_relaxed);
  return block;
}

void HugePagePool::release(void* block) noexcept {
  if (!block) return;
  std::lock_guard<std::mutex> lock(mutex_);
  auto* region = reinterpret_cast<Region*>(reinterpret_cast<uintptr_t>(block) & ~(kRegionBytes - 1));
  *static_cast<void**>(block) = region->free;
  region->free = block;
  // A released block stays poisoned until it is handed out again, so a use
  // after its release is still reported.
  ASAN_POISON_MEMORY_REGION(block, blockBytes_);
  gBytesInUse.fetch_sub(blockBytes_, std::memory_order_relaxed);
  --region->used;
  if (region->used > 0) {
    if (!region->listed) link(region);
    return;
  }
  // Empty: kept for the next use, or given back past the kept ones.
  if (region->listed) unlink(region);
  if (emptyRegions_ < keptRegions_) {
    region->next = empty_;
    empty_ = region;
    ++emptyRegions_;
    return;
  }
  region->~Region();
  unmapRegion(region);
  --regions_;
}

}  // namespace bw
