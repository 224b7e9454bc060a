// web/http_chunked.h - decodes a body sent with "Transfer-Encoding:
// chunked": hexadecimal sizes (extensions dropped), the data, and the
// trailer lines after the last (0-size) chunk, which are dropped too.
//
// Invariants:
//   1. Bytes can be fed in pieces of any size, split anywhere.
//   2. A size line longer than kMaxSizeLine, a size that is not hexadecimal,
//      has more than 16 digits or does not fit 60 bits, data not followed by
//      a line end, or a trailer line without a colon is bad; after kBad or
//      kDone nothing more is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bw {

class ChunkedDecoder {
 public:
  enum Result { kMore, kDone, kBad };
  static constexpr size_t kMaxSizeLine = 4096;

  // Decodes in[0, length) and appends the data to out; kDone once the
  // trailer after the last chunk has ended.
  Result feed(const char* in, size_t length, std::string& out);
  bool done() const { return phase_ == kEnd; }

 private:
  enum Phase { kSize, kData, kDataEnd, kTrailer, kEnd, kFailed };
  Phase phase_ = kSize;
  std::string line_;
  uint64_t left_ = 0;
};

}  // namespace bw
