// web/http.cpp - cHTTP: opening and closing, the http transport (connect,
// send, raw reads, readiness) and the protocol error. Reading the response
// is in http_response.cpp, the saveAppend driver in http_driver.cpp, the
// https and file transports in http_transports.cpp (libcurl's side of https
// in http_curl.cpp).
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

#include "core/base64.h"
#include "core/exception.h"
#include "core/ascii_case.h"
#include "core/string_procs.h"
#include "platform/dos_errors.h"
#include "web/http_curl.h"
#include "web/http_resolver.h"
#include "web/http_watcher.h"
#include "web/url.h"

namespace bw {
namespace {

constexpr char kDefaultPostSafe[] = "_.-/&=";

HttpConnectFunction gConnect;


void setNonBlocking(int fd, bool on) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return;
  ::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK));
}

// Bounds a blocking connect and send.
void setSendTimeout(int fd, int32_t seconds) {
  struct timeval tv = {seconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

socklen_t addressLength(const sockaddr_storage& a) {
  return a.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

void setPort(sockaddr_storage& a, int32_t port) {
  if (a.ss_family == AF_INET6) reinterpret_cast<sockaddr_in6&>(a).sin6_port = htons(static_cast<uint16_t>(port));
  else reinterpret_cast<sockaddr_in&>(a).sin_port = htons(static_cast<uint16_t>(port));
}

// The host as getaddrinfo wants it: an IPv6 literal without its brackets.
std::string bareHost(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  return std::string(host);
}

}  // namespace

void setHttpConnectFunction(HttpConnectFunction connect) { gConnect = std::move(connect); }

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

void cHTTP::checkExtraHeaders(Text extraHeaders) {
  if (extraHeaders.isNil()) return;
  for (const Str& line : splitLines(extraHeaders).chain)
    if (line.length() > 0 && line[0] == '@') raise("EPU", "cHTTP.open(); header line begins with \"@\"");
}

cHTTP::OpenResult cHTTP::openURL(Text url, Text baseURL, Text extraHeaders, Text postData, int32_t timeout,
                                 bool nonBlocking, Text safeSet, bool useCaBundle) {
  checkExtraHeaders(extraHeaders);
  URLParts parts = splitURL(url, kURLScheme | kURLHost | kURLPath, baseURL);
  if (parts.scheme.isNil()) {
    failure_ = HttpFailureFacts();
    failure_.result = -5;
    return {-5, 0};
  }
  return open(parts.scheme, parts.host, parts.path, parts.port, extraHeaders, postData, timeout, nonBlocking,
              safeSet, useCaBundle, parts.userInfo);
}

cHTTP::OpenResult cHTTP::open(Text scheme, Text host, Text path, int32_t port, Text extraHeaders, Text postData,
                              int32_t timeout, bool nonBlocking, Text safeSet, bool useCaBundle, Text userInfo) {
  if (state_ != kClosed) raise("EMU", "cHTTP.open(); already open");
  checkExtraHeaders(extraHeaders);
  extraHeaders_ = copyString(extraHeaders);
  postData_ = copyString(postData);
  timeout_ = timeout;
  nonBlocking_ = nonBlocking;
  resetResponse();
  lastErrno_ = 0;
  errorOverride_ = 0;
  lookupFailed_ = false;
  transferText_.clear();
  lastByte_ = Clock::now();
  if (!followingRedirect_) {
    failure_ = HttpFailureFacts();
    redirectCount_ = 0;
    useCaBundle_ = useCaBundle;
    permanentRun_ = true;
    started_ = lastByte_;
  }

  std::string_view s = scheme.nulView();
  if (equalsNoCase(s, "http")) {
    protocol_ = kHttp;
  } else if (equalsNoCase(s, "https")) {
    protocol_ = kHttps;
  } else if (equalsNoCase(s, "file")) {
    protocol_ = kFile;
  } else {
    failure_.scheme = s;
    noteFailure(-5);
    return {-5, 0};
  }
  std::optional<std::string> ascii = asciiHostName(host.nulView());
  host_ = Str(ascii ? *ascii : std::string(host.nulView()));
  userInfo_ = protocol_ != kFile && !userInfo.isNil() ? std::string(userInfo.nulView()) : std::string();
  path_ = path.isNil() ? Str("") : copyString(path);
  port_ = port;

  body_.clear();
  if (!postData_.isNil()) {
    Str encoded = encodeRawURL(postData_, safeSet.isNil() ? Text(kDefaultPostSafe) : safeSet, true);
    body_ = encoded.isNil() ? postData_.str() : encoded.str();
  }

  std::string_view pathText = path.isNil() ? std::string_view() : path.nulView();
  int32_t result = -1;
  if (protocol_ != kFile && (!ascii || !isUsableHost(host_.view()) || host_.empty() ||
                             (port != -1 && (port < 1 || port > 65535)))) {
    failWith(EINVAL);
  } else if (protocol_ == kHttp) {
    buildRequestText(pathText);
    result = openHttp(port);
  } else if (protocol_ == kHttps) {
    result = openTls();
  } else if (protocol_ == kFile) {
    result = openFile(pathText);
  } else {
    raise("BUG", "cHTTP.open(); unhandled protocol");
  }
  if (result != 0) {
    int32_t error = infoProtocolError();
    noteFailure(-1);
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
  lookup_.reset();
  file_.close();
  protocol_ = kNone;
  host_ = Str();
  return -1;
}

void cHTTP::resetResponse() {
  framingCut_ = false;
  foldedHeader_ = false;
  headerFault_.clear();
  status_ = 0;
  statusText_ = Str();
  badStatusCode_.reset();
  bodyCount_ = 0;
  bodyLength_ = -2;
  curlExit_ = 0;
  sentBytes_ = 0;
  inbox_.clear();
  inboxPos_ = 0;
  inboxScanned_ = 0;
  statusLineRead_ = false;
  skippingInterim_ = false;
  headerLines_.clear();
  headerBytes_ = 0;
  chunked_ = false;
  chunks_ = ChunkedDecoder();
  decoded_.clear();
  gotBytes_ = false;
  addresses_.clear();
  nextAddress_ = 0;
}

void cHTTP::failWith(int error) {
  lastErrno_ = error;
  errorOverride_ = error;
}

int32_t cHTTP::failStep(int error) {
  failWith(error);
  state_ = kFailed;
  return -1;
}

void cHTTP::noteFailure(int32_t result) {
  if (failure_.result != 0) return;
  HttpFailureFacts& f = failure_;
  f.result = result;
  f.status = status_;
  f.statusText = statusText_.isNil() ? std::string() : statusText_.str();
  f.badStatusCode = badStatusCode_;
  f.error = errorOverride_ ? errorOverride_ : lastErrno_;
  f.file = protocol_ == kFile;
  f.lookupFailed = lookupFailed_;
  f.anyByte = gotBytes_;
  // No request went yet: over https, no connection with its handshake done.
  f.connecting = protocol_ == kHttp   ? !gotBytes_ && sentBytes_ == 0 && status_ == 0
                 : protocol_ == kHttps ? !tls_ || !tls_->connected()
                                       : false;
  f.resolving = lookup_ && !lookup_->done();
  f.framingCut = framingCut_;
  f.foldedHeader = foldedHeader_;
  f.headerFault = headerFault_;
  f.host = host_.isNil() ? std::string() : host_.str();
  f.port = port_ != -1 ? port_ : protocol_ == kHttps ? 443 : 80;
  const bool whole = Clock::now() >= started_ + wholeLimit();
  f.wholeLimit = whole && !f.connecting;
  f.limitSeconds = static_cast<int32_t>(f.wholeLimit ? wholeLimit().count() : idleLimit().count());
  f.transferCode = curlExit_;
  f.transferText = transferText_;
  if (bodyLength_ >= 0 && (state_ == kBodyRunning || state_ == kFailed)) {
    f.bodyLength = bodyLength_;
    f.bodyMissing = bodyCount_;
  }
  f.redirect = followingRedirect_ || isRedirectStatus(status_);
}

std::chrono::seconds cHTTP::idleLimit() const {
  return std::chrono::seconds(timeout_ > 0 ? timeout_ : kDefaultIdleSeconds);
}

std::chrono::seconds cHTTP::wholeLimit() const {
  return std::chrono::seconds(timeout_ > 0 ? int64_t{timeout_} * kWholeTimesIdle : kDefaultWholeSeconds);
}

std::chrono::steady_clock::time_point cHTTP::infoDeadline() const {
  return std::min(lastByte_ + idleLimit(), started_ + wholeLimit());
}

bool cHTTP::infoPastDeadline() const {
  // A file never times out; a finished body has nothing left to time out.
  if (state_ == kClosed || state_ == kFailed || protocol_ == kFile || (state_ == kBodyRunning && !dest_))
    return false;
  return Clock::now() >= infoDeadline();
}

int cHTTP::pollFd() const {
  if (protocol_ == kHttp && socket_ >= 0) return socket_;
  return (protocol_ == kHttp || protocol_ == kHttps) && lookup_ ? lookup_->fd : -1;
}

size_t cHTTP::addPollFds(std::vector<pollfd>& set) const {
  const size_t before = set.size();
  if (protocol_ == kHttps && tls_) {
    tls_->addPollFds(set);
  } else if (int fd = pollFd(); fd >= 0) {
    set.push_back({fd, pollEvents(), 0});
  }
  return set.size() - before;
}

int64_t cHTTP::wakeMs() const {
  if (protocol_ != kHttps || !tls_ || state_ == kFailed) return -1;
  return tls_->hasNews() ? 0 : tls_->timerMs();
}

bool cHTTP::waitTls() {
  std::vector<pollfd> set;
  for (;;) {
    tls_->drive();
    if (tls_->hasNews()) return true;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(infoDeadline() - Clock::now()).count();
    if (left <= 0) return false;
    set.clear();
    tls_->addPollFds(set);
    const int64_t timer = tls_->timerMs();
    if (timer >= 0) left = std::min<int64_t>(left, timer);
    int r = ::poll(set.data(), set.size(), static_cast<int>(std::min<int64_t>(left, 1 << 30)));
    if (r < 0 && errno != EINTR) return false;
  }
}

short cHTTP::pollEvents() const {
  if (lookup_ || (protocol_ == kHttp && socket_ < 0)) return POLLIN;  // the lookup
  return state_ == kOpened ? POLLOUT : POLLIN;
}

bool cHTTP::waitFor(int fd, short events) {
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(infoDeadline() - Clock::now()).count();
    if (left <= 0) return false;
    struct pollfd p = {fd, events, 0};
    int r = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 1 << 30)));
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
  }
}

