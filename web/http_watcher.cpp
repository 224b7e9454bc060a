// web/http_watcher.cpp - the request watcher (see http_watcher.h).
#include "web/http_watcher.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "core/exception.h"
#include "web/http.h"

namespace bw {

cHTTPwatcher::~cHTTPwatcher() {
  while (first_) remove(first_, false);
}

void cHTTPwatcher::add(cHTTP* http, bool skipSocketUpdate) {
  if (http->watcher_) raise("EMU", "cHTTPwatcher.add(); http object was already added (1)");
  if (http->watchPrev_ || http->watchNext_) raise("EMU", "cHTTPwatcher.add(); http object was already added (2)");
  http->watchPrev_ = last_;
  if (last_) last_->watchNext_ = http;
  else first_ = http;
  last_ = http;
  http->watcher_ = this;
  ++count_;
  if (pollSet_.capacity() < count_) {
    pollSet_.reserve(count_ * 2);
    pollOwners_.reserve(count_ * 2);
    readyBatch_.reserve(count_ * 2);
  }
  if (!skipSocketUpdate && http->infoIsOpen()) noteSocket(http);
}

void cHTTPwatcher::remove(cHTTP* http, bool skipSocketUpdate) {
  if (http->watcher_ != this) raise("EMU", "cHTTPwatcher.remove(); http object was not added to this object");
  if (!http->watchPrev_ && !http->watchNext_ && first_ != http)
    raise("EMU", "cHTTPwatcher.remove(); http object already removed (or was never added)");
  if (http->watchPrev_) http->watchPrev_->watchNext_ = http->watchNext_;
  else first_ = http->watchNext_;
  if (http->watchNext_) http->watchNext_->watchPrev_ = http->watchPrev_;
  else last_ = http->watchPrev_;
  http->watchPrev_ = http->watchNext_ = nullptr;
  --count_;
  for (size_t i = readyNext_; i < readyBatch_.size(); ++i)
    if (readyBatch_[i] == http) readyBatch_[i] = nullptr;
  if (!skipSocketUpdate && http->infoIsOpen()) recalcMaxSocket(http);
  http->watcher_ = nullptr;
}

void cHTTPwatcher::noteSocket(cHTTP* http) {
  if (!http->nonBlocking_)
    raise("EMU", "cHTTPwatcher.add()/cHTTP.open(); http was not opened with nonBlocking=TRUE");
  if (http->socket_ > maxSocket_) maxSocket_ = http->socket_;
}

void cHTTPwatcher::recalcMaxSocket(cHTTP* except) {
  if (except->socket_ < 0) return;
  maxSocket_ = -1;
  for (cHTTP* h = first_; h; h = h->watchNext_)
    if (h != except && h->socket_ > maxSocket_) maxSocket_ = h->socket_;
}

// A request that has nothing to wait on in the poll: a file, or one not
// open.
bool cHTTPwatcher::isSocketless(const cHTTP* http) {
  return http->protocol_ != cHTTP::kHttp && http->protocol_ != cHTTP::kHttps;
}

// The first open request without a descriptor in [from, upTo) that is
// ready now.
cHTTP* cHTTPwatcher::pollSocketless(cHTTP* from, cHTTP* upTo) {
  for (cHTTP* h = from; h && h != upTo; h = h->watchNext_)
    if (isSocketless(h) && h->infoIsOpen() && h->isReady(0)) return h;
  return nullptr;
}

// The first open request past one of its deadlines or with its body to
// begin from read-ahead bytes; the time to the nearest deadline of the
// others in *wait (milliseconds, never raised).
cHTTP* cHTTPwatcher::pastDeadline(int32_t* wait) {
  const auto now = std::chrono::steady_clock::now();
  for (cHTTP* h = first_; h; h = h->watchNext_) {
    if (!h->infoIsOpen() || h->state_ == cHTTP::kFailed) continue;
    if (h->infoHasReadAhead()) return h;
    // An https transfer whose timer is due, or that has bytes waiting.
    if (const int64_t wake = h->wakeMs(); wake == 0) return h;
    else if (wake > 0 && wake < *wait) *wait = static_cast<int32_t>(wake);
    auto left = std::chrono::ceil<std::chrono::milliseconds>(h->infoDeadline() - now).count();
    if (left <= 0 && h->infoPastDeadline()) return h;
    if (left < *wait) *wait = static_cast<int32_t>(std::max<int64_t>(left, 0));
  }
  return nullptr;
}

void cHTTPwatcher::holdDeadlines(std::chrono::steady_clock::duration held) {
  for (cHTTP* h = first_; h; h = h->watchNext_) {
    if (!h->infoIsOpen()) continue;
    h->started_ += held;
    h->lastByte_ += held;
  }
}

void cHTTPwatcher::moveToEnd(cHTTP* http) {
  if (http == last_) return;
  if (http->watchPrev_) http->watchPrev_->watchNext_ = http->watchNext_;
  else first_ = http->watchNext_;
  http->watchNext_->watchPrev_ = http->watchPrev_;
  http->watchPrev_ = last_;
  http->watchNext_ = nullptr;
  last_->watchNext_ = http;
  last_ = http;
}

cHTTP* cHTTPwatcher::takeFromBatch() {
  while (readyNext_ < readyBatch_.size()) {
    if (cHTTP* h = readyBatch_[readyNext_++]) return h;
  }
  readyBatch_.clear();
  readyNext_ = 0;
  return nullptr;
}

cHTTP* cHTTPwatcher::isReady(int32_t timeout) {
  if (!first_) return nullptr;
  if (timeout < 0) timeout = 0;

  // Requests the last wait found ready are handed out, in list order,
  // before the next wait: one poll serves a whole batch.
  cHTTP* result = takeFromBatch();
  if (!result) {
    // 0. A request past a deadline is ready: its next step fails; so is one
    //    whose body begins from bytes read ahead. The wait below ends no
    //    later than the nearest deadline.
    result = pastDeadline(&timeout);
  }
  if (result) {
    moveToEnd(result);
    return result;
  }

  // 1. Quick poll of the socketless requests at the head of the list.
  for (cHTTP* h = first_; h && isSocketless(h); h = h->watchNext_) {
    if (h->infoIsOpen() && h->isReady(0)) {
      result = h;
      break;
    }
  }

  // 2. Wait on the sockets (and the descriptors of name lookups and of
  //    https transfers, whose timers bound the wait), then poll the
  //    socketless requests before the one found.
  bool anyPolled = false;
  if (!result) {
    pollSet_.clear();
    pollOwners_.clear();
    for (cHTTP* h = first_; h; h = h->watchNext_) {
      if (isSocketless(h)) continue;
      anyPolled = true;
      pollOwners_.insert(pollOwners_.end(), h->addPollFds(pollSet_), h);
    }
  }
  if (!result && anyPolled) {
    int r;
    do {
      r = ::poll(pollSet_.data(), pollSet_.size(), timeout);
    } while (r < 0 && errno == EINTR);
    if (r > 0) {
      // A request with several descriptors joins the batch once.
      for (size_t i = 0; i < pollSet_.size(); ++i)
        if (pollSet_[i].revents != 0 && (readyBatch_.empty() || readyBatch_.back() != pollOwners_[i]))
          readyBatch_.push_back(pollOwners_[i]);
      result = takeFromBatch();
    }
    if (cHTTP* before = pollSocketless(first_, result)) {
      if (result) --readyNext_;  // still due, after the socketless one
      result = before;
    }
  }

  // 3. Only socketless requests: the first gets the whole time-out.
  if (!result && timeout != 0 && !anyPolled) {
    cHTTP* head = first_;
    if (!isSocketless(head)) raise("BUG", "cHTTPwatcher.isReady(); head somehow has a socket");
    if (head->infoIsOpen() && head->isReady(timeout)) {
      result = head;
    } else {
      for (cHTTP* h = first_; h; h = h->watchNext_) {
        if (!isSocketless(h)) raise("BUG", "cHTTPwatcher.isReady(); node somehow has a socket");
        if (h->infoIsOpen() && h->isReady(0)) {
          result = h;
          break;
        }
      }
    }
  }

  if (!result) result = pastDeadline(&timeout);
  if (result) moveToEnd(result);
  return result;
}

}  // namespace bw
