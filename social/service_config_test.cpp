// social/service_config_test.cpp - the consumer pair's life cycle and the
// addresses' environment overrides.
#include "social/service_config.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace bw {
namespace {

TEST(ServiceConfig, ConsumerPairLivesFromModuleStartToCredentialsEnd) {
  ::unsetenv("BRINDLEWORK_TWITTER_CONSUMER_KEY");
  ::unsetenv("BRINDLEWORK_TWITTER_CONSUMER_SECRET");
  EXPECT_TRUE(twitterConsumerKey().isNil());
  buildTwitterCredentials();
  EXPECT_EQ(twitterConsumerKey().length(), 25);
  EXPECT_EQ(twitterConsumerSecret().length(), 50);
  credentialsModuleEnd();
  EXPECT_TRUE(twitterConsumerKey().isNil());
  EXPECT_TRUE(twitterConsumerSecret().isNil());
}

TEST(ServiceConfig, AddressesFollowTheEnvironment) {
  ::unsetenv("BRINDLEWORK_TWITTER_API");
  EXPECT_EQ(twitterApiBase(), "https://api.twitter.com");
  EXPECT_EQ(facebookAppId(), "604917382215530");
  ::setenv("BRINDLEWORK_TWITTER_API", "http://127.0.0.1:9", 1);
  EXPECT_EQ(twitterApiBase(), "http://127.0.0.1:9");
  ::unsetenv("BRINDLEWORK_TWITTER_API");
}

}  // namespace
}  // namespace bw
