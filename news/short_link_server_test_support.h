// news/short_link_server_test_support.h - a loopback HTTP server that holds
// many connections at once (one thread each) and counts them, for the
// short-link tests and benchmark: each request's answer comes from a script
// given the request path, after the script's delay (a start of it may go
// first); a silent answer holds the connection until the server stops.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "web/http_test_support.h"

namespace bw::testing_news {

struct ShortAnswer {
  std::string response;  // the whole answer, status line first
  int delayMs = 0;
  bool silent = false;   // never answer
  std::string start;     // sent at once, before the delay (and the silence)
};

class ConcurrentServer {
 public:
  using Script = std::function<ShortAnswer(const std::string& path)>;

  explicit ConcurrentServer(Script script) : script_(std::move(script)) {
    listener_ = test::listenLoopback(1024, &port_);
    if (listener_ >= 0) acceptor_ = std::thread([this] { run(); });
  }
  ~ConcurrentServer() { stop(); }
  ConcurrentServer(const ConcurrentServer&) = delete;
  ConcurrentServer& operator=(const ConcurrentServer&) = delete;

  int port() const { return port_; }
  // "http://127.1:port/" + path: a 5-character host that resolves to
  // loopback.
  std::string url(const std::string& path) const { return "http://127.1:" + std::to_string(port_) + "/" + path; }

  void stop() {
    stopping_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
  }

  int connections() const { return accepted_; }
  int maxOpen() const { return maxOpen_; }
  // For each connection in accept order: how many had ended before it came.
  std::vector<int> endedBeforeEach() {
    std::lock_guard<std::mutex> lock(mutex_);
    return endedBefore_;
  }
  std::vector<std::string> paths() {
    std::lock_guard<std::mutex> lock(mutex_);
    return paths_;
  }

 private:
  void run() {
    while (!stopping_) {
      pollfd p = {listener_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        endedBefore_.push_back(ended_);
        ++accepted_;
        int now = ++open_;
        if (now > maxOpen_) maxOpen_ = now;
      }
      workers_.emplace_back([this, fd] { serve(fd); });
    }
  }

  void serve(int fd) {
    std::string request = test::LoopbackServer::readRequest(fd);
    size_t space = request.find(' ');
    size_t end = request.find(' ', space + 1);
    std::string path = space == std::string::npos || end == std::string::npos
                           ? std::string()
                           : request.substr(space + 2, end - space - 2);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      paths_.push_back(path);
    }
    ShortAnswer answer = script_(path);
    if (!answer.start.empty()) test::sendAll(fd, answer.start.data(), answer.start.size());
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(answer.delayMs);
    while (!stopping_ && (answer.silent || std::chrono::steady_clock::now() < until)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    {
      // Counted as ended before the rest of the answer goes out: the client
      // may end its request as soon as it has read the header, and must not
      // start its next one before the count moved.
      std::lock_guard<std::mutex> lock(mutex_);
      --open_;
      ++ended_;
    }
    if (!answer.silent) test::sendAll(fd, answer.response.data(), answer.response.size());
    ::close(fd);
  }

  Script script_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread acceptor_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::atomic<int> accepted_{0};
  int open_ = 0;
  std::atomic<int> maxOpen_{0};
  int ended_ = 0;
  std::vector<int> endedBefore_;
  std::vector<std::string> paths_;
};

}  // namespace bw::testing_news
