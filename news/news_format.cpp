// news/news_format.cpp - restoreSTRING, the string record of every news
// object.
#include "news/news_format.h"

#include <algorithm>
#include <string>

#include "core/exception.h"
#include "database/soup_stream.h"
#include "platform/memory_restore_stream.h"

namespace bw {
namespace {

const char kDamaged[] = "restoreSTRING(); damaged string record";

// The bytes a bounded stream has left, -1 for a stream without a bound.
int64_t remainingIn(const cRestoreStreamBase& stream) {
  if (stream.isOfClass(cRestoreStream_any_cFile_Soup::kClassName)) {
    return static_cast<const cRestoreStream_any_cFile_Soup&>(stream).infoRemaining();
  }
  if (stream.isOfClass(cRestoreStream_memory::kClassName)) {
    return static_cast<const cRestoreStream_memory&>(stream).infoRemaining();
  }
  return -1;
}

// Reads length bytes in pieces, so that a stream without a bound that ends
// early raises before a buffer of the stated length was ever made.
std::string readBytes(cRestoreStreamBase& stream, int32_t length) {
  constexpr int32_t kPiece = 64 * 1024;
  std::string bytes;
  while (static_cast<int32_t>(bytes.size()) < length) {
    int32_t n = std::min(kPiece, length - static_cast<int32_t>(bytes.size()));
    size_t at = bytes.size();
    bytes.resize(at + static_cast<size_t>(n));
    stream.get(bytes.data() + at, n);
  }
  return bytes;
}

// A version 1 record's capacity and length, checked.
struct Version1Head {
  int32_t capacity;
  int32_t length;
};
Version1Head readVersion1Head(cRestoreStreamBase& stream) {
  int32_t capacity = transferCompactValue(stream, false, 0);
  int32_t length = transferCompactValue(stream, false, 0);
  if (capacity < 0 || length < 0 || length > capacity) raise("BUG", kDamaged);
  int64_t remaining = remainingIn(stream);
  if (remaining >= 0 && length > remaining) raise("BUG", kDamaged);
  return {capacity, length};
}

void skipBytes(cRestoreStreamBase& stream, int32_t length) {
  char scratch[256];
  for (int32_t left = length; left > 0;) {
    int32_t n = std::min<int32_t>(left, sizeof scratch);
    stream.get(scratch, n);
    left -= n;
  }
}

// A version 0 record: its bytes up to the NUL, which must come within
// capacity + 1 bytes. keep: NIL passes over them.
void readVersion0Bytes(cRestoreStreamBase& stream, int32_t capacity, std::string* keep) {
  for (int64_t read = 0; read <= int64_t{capacity}; ++read) {
    char c = 0;
    stream.get(&c, 1);
    if (c == '\0') return;
    if (keep) keep->push_back(c);
  }
  raise("BUG", kDamaged);
}

// One string record of either version with every check; without keep its
// bytes are passed over and the answer is NIL.
Str readSTRING(cRestoreStreamBase& stream, bool keep) {
  switch (transferByte(stream, false, 0)) {
    case -1:
      return Str();
    case 1: {
      Version1Head head = readVersion1Head(stream);
      if (keep) return Str::adopt(readBytes(stream, head.length), head.capacity);
      skipBytes(stream, head.length);
      return Str();
    }
    case 0: {
      int32_t capacity = transferValue(stream, false, 0);
      if (capacity < 0) raise("BUG", kDamaged);
      std::string bytes;
      readVersion0Bytes(stream, capacity, keep ? &bytes : nullptr);
      return keep ? Str::adopt(std::move(bytes), capacity) : Str();
    }
    default:
      raise("BUG", "restoreSTRING(); unknown version");
  }
}

}  // namespace

void storeSTRING(cRestoreStreamBase& stream, const Str& s) { storeSTRING(stream, {s.isNil(), s.view(), s.capacity()}); }

void storeSTRING(cRestoreStreamBase& stream, const RecordString& s) {
  if (s.nil) {
    transferByte(stream, true, -1);
    return;
  }
  // The version byte, the capacity and the length go in one write.
  const auto length = static_cast<int32_t>(s.text.size());
  uint8_t head[11];
  head[0] = 1;
  int n = 1 + encodeCompactValue(s.capacity, head + 1);
  n += encodeCompactValue(length, head + n);
  stream.put(head, n);
  stream.put(s.text.data(), length);
}

void skipSTRING(cRestoreStreamBase& stream) { readSTRING(stream, false); }

Str restoreSTRING(cRestoreStreamBase& stream, bool storing, const Str& s) {
  if (storing) {
    storeSTRING(stream, s);
    return s;
  }
  return readSTRING(stream, true);
}

}  // namespace bw
