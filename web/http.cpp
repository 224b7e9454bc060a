// web/http.cpp - cHTTP: opening and closing, the http transport (connect,
// send, raw reads, readiness) and the protocol error. Reading the response
// is in http_response.cpp, the saveAppend driver in http_driver.cpp, the
// https and file transports in http_transports.cpp.
#include "web/http.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "core/exception.h"
#include "core/ascii_case.h"
#include "core/string_procs.h"
#include "platform/dos_errors.h"
#include "web/http_watcher.h"
#include "web/url.h"

namespace bw {
namespace {

constexpr char kDefaultPostSafe[] = "_.-/&=";


void setNonBlocking(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return;
  ::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

void setTimeouts(int fd, int32_t seconds) {
  struct timeval tv = {seconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

}  // namespace

// A host we may put on a request line or hand to curl: no control bytes,
// blanks, DEL, and none of the bytes that end or re-route a host.
bool isUsableHost(std::string_view host) {
  for (char ch : host) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\') return false;
  }
  return true;
}

// Path bytes that may not stand on a request line go out as %XX; a valid
// URL path is left as it is.
std::string escapeRequestPath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (char ch : path) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += ch;
    }
  }
  return out;
}

cHTTP::cHTTP(Text userAgent) {
  if (!userAgent.isNil()) userAgent_ = concatStrings(" ", userAgent);
}

cHTTP::~cHTTP() { end(); }

void cHTTP::end() {
  if (!takeEndPending()) return;
  if (protocol_ != kNone) close();
  if (watcher_) watcher_->remove(this, false);
  watcher_ = nullptr;
  userAgent_ = Str();
}

cHTTP::OpenResult cHTTP::openURL(Text url, Text baseURL, Text extraHeaders, Text postData, int32_t timeout,
                                 bool nonBlocking, Text safeSet, bool useCaBundle) {
  URLParts parts = splitURL(url, kURLScheme | kURLHost | kURLPath, baseURL);
  if (parts.scheme.isNil()) return {-5, 0};
  return open(parts.scheme, parts.host, parts.path, parts.port, extraHeaders, postData, timeout, nonBlocking,
              safeSet, useCaBundle);
}

cHTTP::OpenResult cHTTP::open(Text scheme, Text host, Text path, int32_t port, Text extraHeaders, Text postData,
                              int32_t timeout, bool nonBlocking, Text safeSet, bool useCaBundle) {
  if (state_ != kClosed) raise("EMU", "cHTTP.open(); already open");
  extraHeaders_ = copyString(extraHeaders);
  postData_ = copyString(postData);
  timeout_ = timeout;
  nonBlocking_ = nonBlocking;
  inputEnded_ = false;
  status_ = 0;
  bodyCount_ = 0;
  bodyLength_ = -2;
  lastErrno_ = 0;
  errorOverride_ = 0;
  commandText_.clear();
  if (!followingRedirect_) {
    redirectCount_ = 0;
    useCaBundle_ = useCaBundle;
  }

  std::string_view s = scheme.nulView();
  if (s == "http") {
    protocol_ = kHttp;
  } else if (s == "https") {
    protocol_ = kHttps;
  } else if (s == "file") {
    protocol_ = kFile;
  } else {
    return {-5, 0};
  }
  host_ = copyString(host);
  if (host_.isNil()) host_ = Str("");

  body_.clear();
  if (!postData_.isNil()) {
    Str encoded = encodeRawURL(postData_, safeSet.isNil() ? Text(kDefaultPostSafe) : safeSet, true);
    body_ = encoded.isNil() ? postData_.str() : encoded.str();
  }

  std::string_view pathText = path.isNil() ? std::string_view() : path.nulView();
  int32_t result = -1;
  if (protocol_ != kFile && (!isUsableHost(host_.view()) || host_.empty() ||
                             (port != -1 && (port < 1 || port > 65535)))) {
    failWith(EINVAL);
  } else if (protocol_ == kHttp) {
    result = openHttp(pathText, port);
  } else if (protocol_ == kHttps) {
    result = openHttps(pathText, port);
  } else if (protocol_ == kFile) {
    result = openFile(pathText);
  } else {
    raise("BUG", "cHTTP.open(); unhandled protocol");
  }
  if (result != 0) {
    int32_t error = infoProtocolError();
    finishOpen(result);
    return {-1, error};
  }
  return {finishOpen(0), 0};
}

