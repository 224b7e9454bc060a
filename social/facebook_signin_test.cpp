// social/facebook_signin_test.cpp - the Facebook sign-in against a loopback
// stand-in of the dialog, which redirects the scripted browser to the
// callback server; the state check, refused callbacks, the time limit;
// shell mode for both sign-ins.
#include "social/facebook_signin.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "core/raise_test_support.h"
#include "news/news_config.h"
#include "platform/dos_env.h"
#include "social/random_token.h"
#include "social/signin_test_support.h"
#include "social/twitter_signin.h"

namespace bw {
namespace {

using test::httpAnswer;

constexpr char kState[] = "S0123456789abcdefghijABCDEFGHIJs";

// The text between marker and the next "&" (or the end) in text.
std::string after(const std::string& text, const std::string& marker) {
  size_t at = text.find(marker);
  if (at == std::string::npos) return "";
  at += marker.size();
  return text.substr(at, text.find_first_of("& ", at) - at);
}

// Sends one request line to the callback server and answers its status
// line.
std::string sendCallback(int port, const std::string& target) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    std::string request = "GET " + target + " HTTP/1.1\r\n\r\n";
    test::sendAll(fd, request.data(), request.size());
    char buffer[1024];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
  }
  ::close(fd);
  return answer.substr(0, answer.find("\r\n"));
}

class FacebookSignIn : public test::SignInFixture {
 protected:
  FacebookSignIn() {
    setRandomTokenSource([](int32_t n) { return Str(std::string(kState).substr(0, static_cast<size_t>(n))); });
  }
  ~FacebookSignIn() override { setRandomTokenSource({}); }

  // Signs in with the dialog redirecting to its redirect_uri with query, as
  // the landing page forwards the fragment ("<state>" becomes the state the
  // dialog received). A refused query is followed, once the browser is done,
  // by a page's stray request and then by the right callback from another
  // tab (retry). The token and the callback port.
  std::pair<Str, int> run(const std::string& query, bool browserFollows = true, const std::string& retry = "") {
    std::atomic<int> port = 0;
    std::string redirect;
    std::string state;
    test::FakeService dialog([&](const std::string& request) {
      std::string target = test::requestTarget(request);
      redirect = after(target, "&redirect_uri=");
      state = after(target, "&state=");
      port = std::atoi(redirect.substr(redirect.rfind(':') + 1).c_str());
      std::string q = query;
      if (size_t s = q.find("<state>"); s != std::string::npos) q.replace(s, 7, state);
      return httpAnswer(302, "", "Location: " + redirect + "?" + q + "\r\n");
    });
    testing_support::EnvScope web("BRINDLEWORK_FACEBOOK_WEB", dialog.origin().c_str());
    useBrowser(browserFollows ? Browser::kFollows : Browser::kIdle);
    std::vector<std::string> retried;
    std::thread otherTab;
    if (!retry.empty()) {
      ::unlink(browserFile("browser.done").c_str());
      ui.beforePoll = [&] {
        if (otherTab.joinable() || !std::filesystem::exists(browserFile("browser.done"))) return;
        otherTab = std::thread([&retried, &port, target = "/callback?access_token=T&state=" + state] {
          retried.push_back(sendCallback(port, "/favicon.ico"));
          retried.push_back(sendCallback(port, target));
        });
      };
    }
    size_t descriptors = test::openDescriptors();
    FacebookAccessToken got = obtainUserAccessToken_facebook();
    Str token = got.token;
    lastEnd = got.end;
    ui.beforePoll = nullptr;
    if (otherTab.joinable()) otherTab.join();
    dialog.waitIdle();
    expectAllEnded(port, descriptors);
    if (!retry.empty()) {
      EXPECT_EQ(retried, (std::vector<std::string>{"HTTP/1.0 404 Not Found", "HTTP/1.0 200 OK"}));
    }
    if (browserFollows) {
      EXPECT_EQ(redirect, "http://127.0.0.1:" + std::to_string(port) + "/callback");
      EXPECT_EQ(browserCalls(1), std::vector<std::string>{dialog.origin() +
                                                          "/v2.8/dialog/oauth?client_id=604917382215530&redirect_uri=" +
                                                          redirect +
                                                          "&response_type=token&scope=user_posts,user_friends&state=" +
                                                          kState});
    }
    return {token, port};
  }
  SignInEnd lastEnd = SignInEnd::kFailed;
};

