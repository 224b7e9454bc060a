// web/http_driver.cpp - saveAppend, the driver that runs a request one step
// per call: send, status, header lines, redirects and the body in pieces
// (chunked bodies decoded) into a destination.
#include <cerrno>
#include <cstring>

#include "core/ascii_case.h"
#include "core/exception.h"
#include "core/string_procs.h"
#include "web/http.h"
#include "web/url.h"

namespace bw {
namespace {

// The codings the header lines name, in order, across every line of the
// field ("gzip, chunked" is two); "identity" and empty items name none.
std::vector<std::string_view> codingsOf(const StrChain& lines, std::string_view field) {
  std::vector<std::string_view> codings;
  for (const Str& line : lines) {
    std::string_view text = line.view();
    if (text.size() <= field.size() || text[field.size()] != ':' || !startsWithNoCase(text, field)) continue;
    text.remove_prefix(field.size() + 1);
    while (!text.empty()) {
      const size_t comma = std::min(text.find(','), text.size());
      std::string_view item = trimBlanks(text.substr(0, comma));
      if (!item.empty() && !equalsNoCase(item, "identity")) codings.push_back(item);
      text.remove_prefix(std::min(comma + 1, text.size()));
    }
  }
  return codings;
}

// The codings of an answer that the client cannot undo, joined for the
// reason ("gzip", "gzip, chunked"); empty when it reads the body. Only
// one "chunked" transfer coding is read, and no content coding.
std::string refusedCodings(const StrChain& lines) {
  const std::vector<std::string_view> content = codingsOf(lines, "Content-Encoding");
  const std::vector<std::string_view> transfer = codingsOf(lines, "Transfer-Encoding");
  const bool plainTransfer = transfer.empty() || (transfer.size() == 1 && equalsNoCase(transfer[0], "chunked"));
  if (content.empty() && plainTransfer) return "";
  std::string names;
  for (const std::vector<std::string_view>* list : {&content, &transfer}) {
    if (list == &transfer && plainTransfer) break;
    for (std::string_view item : *list) names += (names.empty() ? "" : ", ") + std::string(item);
  }
  return names;
}

// The extra header lines without Authorization lines.
Str withoutAuthorization(const Str& lines) {
  if (lines.isNil()) return lines;
  StrChain kept;
  for (Str& line : splitLines(lines).chain)
    if (!startsWithNoCase(line.view(), "Authorization:")) kept.push_back(std::move(line));
  return joinStrings(kept, "\n");
}

}  // namespace

bool cHTTP::isSameOrigin(const URLParts& target) const {
  const std::string_view scheme = target.scheme.view();
  const Protocol protocol = equalsNoCase(scheme, "http")    ? kHttp
                            : equalsNoCase(scheme, "https") ? kHttps
                            : equalsNoCase(scheme, "file")  ? kFile
                                                            : kNone;
  if (protocol != protocol_) return false;
  const std::optional<std::string> host = asciiHostName(Text(target.host).nulView());
  if (!host || !equalsNoCase(*host, host_.view())) return false;
  auto effective = [this](int32_t port) { return port != -1 ? port : protocol_ == kHttps ? 443 : 80; };
  return effective(target.port) == effective(port_);
}

cHTTP::Step cHTTP::save(httpSaveDestination* dest, fHttpSaveCallback* callback, int32_t bufSize) {
  saveInit(dest, callback, bufSize);
  Step step;
  do {
    step = saveAppend(nullptr, nullptr);
  } while (step.result == 0 && !step.finished);
  return step;
}

void cHTTP::saveInit(httpSaveDestination* dest, fHttpSaveCallback* callback, int32_t bufSize) {
  if (state_ == kClosed || state_ == kFailed)
    raise("EMU", "cHTTP.saveInit(); not open or an error previously occured");
  if (bufSize <= 0) raise("EMU", "cHTTP.saveInit(); bufSize<=0");
  dest_ = dest;
  callback_ = callback;
  bufSize_ = bufSize;
}

cHTTP::Step cHTTP::saveAppend(httpSaveDestination* dest, fHttpSaveCallback* callback) {
  if (dest) {
    if (state_ >= kBodyRunning) raise("EMU", "cHTTP.saveAppend(); too late to supply dest");
    if (dest_) raise("EMU", "cHTTP.saveAppend(); dest has already been supplied");
    dest_ = dest;
  }
  if (callback) {
    if (state_ >= kBodyRunning) raise("EMU", "cHTTP.saveAppend(); too late to supply callback");
    if (callback_) raise("EMU", "cHTTP.saveAppend(); callback has already been supplied");
    callback_ = callback;
  }
  if (!dest && state_ == kBodyReady && !dest_)
    raise("EMU", "cHTTP.saveAppend(); dest is required now, but has not yet been supplied");
  Step step = driveStep();
  if (step.result != 0) noteFailure(step.result);
  return step;
}

cHTTP::Step cHTTP::driveStep() {
  if (bufSize_ <= 0) bufSize_ = 4096;
  // A request past one of its deadlines fails here, whatever step it is at;
  // a connect that timed out goes on with the host's next address, with
  // the time-out again.
  if (infoPastDeadline()) {
    if (!mayTryNextAddress()) return {failStep(ETIMEDOUT), false};
    lastErrno_ = ETIMEDOUT;
    return {connectNext() < 0 ? failStep(lastErrno_) : 0, false};
  }

  switch (state_) {
    case kClosed:
      raise("EMU", "cHTTP.saveAppend(); not open");
    case kFailed:
      raise("EMU", "cHTTP.saveAppend(); previous call returned an error");
    case kOpened: {
      int32_t r = sendStep();
      if (r == 0) return {0, false};
      state_ = r > 0 ? kSent : kFailed;
      return {r > 0 ? 0 : -1, false};
    }
    case kSent: {
      if (!statusStep()) return {0, false};
      if (status_ >= 400) {
        state_ = kFailed;
        return {kErrorStatus, false};
      }
      if (status_ < 0) return {protocol_ == kHttps && curlExit_ != 0 ? kCurlFailed : -1, false};
      if (isRedirectStatus(status_)) {
        redirectPermanent_ = true;
        state_ = kRedirectPending;
      }
      return {0, false};
    }
    case kStatusRead: {
      Header h;
      if (!headerStep(bufSize_, &h)) return {0, false};
      if (h.result != 0) {
        state_ = kFailed;
        return {protocol_ == kHttps && curlExit_ != 0 && !foldedHeader_ ? kCurlFailed : h.result, false};
      }
      // A body we cannot decode is refused rather than passed on as is.
      if (std::string refused = refusedCodings(h.lines); !refused.empty()) {
        failure_.encoding = std::move(refused);
        return {failStep(EPROTONOSUPPORT), false};
      }
      // 204 and 304 answers have no body whatever their lines say, so a
      // server that holds the connection after them does not hold us. A
      // chunked https body comes unframed from the TLS transfer; its length
      // is unknown all the same.
      const bool noBody = status_ == 204 || status_ == 304;
      const bool framed = !noBody && !codingsOf(h.lines, "Transfer-Encoding").empty();
      chunked_ = protocol_ == kHttp && framed;
      state_ = kBodyReady;
      if (noBody) h.earlyBody.clear();
      bodyLength_ = noBody ? 0 : framed ? -1 : h.length;
      bodyCount_ = bodyLength_;
      bodyBuffer_.assign(static_cast<size_t>(bufSize_), '\0');
      earlyBodyLength_ = static_cast<int64_t>(h.earlyBody.size());
      if (earlyBodyLength_ > 0) {
        if (h.earlyBody.size() > bodyBuffer_.size()) bodyBuffer_.resize(h.earlyBody.size());
        std::memcpy(bodyBuffer_.data(), h.earlyBody.data(), h.earlyBody.size());
      }
      return {0, dest_ == nullptr};
    }
    case kRedirectPending:
      return followRedirect();
    case kBodyReady:
    case kBodyRunning:
      return bodyStep();
    default:
      raise("BUG", "cHTTP.saveAppend(); unhandled state");
  }
}

cHTTP::Step cHTTP::followRedirect() {
  Header h;
  if (!headerStep(bufSize_, &h)) return {0, false};
  Str location = h.result == 0 ? getHeaderValue(h.lines, "Location", 8) : Str();
  if (location.isNil() || location.empty()) {
    state_ = kFailed;
    return {-1, false};
  }
  state_ = kRedirectRead;
  const bool permanent = status_ == 301 || status_ == 308;
  if (++redirectCount_ > kMaxRedirects) return {failStep(ELOOP), false};
  Str keptURL = std::move(redirectedURL_);
  redirectedURL_ = Str();
  httpSaveDestination* dest = dest_;
  dest_ = nullptr;
  const bool keepBody = status_ == 307 || status_ == 308;
  // A relative Location is resolved against this request's own URL: its
  // scheme, user information, host and port.
  const char* schemeName = protocol_ == kHttp ? "http" : protocol_ == kHttps ? "https" : "file";
  const Str authority = userInfo_.empty() ? host_ : Str(userInfo_ + "@" + host_.str());
  Str target = resolveReference(joinURL(schemeName, authority, port_, path_, nullptr), location);
  URLParts parts = splitURL(target, kURLScheme | kURLHost | kURLPath, nullptr);
  auto restore = [&] {
    redirectedURL_ = std::move(keptURL);
    dest_ = dest;
  };
  if (parts.scheme.isNil()) {
    failWith(EHOSTDOWN);
    restore();
    return {-1, false};
  }
  if (equalsNoCase(parts.scheme.view(), "file") && protocol_ != kFile) {
    // A remote server may not point us at local files.
    restore();
    state_ = kFailed;
    return {-5, false};
  }
  // Credentials stay with the host they were meant for: a redirect to
  // another scheme, host or port sends no Authorization line and no user
  // information, and a body that 307 and 308 would send again (a signed
  // request's) goes nowhere else at all.
  const bool elsewhere = !isSameOrigin(parts);
  if (elsewhere && keepBody && !postData_.isNil()) {
    failure_.signedRedirect = true;
    restore();
    return {failStep(EACCES), false};
  }
  // A permanent move from https to http is followed, but never recorded as
  // the address to use from now on.
  const bool downgrade = protocol_ == kHttps && !equalsNoCase(parts.scheme.view(), "https");
  Str extra = !keepBody ? Str() : elsewhere ? withoutAuthorization(extraHeaders_) : extraHeaders_;
  Str post = keepBody ? postData_ : Str();
  const Str userInfo = elsewhere ? Str() : parts.userInfo;
  const int32_t timeout = timeout_;
  const bool nonBlocking = nonBlocking_;
  const int redirects = redirectCount_;
  close();
  followingRedirect_ = true;
  redirectCount_ = redirects;
  OpenResult opened;
  try {
    opened = open(parts.scheme, parts.host, parts.path, parts.port, extra, post, timeout, nonBlocking, nullptr,
                  useCaBundle_, userInfo);
  } catch (...) {
    followingRedirect_ = false;
    restore();
    throw;
  }
  followingRedirect_ = false;
  restore();
  if (opened.result != 0 && dest_) {
    // The request is closed now; its caller will not close it again, so
    // the destination is closed here as closing would have done.
    httpSaveDestination* kept = dest_;
    dest_ = nullptr;
    kept->close();
  }
  // Only an unbroken run of permanent moves from the first request is
  // recorded: 301 then 302 keeps the 301's target, 302 then 301 none.
  redirectPermanent_ = redirectPermanent_ && permanent;
  permanentRun_ = permanentRun_ && permanent && !downgrade;
  if (permanentRun_) redirectedURL_ = std::move(target);
  return {opened.result, false};
}

// Hands one piece of the body (decoded when chunked) to the destination.
void cHTTP::deliver(const char* data, int64_t length, BodyProgress& p) {
  if (chunked_) {
    decoded_.clear();
    ChunkedDecoder::Result r = chunks_.feed(data, static_cast<size_t>(length), decoded_);
    if (r == ChunkedDecoder::kBad) p.bad = true;
    if (r == ChunkedDecoder::kDone) p.done = true;
    data = decoded_.data();
    length = static_cast<int64_t>(decoded_.size());
    if (length == 0) return;
  }
  // Bytes past the stated length are no part of this answer (nor of any
  // the request waits for): dropped, as libcurl drops them.
  if (bodyLength_ >= 0 && length > p.count) length = std::max<int64_t>(p.count, 0);
  if (length == 0) return;
  if (dest_->append(data, length)) {
    p.count += bodyLength_ != -1 ? -length : length;
    if (callback_) p.stop = callback_->call(p.count) || p.stop;
  } else {
    p.destFailed = true;
  }
}

cHTTP::Step cHTTP::bodyStep() {
  BodyProgress p;
  p.count = bodyCount_;
  const bool known = bodyLength_ != -1;
  int64_t n = 0;

  if (state_ == kBodyReady) {
    state_ = kBodyRunning;
    // A length beyond 2^31 - 1 is checked at the end but never used to
    // size the destination.
    if (known && bodyLength_ <= INT32_MAX) dest_->initSize(bodyLength_);
    if (callback_) p.stop = callback_->call(p.count);
    if (p.count == -1) p.count = 0;
    if (earlyBodyLength_ > 0) deliver(bodyBuffer_.data(), earlyBodyLength_, p);
    earlyBodyLength_ = 0;
    if (bodyBuffer_.size() > static_cast<size_t>(bufSize_)) bodyBuffer_.resize(static_cast<size_t>(bufSize_));
  } else if (!dest_) {
    p.destFailed = true;
  }

  if (p.stop || p.destFailed) {
    n = 1;
  } else if (!p.done && !p.bad) {
    if (known && p.count <= 0 && protocol_ != kHttps) {
      n = 0;  // everything announced has arrived
    } else {
      n = readSome(bodyBuffer_.data(), static_cast<int64_t>(bodyBuffer_.size()));
      if (n == kNoDataYet) {
        bodyCount_ = p.count;
        return {0, false};
      }
      if (n > 0) deliver(bodyBuffer_.data(), n, p);
    }
  }

  // The step that brings the last announced byte ends the body at once: the
  // server may hold the connection, so no further input need come.
  const bool allArrived = known && p.count <= 0 && protocol_ != kHttps;
  if (!p.stop && !p.destFailed && !p.done && !p.bad && n > 0 && !allArrived) {
    bodyCount_ = p.count;
    return {0, false};
  }
  if (!dest_) {
    if (!watcher_) raise("EMU", "cHTTP.saveAppend(); called after previously returned finished=TRUE");
    return {0, false};
  }
  httpSaveDestination* dest = dest_;
  dest_ = nullptr;
  const bool closed = dest->close();
  if (p.bad || (chunked_ && n == 0 && !p.done)) {
    failWith(EPROTO);  // a bad chunk, or the end before the last chunk
    framingCut_ = !p.bad;
    n = -1;
  }
  if (known && p.count != 0) n = -1;  // shorter than announced
  int32_t result = p.stop ? -4
                   : p.destFailed ? -3
                   : (protocol_ == kHttps && curlExit_ != 0) ? kCurlFailed
                   : n < 0 ? -1
                   : !closed ? -3
                   : 0;
  bodyCount_ = p.count;
  if (result == -3) failure_.refusal = dest->infoRefusal();
  if (result != 0) state_ = kFailed;
  callback_ = nullptr;
  std::vector<char>().swap(bodyBuffer_);
  return {result, result == 0};
}

}  // namespace bw
