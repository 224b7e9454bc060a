// social/service_config.cpp - addresses from the environment and the
// consumer pair unmasked at module start.
#include "social/service_config.h"

#include <cstdint>
#include <cstdlib>

namespace bw {
namespace {

// "Placeholder" credentials, XOR-masked so that the text does not stand in
// the program as it is.
constexpr uint8_t kKeyMask = 0xA5;
constexpr uint8_t kMaskedKey[25] = {0xE7, 0xD7, 0xCC, 0xCB, 0xC1, 0xC9, 0xC0, 0xD2, 0xCA, 0xD7, 0xCE, 0xE6, 0xCA, 0xCB, 0xD6, 0xD0, 0xC8, 0xC0, 0xD7, 0xEE, 0xC0, 0xDC, 0x95, 0x95, 0x95};
constexpr uint8_t kSecretMask = 0x5A;
constexpr uint8_t kMaskedSecret[50] = {0x18, 0x28, 0x33, 0x34, 0x3E, 0x36, 0x3F, 0x2D, 0x35, 0x28, 0x31, 0x0A, 0x36, 0x3B, 0x39, 0x3F, 0x32, 0x35, 0x36, 0x3E, 0x3F, 0x28, 0x19, 0x35, 0x34, 0x29, 0x2F, 0x37, 0x3F, 0x28, 0x09, 0x3F, 0x39, 0x28, 0x3F, 0x2E, 0x14, 0x35, 0x2E, 0x1B, 0x08, 0x3F, 0x3B, 0x36, 0x09, 0x3F, 0x39, 0x28, 0x3F, 0x2E};

Str gConsumerKey;
Str gConsumerSecret;

Str envOr(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return Str(value ? value : fallback);
}

template <size_t N>
Str unmask(const uint8_t (&masked)[N], uint8_t mask) {
  Str text = Str::withCapacity(static_cast<int32_t>(N));
  for (uint8_t byte : masked) text.append(static_cast<char>(byte ^ mask));
  return text;
}

void wipe(Str& s) {
  if (!s.isNil()) s.setLength(s.capacity(), '\0');
  s = Str();
}

}  // namespace

Str twitterApiBase() { return envOr("BRINDLEWORK_TWITTER_API", "https://api.twitter.com"); }
Str graphApiBase() { return envOr("BRINDLEWORK_GRAPH_API", "https://graph.facebook.com"); }
Str facebookWebBase() { return envOr("BRINDLEWORK_FACEBOOK_WEB", "https://www.facebook.com"); }
Str makerWebBase() { return envOr("BRINDLEWORK_MAKER_WEB", "http://www.example.org"); }
Str facebookAppId() { return envOr("BRINDLEWORK_FACEBOOK_APP_ID", "604917382215530"); }

const Str& twitterConsumerKey() { return gConsumerKey; }
const Str& twitterConsumerSecret() { return gConsumerSecret; }

void buildTwitterCredentials() {
  const char* key = std::getenv("BRINDLEWORK_TWITTER_CONSUMER_KEY");
  const char* secret = std::getenv("BRINDLEWORK_TWITTER_CONSUMER_SECRET");
  gConsumerKey = key ? Str(key) : unmask(kMaskedKey, kKeyMask);
  gConsumerSecret = secret ? Str(secret) : unmask(kMaskedSecret, kSecretMask);
}

void credentialsModuleEnd() {
  wipe(gConsumerKey);
  wipe(gConsumerSecret);
}

}  // namespace bw
