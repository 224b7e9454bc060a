// web/http_response.cpp - reading a response: the status line, the header
// lines (split only at "\r", across reads of any size) and the redirect
// target.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/exception.h"
#include "core/string_procs.h"
#include "web/http.h"

namespace bw {
namespace {

bool isRedirectStatus(int32_t s) { return s == 301 || s == 302 || s == 303 || s == 307 || s == 308; }

}  // namespace

cHTTP::Status cHTTP::getStatus() {
  if (state_ != kSent) raise("EMU", "cHTTP.getStatus(); previous method call was not sendRequest()");
  int32_t code = -1;
  if (protocol_ == kFile) {
    code = 200;
  } else {
    char line[13] = {};
    int64_t got = 0;
    while (got < 12) {
      int64_t n = readWaiting(line + got, 12 - got);
      if (n <= 0) break;
      got += n;
    }
    if (got == 12) {
      line[7] = '1';
      if (std::memcmp(line, "HTTP/1.1 ", 9) == 0) code = valueAt(Text(line), 9, -1).value;
    } else if (protocol_ == kHttps) {
      code = statusFromCurlErrors();
    }
  }
  status_ = static_cast<int16_t>(code);
  state_ = status_ >= 0 ? kStatusRead : kFailed;
  return {status_, isRedirectStatus(status_)};
}

cHTTP::Status cHTTP::infoStatus() {
  if (state_ == kClosed) raise("EMU", "cHTTP.infoStatus(); not open");
  if (state_ == kOpened) {
    if (sendRequest() != 0) return {-1, false};
    return getStatus();
  }
  if (state_ == kSent) return getStatus();
  return {status_, isRedirectStatus(status_)};
}

cHTTP::Header cHTTP::getHeader(int32_t bufSize) {
  if (state_ != kStatusRead) raise("EMU", "cHTTP.getHeader(); previous method call was not getStatus()");
  Header h;
  if (protocol_ == kFile) {
    int64_t size = file_.size();
    if (size >= 0) {
      char text[48];
      std::snprintf(text, sizeof text, "Content-Length: %ld", static_cast<long>(size));
      h.lines.push_back(Str(text));
    }
    file_.setPosition(0);
    state_ = kHeaderRead;
    return h;
  }
  if (bufSize <= 0) bufSize = 4096;
  std::vector<char> buffer(static_cast<size_t>(bufSize) + 1);
  bool skippingStatus = true;
  std::string statusRest;
  bool nextStartsWithLF = false;
  std::string partial;
  bool hasPartial = false;
  bool ended = false;
  bool tooLong = false;
  int64_t n = 0;
  while (!ended && !tooLong) {
    n = readWaiting(buffer.data(), bufSize);
    if (n <= 0) break;
    const char* chunk = buffer.data();
    const size_t size = static_cast<size_t>(n);
    size_t pos = nextStartsWithLF ? 1 : 0;
    nextStartsWithLF = false;
    while (pos < size) {
      const void* found = std::memchr(chunk + pos, '\r', size - pos);
      size_t cr = found ? static_cast<size_t>(static_cast<const char*>(found) - chunk) : size;
      if (skippingStatus) {
        statusRest.append(chunk + pos, cr - pos);
        if (statusRest.size() > static_cast<size_t>(kMaxHeaderLine)) tooLong = true;
        if (!found) break;
        statusText_ = Str(statusRest.size() > 1 ? std::string_view(statusRest).substr(1) : std::string_view());
        skippingStatus = false;
      } else if (cr != pos || hasPartial) {
        partial.append(chunk + pos, cr - pos);
        if (partial.size() > static_cast<size_t>(kMaxHeaderLine)) tooLong = true;
        if (!found) {
          hasPartial = true;
          break;
        }
        h.lines.push_back(Str(partial));
        partial.clear();
        hasPartial = false;
      } else {
        ended = true;
      }
      if (tooLong) break;
      size_t next = cr + 2;
      if (next > size) {
        if (ended) {
          char lf;
          readWaiting(&lf, 1);
        } else {
          nextStartsWithLF = true;
        }
        pos = size;
      } else {
        pos = next;
      }
      if (ended) {
        if (pos < size) h.earlyBody.assign(chunk + pos, size - pos);
        break;
      }
    }
  }
  if (hasPartial && !tooLong) h.lines.push_back(Str(partial));
  h.result = (n < 0 || tooLong) ? -1 : 0;
  state_ = h.result == 0 ? kHeaderRead : kFailed;
  return h;
}

cHTTP::Redirect cHTTP::getRedirect(int32_t bufSize) {
  if (state_ != kStatusRead) raise("EMU", "cHTTP.getRedirect(); previous method call was not getStatus()");
  Redirect r;
  r.result = -1;
  if (isRedirectStatus(status_)) {
    Header h = getHeader(bufSize);
    if (h.result == 0) {
      r.location = getHeaderValue(h.lines, "Location", 8);
      if (!r.location.isNil()) r.result = 0;
    }
  }
  r.permanent = status_ == 301 || status_ == 308;
  state_ = r.result == 0 ? kRedirectRead : kFailed;
  return r;
}

}  // namespace bw