int32_t cHTTP::finishOpen(int32_t result) {
  if (result == 0) {
    if (cHTTPwatcher* watcher = watcher_) {
      watcher->noteSocket(this);
      watcher->remove(this, true);
      watcher->add(this, true);
    }
    state_ = kOpened;
    return 0;
  }
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  file_.close();
  protocol_ = kNone;
  host_ = Str();
  return -1;
}

void cHTTP::failWith(int error) {
  lastErrno_ = error;
  errorOverride_ = error;
}

void cHTTP::buildRequestText(std::string_view path) {
  StrChain lines;
  lines.push_back(concatStrings(body_.empty() && postData_.isNil() ? "GET" : "POST", " /",
                                escapeRequestPath(path), " HTTP/1.0"));
  lines.push_back(concatStrings("Host: ", host_));
  bool accept = false;
  if (!extraHeaders_.isNil()) {
    SplitResult extra = splitLines(extraHeaders_);
    for (Str& line : extra.chain) {
      // An empty piece (callers' lines each begin with "\n") would end the
      // header block early.
      if (line.empty()) continue;
      if (startsWithNoCase(line.view(), "Host:"))
        raise("EMU", "cHTTP.open(); headers cannot contain a Host: line");
      if (startsWithNoCase(line.view(), "Accept:")) accept = true;
      lines.push_back(std::move(line));
    }
  }
  if (!accept) lines.push_back(Str("Accept: */*"));
  if (!userAgent_.isNil()) lines.push_back(concatStrings("User-Agent:", userAgent_));
  if (!postData_.isNil()) {
    char text[48];
    std::snprintf(text, sizeof text, "Content-Length: %ld", static_cast<long>(body_.size()));
    lines.push_back(Str(text));
  }
  lines.push_back(Str(""));
  lines.push_back(postData_.isNil() ? Str("") : Str(body_));
  requestText_ = joinStrings(lines, "\r\n").str();
}

int32_t cHTTP::openHttp(std::string_view path, int32_t port) {
  if (port == -1) port = 80;
  buildRequestText(path);

  int type = SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking_ ? SOCK_NONBLOCK : 0);
  socket_ = ::socket(AF_INET, type, IPPROTO_TCP);
  if (socket_ < 0) {
    lastErrno_ = errno;
    socket_ = -1;
    return -1;
  }
  struct addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* found = nullptr;
  if (::getaddrinfo(host_.c_str(), nullptr, &hints, &found) != 0 || !found) {
    lastErrno_ = EHOSTUNREACH;
    ::close(socket_);
    socket_ = -1;
    return -1;
  }
  struct sockaddr_in address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  ::freeaddrinfo(found);
  address.sin_port = htons(static_cast<uint16_t>(port));

  // A blocking connect is bounded by the request's time-out too.
  if (!nonBlocking_ && timeout_ > 0) setTimeouts(socket_, timeout_);
  int rc = ::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (rc == 0 || errno == EINPROGRESS || errno == EAGAIN) return 0;
  if (errno == EINTR) {
    // The connect goes on in the background; wait for it to complete.
    struct pollfd p = {socket_, POLLOUT, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) return 0;
    errno = error;
  }
  lastErrno_ = errno;
  ::close(socket_);
  socket_ = -1;
  return -1;
}

cHTTP::OpenResult cHTTP::openConnected(int fd, Text host, Text path, bool nonBlocking) {
  if (state_ != kClosed) raise("EMU", "cHTTP.open(); already open");
  extraHeaders_ = Str();
  postData_ = Str();
  body_.clear();
  timeout_ = 0;
  nonBlocking_ = nonBlocking;
  status_ = 0;
  bodyCount_ = 0;
  bodyLength_ = -2;
  lastErrno_ = errorOverride_ = 0;
  redirectCount_ = 0;
  protocol_ = kHttp;
  host_ = copyString(host);
  buildRequestText(path.isNil() ? std::string_view() : path.nulView());
  socket_ = fd;
  setNonBlocking(fd, nonBlocking);
  return {finishOpen(0), 0};
}

void cHTTP::close() {
  if (watcher_) watcher_->recalcMaxSocket(this);
  host_ = Str();
  if (socket_ != -1) ::close(socket_);
  socket_ = -1;
  requestText_.clear();
  requestText_.shrink_to_fit();
  file_.close();
  if (curl_.valid()) stopCurl();
  statusText_ = Str();
  if (dest_) {
    httpSaveDestination* dest = dest_;
    dest_ = nullptr;
    dest->close();
  }
  std::vector<char>().swap(bodyBuffer_);
  redirectedURL_ = Str();
  protocol_ = kNone;
  state_ = kClosed;
}

