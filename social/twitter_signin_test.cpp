// social/twitter_signin_test.cpp - the Twitter sign-in against a loopback
// stand-in of the three endpoints that checks every signature, with a
// scripted browser and user interface.
#include "social/twitter_signin.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "news/news_config.h"
#include "platform/clock.h"
#include "social/oauth_verifier_test_support.h"
#include "social/service_config.h"
#include "social/signin_test_support.h"

namespace bw {
namespace {

using test::httpAnswer;

using Browser = test::SignInFixture::Browser;

// What the stand-in answers; "<rt>" in callbackQuery is the request token.
struct TwitterScript {
  std::string requestAnswer = httpAnswer(200, "oauth_token=rt&oauth_token_secret=rts&oauth_callback_confirmed=true");
  std::string callbackQuery = "oauth_token=rt&oauth_verifier=v1";
  std::string accessAnswer = httpAnswer(200, "oauth_token=at&oauth_token_secret=ats&user_id=7");
  Browser browser = Browser::kFollows;
  bool cancel = false;
  bool unreachable = false;  // the API base names a closed port
  bool refused = false;      // the callback is refused: Cancel ends the wait
};

struct TwitterRun {
  TwitterAccessToken result;
  std::vector<std::string> requests;
  std::vector<std::string> browserCalls;
  std::vector<std::string> mismatches;  // of the signature checks
  std::string origin;
  int callbackPort = 0;
};

class TwitterSignIn : public test::SignInFixture {
 protected:
  TwitterSignIn() {
    initTimerDevice();
    buildTwitterCredentials();
  }
  ~TwitterSignIn() override {
    credentialsModuleEnd();
    closeTimerDevice();
  }

  testing_support::EnvScope key_{"BRINDLEWORK_TWITTER_CONSUMER_KEY", "c-key"};
  testing_support::EnvScope secret_{"BRINDLEWORK_TWITTER_CONSUMER_SECRET", "c-secret"};

