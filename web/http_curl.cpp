// web/http_curl.cpp - the https transport through libcurl (see
// http_curl.h).
#include "web/http_curl.h"

#include "core/ascii_case.h"
#include "web/http.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <sys/socket.h>

namespace bw {

// The connections, TLS sessions and name lookups that one thread's
// transfers share: a request to a host that an earlier request of the
// thread left a kept-alive connection to goes over that connection, with
// no new TCP and TLS handshake, and a new connection resumes the TLS
// session. One per thread, as libcurl shares connections within a thread
// only; a cHTTP runs on the thread that opened it. Each transfer holds the
// share it started with, so a share the thread gives up (dropShare) ends,
// closing its connections, with the last transfer that uses it.
class ThreadShare {
 public:
  ThreadShare() : share_(curl_share_init()) {
    if (!share_) return;
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  }
  ~ThreadShare() {
    if (share_) curl_share_cleanup(share_);
  }
  ThreadShare(const ThreadShare&) = delete;
  ThreadShare& operator=(const ThreadShare&) = delete;
  CURLSH* get() const { return share_; }

 private:
  CURLSH* share_;
};

namespace {

using Clock = std::chrono::steady_clock;

std::once_flag gCurlReady;

// The status code of a status line "HTTP/x.y nnn ...", else 0.
int statusOfLine(std::string_view line) {
  if (line.size() < 12 || line.substr(0, 5) != "HTTP/") return 0;
  size_t space = line.find(' ');
  if (space == std::string_view::npos || space + 4 > line.size()) return 0;
  int code = 0;
  for (size_t i = space + 1; i < space + 4; ++i) {
    if (line[i] < '0' || line[i] > '9') return 0;
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

std::shared_ptr<ThreadShare>& threadShareSlot() {
  thread_local std::shared_ptr<ThreadShare> share;
  return share;
}

std::shared_ptr<ThreadShare> threadShare() {
  std::shared_ptr<ThreadShare>& share = threadShareSlot();
  if (!share) share = std::make_shared<ThreadShare>();
  return share;
}

// The thread's later transfers take a new share when share is its current one.
void dropShare(const std::shared_ptr<ThreadShare>& share) {
  if (threadShareSlot() == share) threadShareSlot().reset();
}

// Whether bytes wait on a socket whose answer came whole (a close by the
// server is none: curl finds that connection dead before it reuses it).
bool inputWaits(curl_socket_t fd) {
  char byte;
  return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

}  // namespace

void initCurlTransport() {
  std::call_once(gCurlReady, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// libcurl stays set up until the process ends: a later start of the HTTP
// module must find it ready, and curl_global_init runs only once.
void endCurlTransport() {}

std::unique_ptr<CurlTransfer> CurlTransfer::start(const CurlRequest& request) {
  initCurlTransport();
  std::unique_ptr<CurlTransfer> t(new CurlTransfer());
  t->multi_ = curl_multi_init();
  t->easy_ = curl_easy_init();
  if (!t->multi_ || !t->easy_) return nullptr;
  CURL* e = t->easy_;
  curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
  t->share_ = threadShare();
  if (t->share_->get()) curl_easy_setopt(e, CURLOPT_SHARE, t->share_->get());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!request.caFile.empty()) curl_easy_setopt(e, CURLOPT_CAINFO, request.caFile.c_str());
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t->errorBuffer_);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlTransfer::onBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get());
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlTransfer::onHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, t.get());
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 256L * 1024);
  curl_easy_setopt(e, CURLOPT_DEBUGFUNCTION, &CurlTransfer::onDebug);
  curl_easy_setopt(e, CURLOPT_DEBUGDATA, t.get());
  curl_easy_setopt(e, CURLOPT_VERBOSE, 1L);
  curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &CurlTransfer::onConnected);
  curl_easy_setopt(e, CURLOPT_PREREQDATA, t.get());
  if (!request.user.empty()) {
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(e, CURLOPT_USERNAME, request.user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, request.password.c_str());
  }
  for (const std::string& line : request.headers) {
    curl_slist* grown = curl_slist_append(t->headerList_, line.c_str());
    if (!grown) return nullptr;
    t->headerList_ = grown;
  }
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, t->headerList_);
  for (const std::string& entry : request.resolve) {
    curl_slist* grown = curl_slist_append(t->resolveList_, entry.c_str());
    if (!grown) return nullptr;
    t->resolveList_ = grown;
  }
  if (t->resolveList_) curl_easy_setopt(e, CURLOPT_RESOLVE, t->resolveList_);