void cHTTP::buildRequestText(std::string_view path) {
  StrChain lines;
  lines.push_back(concatStrings(body_.empty() && postData_.isNil() ? "GET" : "POST", " /",
                                escapeRequestPath(path), " HTTP/1.0"));
  // The port goes on the Host line when it is not http's own, so that a
  // server building links from it keeps us on its port.
  lines.push_back(port_ != -1 && port_ != 80 ? concatStrings("Host: ", host_, ":", Str(std::to_string(port_)))
                                             : concatStrings("Host: ", host_));
  bool accept = false, authorization = false;
  if (!extraHeaders_.isNil()) {
    SplitResult extra = splitLines(extraHeaders_);
    for (Str& line : extra.chain) {
      // An empty piece (callers' lines each begin with "\n") would end the
      // header block early.
      if (line.empty()) continue;
      if (startsWithNoCase(line.view(), "Host:"))
        raise("EMU", "cHTTP.open(); headers cannot contain a Host: line");
      if (startsWithNoCase(line.view(), "Accept:")) accept = true;
      if (startsWithNoCase(line.view(), "Authorization:")) authorization = true;
      lines.push_back(std::move(line));
    }
  }
  if (!accept) lines.push_back(Str("Accept: */*"));
  // The address's user information as https sends it (startTls): Basic
  // credentials when it names a user, unless the caller wrote its own
  // Authorization line.
  const auto [user, password] = credentials();
  if (!user.empty() && !authorization) {
    const std::string pair = user + ":" + password;
    lines.push_back(
        concatStrings("Authorization: Basic ", base64encode(pair.data(), static_cast<int32_t>(pair.size()))));
  }
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

int32_t cHTTP::openHttp(int32_t port) {
  if (gConnect) {
    socket_ = gConnect(host_.str(), port == -1 ? 80 : port);
    if (socket_ < 0) {
      lastErrno_ = ECONNREFUSED;
      return -1;
    }
    setNonBlocking(socket_, nonBlocking_);
    return 0;
  }
  int32_t r = startLookup();
  if (r <= 0) return r;
  return connectNext();
}

int32_t cHTTP::startLookup() {
  lookup_ = lookupHost(bareHost(host_.view()));
  // A blocking request waits for its lookup here, within its deadline; a
  // non-blocking one comes back when the watcher sees the lookup's
  // descriptor. Either drops a lookup that outlives it: nobody waits for
  // the lookup's thread.
  if (!nonBlocking_ && !lookup_->done() && !waitFor(lookup_->fd, POLLIN)) {
    lastErrno_ = ETIMEDOUT;
    return -1;
  }
  return resolveStep();
}

int32_t cHTTP::resolveStep() {
  if (!lookup_) return addresses_.empty() ? -1 : 1;
  if (!lookup_->done()) return 0;
  std::shared_ptr<HostLookup> lookup = std::move(lookup_);
  if (lookup->error != 0) {
    lookupFailed_ = true;
    lastErrno_ = lookup->error;
    return -1;
  }
  addresses_ = lookup->addresses;
  const int32_t port = port_ != -1 ? port_ : protocol_ == kHttps ? 443 : 80;
  for (sockaddr_storage& a : addresses_) setPort(a, port);
  nextAddress_ = 0;
  return 1;
}

bool cHTTP::mayTryNextAddress() const {
  return state_ == kOpened && socket_ >= 0 && sentBytes_ == 0 && nextAddress_ < addresses_.size() &&
         Clock::now() < started_ + wholeLimit();
}

int32_t cHTTP::connectNext() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  int error = lastErrno_ ? lastErrno_ : EHOSTUNREACH;
  while (nextAddress_ < addresses_.size()) {
    const sockaddr_storage& address = addresses_[nextAddress_++];
    lastByte_ = Clock::now();  // each address gets the whole time-out
    int type = SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking_ ? SOCK_NONBLOCK : 0);
    socket_ = ::socket(address.ss_family, type, IPPROTO_TCP);
    if (socket_ < 0) {
      error = errno;
      continue;
    }
    if (watcher_ && nonBlocking_) watcher_->noteSocket(this);
    // A blocking connect is bounded by the time-out; Linux then answers
    // EINPROGRESS, which is no connection.
    if (!nonBlocking_) setSendTimeout(socket_, static_cast<int32_t>(idleLimit().count()));
    int rc = ::connect(socket_, reinterpret_cast<const sockaddr*>(&address), addressLength(address));
    if (rc == 0) return 0;
    error = errno;
    if (nonBlocking_ && (error == EINPROGRESS || error == EAGAIN)) return 0;
    if (!nonBlocking_ && (error == EINPROGRESS || error == EAGAIN)) error = ETIMEDOUT;
    if (error == EINTR) {
      // The connect goes on in the background; wait for it to complete.
      if (waitFor(socket_, POLLOUT)) {
        int pending = 0;
        socklen_t len = sizeof pending;
        if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &pending, &len) == 0 && pending == 0) return 0;
        error = pending;
      } else {
        error = ETIMEDOUT;
      }
    }
    ::close(socket_);
    socket_ = -1;
  }
  lastErrno_ = error;
  return -1;
}

