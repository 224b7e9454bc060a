// app/update_server_test_support.h - loopback feed servers for the update
// tests and benchmark: each listens on its own address (127.0.0.1,
// 127.0.0.2, ...) and is named by the host its URLs carry (an address or
// "localhost"); every connection is served in a thread of its own, so
// several may be open at once, and one log shared by the servers records
// when each connection opened and closed.
//
// A connection counts as open from accept until its answer's last piece is
// about to go out (the client cannot be done with it before), or, for one
// that is never answered, until the client closes it. Answers carry a
// Content-Length and are looked up by path; an unknown path gets a 404.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "web/http_test_support.h"

namespace bw::testing_app {

// What a path answers.
struct ServedAnswer {
  std::string body;
  int delayMs = 0;      // before the answer begins
  int status = 200;
  int chunks = 1;       // the body in this many pieces ...
  int chunkPauseMs = 0;  // ... with this pause between them
  bool hang = false;    // accept, read the request, never answer
};

// Each connection's host, path and the numbers of the events that opened
// and closed it (closed -1 while open).
class ConnectionLog {
 public:
  struct Connection {
    std::string host, path;
    int opened = 0, closed = -1;
  };
  int open(const std::string& host) {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.push_back({host, "", ++events_, -1});
    return static_cast<int>(connections_.size()) - 1;
  }
  void named(int id, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_[id].path = path;
  }
  void close(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    connections_[id].closed = ++events_;
  }
  int requestsFor(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(std::count_if(connections_.begin(), connections_.end(),
                                          [&](const Connection& c) { return c.path == path; }));
  }
  // The most connections open at once so far (mostOpenAtOnce).
  int maxOpen();
  // The connections from the from-th on.
  std::vector<Connection> connections(size_t from = 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    return {connections_.begin() + static_cast<std::ptrdiff_t>(std::min(from, connections_.size())),
            connections_.end()};
  }

 private:
  std::mutex mutex_;
  std::vector<Connection> connections_;
  int events_ = 0;
};

// The most of these connections open at once (perHost: to one host).
inline int mostOpenAtOnce(const std::vector<ConnectionLog::Connection>& all, bool perHost) {
  int most = 0;
  for (const auto& c : all) {
    int open = 0;
    for (const auto& d : all)
      open += (!perHost || d.host == c.host) && d.opened <= c.opened && (d.closed == -1 || d.closed > c.opened);
    most = std::max(most, open);
  }
  return most;
}

inline int ConnectionLog::maxOpen() { return mostOpenAtOnce(connections(), false); }

class FeedHostServer {
 public:
  // address: the IPv4 address to listen on; host: the name URLs carry.
  FeedHostServer(ConnectionLog& log, const char* address, std::string host) : log_(log), host_(std::move(host)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &a.sin_addr);
    socklen_t len = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listener_, 64) != 0) {
      ::close(listener_);
      listener_ = -1;
      return;
    }
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~FeedHostServer() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    for (std::thread& t : served_) t.join();
    if (listener_ >= 0) ::close(listener_);
  }
  FeedHostServer(const FeedHostServer&) = delete;
  FeedHostServer& operator=(const FeedHostServer&) = delete;

  bool listening() const { return listener_ >= 0; }
  void put(const std::string& path, ServedAnswer answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_[path] = std::move(answer);
  }
  std::string url(const std::string& path) const {
    return "http://" + host_ + ":" + std::to_string(port_) + path;
  }
  const std::string& host() const { return host_; }

 private:
  void acceptLoop() {
    while (!stop_) {
      pollfd p = {listener_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      const int id = log_.open(host_);
      served_.emplace_back([this, fd, id] { serve(fd, id); });
    }
  }
  // Waits up to ms (or for ever with -1) for the client to close; false
  // when the server is stopping first.
  bool waitForClose(int fd, int ms) {
    for (int waited = 0; !stop_ && (ms < 0 || waited < ms); waited += 10) {
      pollfd h = {fd, POLLIN, 0};
      char buf[512];
      if (::poll(&h, 1, 10) > 0 && ::recv(fd, buf, sizeof buf, 0) <= 0) return true;
    }
    return false;
  }
  void pause(int ms) {
    for (int waited = 0; !stop_ && waited < ms; waited += 5) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  void serve(int fd, int id) {
    const std::string request = test::LoopbackServer::readRequest(fd);
    const size_t start = request.find(' ') + 1;
    const std::string path = request.substr(start, request.find(' ', start) - start);
    log_.named(id, path);
    ServedAnswer answer;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = answers_.find(path);
      answer = it != answers_.end() ? it->second : ServedAnswer{"gone", 0, 404};
    }
    if (answer.hang) {
      waitForClose(fd, -1);
    } else {
      pause(answer.delayMs);
      const std::string head = "HTTP/1.0 " + std::to_string(answer.status) + " Answer\r\nContent-Length: " +
                               std::to_string(answer.body.size()) + "\r\n\r\n";
      std::vector<std::string> pieces{head};
      const size_t piece = answer.body.size() / std::max(1, answer.chunks) + 1;
      for (size_t at = 0; at < answer.body.size(); at += piece) pieces.push_back(answer.body.substr(at, piece));
      if (answer.chunks <= 1) pieces = {head + answer.body};
      for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 1) pause(answer.chunkPauseMs);
        if (i + 1 == pieces.size()) log_.close(id);
        if (!test::sendAll(fd, pieces[i].data(), pieces[i].size())) {
          if (i + 1 < pieces.size()) log_.close(id);
          break;
        }
      }
      waitForClose(fd, 10000);
      ::close(fd);
      return;
    }
    log_.close(id);
    ::close(fd);
  }

  ConnectionLog& log_;
  std::string host_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::vector<std::thread> served_;  // touched by the acceptor only, until it is joined
  std::mutex mutex_;
  std::map<std::string, ServedAnswer> answers_;
};

}  // namespace bw::testing_app
