// platform/read_cache_io.cpp - the page cache in front of a HostIo.
#include "platform/read_cache_io.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <list>
#include <unordered_map>
#include <vector>

namespace bw {

namespace {

class ReadCacheIo final : public HostIo {
 public:
  ReadCacheIo(std::unique_ptr<HostIo> io, int32_t pages) : io_(std::move(io)), capacity_(std::max(1, pages)) {}

  IoResult readAt(void* buffer, int64_t length, int64_t position) override {
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < length) {
      int64_t at = position + done;
      int64_t number = at / kReadCachePageSize;
      int64_t offset = at - number * kReadCachePageSize;
      int64_t want = std::min(length - done, kReadCachePageSize - offset);
      Page* page = find(number);
      if (!page || page->valid < offset + want) {
        int error = load(number, page);
        if (error != 0) return {done, error};
      }
      int64_t n = std::clamp<int64_t>(page->valid - offset, 0, want);
      std::memcpy(out + done, page->bytes.data() + offset, static_cast<size_t>(n));
      done += n;
      if (n < want) break;  // the end of the file
    }
    return {done, 0};
  }

  IoResult writeAt(const void* buffer, int64_t length, int64_t position) override {
    IoResult r;
    try {
      r = io_->writeAt(buffer, length, position);
    } catch (...) {
      dropCache();
      throw;
    }
    if (r.error != 0) {
      dropCache();
      return r;
    }
    const auto* in = static_cast<const uint8_t*>(buffer);
    for (int64_t number = position / kReadCachePageSize; number * kReadCachePageSize < position + length; ++number) {
      int64_t start = number * kReadCachePageSize;
      int64_t from = std::max(position, start) - start;
      int64_t to = std::min(position + length, start + kReadCachePageSize) - start;
      Page* page = find(number);
      // A write from a page's start tells its bytes up to where it ends:
      // what was just stored is what is read next (the file grows by
      // commits, and a walk of what they stored follows).
      if (!page && from == 0) page = &insert(number);
      if (!page) continue;
      if (from > page->valid) {
        drop(number);  // a hole between the page's end and the write
        continue;
      }
      std::memcpy(page->bytes.data() + from, in + (start + from - position), static_cast<size_t>(to - from));
      page->valid = std::max(page->valid, to);
    }
    return r;
  }

  int truncate(int64_t size) override {
    int e = 0;
    try {
      e = io_->truncate(size);
    } catch (...) {
      dropCache();
      throw;
    }
    if (e != 0) {
      dropCache();
      return e;
    }
    // Pages past the new end go; the page it ends in is clipped. Growth
    // leaves short pages short: a read past their end reads them again.
    for (auto it = pages_.begin(); it != pages_.end();) {
      int64_t start = it->first * kReadCachePageSize;
      if (start >= size) {
        it = forget(it);
        continue;
      }
      it->second.valid = std::min(it->second.valid, size - start);
      ++it;
    }
    return 0;
  }

  int sync() override { return io_->sync(); }
  int64_t size() override { return io_->size(); }
  bool examine(dos::FileInfo& info, dos::Detail detail) override { return io_->examine(info, detail); }
  bool lockForWriting() override { return io_->lockForWriting(); }
  void close() override {
    dropCache();
    io_->close();
  }
  void dropCache() override {
    pages_.clear();
    order_.clear();
    recent_.fill(Recent{});
  }

 private:
  struct Page {
    std::vector<uint8_t> bytes;
    int64_t valid = 0;
    std::list<int64_t>::iterator use;  // in order_, most recent first
  };

