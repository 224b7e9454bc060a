// platform/memory_restore_stream.cpp - the bounded memory stream.
#include "platform/memory_restore_stream.h"

#include <cstring>

#include "core/exception.h"

namespace bw {

void cRestoreStream_memory::read(void* buffer, int32_t length) {
  position_ = infoPosition();
  getNext_ = getEnd_ = nullptr;
  if (length <= 0) return;
  if (static_cast<size_t>(length) > size_ - position_) {
    raise("FILE", "cRestoreStream_memory.read(); unexpected end of stream");
  }
  std::memcpy(buffer, input_ + position_, static_cast<size_t>(length));
  position_ += static_cast<size_t>(length);
}

std::span<const uint8_t> cRestoreStream_memory::ahead() {
  if (showAhead_ && !getEnd_ && input_) {
    getNext_ = input_ + position_;
    getEnd_ = input_ + size_;
  }
  return cRestoreStreamBase::ahead();
}

void cRestoreStream_memory::write(const void* buffer, int32_t length) {
  if (length <= 0) return;
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  output_.insert(output_.end(), bytes, bytes + length);
}

}  // namespace bw