#if LIBCURL_VERSION_NUM >= 0x075700
  // Closing leaves a lookup of curl's own behind instead of waiting for it.
  curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
#endif
  if (request.post) {
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(e, CURLOPT_COPYPOSTFIELDS, request.body.c_str());
  }
  // The thread's shared connections are held to this many, beyond the one
  // transfer of this multi handle.
  curl_multi_setopt(t->multi_, CURLMOPT_MAXCONNECTS, 32L);
  curl_multi_setopt(t->multi_, CURLMOPT_SOCKETFUNCTION, &CurlTransfer::onSocket);
  curl_multi_setopt(t->multi_, CURLMOPT_SOCKETDATA, t.get());
  curl_multi_setopt(t->multi_, CURLMOPT_TIMERFUNCTION, &CurlTransfer::onTimer);
  curl_multi_setopt(t->multi_, CURLMOPT_TIMERDATA, t.get());
  if (curl_multi_add_handle(t->multi_, e) != CURLM_OK) return nullptr;
  return t;
}

CurlTransfer::~CurlTransfer() {
  if (multi_ && easy_) curl_multi_remove_handle(multi_, easy_);
  if (easy_) curl_easy_cleanup(easy_);
  if (multi_) curl_multi_cleanup(multi_);
  curl_slist_free_all(headerList_);
  curl_slist_free_all(resolveList_);
}

size_t CurlTransfer::onBody(char* data, size_t size, size_t count, void* self) {
  auto* t = static_cast<CurlTransfer*>(self);
  t->inbox_.append(data, size * count);
  return size * count;
}

// Header lines go into the inbox as they came, up to the empty line that
// ends the final (non-1xx) block; trailers after the body are dropped.
// The transfer ends there when no byte of the body could be read: a
// folded line, or a block naming a coding that cHTTP refuses (a transfer
// coding but one "chunked", any content coding), so that curl never
// inflates a body only to have it refused. cHTTP reads the lines and
// refuses the answer in its own words.
size_t CurlTransfer::onHeader(char* data, size_t size, size_t count, void* self) {
  auto* t = static_cast<CurlTransfer*>(self);
  const size_t n = size * count;
  if (t->headerEnded_) return n;
  std::string_view line(data, n);
  t->inbox_.append(line);
  if (line == "\r\n" || line == "\n") {
    if (t->interimStatus_ < 100 || t->interimStatus_ > 199) {
      t->headerEnded_ = true;
      if (t->refusedCoding_ || t->transferCodings_ > 1) return 0;
    }
  } else if (int code = statusOfLine(line)) {
    t->interimStatus_ = code;
    t->transferCodings_ = 0;
    t->refusedCoding_ = false;
  } else if (t->folded_) {
    return 0;
  } else {
    t->noteCodings(line);
  }
  return n;
}

// Counts the transfer codings of a header line and notes one that is not
// "chunked", or any content coding ("identity" and empty items name none).
void CurlTransfer::noteCodings(std::string_view line) {
  const bool transfer = startsWithNoCase(line, "Transfer-Encoding:");
  if (!transfer && !startsWithNoCase(line, "Content-Encoding:")) return;
  line.remove_prefix(line.find(':') + 1);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  while (!line.empty()) {
    const size_t comma = std::min(line.find(','), line.size());
    std::string_view item = trimBlanks(line.substr(0, comma));
    if (!item.empty() && !equalsNoCase(item, "identity")) {
      if (transfer) ++transferCodings_;
      if (!transfer || !equalsNoCase(item, "chunked")) refusedCoding_ = true;
    }
    line.remove_prefix(std::min(comma + 1, line.size()));
  }
}

// curl shows the lines it read here before it reads them itself, and
// takes a folded line right after the status line for a fault of its own
// (a bad argument): such a line goes into the inbox from here, and the
// transfer ends at it.
int CurlTransfer::onDebug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
  auto* t = static_cast<CurlTransfer*>(self);
  if (type == CURLINFO_TEXT && std::string_view(data, size).starts_with("Excess found")) t->excess_ = true;
  if (type != CURLINFO_HEADER_IN || t->headerEnded_ || t->folded_ || size == 0) return 0;
  if (data[0] == ' ' || data[0] == '\t') {
    t->folded_ = true;
    t->inbox_.append(data, size);
  }
  return 0;
}

