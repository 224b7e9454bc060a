// database/soup_stream.cpp - the soup's bounded record stream.
#include "database/soup_stream.h"

#include "core/exception.h"

namespace bw {

void cRestoreStream_any_cFile_Soup::bindRecord(SoupBlockFile& file, int64_t dataPosition, int32_t capacity,
                                               const char* overrunMessage) {
  file_ = &file;
  position_ = dataPosition;
  end_ = dataPosition + (capacity > 0 ? capacity : 0);
  overrunMessage_ = overrunMessage;
}

void cRestoreStream_any_cFile_Soup::claim(int32_t length) {
  if (!file_) raise("BUG", "cRestoreStream_any_cFile_Soup.read(); no record bound");
  if (length < 0 || length > end_ - position_) raise("BUG", overrunMessage_);
}

void cRestoreStream_any_cFile_Soup::read(void* buffer, int32_t length) {
  claim(length);
  file_->readBytes(position_, buffer, length);
  position_ += length;
}

void cRestoreStream_any_cFile_Soup::write(const void* buffer, int32_t length) {
  claim(length);
  file_->writeBytes(position_, buffer, length);
  position_ += length;
}

}  // namespace bw
