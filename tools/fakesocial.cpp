// tools/fakesocial.cpp - runs the fake Twitter API standalone, for trying
// the program as a new user would: the sign-in goes through the real
// browser and the fake's authorize page redirects straight back.
//
//   fakesocial [--tweets N] [--page-size N]
//
// It prints the environment lines that point the program at it, then
// serves until interrupted (Ctrl-C). The consumer pair is the program's
// own, or the one in the environment.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "social/service_config.h"
#include "social/twitter_fake_api.h"

namespace {

volatile sig_atomic_t gStop = 0;

int usage() {
  std::fputs("usage: fakesocial [--tweets N] [--page-size N]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  long tweets = 50, pageSize = 20;
  for (int i = 1; i < argc; ++i) {
    if (i + 1 >= argc) return usage();
    if (std::strcmp(argv[i], "--tweets") == 0) {
      tweets = std::atol(argv[++i]);
    } else if (std::strcmp(argv[i], "--page-size") == 0) {
      pageSize = std::atol(argv[++i]);
    } else {
      return usage();
    }
  }
  if (tweets < 0 || pageSize < 1) return usage();
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
  std::printf("# add the feed https://twitter.com/SomeUser; Ctrl-C ends the fake\n");
  std::fflush(stdout);
  signal(SIGINT, [](int) { gStop = 1; });
  signal(SIGTERM, [](int) { gStop = 1; });
  while (!gStop) pause();
  bw::credentialsModuleEnd();
  return 0;
}
