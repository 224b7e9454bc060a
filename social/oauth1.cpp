// social/oauth1.cpp - the signature base string, the signing key, the
// Authorization header and oauth1_openURL.
#include "social/oauth1.h"

#include <string>
#include <string_view>
#include <utility>

#include "core/exception.h"
#include "core/string_procs.h"
#include "platform/time.h"
#include "social/base64.h"
#include "social/random_token.h"
#include "social/sha1.h"

namespace bw {
namespace {

constexpr int32_t kNonceLength = 32;

void appendSplit(OauthKeyValuePairs& into, Text text) {
  for (oauthKeyValuePair& pair : splitQueryString(text)) into.push_back(std::move(pair));
}

}  // namespace

int64_t oauth1_unixTime() { return pTime::CurrentTime(1) - pTime::DateTimeToBigTime(1970, 1, 1, 0, 0, 0); }

Str twitterBigValueToString(int64_t value) {
  char text[20];
  int pos = sizeof text;
  // The magnitude as unsigned, so that INT64_MIN has one too.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    text[--pos] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) text[--pos] = '-';
  return Str(std::string_view(text + pos, sizeof text - static_cast<size_t>(pos)));
}

void appendBigValue(Str& s, int64_t value) { s.append(twitterBigValueToString(value).view()); }

Str oauth1_joinParameters(const OauthKeyValuePairs& list, bool quoted, Text separator, Text prefix, Text suffix) {
  std::string_view between = separator.isNil() ? std::string_view("&") : separator.view();
  std::string out(prefix.view());
  bool first = true;
  for (const oauthKeyValuePair& pair : list) {
    if (!first) out += between;
    first = false;
    out += pair.key.view();
    out += quoted ? "=\"" : "=";
    out += pair.value.view();
    if (quoted) out += '"';
  }
  out += suffix.view();
  return Str(out);
}

Str oauth1_signatureBaseString(const OauthKeyValuePairs& oauthParamList, Text url, Text postData) {
  std::string_view whole = url.view();
  size_t question = whole.find('?');
  std::string_view baseURL = whole.substr(0, question);
  OauthKeyValuePairs all;
  if (question != std::string_view::npos) appendSplit(all, whole.substr(question + 1));
  if (!postData.isNil()) appendSplit(all, postData);
  all.insert(all.end(), oauthParamList.begin(), oauthParamList.end());
  sortOauthKeyValuePairs(all);
  Str parameters = oauth1_joinParameters(all, false, nullptr, nullptr, nullptr);
  return concatStrings(postData.isNil() ? "GET&" : "POST&", oauthEncode(baseURL), "&", oauthEncode(parameters));
}

Str oauth1_signingKey(Text consumerSecret, Text tokenSecret) {
  return concatStrings(oauthEncode(consumerSecret), "&", oauthEncode(tokenSecret));
}

Str oauth1_makeSignature(Text consumerSecret, Text tokenSecret, const OauthKeyValuePairs& oauthParamList, Text url,
                         Text postData) {
  Str base = oauth1_signatureBaseString(oauthParamList, url, postData);
  Str key = oauth1_signingKey(consumerSecret, tokenSecret);
  uint8_t digest[kSha1DigestLength];
  hmacSha1(key.data(), key.length(), base.data(), base.length(), digest);
  return base64encode(digest, kSha1DigestLength);
}

void oauth1_addProtocolParameters(OauthKeyValuePairs& list, Text consumerKey, Text token) {
  newOauthKeyValuePair(list, Str("oauth_consumer_key"), copyString(consumerKey));
  newOauthKeyValuePair(list, Str("oauth_nonce"), randomToken(kNonceLength));
  newOauthKeyValuePair(list, Str("oauth_signature_method"), Str("HMAC-SHA1"));
  newOauthKeyValuePair(list, Str("oauth_timestamp"), twitterBigValueToString(oauth1_unixTime()));
  newOauthKeyValuePair(list, Str("oauth_version"), Str("1.0"));
  if (!token.isNil()) newOauthKeyValuePair(list, Str("oauth_token"), copyString(token));
}

Str oauth1_authorizationHeader(Text url, Text consumerKey, Text consumerSecret, Text token, Text tokenSecret,
                               OauthKeyValuePairs oauthParamList, Text headers, Text postData) {
  if (!headers.isNil() && (headers.length() == 0 || headers.view()[0] != '\n'))
    raise("EMU", "oauth1_openURL(); headers string does not begin with \\n");
  OauthKeyValuePairs& list = oauthParamList;
  oauth1_addProtocolParameters(list, consumerKey, token);
  Str signature = oauth1_makeSignature(consumerSecret, tokenSecret, list, url, postData);
  newOauthKeyValuePair(list, Str("oauth_signature"), std::move(signature));
  sortOauthKeyValuePairs(list);
  return oauth1_joinParameters(list, true, ", ", "Authorization: OAuth ", headers);
}

cHTTP::OpenResult oauth1_openURL(cHTTP& http, Text url, Text safeChars, Text consumerKey, Text consumerSecret,
                                 Text token, Text tokenSecret, OauthKeyValuePairs oauthParamList, Text headers,
                                 Text postData, int32_t timeout, bool nonBlocking) {
  Str header = oauth1_authorizationHeader(url, consumerKey, consumerSecret, token, tokenSecret,
                                          std::move(oauthParamList), headers, postData);
  return http.openURL(url, nullptr, header, postData, timeout, nonBlocking, safeChars, true);
}

}  // namespace bw
