// app/add_feed_dialog_test.cpp - "Add feed" driven by a scripted user: the
// address as typed, what is told and what is added, a cancelled first update,
// the Facebook friends dialog, and an address whose open fails (a refused
// sign-in above all).
#include "app/add_feed_dialog.h"

#include <gtest/gtest.h>

#include "app/feed_commands_test_support.h"
#include "app/program_identity.h"
#include "platform/spawn_test_support.h"
#include "social/facebook_downloader.h"
#include "social/facebook_fake_api.h"
#include "social/facebook_module.h"
#include "social/twitter_downloader.h"
#include "social/twitter_module.h"

namespace bw::testing_app {
namespace {

class AddFeed : public MainWindowTest {
 protected:
  static cGuiWindowHostCore* dialog() { return windowTitled("Add feed"); }
  static ScriptedUser::Step typeURL(std::string url) {
    return [url] { type(dialog(), "URL", url); };
  }
  static void ok() { click(dialog(), okButton(dialog())); }
};

TEST(AddFeedAddress, AsTyped) {
  struct {
    const char* typed;
    const char* added;  // NIL: nothing to add
  } cases[] = {{"example.org/feed", "http://example.org/feed"}, {"https://x/f", "https://x/f"},
               {"HTTPS://x/f", "HTTPS://x/f"},                {"ftp://x", "ftp://x"},
               {"feed://x/f", "http://x/f"},                  {"feed:https://x/f", "https://x/f"},
               {"a b://c", "a b://c"},                        {"", nullptr},
               {" \thttps://x/f \n", "https://x/f"},          {"https://x/\r\nf", "https://x/f"},
               {" feed://x/f\n", "http://x/f"},               {" \n", nullptr}};
  for (auto& c : cases) {
    Str got = addressToAdd(c.typed);
    EXPECT_EQ(got.isNil() ? std::string("NIL") : got.str(), c.added ? c.added : "NIL") << c.typed;
  }
}

TEST_F(AddFeed, WhatIsToldAndWhatIsAdded) {
  withMain([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists, UpdateWindowRecord& record) {
    AddFeedTargets t{lists.mainWindow, lists.statusText, lists.feeds, lists.tags, nullptr, record};
    AddFeedResult r;
    // An empty address adds and tells nothing.
    script({[] {
              screenshot(dialog(), "add_feed");
              ok();
            }},
           [&] { r = addFeed(db, t, root, *charset); });
    EXPECT_EQ(r.feed, nullptr);
    EXPECT_TRUE(ui.calls.empty());
    // An address the update cannot fetch is told once, by the update.
    script({typeURL(server.url("gone.rss")), ok}, [&] { r = addFeed(db, t, root, *charset); });
    EXPECT_EQ(r.feed, nullptr);
    ASSERT_EQ(ui.calls.size(), 1u);
    EXPECT_EQ(ui.calls[0].title, "Add feed");
    // One no downloader can be made for is told here.
    ui.calls.clear();
    script({typeURL(kDead), ok}, [&] { r = addFeed(db, t, root, *charset); });
    ASSERT_EQ(ui.calls.size(), 1u);
    EXPECT_EQ(ui.calls[0].filled(), std::string("Failed to add the feed:\n\x1b" "1") + kDead);
    // A live one is added, counted and listed.
    ui.calls.clear();
    script({typeURL(server.url("a.rss")), ok}, [&] { r = addFeed(db, t, root, *charset); });
    ASSERT_NE(r.feed, nullptr);
    EXPECT_TRUE(ui.calls.empty());
    EXPECT_EQ(r.feed->infoName(charset.get()).view(), "Feed A");
    EXPECT_EQ(names(root, *charset), (std::vector<std::string>{"Feed A"}));
    EXPECT_EQ(lists.feedNames(), (std::vector<std::string>{"Feed A"}));
    EXPECT_NE(lists.statusText->getState().view().find("1 feeds shown"), std::string_view::npos)
        << lists.statusText->getState().view();
    // Cancel, the close gadget and a quit add nothing.
    script({[] { click(dialog(), gadget<cGuiButton>(dialog(), "Cancel")); }},
           [&] { r = addFeed(db, t, root, *charset); });
    EXPECT_EQ(r.feed, nullptr);
    EXPECT_FALSE(r.quit);
    script({[] { closeWindow(dialog()); }}, [&] { r = addFeed(db, t, root, *charset); });
    EXPECT_FALSE(r.quit);
    script({[] { guiAppClient()->killCommand(); }}, [&] { r = addFeed(db, t, root, *charset); });
    EXPECT_TRUE(r.quit);
  });
}

TEST_F(AddFeed, CancelDuringTheFirstUpdateAddsAndTellsNothing) {
  withMain([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists, UpdateWindowRecord& record) {
    AddFeedTargets t{lists.mainWindow, lists.statusText, lists.feeds, lists.tags, nullptr, record};
    // The update's first poll finds "Cancel" pressed in "Update feeds".
    ui.events = {{record.progress.cancelButton, record.progress.window}};
    AddFeedResult r;
    script({typeURL(server.url("b.rss")), ok}, [&] { r = addFeed(db, t, root, *charset); });
    EXPECT_EQ(r.feed, nullptr);
    EXPECT_FALSE(r.quit);
    // The update itself tells of a new feed's download that did not finish;
    // "Failed to add the feed" never follows a cancel.
    for (const auto& call : ui.calls) EXPECT_EQ(call.text.find("Failed to add the feed"), std::string::npos);
    EXPECT_EQ(root.firstLoadedFeed, nullptr);
    EXPECT_FALSE(record.window->infoIsOpen());
  });
}

TEST_F(AddFeed, FacebookFriendsDialog) {
  test::FakeGraphApi fake;
  testing_support::EnvScope base("BRINDLEWORK_GRAPH_API", fake.origin().c_str());
  fake.acceptToken("T");
  withMain([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists, UpdateWindowRecord&) {
    facebookModuleNew();
    root.facebookAccessToken = Str("T");
    root.facebookUserID = Str("1000");
    auto dialog = [] { return windowTitled("Add Facebook feed"); };
    auto friends = [&] { return gadget<cGuiList>(dialog(), "Friends"); };
    auto others = [&] { return gadget<cGuiTick>(dialog(), "Show other people's posts on their Timeline"); };
    const std::string own = std::string(programName);
    // Without a list of friends: told, and nothing made.
    fake.script("friends", 500, "{}");
    FacebookFeedChoice choice = addFacebookFeed(db, lists.mainWindow, root);
    EXPECT_EQ(choice.downloader, nullptr);
    ASSERT_EQ(ui.calls.size(), 1u);
    EXPECT_EQ(ui.calls[0].title, own);
    EXPECT_EQ(ui.calls[0].text, "Failed to retrieve list of Facebook friends.");
    // "OK" waits for a row; the tick is off for the user's own Timeline.
    ui.calls.clear();
    fake.script("friends", 200, R"({"data":[{"id":"2","name":"Ann"},{"id":"3","name":"Bob"}]})");
    script({[&] {
              EXPECT_TRUE(okButton(dialog())->infoDisabled());
              EXPECT_EQ(MainLists::firstColumns(*friends(), false),
                        (std::vector<std::string>{"anyone posting on your Timeline", "Ann", "Bob"}));
              screenshot(dialog(), "add_facebook_feed");
              selectRows(friends(), {0});
            },
            [&] {
              EXPECT_FALSE(okButton(dialog())->infoDisabled());
              EXPECT_TRUE(others()->infoDisabled());
              selectRows(friends(), {2});
            },
            [&] {
              EXPECT_FALSE(others()->infoDisabled());
              click(dialog(), okButton(dialog()));
            }},
           [&] { choice = addFacebookFeed(db, lists.mainWindow, root); });
    ASSERT_NE(choice.downloader, nullptr);
    EXPECT_EQ(choice.errorCode, 0);
    EXPECT_TRUE(ui.calls.empty());
    choice.downloader.reset();
    // An open the service refuses is told with its code.
    // (Without an own id the dialog and the open each ask "me".)
    root.facebookUserID = Str();
    fake.script("friends", 200, R"({"data":[{"id":"2","name":"Ann"}]})");
    fake.script("me", 200, "{}");
    fake.script("me", 200, "{}");
    script({[&] { selectRows(friends(), {1}); }, [&] { click(dialog(), okButton(dialog())); }},
           [&] { choice = addFacebookFeed(db, lists.mainWindow, root); });
    EXPECT_EQ(choice.downloader, nullptr);
    ASSERT_EQ(ui.calls.size(), 1u);
    EXPECT_EQ(ui.calls[0].filled(), "Failed due to Facebook errorCode 5.\nPlease report this.");
    facebookModuleEnd();
  });
}

TEST_F(AddFeed, AnAddressWhoseOpenFailsIsToldByItsKind) {
  test::FakeGraphApi fake;
  testing_support::EnvScope base("BRINDLEWORK_GRAPH_API", fake.origin().c_str());
  // Tokens are refused and the user does not sign in again.
  struct SignInsRefused {
    SignInsRefused() {
      setFacebookSignInHook([] { return Str(); });
      setTwitterSignInHook([](cHTTP&) { return TwitterAccessToken{}; });
    }
    ~SignInsRefused() {
      setFacebookSignInHook({});
      setTwitterSignInHook({});
    }
  } refused;
  withMain([&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, MainLists& lists, UpdateWindowRecord& record) {
    facebookModuleNew();
    twitterModuleNew();
    AddFeedTargets t{lists.mainWindow, lists.statusText, lists.feeds, lists.tags, nullptr, record};
    root.facebookAccessToken = Str("stale");
    const std::string told = "Authentication failed for:\n\x1b" "1";
    struct {
      const char* typed;
      std::string text;
    } cases[] = {
        {"https://www.facebook.com/SomePage", told + "https://www.facebook.com/SomePage"},
        {"twitter.com/someone", told + "http://twitter.com/someone"},
        // No such account name: the open fails without an error code.
        {"twitter.com/no-such-name", "Failed to add the feed:\n\x1b" "1http://twitter.com/no-such-name"},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.typed);
      ui.calls.clear();
      AddFeedResult r;
      script({typeURL(c.typed), ok}, [&] { r = addFeed(db, t, root, *charset); });
      EXPECT_EQ(r.feed, nullptr);
      ASSERT_EQ(ui.calls.size(), 1u);
      EXPECT_EQ(ui.calls[0].title, "Add feed");
      EXPECT_EQ(ui.calls[0].filled(), c.text);
    }
    EXPECT_EQ(root.firstLoadedFeed, nullptr);
    EXPECT_FALSE(record.window->infoIsOpen());
    twitterModuleEnd();
    facebookModuleEnd();
  });
}

}  // namespace
}  // namespace bw::testing_app
