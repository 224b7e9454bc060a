// platform/read_cache_io.cpp - the page cache in front of a HostIo.
#include "platform/read_cache_io.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/file_mapping.h"

namespace bw {

namespace {

class ReadCacheIo final : public HostIo {
 public:
  ReadCacheIo(std::unique_ptr<HostIo> io, int32_t pages)
      : io_(std::move(io)), capacity_(std::max(1, pages)), descriptor_(io_->mappableDescriptor()) {
    if (descriptor_ >= 0) size_ = io_->size();
    if (size_ < 0) descriptor_ = -1;
  }
  ~ReadCacheIo() override { releasePages(); }

  IoResult readAt(void* buffer, int64_t length, int64_t position) override {
    if (readWindowed(buffer, length, position)) return {length, 0};
    if (length > 0 && mapped(length, position)) {
      if (mapping_.read(buffer, length, position)) return {length, 0};
      stopMapping();
    }
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < length) {
      int64_t at = position + done;
      int64_t number = at / kReadCachePageSize;
      int64_t offset = at - number * kReadCachePageSize;
      int64_t want = std::min(length - done, kReadCachePageSize - offset);
      int32_t slot = find(number);
      if (slot < 0 || slots_[slot].valid < offset + want) {
        int error = load(number, slot);
        if (error != 0) return {done, error};
      }
      int64_t n = std::clamp<int64_t>(slots_[slot].valid - offset, 0, want);
      std::memcpy(out + done, bytesOf(slot) + offset, static_cast<size_t>(n));
      done += n;
      if (n < want) break;  // the end of the file
    }
    return {done, 0};
  }

  IoResult writeAt(const void* buffer, int64_t length, int64_t position) override {
    forgetWindows();
    IoResult r;
    try {
      r = io_->writeAt(buffer, length, position);
    } catch (...) {
      stopMapping();
      dropCache();
      throw;
    }
    if (r.count > 0) size_ = std::max(size_, position + r.count);
    if (r.error != 0) {
      dropCache();
      return r;
    }
    const auto* in = static_cast<const uint8_t*>(buffer);
    for (int64_t number = position / kReadCachePageSize; number * kReadCachePageSize < position + length; ++number) {
      int64_t start = number * kReadCachePageSize;
      int64_t from = std::max(position, start) - start;
      int64_t to = std::min(position + length, start + kReadCachePageSize) - start;
      int32_t slot = find(number);
      // A write from a page's start tells its bytes up to where it ends:
      // what was just stored is what is read next (the file grows by
      // commits, and a walk of what they stored follows).
      if (slot < 0 && from == 0 && descriptor_ < 0) slot = insert(number);
      if (slot < 0) continue;
      if (from > slots_[slot].valid) {
        drop(number);  // a hole between the page's end and the write
        continue;
      }
      std::memcpy(bytesOf(slot) + from, in + (start + from - position), static_cast<size_t>(to - from));
      slots_[slot].valid = std::max(slots_[slot].valid, to);
    }
    return r;
  }

  int truncate(int64_t size) override {
    forgetWindows();
    int e = 0;
    try {
      e = io_->truncate(size);
    } catch (...) {
      stopMapping();
      dropCache();
      throw;
    }
    // A cut that failed may have happened: the smaller size holds either way.
    size_ = e != 0 ? std::min(size_, size) : size;
    if (e != 0) {
      dropCache();
      return e;
    }
    // Pages past the new end go (only the page numbers the cut passes are
    // looked at); the page it ends in is clipped. Growth leaves short pages
    // short: a read past their end reads them again.
    const int64_t kept = (size + kReadCachePageSize - 1) / kReadCachePageSize;
    for (int64_t number = kept; number < static_cast<int64_t>(slotOf_.size()); ++number) drop(number);
    if (kept < static_cast<int64_t>(slotOf_.size())) slotOf_.resize(static_cast<size_t>(kept));
    if (int32_t slot = find(size / kReadCachePageSize, false); slot >= 0) {
      slots_[slot].valid = std::min(slots_[slot].valid, size - size / kReadCachePageSize * kReadCachePageSize);
    }
    return 0;
  }

  IoResult readPiecesAt(int64_t position, int64_t length, const IoPiece* pieces, int32_t count) override {
    if (length > 0 && windows_.empty() && mapped(length, position)) {
      if (mapping_.readPieces(position, length, pieces, count)) return {length, 0};
      stopMapping();
    }
    if (static_cast<int64_t>(range_.size()) < length) range_.resize(static_cast<size_t>(length));
    IoResult r = readAt(range_.data(), length, position);
    copyPieces(range_.data(), r.count, pieces, count);
    return r;
  }

