// social/twitter_test_support.h - the fixture of the Twitter tests: the
// update fixture's database, root, scripted interface and clock, the
// Twitter module started, the fake API as the service's address, a root
// holding a token pair the fake accepts, and a scripted sign-in that
// counts its calls.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <string>
#include <vector>

#include "news/feed_update_test_support.h"
#include "platform/spawn_test_support.h"
#include "social/service_config.h"
#include "social/twitter_downloader.h"
#include "social/twitter_fake_api.h"
#include "social/twitter_module.h"

namespace bw::testing_social {

class TwitterTest : public testing_news::FeedUpdateTest {
 protected:
  void SetUp() override {
    FeedUpdateTest::SetUp();
    twitterModuleNew();
    test::FakeTwitterApi::Settings settings;
    settings.consumerSecret = twitterConsumerSecret().str();
    fake = std::make_unique<test::FakeTwitterApi>(settings);
    apiBase = std::make_unique<testing_support::EnvScope>("BRINDLEWORK_TWITTER_API", fake->origin().c_str());
    fake->acceptToken("userToken", "userSecret");
    db->createdObject(root.get());  // stored, so that a new token pair can be saved
    root->twitterToken = Str("userToken");
    root->twitterTokenSecret = Str("userSecret");
    setTwitterSignInHook([this](cHTTP&) {
      ++signIns;
      if (signInFails) return TwitterAccessToken{Str(), Str(), kSignInFailed};
      fake->acceptToken(fake->issuedToken.first, fake->issuedToken.second);
      return TwitterAccessToken{Str(fake->issuedToken.first), Str(fake->issuedToken.second), kSignInOk};
    });
  }
  void TearDown() override {
    releaseRoot();
    setTwitterSignInHook(nullptr);
    apiBase.reset();
    fake.reset();
    FeedUpdateTest::TearDown();
    twitterModuleEnd();
    credentialsModuleEnd();
  }

  // Gives back the loaded feeds and the stored root (the soup then owns and
  // ends it).
  void releaseRoot() {
    if (!root) return;
    for (newsFeed* f = root->firstLoadedFeed; f;) {
      newsFeed* next = f->nextLoadedFeed;
      db->unloadObject(f);
      f = next;
    }
    root->firstLoadedFeed = nullptr;
    db->unloadObject(root.release());
  }

  // Tweets with ids first..last (newest last), each with its own link.
  static std::vector<test::FakeTweet> tweets(int64_t first, int64_t last) {
    std::vector<test::FakeTweet> out;
    for (int64_t id = first; id <= last; ++id) {
      out.push_back({id, "tweet " + std::to_string(id) + " https://t.example.com/" + std::to_string(id),
                     "Wed Aug 27 13:" + std::to_string(10 + id % 50) + ":45 +0000 2008",
                     "http://example.com/story/" + std::to_string(id)});
    }
    return out;
  }

  // One download driven as the update drives it, to its end.
  struct Download {
    DownloadStep last;
    FeedDocument document;
    int32_t steps = 0;
  };
  // headersFirst: as the update drives its second request in flight, first
  // without a destination until the body can be read, which is then whole
  // before the destination comes.
  Download drive(downloadTwitter& d, bool headersFirst = false) {
    Download out;
    d.saveInit(true, nullptr, kFeedBufferSize);
    while (headersFirst && out.steps < 10000) {
      ++out.steps;
      if (cHTTP* http = d.infoHTTP()) http->isReady(1000);
      out.last = d.saveAppend(false, nullptr);
      if (out.last.failed != 0 || out.last.finished) break;
    }
    if (headersFirst && out.last.failed == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (bool first = true; out.steps < 10000 && out.last.failed == 0; first = false) {
      ++out.steps;
      if (cHTTP* http = d.infoHTTP()) http->isReady(1000);
      out.last = d.saveAppend(first, nullptr);
      if (out.last.failed != 0 || out.last.finished) break;
    }
    if (out.last.failed == 0) {
      d.updateFeedInfo(*db, *root);
      out.document = d.getDocument(false);
    }
    d.close();
    return out;
  }
  // A download of the fake user's timeline with the root's token pair.
  Download download(const char* sinceID = nullptr, const char* olderThanID = nullptr, int32_t* openFailed = nullptr,
                    bool headersFirst = false) {
    downloadTwitter d(root->twitterToken, root->twitterTokenSecret);
    TwitterOpenResult o = d.open(Str("12345"), Str(), "3200", Str(sinceID), Str(), nullptr, false, Str(olderThanID));
    if (openFailed) *openFailed = o.failed;
    if (o.failed != 0) return {};
    return drive(d, headersFirst);
  }

  std::unique_ptr<test::FakeTwitterApi> fake;
  std::unique_ptr<testing_support::EnvScope> apiBase;
  int signIns = 0;
  bool signInFails = false;
};

}  // namespace bw::testing_social