cHTTP::OpenResult cHTTP::openConnected(int fd, Text host, Text path, bool nonBlocking) {
  if (state_ != kClosed) raise("EMU", "cHTTP.open(); already open");
  extraHeaders_ = Str();
  postData_ = Str();
  body_.clear();
  timeout_ = 0;
  nonBlocking_ = nonBlocking;
  resetResponse();
  lastErrno_ = errorOverride_ = 0;
  redirectCount_ = 0;
  permanentRun_ = true;
  started_ = lastByte_ = Clock::now();
  protocol_ = kHttp;
  host_ = copyString(host);
  path_ = copyString(path);
  port_ = -1;
  buildRequestText(path.isNil() ? std::string_view() : path.nulView());
  socket_ = fd;
  setNonBlocking(fd, nonBlocking);
  return {finishOpen(0), 0};
}

void cHTTP::close() {
  if (watcher_) watcher_->recalcMaxSocket(this);
  host_ = Str();
  path_ = Str();
  if (socket_ != -1) ::close(socket_);
  socket_ = -1;
  lookup_.reset();
  requestText_.clear();
  requestText_.shrink_to_fit();
  std::string().swap(inbox_);
  inboxPos_ = inboxScanned_ = 0;
  headerLines_.clear();
  file_.close();
  tls_.reset();
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
  waitForData_ = true;
  int32_t r;
  while ((r = sendStep()) == 0) {
    if (waitFor(pollFd(), pollEvents())) continue;
    if (mayTryNextAddress() && connectNext() == 0) continue;
    r = -1;
    failWith(ETIMEDOUT);
    break;
  }
  waitForData_ = false;
  state_ = r > 0 ? kSent : kFailed;
  if (r < 0) {
    requestText_.clear();
    requestText_.shrink_to_fit();
  }
  return r > 0 ? 0 : -1;
}

