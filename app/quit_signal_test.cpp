// app/quit_signal_test.cpp - one SIGTERM ends a windowed run from the states
// where a quit was once lost or taken for a Cancel: the Twitter and Facebook
// sign-in waits against the fake services, a requester of the start-up road
// and a command's requester. Each run is the whole program in this process
// on a real X server under a window manager (Xvfb and openbox); skipped with
// a message where either is missing.
#include <gtest/gtest.h>
#include <signal.h>

#include <QGuiApplication>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "app/desktop_test_support.h"
#include "app/feed_commands_test_support.h"
#include "app/gui_user_test_support.h"
#include "database/soup_check_test_support.h"
#include "platform/dos_env.h"
#include "platform/spawn_test_support.h"
#include "social/facebook_fake_api.h"
#include "social/login_window.h"
#include "social/twitter_fake_api.h"

namespace bw::testing_app {
namespace {

using Clock = std::chrono::steady_clock;
using testing_support::EnvScope;

class QuitSignalTest : public DesktopProgramTest {
 protected:
  // Runs the program: steps as the user's, and one SIGTERM at the first
  // wait or poll where signalNow holds (asked at every one, so that it may
  // watch the windows too). After the signal the program may no longer wait
  // for the user. Answers the exit code; the seconds from the signal to the
  // run's end go to secondsAfterSignal.
  int runUntilSignalled(std::vector<ScriptedUser::Step> steps, std::function<bool()> signalNow) {
    std::optional<Clock::time_point> signalled;
    auto maybeSignal = [&] {
      if (!signalNow() || signalled) return;
      signalled = Clock::now();
      ::raise(SIGTERM);
    };
    std::vector<ScriptedUser::Step> wrapped;
    steps.push_back([] {});  // the moment may come at the wait after the last step
    for (ScriptedUser::Step& step : steps) {
      wrapped.push_back([&, step] {
        if (signalled) {
          ADD_FAILURE() << "the program waits for the user after the signal";
          return guiAppClient()->killCommand();
        }
        maybeSignal();
        if (!signalled) step();
      });
    }
    ScriptedUser user(std::move(wrapped));
    user.onPoll = maybeSignal;
    const int rc = run();
    EXPECT_TRUE(signalled) << "the moment to signal never came";
    secondsAfterSignal = signalled ? std::chrono::duration<double>(Clock::now() - *signalled).count() : 0;
    return rc;
  }
  // The run ended at once and cleanly: exit 0, within two seconds, the
  // database closed properly and backed up as at a normal quit, no
  // exception, and the signal taken by the windows alone. (A requester
  // after the signal, such as a false "Authentication failed", would have
  // waited for the user.)
  void expectEndedCleanly(int rc) {
    EXPECT_EQ(rc, 0) << output;
    EXPECT_LT(secondsAfterSignal, 2.0);
    EXPECT_EQ(output.find("EXCEPTION:"), std::string::npos) << output;
    const std::string image = bytes("database.soup");
    bw::testing::expectSoupSound(std::vector<uint8_t>(image.begin(), image.end()), soupcheck::Expect::kClosed);
    EXPECT_TRUE(exists("database.soup.bak_1Latest"));
    EXPECT_FALSE(dos::checkBreak());
  }

  // Adds address, whose sign-in shows its waiting window (published in
  // waitingWindow), and signals while it waits.
  void expectEndsDuringSignIn(const std::string& address, NewsGuiWindow* const& waitingWindow) {
    bool waiting = false;
    const int rc = runUntilSignalled(addFeedSteps(address), [&] {
      waiting = waiting || waitingWindow;
      return waitingWindow != nullptr;
    });
    EXPECT_TRUE(waiting);
    expectEndedCleanly(rc);
  }

  static cGuiWindowHostCore* addDialog() { return windowTitled("Add feed"); }
  // "Add", the address, "OK".
  static std::vector<ScriptedUser::Step> addFeedSteps(std::string address) {
    return {[] { click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Add")); },
            [address] { type(addDialog(), "URL", address); },
            [] { click(addDialog(), okButton(addDialog())); }};
  }

  double secondsAfterSignal = 0;
  // The browser that the sign-in sends to its page never answers.
  EnvScope browser_{"BROWSER", "true"};
};

TEST_F(QuitSignalTest, DuringTheTwitterSignInWait) {
  EnvScope key("BRINDLEWORK_TWITTER_CONSUMER_KEY", "testConsumerKey");
  EnvScope secret("BRINDLEWORK_TWITTER_CONSUMER_SECRET", "testConsumerSecret");
  test::FakeTwitterApi::Settings settings;
  settings.consumerSecret = "testConsumerSecret";
  test::FakeTwitterApi fake(settings);
  EnvScope api("BRINDLEWORK_TWITTER_API", fake.origin().c_str());
  expectEndsDuringSignIn("twitter.com/SomeUser", twitterLoginWindow);
}

TEST_F(QuitSignalTest, DuringTheFacebookSignInWait) {
  test::FakeGraphApi fake;
  EnvScope api("BRINDLEWORK_GRAPH_API", fake.origin().c_str());
  EnvScope web("BRINDLEWORK_FACEBOOK_WEB", fake.origin().c_str());
  expectEndsDuringSignIn("https://www.facebook.com/SomePage", facebookLoginWindow);
}

// The requester that tells of a repair at start-up: the run ends without
// opening the main window.
TEST_F(QuitSignalTest, WithARequesterOfTheStartUpRoad) {
  withDatabase("database.soup", damageForARepair);
  bool mainWindowSeen = false;
  const int rc = runUntilSignalled({}, [&] {
    mainWindowSeen = mainWindowSeen || mainWindow();
    cGuiWindow* requester = windowTitled("Brindlework");
    return requester && requester != guiWindows().front() && requester->infoIsOpen();
  });
  expectEndedCleanly(rc);
  EXPECT_FALSE(mainWindowSeen);
}

TEST_F(QuitSignalTest, WithACommandsRequester) {
  withDatabase("database.soup", [](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) { addFeed(db, root, "f", 1); });
  const int rc = runUntilSignalled(
      {[] { selectRows(gadget<cGuiList>(mainWindow(), "", 1), {0}); },
       [] { click(mainWindow(), gadget<cGuiButton>(mainWindow(), "Delete")); }},
      [] {
        cGuiWindow* question = windowTitled("Delete feeds");
        return question && question->infoIsOpen();
      });
  expectEndedCleanly(rc);
  withDatabase("database.soup", [](cJournaledIndexedObjectSoupDatabase&, newsRoot& root) {
    EXPECT_NE(root.feedList->infoHeadIndex(), 0);  // the quit is no "Yes"
  });
}

}  // namespace
}  // namespace bw::testing_app