  int sync() override { return io_->sync(); }
  int64_t size() override { return io_->size(); }
  bool examine(dos::FileInfo& info, dos::Detail detail) override { return io_->examine(info, detail); }
  bool lockForWriting() override { return io_->lockForWriting(); }
  void close() override {
    readInWindows(false);
    stopMapping();
    dropCache();
    releasePages();
    io_->close();
  }
  // Forgets every page; their buffers stay for the pages read next.
  void dropCache() override {
    forgetWindows();
    slotOf_.clear();
    free_.clear();
    for (int32_t slot = static_cast<int32_t>(slots_.size()) - 1; slot >= 0; --slot) {
      slots_[slot].number = -1;
      slots_[slot].newer = slots_[slot].older = -1;
      free_.push_back(slot);
    }
    newest_ = oldest_ = -1;
  }

  void readInWindows(bool on) override {
    windows_.clear();
    windows_.shrink_to_fit();
    if (on) windows_.resize(kReadWindows);
  }

 private:
  // A window of readInWindows: its number (-1 for none), how many of its
  // bytes are the file's, when it was last used.
  struct Window {
    int64_t number = -1;
    int64_t valid = 0;
    uint64_t used = 0;
    std::unique_ptr<uint8_t[]> bytes;
  };

  // The bytes of [position, position + length) from the windows (at most
  // two), read when none holds them; false, with out unfilled or in part,
  // when windows are off, the range is longer than a window or reaches past
  // the file's size, or a window's read failed.
  bool readWindowed(void* out, int64_t length, int64_t position) {
    if (windows_.empty() || length <= 0 || length > kReadWindowBytes || position < 0 || position + length > size_) {
      return false;
    }
    auto* to = static_cast<uint8_t*>(out);
    while (length > 0) {
      const int64_t number = position / kReadWindowBytes;
      const int64_t offset = position - number * kReadWindowBytes;
      const int64_t n = std::min(length, kReadWindowBytes - offset);
      const uint8_t* bytes = windowed(number, offset + n);
      if (!bytes) return false;
      std::memcpy(to, bytes + offset, static_cast<size_t>(n));
      to += n;
      position += n;
      length -= n;
    }
    return true;
  }
  // Window number's bytes, read when no window holds them; null when its
  // first `needed` bytes are not all the file's (or the read failed).
  const uint8_t* windowed(int64_t number, int64_t needed) {
    Window* window = &windows_[0];
    for (Window& w : windows_) {
      if (w.number == number) {
        window = &w;
        break;
      }
      if (w.used < window->used) window = &w;
    }
    if (window->number != number) {
      if (!window->bytes) window->bytes = std::make_unique_for_overwrite<uint8_t[]>(kReadWindowBytes);
      window->number = -1;
      const IoResult r = io_->readAt(window->bytes.get(), kReadWindowBytes, number * kReadWindowBytes);
      if (r.error != 0) return nullptr;
      window->number = number;
      window->valid = r.count;
    }
    window->used = ++windowUses_;
    return needed <= window->valid ? window->bytes.get() : nullptr;
  }
  void forgetWindows() {
    for (Window& w : windows_) w.number = -1;
  }

  // A page held: which one, how many of its bytes are the file's, and its
  // place in the order of use (slots, -1 at either end).
  struct Slot {
    int64_t number = -1;
    int64_t valid = 0;
    int32_t newer = -1;
    int32_t older = -1;
  };

