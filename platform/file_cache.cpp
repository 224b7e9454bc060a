// platform/file_cache.cpp - the chunk cache of cFile: finding, loading,
// resizing and writing back the two chunks, and reading the host file with
// its dead bytes as fill.
#include <algorithm>
#include <cstring>

#include "core/exception.h"
#include "platform/file.h"

namespace bw {

int64_t roundUpToPowerOfTwo(int64_t n) {
  if (n < 0) return -1;
  if (n < 2) return 1;
  int64_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

int cFile::findChunk(int64_t k) const {
  for (int i = 0; i < 2; ++i)
    if (chunks_[static_cast<size_t>(i)].data && chunks_[static_cast<size_t>(i)].chunkIndex == k) return i;
  return -1;
}

FileChunk* cFile::residentChunk(int64_t k) {
  int i = findChunk(k);
  if (i < 0) raise("BUG", "cFile.loadChunk(); chunk not resident after loading");
  return &chunks_[static_cast<size_t>(i)];
}

template <class Io>
void cFile::atHostPosition(int64_t at, Io&& io) {
  int64_t remembered = position();
  cHostFile::setPosition(at);
  try {
    io();
  } catch (...) {
    cHostFile::setPosition(remembered);
    throw;
  }
  cHostFile::setPosition(remembered);
}

void cFile::readHost(uint8_t* into, int64_t length, int64_t at) {
  if (length <= 0) return;
  if (isOpen() && at >= 0 && at <= hostSize() - length) {
    // Within the host file: its bytes, with no position to move and back.
    cHostFile::readWithin(into, length, at);
  } else {
    atHostPosition(at, [&] { cHostFile::read(into, length, 0, kNoStop); });
  }
  if (lowMark_ < at + length) {
    int64_t from = std::max(lowMark_, at);
    std::memset(into + (from - at), infoFillByte(), static_cast<size_t>(at + length - from));
  }
}

void cFile::cutDeadBytes() {
  if (lowMark_ < hostSize()) setSizeQuick(lowMark_);
  lowMark_ = kNoLowMark;
}

void cFile::writeHost(const uint8_t* from, int64_t length, int64_t at) {
  cutDeadBytes();
  atHostPosition(at, [&] { cHostFile::write(from, length, 0, false); });
}

void cFile::fillPast(int64_t size) {
  for (FileChunk& c : chunks_) {
    if (!c.data) continue;
    int64_t start = c.chunkIndex * chunkSize_;
    int64_t from = std::max<int64_t>(size, start) - start;
    if (from < chunkSize_) std::memset(c.data.get() + from, infoFillByte(), static_cast<size_t>(chunkSize_ - from));
  }
}

void cFile::dropChunk(int index) {
  chunks_[static_cast<size_t>(index)].reset();
  if (index == 0) std::swap(chunks_[0], chunks_[1]);
}

void cFile::flushDirtyBuffer(FileChunk* chunk) {
  if (!chunk) {
    for (;;) {
      FileChunk* lowest = nullptr;
      for (FileChunk& c : chunks_)
        if (c.dirtyLen > 0 && (!lowest || c.chunkIndex < lowest->chunkIndex)) lowest = &c;
      if (!lowest) return;
      flushDirtyBuffer(lowest);
    }
  }
  if (chunk->dirtyLen <= 0) return;
  if (!chunk->data) raise("BUG", "cFile.flushDirtyBuffer(); buffer=NILA (1)");
  int64_t start = chunk->chunkIndex * chunkSize_;
  int64_t count = std::min<int64_t>(chunk->dirtyLen, cachedSize_ - start);
  if (count > 0) writeHost(chunk->data.get(), count, start);
  chunk->dirtyLen = 0;
}

void cFile::completeChunk(FileChunk& chunk) {
  if (chunk.dirtyLen == 0 || chunk.dirtyLen == chunkSize_) return;
  int64_t start = chunk.chunkIndex * chunkSize_;
  readHost(chunk.data.get() + chunk.dirtyLen, chunkSize_ - chunk.dirtyLen, start + chunk.dirtyLen);
  chunk.dirtyLen = chunkSize_;
}

void cFile::changeChunkSizeTo(int32_t n, int64_t anchor) {
  if (n < kMinChunkSize || n > kMaxChunkSize) raise("BUG", "cFile.changeChunkSizeTo(); illegal size");
  const int64_t o = chunkSize_;
  if (!(deviceFlags_ & kDeviceNotFtp) || n == o) return;
  if (!chunks_[0].data) {
    if (chunks_[1].data) raise("BUG", "cFile.changeChunkSizeTo(); chunks[0] empty but chunks[i] not");
    chunkSize_ = n;
    return;
  }
  if (anchor == -1) anchor = (chunks_[0].chunkIndex + 1) * o - 1;
  int64_t j = anchor / o;
  bool grow = n > o;
  if (grow && (j & 1)) --j;
  int a = findChunk(j);
  int b = grow ? findChunk(j + 1) : -1;
  flushDirtyBuffer(nullptr);
  FileChunk built;
  if (a >= 0) {
    const FileChunk& A = chunks_[static_cast<size_t>(a)];
    built.chunkIndex = anchor / n;
    built.data = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(n));
    int64_t base = built.chunkIndex * n;
    if (!grow) {
      std::memcpy(built.data.get(), A.data.get() + (base % o), static_cast<size_t>(n));
      built.usedBytes = static_cast<int32_t>(static_cast<int64_t>(A.usedBytes) * n / o);
    } else {
      int64_t f = (j * o) % n;
      readHost(built.data.get(), f, base);
      std::memcpy(built.data.get() + f, A.data.get(), static_cast<size_t>(o));
      int64_t used = A.usedBytes;
      if (b >= 0) {
        const FileChunk& B = chunks_[static_cast<size_t>(b)];
        std::memcpy(built.data.get() + f + o, B.data.get(), static_cast<size_t>(o));
        used += B.usedBytes;
        f += o;
      }
      readHost(built.data.get() + f + o, n - (f + o), base + f + o);
      built.usedBytes = static_cast<int32_t>(std::min<int64_t>(used, INT32_MAX));
    }
  }
  chunks_[0].reset();
  chunks_[1].reset();
  if (built.data) chunks_[0] = std::move(built);
  chunkSize_ = n;
}

LoadedChunks cFile::loadChunk(int64_t k, int64_t next, int keep, bool noResize) {
  int index = findChunk(k);
  bool nextResident = false;
  if (index < 0) {
    if (keep == -1 && !noResize) {
      int64_t used = 0, capacity = 0;
      for (const FileChunk& c : chunks_) {
        if (!c.data) continue;
        used += c.usedBytes;
        capacity += chunkSize_;
      }
      if (capacity > 0) {
        if (used > capacity * 2 / 3) {
          int32_t grown = std::min(2 * chunkSize_, kMaxChunkSize);
          if (grown > chunkSize_) {
            changeChunkSizeTo(grown, -1);
            return {};
          }
        } else if (used < capacity / 6) {
          int32_t shrunk = chunkSize_ < 18 ? kMinChunkSize : chunkSize_ / 2;
          if (shrunk < chunkSize_) {
            changeChunkSizeTo(shrunk, -1);
            return {};
          }
        }
      }
    }
    int choice;
    if (!chunks_[0].data) {
      choice = 0;
    } else if (!chunks_[1].data) {
      choice = 1;
    } else if (keep != -1) {
      choice = 1 - keep;
    } else if (next != -1 && findChunk(next) >= 0) {
      choice = 1 - findChunk(next);
      nextResident = true;
    } else {
      int before = findChunk(k - 1);
      int after = findChunk(k + 1);
      if (before >= 0) {
        choice = 1 - before;
        if (after == choice && k / 2 == (k + 1) / 2) choice = before;
      } else if (after >= 0) {
        choice = 1 - after;
      } else {
        choice = 1;
      }
    }
    FileChunk& chosen = chunks_[static_cast<size_t>(choice)];
    if (chosen.dirtyLen > 0) flushDirtyBuffer(&chosen);
    if (choice == 1) std::swap(chunks_[0], chunks_[1]);
    FileChunk& c = chunks_[0];
    if (!c.data) c.data = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(chunkSize_));
    c.chunkIndex = k;
    c.dirtyLen = 0;
    c.usedBytes = 0;
    try {
      readHost(c.data.get(), chunkSize_, k * chunkSize_);
    } catch (...) {
      dropChunk(0);
      throw;
    }
    index = 0;
  }
  if (next != -1 && !nextResident) loadChunk(next, -1, index, false);
  LoadedChunks r;
  r.first = residentChunk(k);
  if (next != -1) r.second = residentChunk(next);
  return r;
}

