// web/http_driver.cpp - saveAppend, the driver that runs a request one step
// per call: send, status, header lines, redirects and the body in pieces
// into a destination.
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "core/exception.h"
#include "core/string_procs.h"
#include "web/http.h"
#include "web/url.h"

namespace bw {

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
  if (bufSize_ <= 0) bufSize_ = 4096;

  switch (state_) {
    case kClosed:
      raise("EMU", "cHTTP.saveAppend(); not open");
    case kFailed:
      raise("EMU", "cHTTP.saveAppend(); previous call returned an error");
    case kOpened:
      return {sendRequest(), false};
    case kSent: {
      Status s = getStatus();
      if (s.redirect) {
        redirectPermanent_ = true;
        state_ = kRedirectPending;
      }
      return {s.status >= 0 ? 0 : -1, false};
    }
    case kStatusRead: {
      Header h = getHeader(bufSize_);
      if (h.result != 0) return {h.result, false};
      state_ = kBodyReady;
      // curl -f prints no body for an error status, whatever the length
      // line announced.
      bodyLength_ = (protocol_ == kHttps && status_ >= 400) ? -1 : contentLengthOf(h.lines);
      bodyCount_ = bodyLength_;
      bodyBuffer_.assign(static_cast<size_t>(bufSize_), '\0');
      earlyBodyLength_ = static_cast<int64_t>(h.earlyBody.size());
      if (earlyBodyLength_ > 0) std::memcpy(bodyBuffer_.data(), h.earlyBody.data(), h.earlyBody.size());
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
  state_ = kStatusRead;
  Redirect r = getRedirect(bufSize_);
  if (r.result != 0) return {r.result, false};
  if (++redirectCount_ > kMaxRedirects) {
    failWith(ELOOP);
    state_ = kFailed;
    return {-1, false};
  }
  Str keptURL = std::move(redirectedURL_);
  redirectedURL_ = Str();
  httpSaveDestination* dest = dest_;
  dest_ = nullptr;
  const bool keepBody = status_ == 307 || status_ == 308;
  const char* schemeName = protocol_ == kHttp ? "http" : protocol_ == kHttps ? "https" : "file";
  const bool relative = r.location.length() > 0 && r.location[0] == '/';
  Str base = relative ? concatStrings(schemeName, "://", host_) : Str();
  URLParts parts = splitURL(r.location, kURLScheme | kURLHost | kURLPath, base);
  auto restore = [&] {
    redirectedURL_ = std::move(keptURL);
    dest_ = dest;
  };
  if (parts.scheme.isNil()) {
    failWith(EHOSTDOWN);
    restore();
    return {-1, false};
  }
  if (parts.scheme == "file" && protocol_ != kFile) {
    // A remote server may not point us at local files.
    restore();
    state_ = kFailed;
    return {-5, false};
  }
  Str extra = keepBody ? extraHeaders_ : Str();
  Str post = keepBody ? postData_ : Str();
  const int32_t timeout = timeout_;
  const bool nonBlocking = nonBlocking_;
  const int redirects = redirectCount_;
  close();
  followingRedirect_ = true;
  redirectCount_ = redirects;
  OpenResult opened;
  try {
    opened = open(parts.scheme, parts.host, parts.path, parts.port, extra, post, timeout, nonBlocking, nullptr,
                  useCaBundle_);
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
  redirectPermanent_ = redirectPermanent_ && r.permanent;
  if (redirectPermanent_) {
    redirectedURL_ = relative ? concatStrings(parts.scheme, "://", parts.host, r.location) : copyString(r.location);
  }
  return {opened.result, false};
}

cHTTP::Step cHTTP::bodyStep() {
  bool stop = false;
  bool destFailed = false;
  const bool known = bodyLength_ != -1;
  int64_t count = bodyCount_;
  int64_t n = 0;
  auto advance = [&](int64_t bytes) { count += known ? -bytes : bytes; };

  if (state_ == kBodyReady) {
    state_ = kBodyRunning;
    if (known) dest_->initSize(bodyLength_);
    if (callback_) stop = callback_->call(count);
    if (count == -1) count = 0;
    if (earlyBodyLength_ > 0) {
      if (dest_->append(bodyBuffer_.data(), earlyBodyLength_)) {
        advance(earlyBodyLength_);
        if (callback_) stop = callback_->call(count) || stop;
      } else {
        destFailed = true;
      }
    }
  } else if (!dest_) {
    destFailed = true;
  }

  if (!stop && !destFailed) {
    if (known && count <= 0) {
      n = 0;  // everything announced has arrived
    } else if (protocol_ == kHttp && nonBlocking_) {
      ssize_t r;
      do {
        r = ::recv(socket_, bodyBuffer_.data(), bodyBuffer_.size(), 0);
      } while (r < 0 && errno == EINTR);
      if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        bodyCount_ = count;  // nothing yet: more to come
        return {0, false};
      }
      if (r < 0) lastErrno_ = errno;
      n = r;
    } else {
      n = get(bodyBuffer_.data(), static_cast<int64_t>(bodyBuffer_.size()));
    }
    if (n > 0) {
      if (dest_->append(bodyBuffer_.data(), n)) {
        advance(n);
        if (callback_) stop = callback_->call(count);
      } else {
        destFailed = true;
      }
    }
  } else {
    n = 1;
  }

  if (!stop && !destFailed && n > 0) {
    bodyCount_ = count;
    return {0, false};
  }
  if (!dest_) {
    if (!watcher_) raise("EMU", "cHTTP.saveAppend(); called after previously returned finished=TRUE");
    return {0, false};
  }
  httpSaveDestination* dest = dest_;
  dest_ = nullptr;
  if (!dest->close()) destFailed = true;
  if (known && count != 0) n = -1;
  int32_t result = stop ? -4 : destFailed ? -3 : n < 0 ? -1 : 0;
  bodyCount_ = count;
  if (result != 0) state_ = kFailed;
  callback_ = nullptr;
  std::vector<char>().swap(bodyBuffer_);
  return {result, result == 0};
}

}  // namespace bw
