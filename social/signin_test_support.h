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
#include "social/fake_service_test_support.h"
#include "social/login_window.h"
#include "web/http_test_support.h"

namespace bw::test {

inline std::string httpAnswer(int status, const std::string& body = "", const std::string& headers = "") {
  return "HTTP/1.0 " + std::to_string(status) + " X\r\nContent-Type: text/plain\r\n" + headers + "\r\n" + body;
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

// The scripted user interface, with a hook that runs before each poll.
class SignInUi : public testing_news::ScriptedNewsUi {
 public:
  ChangedGuiItem checkForChangedGuiItem() override {
    if (beforePoll) beforePoll();
    return ScriptedNewsUi::checkForChangedGuiItem();
  }
  std::function<void()> beforePoll;
};

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
    std::string log = browserFile("browser.log");
    std::string body = "printf '%s\\n' \"$1\" >> '" + log + "'";
    if (kind == Browser::kFollows)
      body += "; curl -s -L --noproxy '*' -o /dev/null \"$1\"; : > '" + browserFile("browser.done") + "'";
    std::string path = kind == Browser::kMissing ? dir_ / "missing" : dir_.script(caseFolder_ + "/browser", body);
    browser_.reset();  // restores $BROWSER before the next scope saves it
    browser_ = std::make_unique<testing_support::EnvScope>("BROWSER", path.c_str());
  }
  // Starts a case of a table from a clean fixture: no hook, queued event or
  // answer left by the case before, and a folder of its own for the browser,
  // so that a detached browser still finishing the case before (its
  // "browser.done" late) writes where no one looks.
  void startCase() {
    ui.beforePoll = nullptr;
    ui.onBuild = nullptr;
    ui.onClose = nullptr;
    ui.events.clear();
    ui.answers.clear();
    ui.calls.clear();
    ui.windowsMade = 0;
    caseFolder_ = "case" + std::to_string(++cases_);
    std::filesystem::create_directory(dir_ / caseFolder_);
  }
  // A file of the browser of this case.
  std::string browserFile(const std::string& name) const { return dir_ / (caseFolder_ + "/" + name); }
  // The addresses the browser was given, waiting up to two seconds for the
  // detached browser when one is expected.
  std::vector<std::string> browserCalls(size_t expected) {
    std::vector<std::string> lines;
    for (int i = 0; i < 200; ++i) {
      lines.clear();
      std::ifstream in(browserFile("browser.log"));
      for (std::string line; std::getline(in, line);) lines.push_back(line);
      if (lines.size() >= expected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return lines;
  }
  // Presses Cancel in the waiting window once the browser has finished
  // following its redirects, so that a refused callback ends the wait.
  void cancelWhenBrowserDone() {
    ::unlink(browserFile("browser.done").c_str());
    ui.beforePoll = [this] {
      if (ui.windows.empty() || !std::filesystem::exists(browserFile("browser.done"))) return;
      ::unlink(browserFile("browser.done").c_str());
      ui.events.push_back({ui.windows.back()->buttons.at(0).get(), ui.windows.back()});
    };
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

  SignInFixture() { startCase(); }

  SignInUi ui;
  testing_support::TempDir dir_;

 private:
  std::unique_ptr<testing_support::EnvScope> browser_;
  std::string caseFolder_;
  int cases_ = 0;
};

}  // namespace bw::test