int CurlTransfer::onSocket(CURL*, curl_socket_t fd, int what, void* self, void*) {
  auto* t = static_cast<CurlTransfer*>(self);
  std::erase_if(t->sockets_, [fd](const pollfd& p) { return p.fd == fd; });
  if (what != CURL_POLL_REMOVE) {
    short events = 0;
    if (what & CURL_POLL_IN) events |= POLLIN;
    if (what & CURL_POLL_OUT) events |= POLLOUT;
    t->sockets_.push_back({fd, events, 0});
  }
  return 0;
}

int CurlTransfer::onTimer(CURLM*, long ms, void* self) {
  auto* t = static_cast<CurlTransfer*>(self);
  t->timerSet_ = ms >= 0;
  if (ms >= 0) t->timerAt_ = Clock::now() + std::chrono::milliseconds(ms);
  return 0;
}

int CurlTransfer::onConnected(void* self, char*, char*, int, int) {
  static_cast<CurlTransfer*>(self)->connected_ = true;
  return CURL_PREREQFUNC_OK;
}

void CurlTransfer::action(int fd, int events) {
  int running = 0;
  curl_multi_socket_action(multi_, fd, events, &running);
  int left = 0;
  while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
    if (msg->msg != CURLMSG_DONE) continue;
    finished_ = true;
    code_ = static_cast<int32_t>(msg->data.result);
    errorText_ = errorBuffer_[0] ? errorBuffer_ : curl_easy_strerror(msg->data.result);
    long osError = 0;
    if (curl_easy_getinfo(easy_, CURLINFO_OS_ERRNO, &osError) == CURLE_OK) osError_ = static_cast<int>(osError);
    // A kept connection on which bytes wait that no answer claimed (a body
    // sent with a 204 or 304 or beyond a stated length of 0), on its socket
    // or found by curl beyond the answer, would hand them to the next
    // request as its answer; over http every request has a connection of
    // its own. The thread's later transfers start on a new share, and
    // this one closes the connection when its last transfer ends.
    curl_socket_t kept = CURL_SOCKET_BAD;
    if (excess_ || (curl_easy_getinfo(easy_, CURLINFO_ACTIVESOCKET, &kept) == CURLE_OK && kept != CURL_SOCKET_BAD &&
                    inputWaits(kept))) {
      dropShare(share_);
    }
  }
}

void CurlTransfer::drive() {
  if (finished_) return;
  if (!sockets_.empty()) {
    std::vector<pollfd> ready = sockets_;  // the callbacks change sockets_
    int r;
    do {
      r = ::poll(ready.data(), ready.size(), 0);
    } while (r < 0 && errno == EINTR);
    for (size_t i = 0; r > 0 && i < ready.size() && !finished_; ++i) {
      if (ready[i].revents == 0) continue;
      int events = 0;
      if (ready[i].revents & (POLLIN | POLLHUP)) events |= CURL_CSELECT_IN;
      if (ready[i].revents & POLLOUT) events |= CURL_CSELECT_OUT;
      if (ready[i].revents & (POLLERR | POLLNVAL)) events |= CURL_CSELECT_ERR;
      action(ready[i].fd, events);
    }
  }
  if (!finished_ && timerSet_ && Clock::now() >= timerAt_) {
    timerSet_ = false;
    action(CURL_SOCKET_TIMEOUT, 0);
  }
}

int64_t CurlTransfer::read(char* buffer, int64_t length) {
  if (inboxPos_ == inbox_.size()) {
    inbox_.clear();
    inboxPos_ = 0;
    drive();
  }
  const size_t avail = inbox_.size() - inboxPos_;
  if (avail == 0) return finished_ ? 0 : kNothingYet;
  const size_t n = std::min(avail, static_cast<size_t>(length));
  std::memcpy(buffer, inbox_.data() + inboxPos_, n);
  inboxPos_ += n;
  return static_cast<int64_t>(n);
}

void CurlTransfer::addPollFds(std::vector<pollfd>& set) const {
  for (const pollfd& p : sockets_) set.push_back({p.fd, p.events, 0});
}

int64_t CurlTransfer::timerMs() const {
  if (finished_ || !timerSet_) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(timerAt_ - Clock::now()).count();
  return std::max<int64_t>(left, 0);
}

}  // namespace bw
