// web/http_response.cpp - reading a response: the status line, the header
// lines (ended by "\r\n", a bare "\n" or a bare "\r", across reads of any
// size, within kMaxHeaderLineBytes, kMaxHeaderBytes and kMaxHeaderLines; a
// folded line is refused) and the redirect
// target. Each step can stop when a non-blocking request finds no data and
// go on from there at the next call.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/ascii_case.h"
#include "core/exception.h"
#include "core/string_procs.h"
#include "web/http.h"

namespace bw {
namespace {

// The first "\r" or "\n" in [p, p + n), or nullptr.
const char* lineEnd(const char* p, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (p[i] == '\r' || p[i] == '\n') return p + i;
  return nullptr;
}

// The status code of a line "HTTP/1.x nnn ...": exactly three decimal
// digits from 100 to 599, then a blank, a tab or the line's end; -1 for any
// other ("000", "$C8", "+200", "2000").
int32_t statusCodeOf(std::string_view line) {
  if (line.size() < 12) return -1;
  int32_t code = 0;
  for (size_t i = 9; i < 12; ++i) {
    if (line[i] < '0' || line[i] > '9') return -1;
    code = code * 10 + (line[i] - '0');
  }
  if (line.size() > 12 && line[12] != ' ' && line[12] != '\t' && line[12] != '\r') return -1;
  return code >= 100 && code <= 599 ? code : -1;
}

// What stands where the code should, up to the next blank: for the words.
std::string codeField(std::string_view line) {
  std::string_view rest = line.substr(std::min<size_t>(line.size(), 9));
  return std::string(rest.substr(0, std::min<size_t>(rest.find_first_of(" \t\r"), 12)));
}

}  // namespace

bool cHTTP::statusStep() {
  for (;;) {
    if (skippingInterim_) {
      // The header block of an interim answer: read and dropped.
      Header h;
      if (!headerStep(bufSize_ > 0 ? bufSize_ : 4096, &h)) return false;
      skippingInterim_ = false;
      headerLines_.clear();
      statusLineRead_ = false;
      if (h.result != 0) {
        status_ = -1;
        state_ = kFailed;
        return true;
      }
      inbox_ = std::move(h.earlyBody);
      inboxPos_ = inboxScanned_ = 0;
    }
    if (!statusLineStep()) return false;
    // 1xx answers are interim: the final one follows.
    if (status_ < 100 || status_ > 199 || protocol_ == kFile) return true;
    skippingInterim_ = true;
    state_ = kSent;
  }
}

bool cHTTP::statusLineStep() {
  int32_t code = -1;
  if (protocol_ == kFile) {
    code = 200;
  } else {
    // The whole status line comes in first: its reason is the status text.
    // After its first 12 bytes the line is read a byte at a time (longer
    // pieces past 128 bytes), so that no byte after it is taken from the
    // transport before the header step asks.
    const char* eol = nullptr;
    for (;;) {
      const char* start = inbox_.data() + inboxPos_;
      const size_t avail = inbox_.size() - inboxPos_;
      eol = lineEnd(start + inboxScanned_, avail - inboxScanned_);
      // A "\r" at the end of what came may have its "\n" still to come.
      if (eol && !(*eol == '\r' && eol + 1 == start + avail)) break;
      inboxScanned_ = eol ? static_cast<size_t>(eol - start) : avail;
      eol = nullptr;
      if (static_cast<int64_t>(avail) > kMaxHeaderLineBytes) {
        failWith(EMSGSIZE);
        break;
      }
      int64_t n = readMore(avail < 12 ? static_cast<int64_t>(12 - avail) : avail < 128 ? 1 : 1024);
      if (n == kNoDataYet) return false;
      if (n <= 0) break;
    }
    inboxScanned_ = 0;
    const char* start = inbox_.data() + inboxPos_;
    const size_t avail = inbox_.size() - inboxPos_;
    const size_t length = eol ? static_cast<size_t>(eol - start) : avail;
    const int64_t lineEndBytes = eol ? (*eol == '\r' ? 2 : 1) : 0;
    if (eol && static_cast<int64_t>(length) + lineEndBytes > kMaxHeaderLineBytes) failWith(EMSGSIZE);
    if (avail >= 12 && errorOverride_ != EMSGSIZE) {
      // HTTP/1.0 or HTTP/1.1, as libcurl reads them: another version is
      // no answer of ours over either transport.
      char line[13] = {};
      std::memcpy(line, start, 12);
      if (line[7] == '0') line[7] = '1';
      if (std::memcmp(line, "HTTP/1.1 ", 9) == 0) {
        code = statusCodeOf(std::string_view(start, length));
        if (code < 0) badStatusCode_ = codeField(std::string_view(start, length));
      }
      std::string_view rest = length > 13 ? std::string_view(start + 13, length - 13) : std::string_view();
      if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
      statusText_ = Str(rest);
      size_t skip = eol ? length + 1 : avail;
      if (eol && *eol == '\r' && skip < avail && start[skip] == '\n') ++skip;
      inboxPos_ += skip;
      headerBytes_ += static_cast<int64_t>(skip);
      statusLineRead_ = true;
    }
  }
  status_ = static_cast<int16_t>(code);
  state_ = status_ >= 0 ? kStatusRead : kFailed;
  return true;
}

cHTTP::Status cHTTP::getStatus() {
  if (state_ != kSent) raise("EMU", "cHTTP.getStatus(); previous method call was not sendRequest()");
  waitForData_ = true;
  statusStep();
  waitForData_ = false;
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

bool cHTTP::headerStep(int32_t bufSize, Header* out) {
  if (protocol_ == kFile) {
    int64_t size = file_.size();
    if (size >= 0) {
      char text[48];
      std::snprintf(text, sizeof text, "Content-Length: %ld", static_cast<long>(size));
      headerLines_.push_back(Str(text));
    }
    file_.setPosition(0);
    out->lines = headerLines_;
    out->length = size >= 0 ? size : -1;
    return true;
  }
  if (bufSize <= 0) bufSize = 4096;
  auto bodyless = [this] { return (status_ >= 100 && status_ <= 199) || status_ == 204 || status_ == 304; };
  for (;;) {
    bool ended = false;
    while (inboxPos_ < inbox_.size()) {
      const char* start = inbox_.data() + inboxPos_;
      const size_t avail = inbox_.size() - inboxPos_;
      // Bytes before inboxScanned_ are known to hold no line end.
      const char* eol = lineEnd(start + inboxScanned_, avail - inboxScanned_);
      if (!eol) {
        inboxScanned_ = avail;
        break;
      }
      const size_t length = static_cast<size_t>(eol - start);
      size_t skip = length + 1;
      if (*eol == '\r') {
        if (skip == avail) {  // is a "\n" next? read on
          inboxScanned_ = length;
          break;
        }
        if (start[skip] == '\n') ++skip;
      }
      if (static_cast<int64_t>(skip) > kMaxHeaderLineBytes) {
        failWith(EMSGSIZE);
        out->result = -1;
        return true;
      }
      inboxScanned_ = 0;
      std::string_view line(start, length);
      inboxPos_ += skip;
      headerBytes_ += static_cast<int64_t>(skip);
      if (!statusLineRead_) {
        statusText_ = Str(line.size() > 1 ? line.substr(1) : std::string_view());
        statusLineRead_ = true;
      } else if (line.empty()) {
        ended = true;
        break;
      } else if (line.front() == ' ' || line.front() == '\t') {
        // An obsolete folded line: refused, as unfolding could hide a
        // field (a Transfer-Encoding) from one reader and not another.
        foldedHeader_ = true;
        failWith(EPROTO);
        out->result = -1;
        return true;
      } else if (const char* fault = line.find(':') == std::string_view::npos ? kLineWithoutColon
                                     : line.find('\0') != std::string_view::npos ? kLineWithNul
                                                                                 : nullptr) {
        // Refused as libcurl refuses it, so both transports answer alike.
        headerFault_ = fault;
        failWith(EPROTO);
        out->result = -1;
        return true;
      } else {
        headerLines_.push_back(Str(line));
        // A length that is no number is refused at its line, as libcurl
        // refuses it, in every answer that may have a body, a redirect's
        // too (1xx, 204 and 304 answers have none, and their length is not
        // read): a fault on a later line does not name the answer instead.
        if (!bodyless() && startsWithNoCase(line, "Content-Length:") &&
            contentLengthOf(headerLines_) == kUnreadableLength) {
          headerFault_ = kUnreadableContentLength;
          failWith(EPROTO);
          out->result = -1;
          return true;
        }
      }
    }
    const auto pending = static_cast<int64_t>(ended ? 0 : inbox_.size() - inboxPos_);  // a line not ended yet
    if (headerLines_.size() > static_cast<size_t>(kMaxHeaderLines) || pending > kMaxHeaderLineBytes ||
        headerBytes_ + pending > kMaxHeaderBytes) {
      failWith(EMSGSIZE);
      out->result = -1;
      return true;
    }
    if (ended) {
      out->length = bodyless() ? -1 : contentLengthOf(headerLines_);
      out->earlyBody.assign(inbox_, inboxPos_, std::string::npos);
      std::string().swap(inbox_);
      inboxPos_ = inboxScanned_ = 0;
      out->lines = headerLines_;
      return true;
    }
    int64_t n = readMore(bufSize);
    if (n == kNoDataYet) return false;
    if (n < 0) {
      out->result = -1;
      return true;
    }
    if (n == 0) {
      // The input ended before the empty line that ends the header block:
      // the answer was cut, whatever its lines said so far. A TLS transfer
      // that failed for a reason of its own tells that reason.
      inbox_.clear();
      inboxPos_ = inboxScanned_ = 0;
      if (protocol_ != kHttps || curlExit_ == 0) failWith(EBADMSG);
      out->result = -1;
      return true;
    }
  }
}

cHTTP::Header cHTTP::getHeader(int32_t bufSize) {
  if (state_ != kStatusRead) raise("EMU", "cHTTP.getHeader(); previous method call was not getStatus()");
  Header h;
  waitForData_ = true;
  headerStep(bufSize, &h);
  waitForData_ = false;
  state_ = h.result == 0 ? kHeaderRead : kFailed;
  return h;
}

std::optional<cHTTP::Redirect> cHTTP::redirectStep(int32_t bufSize) {
  Redirect r;
  r.result = -1;
  if (isRedirectStatus(status_)) {
    Header h;
    if (!headerStep(bufSize, &h)) return std::nullopt;
    if (h.result == 0) {
      r.location = getHeaderValue(h.lines, "Location", 8);
      if (r.location.empty()) r.location = Str();  // blanks say nowhere
      if (!r.location.isNil()) r.result = 0;
    }
  }
  r.permanent = status_ == 301 || status_ == 308;
  state_ = r.result == 0 ? kRedirectRead : kFailed;
  return r;
}

cHTTP::Redirect cHTTP::getRedirect(int32_t bufSize) {
  if (state_ != kStatusRead) raise("EMU", "cHTTP.getRedirect(); previous method call was not getStatus()");
  waitForData_ = true;
  std::optional<Redirect> r = redirectStep(bufSize);
  waitForData_ = false;
  return *r;
}

std::optional<cHTTP::Status> cHTTP::pollStatus() {
  if (state_ != kSent) raise("EMU", "cHTTP.pollStatus(); previous method call was not sendRequest()");
  if (!statusStep()) return std::nullopt;
  return Status{status_, isRedirectStatus(status_)};
}

std::optional<cHTTP::Redirect> cHTTP::pollRedirect(int32_t bufSize) {
  if (state_ != kStatusRead) raise("EMU", "cHTTP.pollRedirect(); previous method call was not pollStatus()");
  return redirectStep(bufSize);
}

}  // namespace bw