int32_t cHTTP::sendStep() {
  if (protocol_ == kHttps && !tls_) {
    // Still looking the host up: the transfer starts with its addresses.
    int32_t r = resolveStep();
    if (r <= 0) return r;
    return startTls() == 0 ? 1 : -1;
  }
  if (protocol_ != kHttp) return 1;
  // The deadline may pass between the caller's look at it and this one; a
  // connect that timed out still goes on with the next address.
  if (infoPastDeadline()) {
    if (mayTryNextAddress()) {
      lastErrno_ = ETIMEDOUT;
      return connectNext() < 0 ? -1 : 0;
    }
    failWith(ETIMEDOUT);
    return -1;
  }
  if (socket_ < 0) {
    // Still looking the host up.
    int32_t r = resolveStep();
    if (r <= 0) return r;
    return connectNext() < 0 ? -1 : 0;
  }
  if (nonBlocking_ && sentBytes_ == 0) {
    // Is the connect done? A refused one moves on to the next address.
    struct pollfd p = {socket_, POLLOUT, 0};
    if (::poll(&p, 1, 0) == 0) return 0;
    int error = 0;
    socklen_t len = sizeof error;
    if (::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
      raise("BUG", "cHTTP.sendRequest(); Getsocketopt SO_ERROR failed");
    if (error != 0) {
      lastErrno_ = error;
      return connectNext() < 0 ? -1 : 0;
    }
  }
  if (!nonBlocking_) setSendTimeout(socket_, static_cast<int32_t>(idleLimit().count()));
  while (sentBytes_ < requestText_.size()) {
    ssize_t n = ::send(socket_, requestText_.data() + sentBytes_, requestText_.size() - sentBytes_, MSG_NOSIGNAL);
    if (n >= 0) {
      sentBytes_ += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (nonBlocking_) return 0;  // no room yet
      lastErrno_ = ETIMEDOUT;
    } else {
      lastErrno_ = errno;
    }
    return -1;
  }
  requestText_.clear();
  requestText_.shrink_to_fit();
  return 1;
}

int64_t cHTTP::readSome(char* buffer, int64_t length) {
  if (protocol_ == kFile) return file_.read(buffer, length);
  if (protocol_ == kHttps) return readTls(buffer, length);
  const int fd = socket_;
  if (fd < 0) return 0;
  for (;;) {
    if (infoPastDeadline()) {
      failWith(ETIMEDOUT);
      return -1;
    }
    ssize_t n = ::recv(fd, buffer, static_cast<size_t>(length), MSG_DONTWAIT);
    if (n > 0) {
      lastByte_ = Clock::now();
      gotBytes_ = true;
      return n;
    }
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      lastErrno_ = errno;
      return -1;
    }
    if (nonBlocking_ && !waitForData_) return kNoDataYet;
    if (!waitFor(fd, POLLIN)) {
      failWith(ETIMEDOUT);
      return -1;
    }
  }
}

