// social/facebook_group_test.cpp - typed Facebook addresses turned into
// account ids against the fake Graph API: what is asked, the confirmation
// requester, the closed-group refusal and the existence check.
#include "social/facebook_group.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "news/downloader_choice.h"
#include "social/facebook_test_support.h"

namespace bw {
namespace {

constexpr char kGroupFields[] = "?fields=name,id,privacy,description,owner";

// An id as a test expects it: "<NIL>" for NIL.
std::string shown(const Str& id) { return id.isNil() ? "<NIL>" : id.str(); }

class FacebookGroupTest : public testing_social::FacebookFixture {
 protected:
  FacebookGroupFound find(const char* url, NewsGuiWindow* window = nullptr) {
    downloadFacebook d(root->facebookAccessToken, root->facebookUserID);
    return findFacebookGroup(url, window, &d);
  }
  // The requesters asked so far, filled.
  std::vector<std::string> asked() const {
    std::vector<std::string> out;
    for (const auto& c : ui.calls) out.push_back(c.filled());
    return out;
  }
};

TEST(FacebookGroupAddress, WithoutADownloaderNothingIsAsked) {
  const struct {
    const char* url;
    const char* id;
    bool isGroup;
  } cases[] = {
      {"https://www.facebook.com/groups/Some-Group", "", true},
      {"https://www.facebook.com/groups/123/", "123", true},
      {"https://www.facebook.com/SomePage?x", "somepage", false},
      {"https://www.facebook.com/settings", "<NIL>", false},
      {"https://www.facebook.com/profile.php?id=4", "<NIL>", false},
      {"https://xfacebook.com/a", "<NIL>", false},
      {"https://www.facebook.com/", "<NIL>", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    FacebookGroupFound found = findFacebookGroup(c.url, nullptr, nullptr);
    EXPECT_EQ(shown(found.id), c.id);
    EXPECT_EQ(found.isGroup, c.isGroup);
  }
}

TEST_F(FacebookGroupTest, ANumericGroupIsAskedOnlyForItselfAndItsExistence) {
  FacebookGroupFound found = find("https://www.facebook.com/groups/123");
  EXPECT_EQ(found.id.view(), "123");
  EXPECT_TRUE(found.isGroup);
  EXPECT_EQ(fake->targets(), (std::vector<std::string>{"/v2.8/123" + std::string(kGroupFields) + "&access_token=T",
                                                       "/v2.8/123?access_token=T"}));
  EXPECT_TRUE(ui.calls.empty());
}

TEST_F(FacebookGroupTest, TheSearchAsksForEachGroupUntilOneIsConfirmed) {
  fake->script("search", 200,
               R"({"data":[{"id":"11","name":"Caf\u00e9 club","privacy":"OPEN","owner":{"name":"Ann"},)"
               R"("description":"Coffee"},{"id":"1/2","name":"Odd"},{"id":"22","privacy":"OPEN"}]})");
  ui.answers = {0, 1};  // No, then Yes
  FacebookGroupFound found = find("https://www.facebook.com/groups/Caf+Club/x");
  EXPECT_EQ(found.id.view(), "22");
  EXPECT_TRUE(found.isGroup);
  EXPECT_EQ(fake->targets().front(),
            "/v2.8/search" + std::string(kGroupFields) + "&q=caf%2Bclub&type=group&access_token=T");
  EXPECT_EQ(fake->targets().back(), "/v2.8/22?access_token=T");
  // The entry whose id would change a Graph path is not offered.
  ASSERT_EQ(ui.calls.size(), 2u);
  EXPECT_EQ(ui.calls[0].title, "Brindlework");
  EXPECT_EQ(ui.calls[0].buttons, "Yes|No");
  EXPECT_EQ(ui.calls[0].text, "Is this the Group that you wanted:\n\n\x1b" "1%s\n%s%s%s%s");
  EXPECT_EQ(ui.calls[0].filled(),
            "Is this the Group that you wanted:\n\n\x1b" "1Caf\xc3\xa9 club\n(Facebook group owned by Ann)\nCoffee");
  EXPECT_EQ(ui.calls[1].filled(), "Is this the Group that you wanted:\n\n\x1b" "1unknown\n");
  EXPECT_EQ(ui.calls[0].wrap1, kGroupRequesterWidth);
  EXPECT_EQ(ui.calls[0].wrap2, kGroupRequesterHeight);

  // A large window makes a larger requester; "No" to every group, or no
  // group at all, gives NIL without a message.
  struct Large : testing_news::ScriptedProgressWindow {
    int32_t infoWidth() const override { return 2001; }
    int32_t infoHeight() const override { return 1203; }
  } large;
  ui.calls.clear();
  fake->script("search", 200, R"({"data":[{"id":"11","name":"G"}]})");
  EXPECT_TRUE(find("https://www.facebook.com/groups/g", &large).id.isNil());
  ASSERT_EQ(ui.calls.size(), 1u);
  EXPECT_EQ(ui.calls[0].wrap1, 1000);
  EXPECT_EQ(ui.calls[0].wrap2, 601);
  EXPECT_TRUE(find("https://www.facebook.com/groups/g").id.isNil());
  EXPECT_EQ(ui.calls.size(), 1u);
  fake->script("search", 500, "{}");
  EXPECT_TRUE(find("https://www.facebook.com/groups/g").id.isNil());
}

TEST_F(FacebookGroupTest, ClosedGroupsAreRefused) {
  fake->script("group", 200, R"({"id":"123","name":"Quiet","privacy":"Closed"})");
  fake->script("search", 200, R"({"data":[{"id":"9","name":"Hush","privacy":"CLOSED"}]})");
  ui.answers = {1, 1};  // OK, then Yes
  EXPECT_TRUE(find("https://www.facebook.com/groups/123").id.isNil());
  EXPECT_TRUE(find("https://www.facebook.com/groups/hush").id.isNil());
  const std::string refusal = " is not a Public group,\nso Facebook does not allow apps to read any posts made to it.";
  EXPECT_EQ(asked(), (std::vector<std::string>{"Sorry but \"Quiet\"" + refusal,
                                               "Is this the Group that you wanted:\n\n\x1b" "1Hush\n",
                                               "Sorry but \"Hush\"" + refusal}));
  EXPECT_EQ(ui.calls[0].buttons, "OK");
  // Neither was asked whether it exists.
  for (const std::string& t : fake->targets()) EXPECT_EQ(t.find("/v2.8/9?"), std::string::npos) << t;
}

TEST_F(FacebookGroupTest, TheIdMustExist) {
  const struct {
    int status;
    const char* body;
    const char* id;
  } cases[] = {
      {404, "{}", "<NIL>"},
      {200, R"({"id":"somepage"})", "<NIL>"},
      {200, "[]", "<NIL>"},
      {500, "{}", "somepage"},  // any other failure keeps the id
      {200, R"({"id":"somepage","name":"Some Page"})", "somepage"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    fake->script("object", c.status, c.body);
    FacebookGroupFound found = find("https://www.facebook.com/SomePage");
    EXPECT_EQ(shown(found.id), c.id);
    EXPECT_FALSE(found.isGroup);
  }
  EXPECT_EQ(fake->targets().back(), "/v2.8/somepage?access_token=T");
}

TEST_F(FacebookGroupTest, CancellingTheSignInEndsTheAddAtOnce) {
  // The stored token is refused and the user presses Cancel in the sign-in.
  root->facebookAccessToken = Str("stale");
  newToken = nullptr;
  for (const char* url : {"https://www.facebook.com/SomePage", "https://www.facebook.com/groups/123",
                          "https://www.facebook.com/groups/Some-Group"}) {
    SCOPED_TRACE(url);
    signIns = 0;
    cHTTP http(nullptr);
    DownloaderMade made = createDownloaderForURL(*root, url, &http, nullptr);
    EXPECT_EQ(made.downloader, nullptr);
    EXPECT_EQ(made.failed, kFeedAuthFailed);  // for the add dialog to tell
    EXPECT_EQ(signIns, 1);
  }
}

}  // namespace
}  // namespace bw
