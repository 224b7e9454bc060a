// platform/file.h - cFile, the buffered file the program keeps its own data
// in: a cHostFile with a two-chunk adaptive write-back cache and a cached
// size, time, attributes and extras that reach the host file at flush.
//
// The journaled database derives its file from cFile and reaches the disk
// only through cFile's operations: read, write, setPosition, getPosition,
// getSize, setSize, flush, open, close and changeChunkSizeTo. What it may
// rely on:
//   - flush() writes every dirty chunk, sets the host file to getSize(),
//     applies the cached metadata and then makes one fsync of the file
//     (HostIo::sync) when anything was written or cut since the last one; a
//     file that open() created also gets its folder synced at its first
//     flush.
//   - Nothing written reaches the disk in a defined order before flush():
//     chunks are written back on eviction, in ascending file order when
//     several are.
//   - A writable open takes the one-writer guard (host_file.h).
//   - The I/O backend (host_io.h) is chosen per object with setIoBackend()
//     before open, or process-wide with setDefaultIoBackend().
//
// Invariants:
//   1. chunks_[0] is the chunk loaded most recently. A record without data
//      has chunkIndex -1, dirtyLen 0, usedBytes 0; the two records never hold
//      the same chunk; when chunks_[0] has no data, neither has chunks_[1].
//   2. A chunk's modified bytes are a prefix of it: bytes 0 .. dirtyLen-1
//      are written back, never past cachedSize.
//   3. cachedSize_ is the logical size; every byte of the file at or past it
//      reads as the fill byte, in resident chunks and from the host file.
//   4. lowMark_ is the lowest cachedSize since the host file was last cut or
//      flushed (kNoLowMark when none): host bytes at or past it are dead
//      (left over from before a shrink) and read as the fill byte. Before
//      anything is written to the host file it is cut to the low mark, so a
//      shrink followed by a regrow never brings old bytes back.
//   5. Requests above 4 MiB bypass the cache after the dirty chunks are
//      written back; resident chunks that overlap a bypass write are dropped.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>

#include "platform/host_extra.h"
#include "platform/host_file.h"

namespace bw {

inline constexpr int32_t kMinChunkSize = 8;
inline constexpr int32_t kMaxChunkSize = 4194304;
inline constexpr int64_t kNoLowMark = std::numeric_limits<int64_t>::max();

// deviceFlags bits.
inline constexpr uint8_t kDeviceTime = 1;
inline constexpr uint8_t kDeviceAttributes = 2;
inline constexpr uint8_t kDeviceExtras = 4;
inline constexpr uint8_t kDeviceNotFtp = 8;

// pendingChanges bits.
inline constexpr uint8_t kPendingAttributes = 1;
inline constexpr uint8_t kPendingTime = 2;
inline constexpr uint8_t kPendingExtras = 4;

struct FileChunk {
  std::unique_ptr<uint8_t[]> data;
  int64_t chunkIndex = -1;
  int32_t dirtyLen = 0;
  int32_t usedBytes = 0;
  void reset() {
    data.reset();
    chunkIndex = -1;
    dirtyLen = 0;
    usedBytes = 0;
  }
};

// The records loadChunk gives: the chunk asked for and the next one (null
// when none was asked); both null when the chunk size changed instead.
struct LoadedChunks {
  FileChunk* first = nullptr;
  FileChunk* second = nullptr;
};

// The part [first, last] of a request that lies in one resident chunk
// starting at file position start.
struct ChunkSpan {
  FileChunk* chunk = nullptr;
  int64_t start = 0;
  int64_t first = 0;
  int64_t last = 0;
  size_t size() const { return static_cast<size_t>(last - first + 1); }
};
// At most two spans, in file order.
struct ChunkSpans {
  std::array<ChunkSpan, 2> items;
  size_t count = 0;
  const ChunkSpan* begin() const { return items.data(); }
  const ChunkSpan* end() const { return items.data() + count; }
};

// The smallest power of two not below n (1 for n < 2, -1 for n < 0).
int64_t roundUpToPowerOfTwo(int64_t n);

class cFile : public cHostFile {
  BW_CLASS(cFile, cHostFile)

 public:
  cFile();
  ~cFile() override;

  void initialise(uint8_t fillByte) override;
  using cHostFile::open;
  bool open(Text path, bool readOnly, bool force, bool atEnd) override;
  void close() override;
  void flush() override;
  // Writes back and drops both chunks.
  void dropBuffers() override;
  // Closes without writing anything more: dirty chunks and a pending size,
  // time, attributes and extras are dropped, and nothing is synced. The
  // close of a file whose owner can no longer trust what it would write (the
  // journaled file after a failed commit). Unopened: nothing.
  void closeAbandoning() noexcept;

