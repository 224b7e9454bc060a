// social/token_exposure_test.cpp - after a real Twitter sign-in through the
// browser and the update that asked for it, and after a Facebook log-out,
// no token or secret stands in a spawned program's arguments or
// environment, nor in any file of the temporary folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "platform/assigns.h"
#include "social/log_out_window.h"
#include "social/twitter_signin.h"
#include "social/twitter_test_support.h"

namespace bw {
namespace {

namespace fs = std::filesystem;

std::string fileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The files under folder (none when it is missing) that hold any of secrets.
std::vector<std::string> filesHolding(const fs::path& folder, const std::vector<std::string>& secrets) {
  std::vector<std::string> found;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_regular_file()) continue;
    const std::string text = fileText(it->path());
    for (const std::string& s : secrets) {
      if (text.find(s) != std::string::npos) found.push_back(it->path().string() + " holds " + s);
    }
  }
  return found;
}

class TokenExposure : public testing_social::TwitterTest {};

TEST_F(TokenExposure, NoTokenInArgumentsEnvironmentsOrTemporaryFiles) {
  // The browser writes its arguments and its environment, then follows
  // the redirects as a browser would.
  testing_support::TempDir browserDir;
  testing_support::TempDir temporary;
  testing_support::EnvScope tmpdir("TMPDIR", std::string(temporary / "").c_str());
  dos::resetAssigns();
  const std::string args = browserDir / "args", env = browserDir / "env";
  const std::string browser = browserDir.script(
      "browser", "printf '%s\\n' \"$@\" >> '" + args + "'; env >> '" + env +
                     "'; curl -s -L --noproxy '*' -o /dev/null \"$1\"");
  testing_support::EnvScope browserVariable("BROWSER", browser.c_str());
  setTwitterSignInHook([](cHTTP& http) { return obtainTwitterUserAccessToken(http); });

  // The stored pair is refused: the update signs in through the browser.
  fake->setTweets(tweets(1, 5));
  root->twitterToken = Str("staleToken");
  root->twitterTokenSecret = Str("staleSecret");
  Download d = download();
  EXPECT_EQ(d.last.failed, 0);
  EXPECT_EQ(root->twitterToken.view(), fake->issuedToken.first);
  EXPECT_EQ(root->twitterTokenSecret.view(), fake->issuedToken.second);

  // The Facebook log-out opens the browser too.
  root->facebookAccessToken = Str("facebookAccessTokenValue");
  testing_support::EnvScope web("BRINDLEWORK_FACEBOOK_WEB", "http://127.0.0.1:1");
  EXPECT_TRUE(openFacebookLogoutPage());
  for (int i = 0; i < 500 && fileText(args).find("logout.php") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

  const std::vector<std::string> secrets = {fake->issuedToken.first, fake->issuedToken.second, "userToken",
                                            "userSecret", "staleSecret", "requestSecret", "facebookAccessTokenValue",
                                            twitterConsumerSecret().str()};
  const std::string browserArgs = fileText(args);
  EXPECT_NE(browserArgs.find("/oauth/authorize?oauth_token=requestToken"), std::string::npos);
  EXPECT_NE(browserArgs.find("logout.php"), std::string::npos);
  for (const std::string& s : secrets) {
    EXPECT_EQ(browserArgs.find(s), std::string::npos) << s;
    EXPECT_EQ(fileText(env).find(s), std::string::npos) << s;
  }
  EXPECT_EQ(filesHolding(temporary / "", secrets), std::vector<std::string>{});
  // The data folder: the database holds the pair (flushed, closed and
  // checked by the fixture), and nothing beside it does.
  db->flush();
  for (const std::string& name : backend->names()) {
    const std::vector<uint8_t> bytes = backend->image(name);
    const std::string text(bytes.begin(), bytes.end());
    if (name == native(kName)) {
      EXPECT_NE(text.find(fake->issuedToken.second), std::string::npos);  // the one place it lives
      continue;
    }
    for (const std::string& s : secrets) EXPECT_EQ(text.find(s), std::string::npos) << name << " holds " << s;
  }
  const dos::PrivateBase base = dos::privateBase();
  if (!base.path.empty()) {
    EXPECT_EQ(filesHolding(base.path, secrets), std::vector<std::string>{});
  }
  dos::resetAssigns();
}

}  // namespace
}  // namespace bw
