// social/log_out_window_test.cpp - the "Log out" window driven through the
// scripted interface: which buttons start disabled, what each log-out
// forgets in the stored root, the page the browser is sent to, how the
// window ends; and the two invitation pages.
#include "social/log_out_window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "news/feed_update_test_support.h"
#include "platform/spawn_test_support.h"

namespace bw {
namespace {

constexpr int kFacebook = 0, kTwitter = 1, kFinished = 2, kClose = -1, kQuit = -2;

class LogOutWindowTest : public testing_news::FeedUpdateTest {
 protected:
  void SetUp() override {
    FeedUpdateTest::SetUp();
    rootIndex = db->createdObject(root.get());
    rootStored = true;
    useBrowser(dir.recorder("browser"));
  }
  void useBrowser(const std::string& path) {
    browser.reset();
    browser = std::make_unique<testing_support::EnvScope>("BROWSER", path.c_str());
  }
  // Shows the window with the presses queued once it is built (kClose and
  // kQuit: a window event with that request); the window's result.
  bool run(std::vector<int> presses) {
    ui.events.clear();  // nothing a case before left queued
    ui.onBuild = [this, presses](testing_news::ScriptedWindow& w) {
      startedDisabled = {w.buttons[kFacebook]->disabled, w.buttons[kTwitter]->disabled};
      for (int p : presses) {
        if (p >= 0) {
          ui.events.push_back({w.buttons.at(static_cast<size_t>(p)).get(), &w});
          continue;
        }
        // A window event with its request raised.
        ui.events.push_back({nullptr, &w});
        (p == kClose ? w.closeRequested : w.quitRequested) = true;
      }
    };
    ui.onClose = [this](testing_news::ScriptedWindow& w) {
      closedDisabled = {w.buttons[kFacebook]->disabled, w.buttons[kTwitter]->disabled};
    };
    const bool quit = showLogOutWindow(*db, *root);
    EXPECT_TRUE(ui.windows.empty());  // ended
    return quit;
  }
  // The root as stored now (in place of the loaded one).
  newsRoot& reloaded() {
    root.release();  // closing the soup ends every loaded object
    reopen();
    root.reset(loadObject_newsRoot(*db, rootIndex));
    return *root;
  }
  // What the browser was given, waiting for the detached run to end.
  std::vector<std::string> browserArgs() { return testing_support::recordedArgs(dir / "browser"); }

  testing_support::TempDir dir;
  std::unique_ptr<testing_support::EnvScope> browser;
  testing_support::EnvScope web{"BRINDLEWORK_FACEBOOK_WEB", "https://fb.test"};
  testing_support::EnvScope maker{"BRINDLEWORK_MAKER_WEB", "http://maker.test"};
  std::vector<bool> startedDisabled, closedDisabled;  // Facebook, Twitter
  int32_t rootIndex = 0;
};

TEST_F(LogOutWindowTest, WithoutTokensBothLogOutsAreDisabled) {
  bool disabled[2] = {};
  ui.onBuild = [&](testing_news::ScriptedWindow& w) {
    EXPECT_EQ(w.title, "Log out");
    EXPECT_EQ(w.buttonLabels, (std::vector<std::string>{"Log out of Facebook (including the website)",
                                                        "Log out of Twitter", "Finished"}));
    EXPECT_EQ(w.buttons[0]->image, "PROGDIR:/FacebookLogo.png");
    EXPECT_EQ(w.buttons[1]->image, "PROGDIR:/TwitterLogo.png");
    EXPECT_EQ(w.buttons[2]->key, 10);
    EXPECT_EQ(w.bars, 1);
    EXPECT_EQ(w.groups, 0);
    disabled[0] = w.buttons[0]->disabled;
    disabled[1] = w.buttons[1]->disabled;
    ui.events.push_back({w.buttons[2].get(), &w});
  };
  EXPECT_FALSE(showLogOutWindow(*db, *root));
  EXPECT_TRUE(disabled[0] && disabled[1]);
}

TEST_F(LogOutWindowTest, EachLogOutIsStoredAtOnce) {
  root->facebookAccessToken = Str("T");
  root->facebookUserID = Str("1000");
  root->twitterToken = Str("tw");
  root->twitterTokenSecret = Str("twSecret");
  db->saveChangesToObject(root.get());
  EXPECT_TRUE(run({kFacebook, kTwitter, kQuit}));
  EXPECT_EQ(closedDisabled, (std::vector<bool>{true, true}));
  // The browser gets the log-out page without the token.
  EXPECT_EQ(browserArgs(), (std::vector<std::string>{"https://fb.test/logout.php?confirm=1&next=http://maker.test/"
                                                         "brindlework/permission_logged_out.html"}));
  const newsRoot& stored = reloaded();
  EXPECT_TRUE(stored.facebookAccessToken.isNil() && stored.facebookUserID.isNil());
  EXPECT_TRUE(stored.twitterToken.isNil() && stored.twitterTokenSecret.isNil());
}

TEST_F(LogOutWindowTest, TheWindowEndsAsAskedWithTheUsedButtonDisabled) {
  const struct {
    int last;
    bool quit;
  } cases[] = {{kFinished, false}, {kClose, false}, {kQuit, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.last);
    root->facebookAccessToken = Str("T");
    EXPECT_EQ(run({kFacebook, c.last}), c.quit);
    EXPECT_EQ(startedDisabled, (std::vector<bool>{false, true}));
    EXPECT_EQ(closedDisabled, (std::vector<bool>{true, true}));
    EXPECT_TRUE(root->facebookAccessToken.isNil());
    // The detached browser is done before its folder goes.
    EXPECT_EQ(browserArgs().size(), 1u);
    std::filesystem::remove(dir / "browser.args");
  }
}

TEST_F(LogOutWindowTest, TheTokensGoEvenWithoutABrowser) {
  useBrowser(dir / "missing");
  root->facebookAccessToken = Str("T");
  root->facebookUserID = Str("1000");
  EXPECT_FALSE(run({kFacebook, kFinished}));
  EXPECT_TRUE(reloaded().facebookAccessToken.isNil());
  EXPECT_TRUE(root->facebookUserID.isNil());
}

TEST_F(LogOutWindowTest, InvitationPages) {
  facebookAskFriendViaSend();
  EXPECT_EQ(browserArgs(), (std::vector<std::string>{"https://fb.test/dialog/send?app_id=604917382215530&redirect_uri="
                                                         "http://maker.test/brindlework/permission_request_sent.html"
                                                         "&link=http://maker.test/brindlework/permission_request6.html"}));
  std::filesystem::remove(dir / "browser.args");
  facebookAskFriendViaShare();
  EXPECT_EQ(browserArgs(), (std::vector<std::string>{"https://fb.test/dialog/share?app_id=604917382215530&display="
                                                         "page&href=http://maker.test/brindlework/permission_request6.html"}));
}

}  // namespace
}  // namespace bw