  TwitterRun run(const TwitterScript& script) {
    TwitterRun out;
    std::mutex mutex;
    std::string callback;
    test::FakeService fake([&](const std::string& request) {
      std::lock_guard<std::mutex> lock(mutex);
      std::string target = test::requestTarget(request);
      auto verify = [&](const char* tokenSecret) {
        test::OauthVerdict v =
            test::verifyOauthRequest(test::signedRequestFromWire(request, out.origin), "c-secret", tokenSecret);
        if (!v.mismatch.empty()) out.mismatches.push_back(target + ": " + v.mismatch);
        return v;
      };
      if (target == "/oauth/request_token") {
        callback = verify("").get("oauth_callback");
        out.callbackPort = std::atoi(callback.substr(callback.rfind(':') + 1).c_str());
        return script.requestAnswer;
      }
      if (target.rfind("/oauth/authorize?", 0) == 0)
        return httpAnswer(302, "", "Location: " + callback + "?" + script.callbackQuery + "\r\n");
      if (target == "/oauth/access_token") return verify("rts"), script.accessAnswer;
      return httpAnswer(404);
    });
    out.origin = fake.origin();
    int closed = 0;
    if (script.unreachable) ::close(test::listenLoopback(1, &closed));
    std::string base = script.unreachable ? "http://127.0.0.1:" + std::to_string(closed) : out.origin;
    testing_support::EnvScope api("BRINDLEWORK_TWITTER_API", base.c_str());
    useBrowser(script.browser);
    if (script.cancel) cancelOnBuild();
    if (script.refused) cancelWhenBrowserDone();
    size_t descriptors = test::openDescriptors();
    cHTTP http(newsConfig::kUserAgent);
    out.result = obtainTwitterUserAccessToken(http);
    ui.beforePoll = nullptr;
    http.close();
    fake.waitIdle();
    expectAllEnded(out.callbackPort, descriptors);
    out.browserCalls = browserCalls(script.browser == Browser::kFollows && out.result.errorKind == 0 ? 1 : 0);
    out.requests = fake.requests();
    return out;
  }
};

TEST_F(TwitterSignIn, ThreeLegsSignedAndInOrder) {
  std::vector<std::string> shown;
  ui.onBuild = [&](testing_news::ScriptedWindow& w) {
    shown = {w.title, w.texts.at(0)->shown, w.buttonLabels.at(0)};
  };
  TwitterRun r = run({});
  EXPECT_EQ(shown, (std::vector<std::string>{"Brindlework", "Waiting for Twitter login to complete...", "Cancel"}));
  EXPECT_EQ(r.result.errorKind, kSignInOk);
  EXPECT_EQ(std::string(r.result.token.view()), "at");
  EXPECT_EQ(std::string(r.result.tokenSecret.view()), "ats");
  EXPECT_TRUE(r.mismatches.empty()) << r.mismatches[0];
  ASSERT_EQ(r.requests.size(), 3u);

  const std::string& requestToken = r.requests[0];
  EXPECT_EQ(requestToken.rfind("POST /oauth/request_token HTTP/1.0\r\n", 0), 0u);
  EXPECT_EQ(requestToken.substr(requestToken.find("\r\n\r\n") + 4), "");
  EXPECT_NE(requestToken.find("oauth_callback=\"http%3A%2F%2F127.0.0.1%3A" + std::to_string(r.callbackPort) + "%2Fcallback\""),
            std::string::npos);
  EXPECT_EQ(requestToken.find("oauth_token="), std::string::npos);

  EXPECT_EQ(r.browserCalls, std::vector<std::string>{r.origin + "/oauth/authorize?oauth_token=rt"});
  EXPECT_EQ(r.requests[1].rfind("GET /oauth/authorize?oauth_token=rt HTTP/1.1\r\n", 0), 0u);

  const std::string& accessToken = r.requests[2];
  EXPECT_EQ(accessToken.rfind("POST /oauth/access_token HTTP/1.0\r\n", 0), 0u);
  EXPECT_NE(accessToken.find("oauth_token=\"rt\""), std::string::npos);
  EXPECT_NE(accessToken.find("oauth_verifier=\"v1\""), std::string::npos);
  size_t authorization = accessToken.find("\r\nAuthorization: OAuth ");
  ASSERT_NE(authorization, std::string::npos);
  EXPECT_EQ(accessToken.find("\r\nContent-Type: application/x-www-form-urlencoded\r\n"),
            accessToken.find("\r\n", authorization + 2));
}

TEST_F(TwitterSignIn, EveryFailureEndsWithNothing) {
  const std::string confirmedFalse = "oauth_token=rt&oauth_token_secret=rts&oauth_callback_confirmed=false";
  struct Case {
    const char* name;
    TwitterScript script;
    bool windowShown;
    SignInEnd end = SignInEnd::kFailed;
  } cases[] = {
      {"not confirmed", {.requestAnswer = httpAnswer(200, confirmedFalse)}, false},
      {"confirmed TRUE",
       {.requestAnswer = httpAnswer(200, "oauth_token=rt&oauth_token_secret=rts&oauth_callback_confirmed=TRUE")},
       false},
      {"confirmation absent", {.requestAnswer = httpAnswer(200, "oauth_token=rt&oauth_token_secret=rts")}, false},
      {"no request token secret", {.requestAnswer = httpAnswer(200, "oauth_token=rt&oauth_callback_confirmed=true")},
       false},
      {"401 for the request token",
       {.requestAnswer = httpAnswer(401, "oauth_token=rt&oauth_token_secret=rts&oauth_callback_confirmed=true")},
       false},
      {"stale request token", {.callbackQuery = "oauth_token=old&oauth_verifier=v1", .refused = true}, true,
       SignInEnd::kCancelled},
      {"no verifier", {.callbackQuery = "oauth_token=rt", .refused = true}, true, SignInEnd::kCancelled},
      {"denied", {.callbackQuery = "denied=rt"}, true, SignInEnd::kRefused},
      {"browser not runnable", {.browser = Browser::kMissing}, true},
      {"cancel", {.browser = Browser::kIdle, .cancel = true}, true, SignInEnd::kCancelled},
      {"401 for the access token", {.accessAnswer = httpAnswer(401, "oauth_token=at&oauth_token_secret=ats")}, true},
      {"no access token secret", {.accessAnswer = httpAnswer(200, "oauth_token=at")}, true},
      {"service unreachable (kind 1)", {.unreachable = true}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    startCase();
    TwitterRun r = run(c.script);
    EXPECT_EQ(r.result.errorKind, c.script.unreachable ? kSignInNotOpened : kSignInFailed);
    EXPECT_TRUE(r.result.token.isNil());
    EXPECT_TRUE(r.result.tokenSecret.isNil());
    EXPECT_EQ(r.result.end, c.end);
    EXPECT_EQ(ui.windowsMade, c.windowShown ? 1 : 0);
    if (!c.windowShown) {
      EXPECT_TRUE(r.browserCalls.empty());
    }
    EXPECT_TRUE(r.mismatches.empty());
  }
}

// Token answers are form-decoded once: the tokens are the decoded texts,
// which the requests after carry encoded once, signatures and all.
TEST_F(TwitterSignIn, TokenAnswersAreFormDecodedOnce) {
  TwitterScript script;
  script.requestAnswer = httpAnswer(200, "oauth_token=r%2Bt&oauth_token_secret=rts&oauth_callback_confirmed=true");
  script.callbackQuery = "oauth_token=r%2Bt&oauth_verifier=v%2B1";
  script.accessAnswer = httpAnswer(200, "oauth_token=a%2Bb&oauth_token_secret=s%2Fc%25&user_id=7");
  TwitterRun r = run(script);
  EXPECT_EQ(r.result.errorKind, kSignInOk);
  EXPECT_EQ(r.result.end, SignInEnd::kSignedIn);
  EXPECT_EQ(r.result.token.view(), "a+b");
  EXPECT_EQ(r.result.tokenSecret.view(), "s/c%");
  EXPECT_TRUE(r.mismatches.empty()) << r.mismatches[0];
  EXPECT_EQ(r.browserCalls, std::vector<std::string>{r.origin + "/oauth/authorize?oauth_token=r%2Bt"});
  ASSERT_EQ(r.requests.size(), 3u);
  EXPECT_NE(r.requests[2].find("oauth_token=\"r%2Bt\""), std::string::npos) << r.requests[2];
  EXPECT_NE(r.requests[2].find("oauth_verifier=\"v%2B1\""), std::string::npos) << r.requests[2];
}

}  // namespace
}  // namespace bw
