// social/signin_test_support.h - test side of the sign-ins: a loopback
// stand-in for a service's endpoints, a scripted browser that follows the
// stand-in's redirect to the callback server, and the checks that a
// sign-in left nothing behind.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "news/ui_seam_test_support.h"
#include "platform/spawn_test_support.h"
#include "social/login_window.h"
#include "web/http_test_support.h"

namespace bw::test {

// An HTTP stand-in on 127.0.0.1: each request (read whole) goes to the
// handler, whose answer is sent before the connection closes. It serves
// until destroyed.
class FakeService {
 public:
  using Handler = std::function<std::string(const std::string& request)>;
  explicit FakeService(Handler handler) : handler_(std::move(handler)) {
    listener_ = listenLoopback(16, &port_);
    thread_ = std::thread([this] { run(); });
  }
  ~FakeService() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  std::string origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
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

inline std::string httpAnswer(int status, const std::string& body = "", const std::string& headers = "") {
  return "HTTP/1.0 " + std::to_string(status) + " X\r\nContent-Type: text/plain\r\n" + headers + "\r\n" + body;
}

// The request line's target ("/oauth/request_token").
inline std::string requestTarget(const std::string& request) {
  size_t blank = request.find(' ');
  return blank == std::string::npos ? "" : request.substr(blank + 1, request.find(' ', blank + 1) - blank - 1);
}

inline size_t openDescriptors() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                           std::filesystem::directory_iterator()));
}

inline bool portRefused(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool refused = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0;
  ::close(fd);
  return refused;
}

// A scripted user interface, a browser in $BROWSER that logs each address
// it is given and follows redirects with curl (or does nothing at all),
// and the check that a sign-in left no window, global or descriptor.
class SignInFixture : public ::testing::Test {
 public:
  enum class Browser { kFollows, kIdle, kMissing };

 protected:
  // $BROWSER: a script that logs the address and follows it with curl, one
  // that only logs it, or a program that does not exist.
  void useBrowser(Browser kind) {
    std::string log = dir_ / "browser.log";
    std::string body = "printf '%s\\n' \"$1\" >> '" + log + "'";
    if (kind == Browser::kFollows) body += "; exec curl -s -L --noproxy '*' -o /dev/null \"$1\"";
    std::string path = kind == Browser::kMissing ? dir_ / "missing" : dir_.script("browser", body);
    browser_.reset();  // restores $BROWSER before the next scope saves it
    browser_ = std::make_unique<testing_support::EnvScope>("BROWSER", path.c_str());
  }
  // The addresses the browser was given, waiting up to two seconds for the
  // detached browser when one is expected.
  std::vector<std::string> browserCalls(size_t expected) {
    std::vector<std::string> lines;
    for (int i = 0; i < 200; ++i) {
      lines.clear();
      std::ifstream in(dir_ / "browser.log");
      for (std::string line; std::getline(in, line);) lines.push_back(line);
      if (lines.size() >= expected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lines;
  }
  // Queues Cancel for every waiting window as it is built.
  void cancelOnBuild() {
    ui.onBuild = [this](testing_news::ScriptedWindow& w) { ui.events.push_back({w.buttons.at(0).get(), &w}); };
  }
  void expectAllEnded(int callbackPort, size_t descriptorsBefore) {
    EXPECT_TRUE(ui.windows.empty());
    EXPECT_EQ(twitterLoginWindow, nullptr);
    EXPECT_EQ(twitterLoginCancelButton, nullptr);
    EXPECT_EQ(facebookLoginWindow, nullptr);
    EXPECT_EQ(facebookLoginCancelButton, nullptr);
    if (callbackPort > 0) {
      EXPECT_TRUE(portRefused(callbackPort));
    }
    EXPECT_EQ(openDescriptors(), descriptorsBefore);
  }

  testing_news::ScriptedNewsUi ui;
  testing_support::TempDir dir_;

 private:
  std::unique_ptr<testing_support::EnvScope> browser_;
};

}  // namespace bw::test
