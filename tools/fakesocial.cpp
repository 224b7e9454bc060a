// tools/fakesocial.cpp - runs the fake Twitter API and the fake Graph API
// with the Facebook web site standalone, for trying the program as a new
// user would: the sign-ins go through the real browser and the fakes'
// authorize and dialog pages redirect straight back.
//
//   fakesocial [--tweets N] [--page-size N] [--posts N]
//
// It prints the environment lines that point the program at them, then
// serves until interrupted (Ctrl-C). The consumer pair is the program's
// own, or the one in the environment.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "social/service_config.h"
#include "social/facebook_fake_api.h"
#include "social/twitter_fake_api.h"

namespace {

volatile sig_atomic_t gStop = 0;

int usage() {
  std::fputs("usage: fakesocial [--tweets N] [--page-size N] [--posts N]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long tweets = 50, pageSize = 20, posts = 30;
  for (int i = 1; i < argc; ++i) {
    if (i + 1 >= argc) return usage();
    if (std::strcmp(argv[i], "--tweets") == 0) {
      tweets = std::atol(argv[++i]);
    } else if (std::strcmp(argv[i], "--page-size") == 0) {
      pageSize = std::atol(argv[++i]);
    } else if (std::strcmp(argv[i], "--posts") == 0) {
      posts = std::atol(argv[++i]);
    } else {
      return usage();
    }
  }
  if (tweets < 0 || pageSize < 1 || posts < 0) return usage();
  bw::buildTwitterCredentials();
  bw::test::FakeTwitterApi::Settings settings;
  settings.consumerSecret = bw::twitterConsumerSecret().str();
  settings.pageSize = static_cast<size_t>(pageSize);
  bw::test::FakeTwitterApi fake(settings);
  std::vector<bw::test::FakeTweet> list;
  for (long id = 1; id <= tweets; ++id) {
    list.push_back({1000 + id, "Tweet number " + std::to_string(id) + " https://example.com/" + std::to_string(id),
                    "Wed Aug 27 13:08:45 +0000 2008", "https://example.com/story/" + std::to_string(id)});
  }
  fake.setTweets(std::move(list));
  std::printf("BRINDLEWORK_TWITTER_API=%s\nexport BRINDLEWORK_TWITTER_API\n", fake.origin().c_str());

  // Graph API and web site on one port; every page and group is served the
  // same posts, one comment on every third.
  bw::test::FakeGraphApi::Settings facebookSettings;
  facebookSettings.tokenInFragment = true;  // a real browser runs the landing page
  bw::test::FakeGraphApi facebook(facebookSettings);
  std::vector<std::string> postList;
  for (long n = posts; n >= 1; --n) {
    const std::string id = std::to_string(n), day = std::to_string(10 + n % 18);
    std::string post = R"({"id":"77_)" + id + R"(","from":{"id":"77","name":"Some Page"},"message":"Post number )" + id +
                       R"(","permalink_url":"https:\/\/www.facebook.com\/77\/posts\/)" + id +
                       R"(","created_time":"2017-06-)" + day + R"(T10:)" + std::to_string(10 + n % 50) + R"(:00+0000")";
    if (n % 3 == 0) {
      post += R"(,"comments":{"data":[{"id":")" + id + R"(_1","from":{"name":"Bo"},"message":"Nice","created_time":"2017-07-)" +
              day + R"(T10:00:00+0000"}]})";
    }
    postList.push_back(post + "}");
  }
  facebook.setPosts(std::move(postList));
  std::printf("BRINDLEWORK_GRAPH_API=%s\nexport BRINDLEWORK_GRAPH_API\n", facebook.origin().c_str());
  std::printf("BRINDLEWORK_FACEBOOK_WEB=%s\nexport BRINDLEWORK_FACEBOOK_WEB\n", facebook.origin().c_str());
  std::printf("# add the feeds https://twitter.com/SomeUser and https://www.facebook.com/SomePage;"
              " Ctrl-C ends the fakes\n");
  std::fflush(stdout);
  signal(SIGINT, [](int) { gStop = 1; });
  signal(SIGTERM, [](int) { gStop = 1; });
  while (!gStop) pause();
  bw::credentialsModuleEnd();
  return 0;
}
