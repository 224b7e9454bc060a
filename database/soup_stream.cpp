// database/soup_stream.cpp - the soup's bounded record stream.
#include "database/soup_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

#include "core/exception.h"

namespace bw {

void cRestoreStream_any_cFile_Soup::bindRecord(SoupBlockFile& file, int64_t dataPosition, int32_t capacity,
                                               const char* overrunMessage) {
  dropWindows();
  file_ = &file;
  position_ = dataPosition;
  // A damaged block size may claim more than the file holds: the record
  // ends at the data area's end at the latest.
  end_ = dataPosition + std::clamp<int64_t>(capacity, 0, std::max<int64_t>(0, file.getSize() - dataPosition));
  overrunMessage_ = overrunMessage;
  gathering_ = false;
  windowStart_ = windowEnd_ = 0;
  pendingLength_ = 0;
}

void cRestoreStream_any_cFile_Soup::bindGather(const char* overrunMessage) {
  dropWindows();
  file_ = nullptr;
  position_ = 0;
  end_ = std::numeric_limits<int32_t>::max();
  overrunMessage_ = overrunMessage;
  gathering_ = true;
  windowStart_ = windowEnd_ = 0;
  pendingLength_ = 0;
}

int32_t cRestoreStream_any_cFile_Soup::keepGathered(const void* owner) {
  settle();
  if (!gathering_) raise("BUG", "cRestoreStream_any_cFile_Soup.keepGathered(); no record gathered");
  gathering_ = false;
  std::swap(pending_, kept_);
  keptLength_ = pendingLength_;
  keptOwner_ = owner;
  pendingLength_ = 0;
  position_ = end_ = 0;
  return static_cast<int32_t>(keptLength_);
}

void cRestoreStream_any_cFile_Soup::placeGathered(SoupBlockFile& file, int64_t dataPosition, int32_t capacity,
                                                  const void* owner, int32_t size, const char* mismatch) {
  const bool fits = owner == keptOwner_ && keptLength_ == static_cast<size_t>(size) &&
                    size <= std::clamp<int64_t>(capacity, 0, std::max<int64_t>(0, file.getSize() - dataPosition));
  auto length = static_cast<int64_t>(keptLength_);
  keptOwner_ = nullptr;
  keptLength_ = 0;
  if (!fits) raiseMismatch(mismatch);
  if (length > 0) file.writeBytes(dataPosition, kept_.data(), length);
  trim(kept_);
}

void cRestoreStream_any_cFile_Soup::raiseMismatch(const char* mismatch) { raise("BUG", mismatch); }

void cRestoreStream_any_cFile_Soup::trim(std::vector<uint8_t>& buffer) {
  if (buffer.size() > kKeptBuffer) buffer = std::vector<uint8_t>();
}

int64_t cRestoreStream_any_cFile_Soup::infoPosition() const {
  if (getEnd_) return windowStart_ + (getNext_ - window_.data());
  if (putEnd_) return pendingStart_ + (putNext_ - pending_.data());
  return position_;
}

void cRestoreStream_any_cFile_Soup::settle() {
  position_ = infoPosition();
  if (putEnd_) pendingLength_ = static_cast<size_t>(putNext_ - pending_.data());
  dropWindows();
}

void cRestoreStream_any_cFile_Soup::dropWindows() {
  getNext_ = getEnd_ = nullptr;
  putNext_ = putEnd_ = nullptr;
}

void cRestoreStream_any_cFile_Soup::beginStream() {
  settle();
  pendingLength_ = 0;
  cRestoreStream_any_cFile::beginStream();
}

void cRestoreStream_any_cFile_Soup::claim(int32_t length) {
  if (!file_ && !gathering_) raise("BUG", "cRestoreStream_any_cFile_Soup.read(); no record bound");
  if (length < 0 || length > end_ - position_) raise("BUG", overrunMessage_);
}

void cRestoreStream_any_cFile_Soup::read(void* buffer, int32_t length) {
  settle();
  if (!file_) raise("BUG", "cRestoreStream_any_cFile_Soup.read(); no record bound");
  claim(length);
  if (pendingLength_ != 0) flushWrites();
  if (length > kWindow && (position_ < windowStart_ || position_ + length > windowEnd_)) {
    file_->readBytes(position_, buffer, length);
    position_ += length;
    return;
  }
  openWindow(length);
  std::memcpy(buffer, getNext_, static_cast<size_t>(length));
  getNext_ += length;
}

std::span<const uint8_t> cRestoreStream_any_cFile_Soup::ahead() {
  if (getNext_ == getEnd_ && file_) {
    settle();
    if (pendingLength_ != 0) flushWrites();
    if (position_ < end_) openWindow(1);
  }
  return cRestoreStream_any_cFile::ahead();
}

void cRestoreStream_any_cFile_Soup::openWindow(int32_t length) {
  // A record is read as many small values: one read of the file fetches
  // the next piece of the record for all of them, and get takes them from
  // the window without a call.
  if (position_ < windowStart_ || position_ + length > windowEnd_) {
    int64_t size = std::min<int64_t>(kWindow, end_ - position_);
    file_->readBytes(position_, window_.data(), size);
    windowStart_ = position_;
    windowEnd_ = position_ + size;
  }
  getNext_ = window_.data() + (position_ - windowStart_);
  getEnd_ = window_.data() + (windowEnd_ - windowStart_);
}

void cRestoreStream_any_cFile_Soup::write(const void* buffer, int32_t length) {
  settle();
  claim(length);
  if (length == 0) return;
  windowStart_ = windowEnd_ = 0;
  if (pendingLength_ == 0) pendingStart_ = position_;
  size_t end = pendingLength_ + static_cast<size_t>(length);
  // Doubling keeps many small writes cheap; a write that more than doubles
  // the buffer (a long text) leaves room for the record's values after it
  // rather than for as much again.
  if (end > pending_.size()) {
    pending_.resize(end > 2 * pending_.size() ? std::max(end + end / 8, size_t{256}) : 2 * pending_.size());
  }
  std::memcpy(pending_.data() + pendingLength_, buffer, static_cast<size_t>(length));
  pendingLength_ = end;
  position_ += length;
  // The values that follow go straight into the buffer's room, as far as
  // the record's bound.
  putNext_ = pending_.data() + pendingLength_;
  putEnd_ = putNext_ + std::min<int64_t>(static_cast<int64_t>(pending_.size() - pendingLength_), end_ - position_);
}

void cRestoreStream_any_cFile_Soup::flushWrites() {
  settle();
  if (pendingLength_ == 0 || gathering_) return;
  // Emptied however the write ends: a write the file refused is not offered
  // again.
  auto length = static_cast<int64_t>(pendingLength_);
  pendingLength_ = 0;
  file_->writeBytes(pendingStart_, pending_.data(), length);
  trim(pending_);
}

}  // namespace bw