  Page* find(int64_t number) {
    // Reads come in runs on a few pages (an index entry, then the block it
    // names): the pages used last are found without the table, and are not
    // moved in the order again while they stay in the short list.
    for (const Recent& r : recent_) {
      if (r.number == number) return r.page;
    }
    auto it = pages_.find(number);
    if (it == pages_.end()) return nullptr;
    order_.splice(order_.begin(), order_, it->second.use);
    remember(number, &it->second);
    return &it->second;
  }
  void remember(int64_t number, Page* page) {
    recent_[nextRecent_] = {number, page};
    nextRecent_ = (nextRecent_ + 1) % recent_.size();
  }
  Page& insert(int64_t number) {
    std::vector<uint8_t> bytes;  // the buffer of the page that goes, reused
    if (static_cast<int32_t>(pages_.size()) >= capacity_) {
      auto it = pages_.find(order_.back());
      bytes = std::move(it->second.bytes);
      forget(it);
    }
    if (bytes.empty()) bytes.resize(static_cast<size_t>(kReadCachePageSize));
    order_.push_front(number);
    Page& page = pages_[number];
    page.bytes = std::move(bytes);
    page.valid = 0;
    page.use = order_.begin();
    remember(number, &page);
    return page;
  }
  void drop(int64_t number) {
    auto it = pages_.find(number);
    if (it != pages_.end()) forget(it);
  }
  std::unordered_map<int64_t, Page>::iterator forget(std::unordered_map<int64_t, Page>::iterator it) {
    for (Recent& r : recent_) {
      if (r.number == it->first) r = Recent{};
    }
    order_.erase(it->second.use);
    return pages_.erase(it);
  }

  // Reads page number whole (one the file ends in stays short) into page,
  // or into a new page when page is NIL. When the pages missed run forward
  // (this one follows the last read), the pages after it that are not
  // cached come with the same read, so a walk through the file costs one
  // read per kReadAhead pages. 0, or the error (every page dropped).
  int load(int64_t number, Page*& page) {
    int64_t run = 1;
    // A short page read again (the file grew) is read alone: it may stand
    // anywhere in the order, and pages put in after it could push it out.
    if (!page && number == nextMiss_) {
      const int64_t most = std::min<int64_t>(kReadAhead, capacity_);
      while (run < most && pages_.count(number + run) == 0) ++run;
    }
    if (!page) page = &insert(number);
    uint8_t* to = page->bytes.data();
    if (run > 1) {
      scratch_.resize(static_cast<size_t>(run * kReadCachePageSize));
      to = scratch_.data();
    }
    IoResult r;
    try {
      r = io_->readAt(to, run * kReadCachePageSize, number * kReadCachePageSize);
    } catch (...) {
      dropCache();
      throw;
    }
    if (r.error != 0) {
      dropCache();
      return r.error;
    }
    auto validIn = [&](int64_t k) {
      return std::clamp<int64_t>(r.count - k * kReadCachePageSize, 0, kReadCachePageSize);
    };
    page->valid = validIn(0);
    if (run > 1) std::memcpy(page->bytes.data(), to, static_cast<size_t>(page->valid));
    // The page asked for is the newest of at most capacity_: the ones that
    // follow it cannot push it out.
    for (int64_t k = 1; k < run && validIn(k) > 0; ++k) {
      Page& next = insert(number + k);
      next.valid = validIn(k);
      std::memcpy(next.bytes.data(), to + k * kReadCachePageSize, static_cast<size_t>(next.valid));
    }
    nextMiss_ = number + run;
    return 0;
  }

  static constexpr int64_t kReadAhead = 16;
  std::unique_ptr<HostIo> io_;
  int32_t capacity_;
  std::vector<uint8_t> scratch_;  // a read-ahead's bytes
  int64_t nextMiss_ = -1;         // the page after the last one read
  std::unordered_map<int64_t, Page> pages_;
  std::list<int64_t> order_;
  struct Recent {
    int64_t number = -1;
    Page* page = nullptr;
  };
  std::array<Recent, 4> recent_{};  // pages find answered last
  size_t nextRecent_ = 0;
};

}  // namespace

std::unique_ptr<HostIo> withReadCache(std::unique_ptr<HostIo> io, int32_t pages) {
  if (!io) return nullptr;
  return std::make_unique<ReadCacheIo>(std::move(io), pages);
}

}  // namespace bw
