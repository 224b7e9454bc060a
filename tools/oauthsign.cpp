// tools/oauthsign.cpp - signs one request the way the program signs its
// Twitter requests and prints the signature base string, the signature,
// the Authorization line and the request line and body as they would be
// sent, for comparing with published examples by hand.
//
//   oauthsign METHOD URL [--post DATA] [--token T --token-secret S]
//             [--nonce N] [--timestamp SECONDS]
//
// The consumer pair is the program's own, or BRINDLEWORK_TWITTER_CONSUMER_KEY
// and BRINDLEWORK_TWITTER_CONSUMER_SECRET. Without --nonce and --timestamp
// a fresh nonce and the current time are used. Nothing is sent.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "core/exception.h"
#include "platform/clock.h"
#include "social/oauth1.h"
#include "social/random_token.h"
#include "social/service_config.h"

namespace {

int usage() {
  std::fputs(
      "usage: oauthsign METHOD URL [--post DATA] [--token T --token-secret S] [--nonce N] [--timestamp SECONDS]\n",
      stderr);
  return 2;
}

int sign(int argc, char** argv) {
  if (argc < 3) return usage();
  std::string method = argv[1], url = argv[2];
  std::optional<std::string> post, token, tokenSecret, nonce, timestamp;
  for (int i = 3; i < argc; ++i) {
    std::optional<std::string>* option = nullptr;
    if (std::strcmp(argv[i], "--post") == 0) option = &post;
    if (std::strcmp(argv[i], "--token") == 0) option = &token;
    if (std::strcmp(argv[i], "--token-secret") == 0) option = &tokenSecret;
    if (std::strcmp(argv[i], "--nonce") == 0) option = &nonce;
    if (std::strcmp(argv[i], "--timestamp") == 0) option = &timestamp;
    if (!option || i + 1 >= argc) return usage();
    *option = argv[++i];
  }
  if (method != "GET" && method != "POST") return usage();
  if (method == "POST" && !post) post = "";
  if (method == "GET" && post) return usage();

  bw::initTimerDevice();
  bw::buildTwitterCredentials();
  if (timestamp) {
    int64_t seconds = std::strtoll(timestamp->c_str(), nullptr, 10);
    ::unsetenv("TZONE");  // the clock then answers exactly these UTC seconds
    bw::setClockSource([seconds] { return bw::ClockReading{seconds, 0, false}; });
  }
  // One nonce for the base string and the header alike.
  bw::Str fixedNonce = nonce ? bw::Str(*nonce) : bw::randomToken(32);
  bw::setRandomTokenSource([fixedNonce](int32_t) { return fixedNonce; });

  bw::Text postData = post ? bw::Text(*post) : bw::Text(nullptr);
  bw::Text tokenText = token ? bw::Text(*token) : bw::Text(nullptr);
  bw::Text secretText = tokenSecret ? bw::Text(*tokenSecret) : bw::Text(nullptr);
  bw::OauthKeyValuePairs parameters;
  bw::oauth1_addProtocolParameters(parameters, bw::twitterConsumerKey(), tokenText);
  std::printf("base string:   %s\n", bw::oauth1_signatureBaseString(parameters, url, postData).c_str());
  std::printf("signature:     %s\n",
              bw::oauth1_makeSignature(bw::twitterConsumerSecret(), secretText, parameters, url, postData).c_str());
  std::printf("%s\n", bw::oauth1_authorizationHeader(url, bw::twitterConsumerKey(), bw::twitterConsumerSecret(),
                                                     tokenText, secretText, {}, nullptr, postData)
                          .c_str());
  size_t question = url.find('?');
  std::string target = url.substr(0, question);
  if (question != std::string::npos) {
    bw::Str query = bw::oauth1_encodeForm(bw::splitQueryString_facebook(url.substr(question + 1)));
    if (!query.empty()) target += "?" + query.str();
  }
  std::printf("sent:          %s %s\n", method.c_str(), target.c_str());
  if (post) std::printf("body:          %s\n", bw::oauth1_encodeForm(bw::splitQueryString_facebook(*post)).c_str());
  bw::credentialsModuleEnd();
  bw::closeTimerDevice();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return sign(argc, argv);
  } catch (const bw::eException& e) {
    std::fprintf(stderr, "oauthsign: %s %s\n", e.code().c_str(), e.message().c_str());
    return 1;
  }
}
