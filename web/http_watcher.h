// web/http_watcher.h - cHTTPwatcher: waits on many non-blocking requests
// at once and hands out one that can make progress.
//
// The list is intrusive (each request's watcher, watchPrev, watchNext); the
// watcher does not own its requests. http and https requests are waited on
// together in one poll(): http sockets, name lookups, and the sockets of
// https transfers, whose own timers also bound the wait and make a request
// ready when due; "file" requests are asked their own isReady, before and
// after the wait. One poll serves a batch: the requests it found ready are handed
// out in list order before the next poll. A request past one of its
// deadlines is handed out as ready (its next step fails), and so is one
// whose body begins from bytes read with its header; no wait outlasts the
// nearest deadline; time the caller held (holdDeadlines) does not count
// toward them. A request handed out moves to the end of the list, so a busy
// request cannot starve the others.
//
// Invariants:
//   1. A request is in at most one watcher, exactly when its watcher field
//      points at it.
//   2. The poll set is sized on add, so waiting never allocates; any
//      number of descriptors can be waited on.
//   3. maxSocket is the highest socket of the watched requests (-1: none),
//      kept up to date on add, remove, open and close.
//   4. Requests that are not open are never asked anything.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/object.h"

namespace bw {

class cHTTP;

class cHTTPwatcher : public class_base {
  BW_CLASS(cHTTPwatcher, class_base)
 public:
  cHTTPwatcher() = default;
  ~cHTTPwatcher() override;  // removes every request still watched
  cHTTPwatcher(const cHTTPwatcher&) = delete;
  cHTTPwatcher& operator=(const cHTTPwatcher&) = delete;

  // Appends http; notes its socket when it is open (unless skipSocketUpdate).
  void add(cHTTP* http, bool skipSocketUpdate);
  // Unlinks http; recomputes maxSocket without it when it is open (unless
  // skipSocketUpdate).
  void remove(cHTTP* http, bool skipSocketUpdate);
  // Insists that http is non-blocking; raises maxSocket to its socket.
  void noteSocket(cHTTP* http);
  // maxSocket over the other requests, when except has a socket.
  void recalcMaxSocket(cHTTP* except);
  // Waits up to timeout milliseconds for a request that can make progress
  // and returns it, moved to the end; nullptr when none became ready.
  cHTTP* isReady(int32_t timeout);

  // Time the caller kept away from its requests (the user paused, a
  // requester waited): the deadlines of every watched open request move on
  // by it, so it counts neither as silence nor toward the whole request.
  void holdDeadlines(std::chrono::steady_clock::duration held);

  cHTTP* first() const { return first_; }
  cHTTP* last() const { return last_; }
  int infoMaxSocket() const { return maxSocket_; }

 private:
  static bool isSocketless(const cHTTP* http);
  cHTTP* pollSocketless(cHTTP* from, cHTTP* upTo);
  cHTTP* pastDeadline(int32_t* wait);
  void moveToEnd(cHTTP* http);
  cHTTP* takeFromBatch();
  cHTTP* first_ = nullptr;
  cHTTP* last_ = nullptr;
  int maxSocket_ = -1;
  size_t count_ = 0;
  std::vector<pollfd> pollSet_;
  std::vector<cHTTP*> pollOwners_;
  // Requests the last poll found ready and not yet handed out (from
  // readyNext_; removed ones are nulled).
  std::vector<cHTTP*> readyBatch_;
  size_t readyNext_ = 0;
};

}  // namespace bw
