// web/http_resolver.h - host name lookups for the HTTP client, off the
// caller's thread, shared and cached per host.
//
// A lookup runs getaddrinfo (any address family, stream sockets) on a
// small pool of detached threads that do nothing else; the caller waits on
// the lookup's descriptor, which becomes readable once the answer is in, so
// a request watcher can poll it beside its sockets. http and https requests
// share the pool and its answers.
//
// Invariants:
//   1. One lookup per host at a time: requests for a host being looked up
//      share its lookup; an answer is reused for kHostCacheSeconds, a
//      failure never.
//   2. A numeric host ("127.0.0.1", "::1") is answered at once, without a
//      thread.
//   3. The fields of a lookup other than `fd` are the worker's until
//      done() answers true, and read-only afterwards.
//   4. Nobody ever waits for a lookup beyond their own deadline: a caller
//      drops its lookup when it gives up, and stopHostResolver (the
//      module's end, so the process's end too) ends the idle workers and
//      forgets the cache without waiting for lookups under way, whose
//      threads end on their own when getaddrinfo returns. The next lookup
//      starts a new pool.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace bw {

struct HostLookup {
  HostLookup();
  ~HostLookup();
  HostLookup(const HostLookup&) = delete;
  HostLookup& operator=(const HostLookup&) = delete;

  bool done() const { return done_.load(std::memory_order_acquire); }
  void finish(int error, std::vector<sockaddr_storage> found);

  int fd = -1;                              // readable once done
  int error = 0;                            // 0, or why no address came
  std::vector<sockaddr_storage> addresses;  // port 0
  std::chrono::steady_clock::time_point finishedAt;

 private:
  std::atomic<bool> done_{false};
};

inline constexpr int kHostCacheSeconds = 300;

// The lookup of host (without brackets): cached, under way, or new.
std::shared_ptr<HostLookup> lookupHost(const std::string& host);

// Ends the idle resolver threads and forgets the cache; returns at once.
void stopHostResolver();

// Replaces getaddrinfo for the tests (a resolver that never answers, or
// one that counts): answers 0 with the addresses, or an errno. An empty
// function puts getaddrinfo back. A worker may still run the function after
// it was replaced or the pool stopped: it must not refer to what its
// caller frees.
using HostResolveFunction = std::function<int(const std::string& host, std::vector<sockaddr_storage>* found)>;
void setHostResolveFunction(HostResolveFunction resolve);

}  // namespace bw
