// web/http_chunked.cpp - the chunked body decoder (see http_chunked.h).
#include "web/http_chunked.h"

#include <algorithm>
#include <cstring>

namespace bw {
namespace {

// The size at the start of a size line: hexadecimal digits up to ";" or
// blanks; false when there are none, or other bytes, or more than 16 digits
// (libcurl's bound, leading zeros counted) or 60 bits.
bool chunkSize(const std::string& line, uint64_t* size) {
  std::string_view text(line);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  size_t i = 0;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10
              : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (digit < 0) break;
    if (i == 16 || value >> 56) return false;
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  if (i == 0) return false;
  for (; i < text.size(); ++i) {
    if (text[i] == ';') break;  // an extension, dropped
    if (text[i] != ' ' && text[i] != '\t') return false;
  }
  *size = value;
  return true;
}

}  // namespace

ChunkedDecoder::Result ChunkedDecoder::feed(const char* in, size_t length, std::string& out) {
  size_t pos = 0;
  while (pos < length || phase_ == kEnd || phase_ == kFailed) {
    switch (phase_) {
      case kEnd:
        return kDone;
      case kFailed:
        return kBad;
      case kSize:
      case kTrailer: {
        const void* lf = std::memchr(in + pos, '\n', length - pos);
        size_t end = lf ? static_cast<size_t>(static_cast<const char*>(lf) - in) : length;
        line_.append(in + pos, end - pos);
        pos = end;
        if (line_.size() > kMaxSizeLine) {
          phase_ = kFailed;
          break;
        }
        if (!lf) return kMore;
        ++pos;
        if (phase_ == kTrailer) {
          // Trailer lines are dropped; an empty one ends the body, and one
          // that is no field (no colon) is refused, as libcurl refuses it.
          if (line_.empty() || line_ == "\r") {
            phase_ = kEnd;
          } else if (line_.find(':') == std::string::npos) {
            phase_ = kFailed;
          }
        } else if (!chunkSize(line_, &left_)) {
          phase_ = kFailed;
        } else {
          phase_ = left_ == 0 ? kTrailer : kData;
        }
        line_.clear();
        break;
      }
      case kData: {
        size_t take = static_cast<size_t>(std::min<uint64_t>(left_, length - pos));
        out.append(in + pos, take);
        pos += take;
        left_ -= take;
        if (left_ == 0) phase_ = kDataEnd;
        break;
      }
      case kDataEnd: {
        // "\r\n" (or a bare "\n") after the data.
        char c = in[pos++];
        if (c == '\n') {
          phase_ = line_.empty() || line_ == "\r" ? kSize : kFailed;
          line_.clear();
        } else if (c == '\r' && line_.empty()) {
          line_ = "\r";
        } else {
          phase_ = kFailed;
        }
        break;
      }
    }
  }
  return kMore;
}

}  // namespace bw
