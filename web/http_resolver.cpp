// web/http_resolver.cpp - the resolver pool and its cache (see
// http_resolver.h).
#include "web/http_resolver.h"

#include <netdb.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <algorithm>
#include <map>
#include <mutex>
#include <thread>

namespace bw {
namespace {

constexpr size_t kMaxWorkers = 64;

int systemResolve(const std::string& host, int flags, std::vector<sockaddr_storage>* found) {
  struct addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  struct addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list) return EHOSTUNREACH;
  for (struct addrinfo* a = list; a; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    sockaddr_storage s = {};
    std::memcpy(&s, a->ai_addr, std::min<size_t>(a->ai_addrlen, sizeof s));
    found->push_back(s);
  }
  ::freeaddrinfo(list);
  return found->empty() ? EHOSTUNREACH : 0;
}

struct Job {
  std::string host;
  std::shared_ptr<HostLookup> lookup;
};

// The pool: a queue of lookups, the threads that answer them, and the
// answers by host. The threads are detached and each holds the pool: a
// lookup that never answers keeps its thread, never the caller.
struct Resolver {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Job> queue;
  size_t workers = 0;
  size_t idle = 0;
  bool stopping = false;
  std::map<std::string, std::shared_ptr<HostLookup>> byHost;
  HostResolveFunction resolve;

  static void work(std::shared_ptr<Resolver> self) {
    Resolver& r = *self;
    std::unique_lock<std::mutex> lock(r.mutex);
    for (;;) {
      ++r.idle;
      r.wake.wait(lock, [&] { return r.stopping || !r.queue.empty(); });
      --r.idle;
      if (r.queue.empty()) break;  // stopping
      Job job = std::move(r.queue.front());
      r.queue.pop_front();
      HostResolveFunction fn = r.resolve;
      lock.unlock();
      std::vector<sockaddr_storage> found;
      int error = fn ? fn(job.host, &found) : systemResolve(job.host, 0, &found);
      job.lookup->finish(error, std::move(found));
      job = Job();
      lock.lock();
    }
    --r.workers;
  }
};

std::mutex gResolverMutex;
std::shared_ptr<Resolver> gResolver;

Resolver& resolver() {
  if (!gResolver) gResolver = std::make_shared<Resolver>();
  return *gResolver;
}

}  // namespace

HostLookup::HostLookup() { fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

HostLookup::~HostLookup() {
  if (fd >= 0) ::close(fd);
}

void HostLookup::finish(int why, std::vector<sockaddr_storage> found) {
  error = why;
  addresses = std::move(found);
  finishedAt = std::chrono::steady_clock::now();
  done_.store(true, std::memory_order_release);
  uint64_t one = 1;
  (void)!::write(fd, &one, sizeof one);
}

std::shared_ptr<HostLookup> lookupHost(const std::string& host) {
  std::lock_guard<std::mutex> outer(gResolverMutex);
  Resolver& r = resolver();
  std::unique_lock<std::mutex> lock(r.mutex);

  auto cached = r.byHost.find(host);
  if (cached != r.byHost.end()) {
    const std::shared_ptr<HostLookup>& l = cached->second;
    if (!l->done()) return l;  // under way: share it
    if (l->error == 0 && std::chrono::steady_clock::now() - l->finishedAt < std::chrono::seconds(kHostCacheSeconds))
      return l;
    r.byHost.erase(cached);
  }
  auto lookup = std::make_shared<HostLookup>();
  std::vector<sockaddr_storage> found;
  if (systemResolve(host, AI_NUMERICHOST, &found) == 0) {
    lookup->finish(0, std::move(found));
    return lookup;
  }
  r.byHost[host] = lookup;
  r.queue.push_back({host, lookup});
  if (r.idle < r.queue.size() && r.workers < kMaxWorkers) {
    ++r.workers;
    std::thread(&Resolver::work, gResolver).detach();
  }
  r.wake.notify_one();
  return lookup;
}

// Idle threads end at once; a thread inside a lookup ends when the lookup
// returns, on its own, holding the old pool until then.
void stopHostResolver() {
  std::lock_guard<std::mutex> outer(gResolverMutex);
  if (!gResolver) return;
  {
    std::lock_guard<std::mutex> lock(gResolver->mutex);
    gResolver->stopping = true;
    gResolver->queue.clear();
  }
  gResolver->wake.notify_all();
  gResolver.reset();
}

void setHostResolveFunction(HostResolveFunction resolve) {
  std::lock_guard<std::mutex> outer(gResolverMutex);
  Resolver& r = resolver();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.resolve = std::move(resolve);
  r.byHost.clear();
}

}  // namespace bw
