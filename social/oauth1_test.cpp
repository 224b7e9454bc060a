// social/oauth1_test.cpp - OAuth signing: the published vectors (checked by
// the test-side verifier too), the header, and oauth1_openURL's bytes on
// the wire of a loopback server with the clock and the nonce fixed.
#include "social/oauth1.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <optional>
#include <set>
#include <string>

#include "core/raise_test_support.h"
#include "platform/clock.h"
#include "social/oauth_verifier_test_support.h"
#include "social/random_token.h"
#include "web/http_save.h"
#include "web/http_test_support.h"

namespace bw {
namespace {

OauthKeyValuePairs params(std::initializer_list<std::pair<const char*, const char*>> list) {
  OauthKeyValuePairs out;
  for (const auto& [k, v] : list) newOauthKeyValuePair(out, Str(k), Str(v));
  return out;
}

struct SigningVector {
  const char *method, *url, *postData, *wireBody, *consumerSecret, *tokenSecret;
  OauthKeyValuePairs params;
  const char* signature;
};

std::vector<SigningVector> signingVectors() {
  const char* twitterPost = "status=Hello Ladies + Gentlemen, a signed OAuth request!";
  return {
      {"POST", "https://photos.example.net/initiate", "", "", "kd94hf93k423kf44", nullptr,
       params({{"oauth_consumer_key", "dpf43f3p2l4k3l03"}, {"oauth_signature_method", "HMAC-SHA1"},
               {"oauth_timestamp", "137131200"}, {"oauth_nonce", "wIjqoS"},
               {"oauth_callback", "http://printer.example.com/ready"}}),
       "74KNZJeDHnMBp0EMJ9ZHt/XKycU="},
      {"POST", "https://photos.example.net/token", "", "", "kd94hf93k423kf44", "hdhd0244k9j7ao03",
       params({{"oauth_consumer_key", "dpf43f3p2l4k3l03"}, {"oauth_token", "hh5s93j4hdidpola"},
               {"oauth_signature_method", "HMAC-SHA1"}, {"oauth_timestamp", "137131201"},
               {"oauth_nonce", "walatlh"}, {"oauth_verifier", "hfdp7dh39dks9884"}}),
       "gKgrFCywp7rO0OXSjdot/IHF7IU="},
      {"GET", "http://photos.example.net/photos?file=vacation.jpg&size=original", nullptr, "",
       "kd94hf93k423kf44", "pfkkdhi9sl3r4s00",
       params({{"oauth_consumer_key", "dpf43f3p2l4k3l03"}, {"oauth_token", "nnch734d00sl2jdk"},
               {"oauth_signature_method", "HMAC-SHA1"}, {"oauth_timestamp", "137131202"},
               {"oauth_nonce", "chapoH"}}),
       "MdpQcU8iPSUjWoN/UDMsK2sui9I="},
      {"POST", "https://api.twitter.com/1.1/statuses/update.json?include_entities=true", twitterPost,
       "status=Hello%20Ladies%20%2B%20Gentlemen%2C%20a%20signed%20OAuth%20request%21",
       "kAcSOqF21Fu85e7zjz7ZN2U4ZRhfV3WpwPAoE3Z7kBw", "LswwdoUaIvS8ltyTt5jkRh4J50vUPVVHtR2YPi5kE",
       params({{"oauth_consumer_key", "xvz1evFS4wEEPTGEFPHBog"},
               {"oauth_nonce", "kYjzVBB8Y0ZFabxSWbWovY3uYSQ2pTgmZeNu2VS4cg"},
               {"oauth_signature_method", "HMAC-SHA1"}, {"oauth_timestamp", "1318622958"},
               {"oauth_token", "370773112-GmHxMAgYyLbNEtIKZeRNFsMKPR9EyMZeS9weJAEb"}, {"oauth_version", "1.0"}}),
       "hCtSmYh+iHYCEqBWrE7C7hYmtUk="},
  };
}

TEST(OauthSigning, PublishedVectorsAndTheVerifier) {
  for (SigningVector& v : signingVectors()) {
    SCOPED_TRACE(v.url);
    EXPECT_EQ(oauth1_makeSignature(v.consumerSecret, v.tokenSecret, v.params, v.url, v.postData), v.signature);
    newOauthKeyValuePair(v.params, Str("oauth_signature"), Str(v.signature));
    sortOauthKeyValuePairs(v.params);
    test::SignedRequest request{v.method, v.url,
                                oauth1_joinParameters(v.params, true, ", ", "Authorization: OAuth ", nullptr).str(),
                                v.wireBody};
    std::string tokenSecret = v.tokenSecret ? v.tokenSecret : "";
    EXPECT_EQ(test::verifyOauthRequest(request, v.consumerSecret, tokenSecret).mismatch, "");
    request.body += "&x=1";
    EXPECT_EQ(test::verifyOauthRequest(request, v.consumerSecret, tokenSecret).mismatch.substr(0, 19),
              v.method == std::string("POST") ? "oauth_signature is " : "");
    if (v.url[8] == 'a') {
      EXPECT_EQ(request.authorization,
                "Authorization: OAuth oauth_consumer_key=\"xvz1evFS4wEEPTGEFPHBog\", "
                "oauth_nonce=\"kYjzVBB8Y0ZFabxSWbWovY3uYSQ2pTgmZeNu2VS4cg\", "
                "oauth_signature=\"hCtSmYh%2BiHYCEqBWrE7C7hYmtUk%3D\", oauth_signature_method=\"HMAC-SHA1\", "
                "oauth_timestamp=\"1318622958\", "
                "oauth_token=\"370773112-GmHxMAgYyLbNEtIKZeRNFsMKPR9EyMZeS9weJAEb\", oauth_version=\"1.0\"");
    }
  }
}

TEST(OauthSigning, JoinAndBigValues) {
  OauthKeyValuePairs none;
  EXPECT_EQ(oauth1_joinParameters(none, true, ", ", "pre", "post"), "prepost");
  EXPECT_EQ(oauth1_joinParameters(none, false, nullptr, nullptr, nullptr), "");
  EXPECT_EQ(oauth1_joinParameters(params({{"a", "1"}, {"b", ""}}), false, nullptr, nullptr, "!"), "a=1&b=!");

  struct {
    int64_t value;
    const char* text;
  } values[] = {{0, "0"},
                {-1, "-1"},
                {1318622958, "1318622958"},
                {std::numeric_limits<int64_t>::max(), "9223372036854775807"},
                {std::numeric_limits<int64_t>::min(), "-9223372036854775808"}};  // no overflow
  for (const auto& c : values) EXPECT_EQ(twitterBigValueToString(c.value), c.text);
  Str clipped = Str::withCapacity(6, "id=");
  appendBigValue(clipped, -12345);
  EXPECT_EQ(clipped, "id=-12");
}

// The clock stands at a fixed second and nonces come in order, unless a
// test lets the kernel make them.
class OauthOpen : public testing::Test {
 protected:
  void SetUp() override {
    const char* tzone = std::getenv("TZONE");
    if (tzone) savedTzone_ = tzone;
    ::unsetenv("TZONE");
    initTimerDevice();
    setClockSource([] { return ClockReading{1318622958, 3600, false}; });
    setRandomTokenSource([this](int32_t n) { return Str(std::string(static_cast<size_t>(n), 'N') + std::to_string(++nonces_)); });
  }
  void TearDown() override {
    setRandomTokenSource({});
    setClockSource({});
    closeTimerDevice();
    if (!savedTzone_.empty()) ::setenv("TZONE", savedTzone_.c_str(), 1);
  }
  std::string savedTzone_;
  int nonces_ = 0;
};

TEST_F(OauthOpen, SignedRequestsOnTheWire) {
  test::LoopbackServer server(test::Reply{{"HTTP/1.0 200 OK\r\n\r\nok"}}, 2);
  std::string origin = "http://127.0.0.1:" + std::to_string(server.port());
  cHTTP http("ua");
  std::string post = origin + "/1.1/users/lookup.json?resources=statuses,users";
  EXPECT_EQ(oauth1_openURL(http, post, "ck", "cs", "tk", "ts",
                           params({{"oauth_verifier", "v 1"}}), "\nContent-Type: application/x-www-form-urlencoded", "",
                           10, false)
                .result,
            0);
  httpSaveToBuffer first, second;
  EXPECT_EQ(http.save(&first, nullptr, 1024).result, 0);
  http.close();
  ASSERT_EQ(oauth1_openURL(http, origin + "/get", "ck", "c&s", nullptr, nullptr, {}, nullptr,
                           nullptr, 10, false)
                .result,
            0);
  EXPECT_EQ(http.save(&second, nullptr, 1024).result, 0);
  http.close();
  server.join();
  std::vector<std::string> wire = server.requests();
  ASSERT_EQ(wire.size(), 2u);

  std::string nonce1 = std::string(32, 'N') + "1";
  EXPECT_EQ(wire[0].substr(0, wire[0].find("oauth_signature=")),
            "POST /1.1/users/lookup.json?resources=statuses%2Cusers HTTP/1.0\r\nHost: 127.0.0.1:" +
                std::to_string(server.port()) + "\r\n"
            "Authorization: OAuth oauth_consumer_key=\"ck\", oauth_nonce=\"" + nonce1 + "\", ");
  size_t line = wire[0].find("\r\n", wire[0].find("Authorization"));
  EXPECT_EQ(wire[0].substr(wire[0].find("oauth_signature_method"), line - wire[0].find("oauth_signature_method")),
            "oauth_signature_method=\"HMAC-SHA1\", oauth_timestamp=\"1318622958\", oauth_token=\"tk\", "
            "oauth_verifier=\"v%201\", oauth_version=\"1.0\"");
  EXPECT_EQ(wire[0].substr(line),
            "\r\nContent-Type: application/x-www-form-urlencoded\r\nAccept: */*\r\nUser-Agent: ua\r\n"
            "Content-Length: 0\r\n\r\n");
  test::OauthVerdict post1 = test::verifyOauthRequest(test::signedRequestFromWire(wire[0], origin), "cs", "ts");
  EXPECT_EQ(post1.mismatch, "");
  EXPECT_EQ(post1.baseString.substr(0, 5), "POST&");
  EXPECT_NE(post1.baseString.find("statuses%252Cusers"), std::string::npos);

  // No token: no oauth_token, and the key is the encoded consumer secret
  // and "&".
  test::OauthVerdict get = test::verifyOauthRequest(test::signedRequestFromWire(wire[1], origin), "c&s", "");
  EXPECT_EQ(get.mismatch, "");
  EXPECT_EQ(wire[1].find("oauth_token"), std::string::npos);
  EXPECT_EQ(get.baseString.substr(0, 4), "GET&");
  EXPECT_EQ(wire[1].substr(0, 14), "GET /get HTTP/");
}

TEST_F(OauthOpen, RefusalsFailuresNoncesAndTimestamps) {
  cHTTP http(nullptr);
  expectRaise([&] { oauth1_openURL(http, "http://127.0.0.1:1/", "ck", "cs", nullptr, nullptr,
                                   params({{"oauth_callback", "x"}}), "Content-Type: x", nullptr, 10, false); },
              "EMU", "oauth1_openURL(); headers string does not begin with \\n");
  EXPECT_EQ(nonces_, 0);  // refused before anything was built
  // Nothing listens on port 1: openURL's failure comes back as it is.
  cHTTP::OpenResult failed = oauth1_openURL(http, "http://127.0.0.1:1/", "ck", "cs", nullptr,
                                            nullptr, {}, nullptr, nullptr, 10, false);
  EXPECT_EQ(failed.result, http.openURL("http://127.0.0.1:1/", nullptr, nullptr, nullptr, 10, false, nullptr, true).result);

  // Unix seconds of the system clock, whatever zone the variables name.
  for (const char* zone : {"", "EST5EDT", "CET-1CEST", "UTC"}) {
    SCOPED_TRACE(zone);
    if (*zone) ::setenv("TZONE", zone, 1);
    setClockSource([] { return ClockReading{7, -18000, true}; });
    EXPECT_NE(oauth1_authorizationHeader("http://h/", "ck", "cs", nullptr, nullptr, {}, nullptr, nullptr)
                  .view()
                  .find("oauth_timestamp=\"7\""),
              std::string_view::npos);
    ::unsetenv("TZONE");
  }

  setRandomTokenSource({});
  std::set<std::string> seen;
  for (int i = 0; i < 3; ++i) {
    Str header = oauth1_authorizationHeader("http://h/", "ck", "cs", nullptr, nullptr, {}, nullptr, nullptr);
    std::string h = header.str();
    size_t at = h.find("oauth_nonce=\"") + 13;
    std::string nonce = h.substr(at, h.find('"', at) - at);
    EXPECT_EQ(nonce.size(), 32u);
    EXPECT_EQ(nonce.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              std::string::npos);
    seen.insert(nonce);
  }
  EXPECT_EQ(seen.size(), 3u);  // all in the same second
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

KeyValuePairs raw(const Pairs& list) {
  KeyValuePairs out;
  for (const auto& [k, v] : list) newKeyValuePair(out, Str(k), Str(v));
  return out;
}

// What a server makes of the bytes it receives: the query's and the body's
// pairs, form-decoded, in order.
Pairs received(const std::string& wire) {
  std::string target = wire.substr(wire.find(' ') + 1);
  target = target.substr(0, target.find(' '));
  Pairs out;
  if (size_t q = target.find('?'); q != std::string::npos) test::addFormPairs(target.substr(q + 1), out);
  test::addFormPairs(wire.substr(wire.find("\r\n\r\n") + 4), out);
  return out;
}

TEST_F(OauthOpen, WhatIsSentIsWhatIsSigned) {
  struct Case {
    Pairs query;
    std::optional<Pairs> form;  // none: a GET
  } cases[] = {
      {{{"q", "a+b"}, {"sum", "1 + 1"}}, std::nullopt},
      {{{"p", "100%"}, {"x", "%41"}}, std::nullopt},  // "%41" is three bytes, never "A"
      {{{"v", "x&y=z"}, {"a&b", "c"}}, std::nullopt},
      {{{"h", "#tag"}, {"frag", "a#b"}}, std::nullopt},
      {{{"e", ""}, {"f", ""}, {"", "v"}}, std::nullopt},
      {{{"id", "2"}, {"id", "1"}, {"id", "10"}}, std::nullopt},
      {{{"name", "Zo\xC3\xAB \xE6\x97\xA5\xE6\x9C\xAC"}, {"smile", "\xF0\x9F\x98\x80"}}, std::nullopt},
      {{}, Pairs{{"status", "a+b 100% & c=d #e"}, {"empty", ""}, {"id", "2"}, {"id", "1"}}},
      {{{"q", "1+1"}}, Pairs{{"q", "2=2"}, {"u", "\xC3\xA9&\xC3\xA8"}}},
      {{}, Pairs{}},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const auto& [k, v] : c.query) trace += k + "=" + v + "&";
    SCOPED_TRACE(trace + (c.form ? " with a form" : ""));
    test::LoopbackServer server(test::Reply{{"HTTP/1.0 200 OK\r\n\r\nok"}}, 1);
    std::string origin = "http://127.0.0.1:" + std::to_string(server.port());
    cHTTP http("ua");
    KeyValuePairs form = c.form ? raw(*c.form) : KeyValuePairs();
    ASSERT_EQ(oauth1_openPairs(http, origin + "/1.1/x.json", raw(c.query), c.form ? &form : nullptr, "ck", "c s",
                               "tk", "t&s", {}, nullptr, 10, false)
                  .result,
              0);
    httpSaveToBuffer answer;
    http.save(&answer, nullptr, 1024);
    http.close();
    server.join();
    ASSERT_EQ(server.requests().size(), 1u);
    const std::string wire = server.requests()[0];
    EXPECT_EQ(test::verifyOauthRequest(test::signedRequestFromWire(wire, origin), "c s", "t&s").mismatch, "");
    Pairs sent = c.query;
    if (c.form) sent.insert(sent.end(), c.form->begin(), c.form->end());
    EXPECT_EQ(received(wire), sent);
    EXPECT_EQ(wire.substr(0, 4), c.form ? "POST" : "GET ");
  }
}

TEST_F(OauthOpen, AddressesAndFormsAsTextSplitAtEveryAmpersand) {
  test::LoopbackServer server(test::Reply{{"HTTP/1.0 200 OK\r\n\r\nok"}}, 1);
  std::string origin = "http://127.0.0.1:" + std::to_string(server.port());
  cHTTP http("ua");
  ASSERT_EQ(oauth1_openURL(http, origin + "/p?q=a+b&p=100%&h=#x&flag&&e=", "ck", "cs", nullptr, nullptr, {}, nullptr,
                           "s=1+1=2&t=%20", 10, false)
                .result,
            0);
  httpSaveToBuffer answer;
  http.save(&answer, nullptr, 1024);
  http.close();
  server.join();
  const std::string wire = server.requests().at(0);
  EXPECT_EQ(wire.substr(0, wire.find(" HTTP/")), "POST /p?q=a%2Bb&p=100%25&h=%23x&flag=&e=");
  EXPECT_EQ(wire.substr(wire.find("\r\n\r\n") + 4), "s=1%2B1%3D2&t=%2520");
  EXPECT_EQ(test::verifyOauthRequest(test::signedRequestFromWire(wire, origin), "cs", "").mismatch, "");
  EXPECT_EQ(received(wire), (Pairs{{"q", "a+b"}, {"p", "100%"}, {"h", "#x"}, {"flag", ""}, {"e", ""},
                                   {"s", "1+1=2"}, {"t", "%20"}}));
  EXPECT_EQ(oauth1_encodeForm(raw({{"a b", "c&d"}, {"e", ""}})), "a%20b=c%26d&e=");
}

}  // namespace
}  // namespace bw
