// social/fake_service_test_support.h - the loopback thread under the social
// services' stand-ins: each request on 127.0.0.1 is read whole, recorded and
// handed to the handler, whose answer is sent before the connection closes.
// Used by the fake APIs, the sign-in tests and tools/fakesocial (no test
// framework here).
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "web/http_test_support.h"

namespace bw::test {

// Serves until destroyed. A stand-in that keeps state declares its
// FakeService last, so that the thread stops before that state goes.
class FakeService {
 public:
  using Handler = std::function<std::string(const std::string& request)>;
  explicit FakeService(Handler handler) : handler_(std::move(handler)) {
    listener_ = listenLoopback(64, &port_);
    thread_ = std::thread([this] { run(); });
  }
  ~FakeService() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  FakeService(const FakeService&) = delete;
  FakeService& operator=(const FakeService&) = delete;

  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // Every request as received, in order.
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // Waits until the connection being served (if any) is closed, so that
  // descriptor counts of the process do not see it.
  void waitIdle() {
    while (busy_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

 private:
  void run() {
    while (!stop_) {
      pollfd p = {listener_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      busy_ = true;
      int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) {
        busy_ = false;
        continue;
      }
      std::string request = LoopbackServer::readRequest(fd);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      std::string answer = handler_(request);
      sendAll(fd, answer.data(), answer.size());
      ::close(fd);
      busy_ = false;
    }
  }

  Handler handler_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> busy_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
};

// The request line's target ("/oauth/request_token").
inline std::string requestTarget(const std::string& request) {
  size_t blank = request.find(' ');
  return blank == std::string::npos ? "" : request.substr(blank + 1, request.find(' ', blank + 1) - blank - 1);
}

// An answer with a JSON body and any further header lines.
inline std::string jsonAnswer(int status, const std::string& body, const std::string& headers = "") {
  return "HTTP/1.0 " + std::to_string(status) + " X\r\nContent-Type: application/json\r\n" + headers + "\r\n" + body;
}

}  // namespace bw::test
