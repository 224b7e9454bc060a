// social/oauth1.cpp - the signature base string, the signing key, the
// Authorization header and oauth1_openURL.
#include "social/oauth1.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/exception.h"
#include "core/string_procs.h"
#include "platform/clock.h"
#include "core/base64.h"
#include "social/random_token.h"
#include "social/sha1.h"

namespace bw {
namespace {

constexpr int32_t kNonceLength = 32;
// The encoded form holds only unreserved bytes, "%", "&" and "=": with
// these safe, cHTTP sends it byte for byte.
constexpr char kEncodedFormSafe[] = "_.-~%&=";

OauthKeyValuePairs encodePairs(const KeyValuePairs& raw) {
  OauthKeyValuePairs encoded;
  for (const keyValuePair& pair : raw) newOauthKeyValuePair(encoded, copyString(pair.key), copyString(pair.value));
  return encoded;
}

// A request as it is signed and sent: the URL without its query, and the
// query's and the form's pairs, each key and value encoded once.
struct EncodedRequest {
  std::string baseURL;
  OauthKeyValuePairs query;
  std::optional<OauthKeyValuePairs> form;  // none: a GET
};

EncodedRequest encodeRequest(Text baseURL, const KeyValuePairs& query, const KeyValuePairs* form) {
  EncodedRequest r{std::string(baseURL.view()), encodePairs(query), std::nullopt};
  if (form) r.form = encodePairs(*form);
  return r;
}

// A URL and a form body given as texts: split into their raw pairs.
EncodedRequest encodeRequest(Text url, Text postData) {
  std::string_view whole = url.view();
  size_t question = whole.find('?');
  KeyValuePairs query;
  if (question != std::string_view::npos) query = splitQueryString_facebook(whole.substr(question + 1));
  KeyValuePairs form = splitQueryString_facebook(postData);
  return encodeRequest(whole.substr(0, question), query, postData.isNil() ? nullptr : &form);
}

Str baseStringOf(const OauthKeyValuePairs& oauthParamList, const EncodedRequest& r) {
  OauthKeyValuePairs all = r.query;
  if (r.form) all.insert(all.end(), r.form->begin(), r.form->end());
  all.insert(all.end(), oauthParamList.begin(), oauthParamList.end());
  sortOauthKeyValuePairs(all);
  Str parameters = oauth1_joinParameters(all, false, nullptr, nullptr, nullptr);
  return concatStrings(r.form ? "POST&" : "GET&", oauthEncode(r.baseURL), "&", oauthEncode(parameters));
}

Str signatureOf(Text consumerSecret, Text tokenSecret, const OauthKeyValuePairs& oauthParamList,
                const EncodedRequest& r) {
  Str base = baseStringOf(oauthParamList, r);
  Str key = oauth1_signingKey(consumerSecret, tokenSecret);
  uint8_t digest[kSha1DigestLength];
  hmacSha1(key.data(), key.length(), base.data(), base.length(), digest);
  return base64encode(digest, kSha1DigestLength);
}

void refuseBadHeaders(Text headers) {
  if (!headers.isNil() && (headers.length() == 0 || headers.view()[0] != '\n'))
    raise("EMU", "oauth1_openURL(); headers string does not begin with \\n");
}

Str authorizationOf(const EncodedRequest& r, Text consumerKey, Text consumerSecret, Text token, Text tokenSecret,
                    OauthKeyValuePairs list, Text headers) {
  oauth1_addProtocolParameters(list, consumerKey, token);
  Str signature = signatureOf(consumerSecret, tokenSecret, list, r);
  newOauthKeyValuePair(list, Str("oauth_signature"), std::move(signature));
  sortOauthKeyValuePairs(list);
  return oauth1_joinParameters(list, true, ", ", "Authorization: OAuth ", headers);
}

cHTTP::OpenResult openEncoded(cHTTP& http, const EncodedRequest& r, Text consumerKey, Text consumerSecret,
                              Text token, Text tokenSecret, OauthKeyValuePairs oauthParamList, Text headers,
                              int32_t timeout, bool nonBlocking) {
  Str header = authorizationOf(r, consumerKey, consumerSecret, token, tokenSecret, std::move(oauthParamList), headers);
  std::string url = r.baseURL;
  if (!r.query.empty()) url += "?" + oauth1_joinParameters(r.query, false, nullptr, nullptr, nullptr).str();
  Str body = r.form ? oauth1_joinParameters(*r.form, false, nullptr, nullptr, nullptr) : Str();
  return http.openURL(Text(url), nullptr, header, body, timeout, nonBlocking, kEncodedFormSafe, true);
}

}  // namespace

int64_t oauth1_unixTime() { return readUtcSeconds(); }

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
  return baseStringOf(oauthParamList, encodeRequest(url, postData));
}

Str oauth1_signingKey(Text consumerSecret, Text tokenSecret) {
  return concatStrings(oauthEncode(consumerSecret), "&", oauthEncode(tokenSecret));
}

Str oauth1_makeSignature(Text consumerSecret, Text tokenSecret, const OauthKeyValuePairs& oauthParamList, Text url,
                         Text postData) {
  return signatureOf(consumerSecret, tokenSecret, oauthParamList, encodeRequest(url, postData));
}

Str oauth1_encodeForm(const KeyValuePairs& raw) {
  return oauth1_joinParameters(encodePairs(raw), false, nullptr, nullptr, nullptr);
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
  refuseBadHeaders(headers);
  return authorizationOf(encodeRequest(url, postData), consumerKey, consumerSecret, token, tokenSecret,
                         std::move(oauthParamList), headers);
}

cHTTP::OpenResult oauth1_openURL(cHTTP& http, Text url, Text consumerKey, Text consumerSecret, Text token,
                                 Text tokenSecret, OauthKeyValuePairs oauthParamList, Text headers, Text postData,
                                 int32_t timeout, bool nonBlocking) {
  refuseBadHeaders(headers);
  return openEncoded(http, encodeRequest(url, postData), consumerKey, consumerSecret, token, tokenSecret,
                     std::move(oauthParamList), headers, timeout, nonBlocking);
}

cHTTP::OpenResult oauth1_openPairs(cHTTP& http, Text baseURL, const KeyValuePairs& query, const KeyValuePairs* form,
                                   Text consumerKey, Text consumerSecret, Text token, Text tokenSecret,
                                   OauthKeyValuePairs oauthParamList, Text headers, int32_t timeout, bool nonBlocking) {
  refuseBadHeaders(headers);
  return openEncoded(http, encodeRequest(baseURL, query, form), consumerKey, consumerSecret, token, tokenSecret,
                     std::move(oauthParamList), headers, timeout, nonBlocking);
}

}  // namespace bw
