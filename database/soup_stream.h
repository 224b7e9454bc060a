// database/soup_stream.h - cRestoreStream_any_cFile_Soup, the stream through
// which the object soup writes and reads every record.
//
// The stream carries its soup, so that a record read through it (an object
// list) can find the database it belongs to. The soup binds it to one record
// at a time: reads and writes start at the record's data position and may
// not pass the end of the block's data area; reads fetch the record from
// the file a piece at a time. A damaged record (a length or a
// count read from the file) can therefore never read a neighbouring block or
// write over one; passing the bound raises the message the binding names.
//
// Reads fetch the record a window at a time, and the transfer procedures
// take their values from the window inline (get). Writes are gathered in a
// buffer of the stream's own (kept from record to record; put fills its
// room inline) and reach the file in one write when the writer calls
// flushWrites:
// a record's many small values cost one journaled write, and the file gets
// the same bytes at the same positions as value-by-value writes would give.
// Binding a record or beginning a stream drops writes not flushed (a store
// that raised half-way).
//
// A record whose block is not known yet (its size decides the block) is
// stored once, into the stream unbound: bindGather, the store, keepGathered.
// The kept bytes wait aside, named by their object, until placeGathered
// writes them into the block: reads and other records meanwhile leave them
// alone, and the size the block was chosen by is the size written.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/restore_stream.h"
#include "database/soup_block_file.h"

namespace bw {

class cJournaledIndexedObjectSoup;

class cRestoreStream_any_cFile_Soup : public cRestoreStream_any_cFile {
  BW_CLASS(cRestoreStream_any_cFile_Soup, cRestoreStream_any_cFile)

 public:
  void setSoup(cJournaledIndexedObjectSoup* soup) { soup_ = soup; }
  cJournaledIndexedObjectSoup* infoSoup() const { return soup_; }

  // Binds the stream to the record at dataPosition of file, whose block holds
  // capacity data bytes. Going past them raises "BUG" overrunMessage (a
  // string that outlives the binding).
  void bindRecord(SoupBlockFile& file, int64_t dataPosition, int32_t capacity, const char* overrunMessage);

  // The position the next byte goes to or comes from, and the bytes left
  // before the block's end (for readers that size a buffer from a stored
  // length: a length above it cannot be genuine).
  int64_t infoPosition() const;
  int64_t infoRemaining() const { return end_ - infoPosition(); }

  void beginStream() override;
  void read(void* buffer, int32_t length) override;
  void write(const void* buffer, int32_t length) override;
  // The rest of the window, else a window opened on the next piece of the
  // bound record (nothing past its block, nothing while gathering).
  std::span<const uint8_t> ahead() override;
  // Hands the gathered writes to the file in one write.
  void flushWrites();

  // Binds the stream to no record: a store's writes gather without a bound
  // (up to 2^31 - 1 bytes, else "BUG" overrunMessage) and nothing is read.
  void bindGather(const char* overrunMessage);
  // Keeps the bytes gathered since bindGather aside as owner's record and
  // answers their count.
  int32_t keepGathered(const void* owner);
  // Writes the kept record at dataPosition of file and forgets it. Raises
  // "BUG" mismatch, writing nothing, when the kept bytes are not owner's or
  // not size bytes, or do not fit capacity.
  void placeGathered(SoupBlockFile& file, int64_t dataPosition, int32_t capacity, const void* owner, int32_t size,
                     const char* mismatch);
  // Hands the kept record to place, for a writer that chooses its block
  // with it, and forgets it. Raises "BUG" mismatch, calling nothing, when
  // the kept bytes are not owner's or not size bytes.
  template <class Place>
  void placeGathered(const void* owner, int32_t size, const char* mismatch, Place&& place) {
    const bool fits = owner == keptOwner_ && keptLength_ == static_cast<size_t>(size);
    const size_t length = keptLength_;
    keptOwner_ = nullptr;
    keptLength_ = 0;
    if (!fits) raiseMismatch(mismatch);
    place(std::span<const uint8_t>(kept_.data(), length));
    trim(kept_);
  }

 private:
  // Takes the progress get and put made in the windows back into position_
  // and pendingLength_, and closes the windows.
  void settle();
  void dropWindows();
  void claim(int32_t length);
  // Opens the get window at position_ on at least length bytes of the
  // record, reading the next piece of it unless the window holds them.
  void openWindow(int32_t length);
  // Drops a buffer that a very large record grew, so that it is not kept
  // for the small ones.
  static void trim(std::vector<uint8_t>& buffer);
  [[noreturn]] static void raiseMismatch(const char* mismatch);

  cJournaledIndexedObjectSoup* soup_ = nullptr;
  SoupBlockFile* file_ = nullptr;
  int64_t position_ = 0;
  int64_t end_ = 0;
  const char* overrunMessage_ = "";
  bool gathering_ = false;
  // The piece of the bound record last read from the file, [windowStart_,
  // windowEnd_); empty after binding and after a write.
  static constexpr int32_t kWindow = 4096;
  std::array<uint8_t, kWindow> window_{};
  int64_t windowStart_ = 0;
  int64_t windowEnd_ = 0;
  // Writes not yet handed to the file: the first pendingLength_ bytes of
  // pending_, for the positions from pendingStart_ up to position_.
  static constexpr size_t kKeptBuffer = 1 << 20;
  std::vector<uint8_t> pending_;
  size_t pendingLength_ = 0;
  int64_t pendingStart_ = 0;
  // The record keepGathered set aside: its first keptLength_ bytes, owner's.
  std::vector<uint8_t> kept_;
  size_t keptLength_ = 0;
  const void* keptOwner_ = nullptr;
};

// Runs beginStream now and finishStream when the scope ends, however it
// ends, so that a restore that raises leaves the stream ready for the next.
class StreamScope {
 public:
  explicit StreamScope(cRestoreStreamBase& stream) : stream_(stream) { stream_.beginStream(); }
  StreamScope(const StreamScope&) = delete;
  StreamScope& operator=(const StreamScope&) = delete;
  ~StreamScope() { stream_.finishStream(); }

 private:
  cRestoreStreamBase& stream_;
};

}  // namespace bw
