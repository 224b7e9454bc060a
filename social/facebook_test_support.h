// social/facebook_test_support.h - the fixture of the Facebook tests: the
// news fixture's database, root and scripted interface, the Facebook module
// started, the fake Graph API as the configured base with the root's token
// "T" accepted, and a scripted sign-in that counts its runs.
#pragma once

#include <memory>

#include "news/feed_update_test_support.h"
#include "platform/spawn_test_support.h"
#include "social/facebook_downloader.h"
#include "social/facebook_fake_api.h"
#include "social/facebook_module.h"

namespace bw::testing_social {

class FacebookFixture : public testing_news::FeedUpdateTest {
 protected:
  void SetUp() override {
    FeedUpdateTest::SetUp();
    facebookModuleNew();
    fake = std::make_unique<test::FakeGraphApi>();
    base = std::make_unique<testing_support::EnvScope>("BRINDLEWORK_GRAPH_API", fake->origin().c_str());
    fake->acceptToken("T");
    db->createdObject(root.get());
    rootStored = true;
    root->facebookAccessToken = Str("T");
    setFacebookSignInHook([this] {
      ++signIns;
      if (!newToken) return Str();
      if (acceptNew) fake->acceptToken(newToken);
      return Str(newToken);
    });
  }
  void TearDown() override {
    setFacebookSignInHook(nullptr);
    base.reset();
    fake.reset();
    facebookModuleEnd();
    FeedUpdateTest::TearDown();
  }

  std::unique_ptr<test::FakeGraphApi> fake;
  std::unique_ptr<testing_support::EnvScope> base;
  int signIns = 0;
  const char* newToken = "T2";  // what the sign-in gives (NIL: nothing)
  bool acceptNew = true;         // whether the service then takes it
};

}  // namespace bw::testing_social