int64_t cHTTP::readTls(char* buffer, int64_t length) {
  if (!tls_) return 0;
  for (;;) {
    if (infoPastDeadline()) {
      failWith(ETIMEDOUT);
      return -1;
    }
    int64_t n = tls_->read(buffer, length);
    if (n > 0) {
      lastByte_ = Clock::now();
      gotBytes_ = true;
      return n;
    }
    if (n == 0) return tlsTransferEnded();
    if (nonBlocking_ && !waitForData_) return kNoDataYet;
    if (!waitTls()) {
      failWith(ETIMEDOUT);
      return -1;
    }
  }
}

int64_t cHTTP::readMore(int64_t length) {
  if (inboxPos_ > 0 && inboxPos_ * 2 >= inbox_.size()) {
    inbox_.erase(0, inboxPos_);
    inboxPos_ = 0;
  }
  const size_t old = inbox_.size();
  inbox_.resize(old + static_cast<size_t>(length));
  int64_t n = readSome(inbox_.data() + old, length);
  inbox_.resize(old + static_cast<size_t>(std::max<int64_t>(n, 0)));
  return n;
}

int64_t cHTTP::get(char* buffer, int64_t length) {
  if (protocol_ == kNone) raise("EMU", "cHTTP.get(); not open");
  if (protocol_ != kHttp && protocol_ != kHttps && protocol_ != kFile) raise("BUG", "cHTTP.get(); unhandled protocol");
  int64_t n = readSome(buffer, length);
  if (n == kNoDataYet) {
    lastErrno_ = EAGAIN;
    return -1;
  }
  return n;
}

