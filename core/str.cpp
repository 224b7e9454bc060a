// core/str.cpp - the nullable string with a fixed capacity.
#include "core/str.h"

#include <algorithm>
#include <utility>

#include "core/exception.h"

namespace bw {

Str Str::withCapacity(int32_t capacity) {
  if (capacity < 0) raise("EPU", "Str.withCapacity(); capacity<0");
  Str s;
  s.nil_ = false;
  s.capacity_ = capacity;
  return s;
}

Str Str::withCapacity(int32_t capacity, std::string_view text) {
  Str s = withCapacity(capacity);
  s.assign(text);
  return s;
}

Str Str::adopt(std::string bytes, int32_t capacity) {
  Str s = withCapacity(capacity);
  if (bytes.size() > static_cast<size_t>(capacity)) bytes.resize(static_cast<size_t>(capacity));
  s.bytes_ = std::move(bytes);
  return s;
}

int32_t Str::nulLength() const {
  size_t n = bytes_.find('\0');
  return static_cast<int32_t>(n == std::string::npos ? bytes_.size() : n);
}

void Str::requireText(const char* method) const {
  if (nil_) raise("EPU", std::string("Str.") + method + "(); string=NIL");
}

void Str::assign(std::string_view text) {
  requireText("assign");
  bytes_.assign(text.substr(0, static_cast<size_t>(capacity_)));
}

void Str::append(std::string_view text) {
  requireText("append");
  size_t room = static_cast<size_t>(capacity_) - bytes_.size();
  bytes_.append(text.substr(0, std::min(room, text.size())));
}

void Str::setLength(int32_t length, char fill) {
  requireText("setLength");
  length = std::clamp(length, 0, capacity_);
  bytes_.resize(static_cast<size_t>(length), fill);
}

void Str::setCapacity(int32_t capacity) {
  requireText("setCapacity");
  if (capacity < 0) raise("EPU", "Str.setCapacity(); capacity<0");
  capacity_ = capacity;
  if (bytes_.size() > static_cast<size_t>(capacity)) bytes_.resize(static_cast<size_t>(capacity));
}

int32_t Text::nulLength() const {
  const void* nul = std::memchr(data_, '\0', size_);
  return static_cast<int32_t>(nul ? static_cast<const char*>(nul) - data_ : static_cast<ptrdiff_t>(size_));
}

}  // namespace bw
