// database/soup_stream.cpp - the soup's bounded record stream.
#include "database/soup_stream.h"

#include <algorithm>
#include <cstring>

#include "core/exception.h"

namespace bw {

void cRestoreStream_any_cFile_Soup::bindRecord(SoupBlockFile& file, int64_t dataPosition, int32_t capacity,
                                               const char* overrunMessage) {
  file_ = &file;
  position_ = dataPosition;
  // A damaged block size may claim more than the file holds: the record
  // ends at the data area's end at the latest.
  end_ = dataPosition + std::clamp<int64_t>(capacity, 0, std::max<int64_t>(0, file.getSize() - dataPosition));
  overrunMessage_ = overrunMessage;
  windowStart_ = windowEnd_ = 0;
}

void cRestoreStream_any_cFile_Soup::claim(int32_t length) {
  if (!file_) raise("BUG", "cRestoreStream_any_cFile_Soup.read(); no record bound");
  if (length < 0 || length > end_ - position_) raise("BUG", overrunMessage_);
}

void cRestoreStream_any_cFile_Soup::read(void* buffer, int32_t length) {
  claim(length);
  if (position_ < windowStart_ || position_ + length > windowEnd_) {
    if (length > kWindow) {
      file_->readBytes(position_, buffer, length);
      position_ += length;
      return;
    }
    // A record is read as many small values: one read of the file fetches
    // the next piece of the record for all of them.
    int64_t size = std::min<int64_t>(kWindow, end_ - position_);
    file_->readBytes(position_, window_.data(), size);
    windowStart_ = position_;
    windowEnd_ = position_ + size;
  }
  std::memcpy(buffer, window_.data() + (position_ - windowStart_), static_cast<size_t>(length));
  position_ += length;
}

void cRestoreStream_any_cFile_Soup::write(const void* buffer, int32_t length) {
  claim(length);
  windowStart_ = windowEnd_ = 0;
  file_->writeBytes(position_, buffer, length);
  position_ += length;
}

}  // namespace bw