int32_t cHTTP::infoProtocolError() const {
  switch (protocol_) {
    case kNone:
      raise("EMU", "cHTTP.infoProtocolError(); not open");
    case kHttp:
    case kHttps:
      return errorOverride_ ? errorOverride_ : lastErrno_;
    case kFile:
      return errorOverride_ ? errorOverride_ : dos::ioErr();
  }
  raise("BUG", "cHTTP.infoProtocolError(); unhandled protocol");
}

bool cHTTP::isReady(int32_t milliseconds) {
  if (!nonBlocking_) raise("EMU", "cHTTP.isReady(); was not opened with nonBlocking=TRUE");
  if (protocol_ == kNone) raise("EMU", "cHTTP.isReady(); not open");
  if (infoPastDeadline() || infoHasReadAhead()) return true;
  if (milliseconds < 0) milliseconds = 0;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(infoDeadline() - Clock::now()).count();
  const int wait = static_cast<int>(std::clamp<int64_t>(left, 0, milliseconds));
  if (protocol_ == kHttps && !tls_ && !lookup_) return true;
  switch (protocol_ == kHttps && !tls_ ? kHttp : protocol_) {
    case kHttp: {  // a socket, or the name lookup
      const int fd = pollFd();
      if (fd < 0) return false;
      struct pollfd p = {fd, pollEvents(), 0};
      int r;
      do {
        r = ::poll(&p, 1, wait);
      } while (r < 0 && errno == EINTR);
      return (r > 0 && p.revents != 0) || infoPastDeadline();
    }
    case kHttps: {
      if (!tls_ || wakeMs() == 0) return true;
      std::vector<pollfd> set;
      tls_->addPollFds(set);
      const int64_t timer = tls_->timerMs();
      int r;
      do {
        r = ::poll(set.data(), set.size(), static_cast<int>(timer >= 0 ? std::min<int64_t>(timer, wait) : wait));
      } while (r < 0 && errno == EINTR);
      return r > 0 || tls_->timerMs() == 0 || infoPastDeadline();
    }
    default:
      return true;
  }
}

}  // namespace bw