TEST_F(FacebookSignIn, OnlyTheCallbackWithTheStateSentEndsTheWait) {
  struct Case {
    const char* query;
    const char* token;  // nullptr: NIL
    bool refused;       // the right callback follows
    SignInEnd end = SignInEnd::kSignedIn;
  } cases[] = {
      {"access_token=T&state=<state>", "T", false},
      {"state=<state>&expires_in=5183999&access_token=EAAB%2Bx", "EAAB+x", false},  // form-decoded once
      {"error=access_denied&error_reason=user_denied&state=<state>", nullptr, false, SignInEnd::kRefused},
      {"state=<state>", nullptr, false, SignInEnd::kRefused},
      {"access_token=X&state=forged", "T", true},
      {"access_token=X&state=", "T", true},
      {"access_token=X", "T", true},  // a page that plants its own token sends no state
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    startCase();
    auto [token, port] = run(c.query, true, c.refused ? "retry" : "");
    EXPECT_GT(port, 0);
    EXPECT_EQ(lastEnd, c.end);
    if (c.token) {
      EXPECT_EQ(std::string(token.view()), c.token);
    } else {
      EXPECT_TRUE(token.isNil());
    }
  }
}

TEST_F(FacebookSignIn, CancelAndFailuresGiveNil) {
  cancelOnBuild();
  EXPECT_TRUE(run("access_token=T&state=<state>", false).first.isNil());
  EXPECT_EQ(ui.windowsMade, 1);
  EXPECT_EQ(lastEnd, SignInEnd::kCancelled);

  ui.onBuild = nullptr;
  useBrowser(Browser::kMissing);
  size_t descriptors = test::openDescriptors();
  FacebookAccessToken none = obtainUserAccessToken_facebook();
  EXPECT_TRUE(none.token.isNil());
  EXPECT_EQ(none.end, SignInEnd::kFailed);
  expectAllEnded(0, descriptors);
}

TEST_F(FacebookSignIn, AWaitWithoutAnswerEndsAfterTenMinutesAndSaysSo) {
  // The server's clock moves a minute at each poll of the waiting window.
  callbackWebServer::Clock::time_point now{};
  callbackWebServer::setClockForTesting([&now] { return now; });
  ui.beforePoll = [&now] { now += std::chrono::minutes(1); };
  Str token = run("access_token=T&state=<state>", false).first;
  callbackWebServer::setClockForTesting({});
  EXPECT_TRUE(token.isNil());
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].text, kSignInTimedOut);
}

TEST_F(FacebookSignIn, ExceptionsPassOnAfterTheCleanUp) {
  class NoWindows : public testing_news::ScriptedNewsUi {
    std::unique_ptr<NewsGuiBuiltWindow> CreateGuiWindow(Text title) override { return NewsUi::CreateGuiWindow(title); }
  };
  NoWindows noWindows;
  size_t descriptors = test::openDescriptors();
  expectRaise([] { obtainUserAccessToken_facebook(); }, "BUG", "NewsUi.CreateGuiWindow(); no windows here");
  expectAllEnded(0, descriptors);
}

TEST(FacebookState, TenThousandDistinctTokens) {
  std::set<std::string> states;
  for (int i = 0; i < 10000; ++i) {
    std::string s(randomToken(32).view());
    ASSERT_EQ(s.size(), 32u);
    ASSERT_TRUE(std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isalnum(c) && c < 128; })) << s;
    states.insert(s);
  }
  EXPECT_EQ(states.size(), 10000u);
}

TEST(ShellMode, BothSignInsFailAtOnce) {
  testing_news::ScriptedNewsUi ui;
  testing_support::TempDir dir;
  std::string recorder = dir.recorder("browser");
  testing_support::EnvScope browser("BROWSER", recorder.c_str());
  test::FakeService service([](const std::string&) { return httpAnswer(500); });
  testing_support::EnvScope api("BRINDLEWORK_TWITTER_API", service.origin().c_str());
  testing_support::EnvScope web("BRINDLEWORK_FACEBOOK_WEB", service.origin().c_str());
  dos::setShellMode(true);
  cHTTP http(newsConfig::kUserAgent);
  size_t descriptors = test::openDescriptors();
  TwitterAccessToken twitter = obtainTwitterUserAccessToken(http);
  Str facebook = obtainUserAccessToken_facebook().token;
  dos::setShellMode(false);
  EXPECT_EQ(twitter.errorKind, kSignInFailed);
  EXPECT_TRUE(twitter.token.isNil());
  EXPECT_TRUE(facebook.isNil());
  EXPECT_EQ(ui.windowsMade, 0);
  EXPECT_EQ(test::openDescriptors(), descriptors);
  EXPECT_TRUE(testing_support::recordedArgs(recorder, false).empty());
  EXPECT_TRUE(service.requests().empty());
}

}  // namespace
}  // namespace bw
