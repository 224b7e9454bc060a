// social/facebook_signin_test.cpp - the Facebook sign-in against a loopback
// stand-in of the dialog, which redirects the scripted browser to the
// callback server; the state check; shell mode for both sign-ins.
#include "social/facebook_signin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <set>
#include <string>

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

class FacebookSignIn : public test::SignInFixture {
 protected:
  FacebookSignIn() {
    setRandomTokenSource([](int32_t n) { return Str(std::string(kState).substr(0, static_cast<size_t>(n))); });
  }
  ~FacebookSignIn() override { setRandomTokenSource({}); }

  // Signs in with the dialog redirecting to the callback with query
  // ("<state>" becomes the state the dialog received); the token and the
  // callback port.
  std::pair<Str, int> run(const std::string& query, bool browserFollows = true) {
    std::atomic<int> port = 0;
    test::FakeService dialog([&](const std::string& request) {
      std::string target = test::requestTarget(request);
      port = std::atoi(after(target, "%3Fport=").c_str());
      std::string q = query;
      if (size_t s = q.find("<state>"); s != std::string::npos) q.replace(s, 7, after(target, "&state="));
      return httpAnswer(302, "", "Location: http://localhost:" + std::to_string(port) + "/?" + q + "\r\n");
    });
    testing_support::EnvScope web("BRINDLEWORK_FACEBOOK_WEB", dialog.origin().c_str());
    testing_support::EnvScope maker("BRINDLEWORK_MAKER_WEB", "http://maker.test");
    useBrowser(browserFollows ? Browser::kFollows : Browser::kIdle);
    size_t descriptors = test::openDescriptors();
    Str token = obtainUserAccessToken_facebook();
    dialog.waitIdle();
    expectAllEnded(port, descriptors);
    if (browserFollows) {
      std::string origin = dialog.origin();
      EXPECT_EQ(browserCalls(1), std::vector<std::string>{origin +
                                                          "/v2.8/dialog/oauth?client_id=604917382215530&redirect_uri="
                                                          "http://maker.test/brindlework/facebook_login.html%3Fport=" +
                                                          std::to_string(port) +
                                                          "&response_type=token&scope=user_posts,user_friends&state=" +
                                                          kState});
    }
    return {token, port};
  }
};

TEST_F(FacebookSignIn, TokenStandsOnlyWithTheStateSent) {
  struct Case {
    const char* query;
    const char* token;  // nullptr: NIL
  } cases[] = {
      {"access_token=T&state=<state>", "T"},
      {"state=<state>&expires_in=5183999&access_token=EAAB%2Bx", "EAAB%2Bx"},  // kept as it came
      {"access_token=T&state=forged", nullptr},
      {"access_token=T&state=", nullptr},
      {"access_token=T", nullptr},  // a page that plants its own token sends no state
      {"error=access_denied&state=<state>", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    ::unlink((dir_ / "browser.log").c_str());
    auto [token, port] = run(c.query);
    EXPECT_GT(port, 0);
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

  ui.onBuild = nullptr;
  useBrowser(Browser::kMissing);
  size_t descriptors = test::openDescriptors();
  EXPECT_TRUE(obtainUserAccessToken_facebook().isNil());
  expectAllEnded(0, descriptors);
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
  Str facebook = obtainUserAccessToken_facebook();
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