int32_t cHTTP::sendRequest() {
  if (state_ != kOpened) raise("EMU", "cHTTP.sendRequest(); previous method call was not open()");
  if (protocol_ != kHttp) {
    state_ = kSent;
    return 0;
  }
  if (nonBlocking_) {
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
      raise("BUG", "cHTTP.sendRequest(); Getsocketopt SO_ERROR failed");
    if (error != 0) {
      lastErrno_ = error;
      state_ = kFailed;
      requestText_.clear();
      return -1;
    }
  }
  if (timeout_ != 0) setTimeouts(socket_, timeout_);
  if (nonBlocking_) setNonBlocking(socket_, false);
  bool ok = true;
  size_t sent = 0;
  while (sent < requestText_.size()) {
    ssize_t n = ::send(socket_, requestText_.data() + sent, requestText_.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      lastErrno_ = errno;
      ok = false;
      break;
    }
    sent += static_cast<size_t>(n);
  }
  if (nonBlocking_) setNonBlocking(socket_, true);
  state_ = ok ? kSent : kFailed;
  requestText_.clear();
  requestText_.shrink_to_fit();
  return ok ? 0 : -1;
}

bool cHTTP::waitReadable(int milliseconds) {
  struct pollfd p = {socket_, POLLIN, 0};
  for (;;) {
    int r = ::poll(&p, 1, milliseconds);
    if (r < 0 && errno == EINTR) continue;
    return r > 0;
  }
}

int64_t cHTTP::readWaiting(char* buffer, int64_t length) {
  if (protocol_ != kHttp || !nonBlocking_) return get(buffer, length);
  const int seconds = timeout_ > 0 ? timeout_ : kDefaultWaitSeconds;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (;;) {
    ssize_t n = ::recv(socket_, buffer, static_cast<size_t>(length), 0);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      lastErrno_ = errno;
      return -1;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !waitReadable(static_cast<int>(left.count()))) {
      if (std::chrono::steady_clock::now() >= deadline) {
        lastErrno_ = ETIMEDOUT;
        return -1;
      }
    }
  }
}

int64_t cHTTP::get(char* buffer, int64_t length) {
  switch (protocol_) {
    case kNone:
      raise("EMU", "cHTTP.get(); not open");
    case kHttp: {
      for (;;) {
        ssize_t n = ::recv(socket_, buffer, static_cast<size_t>(length), 0);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        lastErrno_ = errno;
        return -1;
      }
    }
    case kHttps: {
      for (;;) {
        ssize_t n = ::read(curl_.stdoutFd(), buffer, static_cast<size_t>(length));
        if (n >= 0) {
          inputEnded_ = n == 0;
          return n;
        }
        if (errno == EINTR) continue;
        dos::ioErrFromErrno(errno);
        return -1;
      }
    }
    case kFile:
      return file_.read(buffer, length);
  }
  raise("BUG", "cHTTP.get(); unhandled protocol");
}

int32_t cHTTP::infoProtocolError() const {
  switch (protocol_) {
    case kNone:
      raise("EMU", "cHTTP.infoProtocolError(); not open");
    case kHttp:
      return errorOverride_ ? errorOverride_ : lastErrno_;
    case kHttps:
    case kFile:
      return errorOverride_ ? errorOverride_ : dos::ioErr();
  }
  raise("BUG", "cHTTP.infoProtocolError(); unhandled protocol");
}

bool cHTTP::isReady(int32_t milliseconds) {
  if (!nonBlocking_) raise("EMU", "cHTTP.isReady(); was not opened with nonBlocking=TRUE");
  if (protocol_ == kNone) raise("EMU", "cHTTP.isReady(); not open");
  if (milliseconds < 0) milliseconds = 0;
  switch (protocol_) {
    case kHttp: {
      if (socket_ < 0) return false;
      struct pollfd p = {socket_, static_cast<short>(state_ == kOpened ? POLLOUT : POLLIN), 0};
      int r;
      do {
        r = ::poll(&p, 1, milliseconds);
      } while (r < 0 && errno == EINTR);
      return r > 0 && p.revents != 0;
    }
    case kHttps:
      return curlIsReady(milliseconds);
    default:
      return true;
  }
}

}  // namespace bw