  ReadResult read(void* buffer, int64_t lengthInBytes, int64_t offsetInBytes, int32_t stop) override;
  WriteResult write(const void* buffer, int64_t lengthInBytes, int64_t offsetInBytes, bool noExtend) override;
  void setSize(int64_t sizeInBytes) override;
  // Shrinks the file to sizeInBytes on the host at once. Right after a flush
  // (nothing else waiting for a sync) the cut counts as synced, so the next
  // flush makes no fsync for it: for a cut whose loss a crash may undo
  // harmlessly (the journaled file's applied journal).
  void cutAfterSync(int64_t sizeInBytes);
  int64_t getSize() override { return cachedSize_; }
  // Writes length bytes at position straight to the host file with one
  // write: dirty chunks are written back first, resident chunks take the new
  // bytes. With the fill byte 0 a write past the end leaves a hole before it
  // (it reads as fill) instead of writing pad bytes there.
  void writeThrough(const void* buffer, int64_t length, int64_t position);
  // Reads length bytes at position straight from the host file (dirty chunks
  // are written back first); bytes past the size read as fill. For a reader
  // that keeps its own cache and would only churn the two chunks.
  void readThrough(void* buffer, int64_t length, int64_t position) {
    if (!readThroughWithin(buffer, length, position)) readThroughAnyRange(buffer, length, position);
  }
  // readThrough of a range (length > 0) within the size, the host file and
  // the bytes it holds for us, with no dirty chunk to write back first: the
  // host file's bytes, as they stand. False, with nothing read, for any
  // other range.
  bool readThroughWithin(void* buffer, int64_t length, int64_t position) {
    if (buffer && straightRange(length, position)) {
      readWithin(buffer, length, position);
      return true;
    }
    return false;
  }
  // The pieces of what readThrough of the range would read, straight from
  // the host file (dirty chunks written back first), when the range lies
  // within the size, the host file and the bytes it holds for us; false
  // otherwise, with nothing read.
  bool readThroughPieces(int64_t position, int64_t length, const IoPiece* pieces, int32_t count);
  bool setTime(bigTime time) override;
  bigTime getTime() override { return cachedTime_; }
  bool setAttributes(int32_t values, int32_t mask) override;
  int32_t getAttributes() override { return cachedAttributes_; }

  bool setExtra(cExtra* other) override;
  std::unique_ptr<cExtra> getExtra() override;
  ExtraChange changeExtra(ExtraKey key, const ExtraValue& value) override;
  ExtraQuery queryExtra(ExtraKey key) override;

  std::unique_ptr<cBaseFile> makeFile() override { return std::make_unique<cFile>(); }
  std::unique_ptr<cFile> makeCopyTyped(Text path);
  std::unique_ptr<cFile> cloneTyped(bool writable);

  virtual void testDeviceCapabilities(Text path, bool readOnly);
  // Writes back one dirty chunk, or (null) every dirty chunk in file order.
  virtual void flushDirtyBuffer(FileChunk* chunk);
  // Reads the rest of a partly dirty chunk so that it is dirty as a whole.
  virtual void completeChunk(FileChunk& chunk);
  // Changes the chunk size (8 .. 4 MiB, a power of two), keeping the data
  // around anchor (-1: the end of chunks_[0]'s chunk) resident.
  virtual void changeChunkSizeTo(int32_t chunkSizeInBytes, int64_t anchor);
  virtual LoadedChunks loadChunk(int64_t chunkNumber, int64_t nextChunkNumber, int keep, bool noResize);

  int32_t infoChunkSize() const { return chunkSize_; }
  const FileChunk& infoChunk(int index) const { return chunks_[static_cast<size_t>(index)]; }
  uint8_t infoDeviceFlags() const { return deviceFlags_; }
  uint8_t infoPendingChanges() const { return pendingChanges_; }

 protected:
  // What the device lets the program set (kDevice... bits); a subclass may
  // narrow it after testDeviceCapabilities.
  uint8_t deviceFlags_ = 0;

 private:
  int findChunk(int64_t chunkNumber) const;
  FileChunk* residentChunk(int64_t chunkNumber);
  LoadedChunks makeResident(int64_t position, int64_t length);
  // The parts of [position, position + length) in the loaded chunks, in file
  // order.
  ChunkSpans spansOf(const LoadedChunks& loaded, int64_t position, int64_t length) const;
  // Adds to the chunk's access count unless that would overflow.
  static void countUse(FileChunk& chunk, size_t bytes);
  // readThrough beyond its inline road.
  void readThroughAnyRange(void* buffer, int64_t length, int64_t position);
  // A range within the size, the host file and the bytes it holds for us,
  // with no dirty chunk to write back first: the host file's bytes.
  bool straightRange(int64_t length, int64_t position) const {
    return length > 0 && position >= 0 && cHostFile::isOpen() && chunks_[0].dirtyLen == 0 &&
           chunks_[1].dirtyLen == 0 && position <= std::min({cachedSize_, lowMark_, hostSize()}) - length;
  }
  // Runs io (a read or a write at the host file's position) with the
  // position at `at`, and puts it back afterwards, also when io raises.
  template <class Io>
  void atHostPosition(int64_t at, Io&& io);
  // Reads host bytes with dead bytes (at or past the low mark) as fill.
  void readHost(uint8_t* into, int64_t length, int64_t at);
  void writeHost(const uint8_t* from, int64_t length, int64_t at);
  // Cuts the host file to the low mark (see invariant 4).
  void cutDeadBytes();
  void fillPast(int64_t size);
  void dropChunk(int index);
  void reloadMetadata();

  int32_t cachedAttributes_ = 0;
  bigTime cachedTime_ = 0;
  cHostExtra extras_;
  bool extrasReady_ = true;
  uint8_t pendingChanges_ = 0;
  int64_t cachedSize_ = 0;
  int64_t lowMark_ = kNoLowMark;
  std::array<FileChunk, 2> chunks_;
  int32_t chunkSize_ = kMinChunkSize;
  Str deviceName_;
};

// Module state of the file module: the chunk size new files start with (each
// cFile leaves the size it learnt here when it goes) and the device whose
// capabilities were tested last.
void initFileModuleGlobals();
void endFileModule();
int32_t defaultChunkSize();
void setDefaultChunkSize(int32_t size);
// Forgets the last device tested (tests).
void forgetLastDevice();

}  // namespace bw