ChunkSpans cFile::spansOf(const LoadedChunks& loaded, int64_t p, int64_t length) const {
  ChunkSpans spans;
  for (FileChunk* c : {loaded.first, loaded.second}) {
    if (!c || (c == loaded.second && c == loaded.first)) continue;
    ChunkSpan span;
    span.chunk = c;
    span.start = c->chunkIndex * chunkSize_;
    span.first = std::max(span.start, p);
    span.last = std::min(p + length - 1, span.start + chunkSize_ - 1);
    if (span.first <= span.last) spans.items[spans.count++] = span;
  }
  return spans;
}

void cFile::countUse(FileChunk& c, size_t bytes) {
  int64_t used = static_cast<int64_t>(c.usedBytes) + static_cast<int64_t>(bytes);
  if (used <= INT32_MAX) c.usedBytes = static_cast<int32_t>(used);
}

LoadedChunks cFile::makeResident(int64_t p, int64_t length) {
  bool retry = false;
  for (int pass = 0; pass < 4; ++pass) {
    int64_t s = chunkSize_;
    int64_t a = p / s;
    int64_t b = (p + length - 1) / s;
    LoadedChunks r;
    if (b == a) r = loadChunk(a, -1, -1, retry);
    else if (b == a + 1) r = loadChunk(a, b, -1, retry);
    else changeChunkSizeTo(static_cast<int32_t>(roundUpToPowerOfTwo(std::max<int64_t>(length, 8))), p);
    if (r.first) return r;
    retry = true;
  }
  raise("BUG", "cFile.makeResident(); chunks could not be loaded");
}

}  // namespace bw