  // True when the bytes are read through the file's mapping, mapped (again)
  // when it does not reach far enough; false when the pages must answer: the
  // bytes lie past the file's size as this cache knows it (another process
  // may have made it longer), or the file cannot be mapped. A fault while
  // copying (the disk failed, or another process cut the file) ends the
  // mapping (stopMapping): the file's reads take the pages' road from then
  // on, whose pread reports it as a failed or short read.
  bool mapped(int64_t length, int64_t position) {
    if (descriptor_ < 0 || position + length > size_) return false;
    if (position + length > mapping_.length()) {
      if (!mapping_.cover(descriptor_, size_)) {
        stopMapping();
        return false;
      }
    }
    return true;
  }
  void stopMapping() {
    mapping_.unmap();
    descriptor_ = -1;
  }
  uint8_t* bytesOf(int32_t slot) { return pages_.get() + static_cast<int64_t>(slot) * kReadCachePageSize; }
  // Every page and its memory go.
  void releasePages() {
    pages_.reset();
    slots_.clear();
    free_.clear();
    slotOf_.clear();
    newest_ = oldest_ = -1;
  }
  // The slot that holds page number, -1 when none; a page found becomes
  // the one used last.
  int32_t find(int64_t number, bool use = true) {
    if (number >= static_cast<int64_t>(slotOf_.size())) return -1;
    int32_t slot = slotOf_[static_cast<size_t>(number)];
    if (slot >= 0 && use && slot != newest_) {
      unlink(slot);
      pushNewest(slot);
    }
    return slot;
  }
  void unlink(int32_t slot) {
    Slot& s = slots_[slot];
    (s.newer >= 0 ? slots_[s.newer].older : newest_) = s.older;
    (s.older >= 0 ? slots_[s.older].newer : oldest_) = s.newer;
    s.newer = s.older = -1;
  }
  void pushNewest(int32_t slot) {
    Slot& s = slots_[slot];
    s.older = newest_;
    s.newer = -1;
    if (newest_ >= 0) slots_[newest_].newer = slot;
    newest_ = slot;
    if (oldest_ < 0) oldest_ = slot;
  }
  // A slot for page number, the newest, with no valid bytes: a free one, a
  // new one while fewer than capacity_ are held, else the one used longest
  // ago.
  int32_t insert(int64_t number) {
    int32_t slot;
    if (!free_.empty()) {
      slot = free_.back();
      free_.pop_back();
    } else if (static_cast<int32_t>(slots_.size()) < capacity_) {
      // Left unfilled: a page is read before it is used.
      if (!pages_) pages_ = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(capacity_) * kReadCachePageSize);
      slot = static_cast<int32_t>(slots_.size());
      slots_.emplace_back();
    } else {
      slot = oldest_;
      unlink(slot);
      slotOf_[static_cast<size_t>(slots_[slot].number)] = -1;
    }
    if (number >= static_cast<int64_t>(slotOf_.size())) {
      slotOf_.resize(static_cast<size_t>(number) + 1, -1);  // the vector's own growth is geometric
    }
    slotOf_[static_cast<size_t>(number)] = slot;
    slots_[slot].number = number;
    slots_[slot].valid = 0;
    pushNewest(slot);
    return slot;
  }
  void drop(int64_t number) {
    int32_t slot = find(number, false);
    if (slot < 0) return;
    unlink(slot);
    slotOf_[static_cast<size_t>(number)] = -1;
    slots_[slot].number = -1;
    free_.push_back(slot);
  }

  // Reads page number whole (one the file ends in stays short) into slot,
  // or into a new slot when slot is -1. 0, or the error (every page
  // dropped).
  int load(int64_t number, int32_t& slot) {
    if (slot < 0) slot = insert(number);
    IoResult r;
    try {
      r = io_->readAt(bytesOf(slot), kReadCachePageSize, number * kReadCachePageSize);
    } catch (...) {
      dropCache();
      throw;
    }
    if (r.error != 0) {
      dropCache();
      return r.error;
    }
    slots_[slot].valid = r.count;
    return 0;
  }

  std::unique_ptr<HostIo> io_;
  int32_t capacity_;
  std::unique_ptr<uint8_t[]> pages_;  // capacity_ pages, from the first insert on
  std::vector<Slot> slots_;      // slots handed out so far
  std::vector<int32_t> free_;    // slots of pages dropped
  std::vector<int32_t> slotOf_;  // by page number: its slot, or -1
  int32_t newest_ = -1;
  int32_t oldest_ = -1;
  int descriptor_;   // what the mapping maps, -1 once reads go by the pages only
  int64_t size_ = 0;  // the file's size by this cache's writes and cuts
  FileMapping mapping_;
  std::vector<uint8_t> range_;  // a gathered read's range, read by the pages
  std::vector<Window> windows_;  // readInWindows: empty while off
  uint64_t windowUses_ = 0;
};

}  // namespace

std::unique_ptr<HostIo> withReadCache(std::unique_ptr<HostIo> io, int32_t pages) {
  if (!io) return nullptr;
  return std::make_unique<ReadCacheIo>(std::move(io), pages);
}

}  // namespace bw
