// social/oauth1.h - OAuth 1.0a request signing (RFC 5849, HMAC-SHA1) and the
// one entry point that signs a request and opens it through cHTTP.
//
// Invariants:
//   1. Percent-encoding is oauthEncode everywhere (letters, digits and
//      "_.-~" stay); nothing is ever percent-decoded, so callers put raw
//      values into their URLs and forms (a value holding "&" or "=" goes
//      through oauth1_openPairs).
//   2. What is sent is byte for byte what is signed: the query and the form
//      are split into pairs, each key and value is encoded once, and both
//      the signature base string and the request line and body are built
//      from those encoded pairs (a part without "=" goes out as "key=").
//      The signed parameters are the protocol parameters, the caller's
//      extra ones, the query's pairs and, for a POST (any non-NIL form, ""
//      included), the form's pairs.
//   3. The Authorization header lists every protocol parameter, the
//      signature included, in the OAuth byte order as key="value" separated
//      by ", "; the caller's header lines follow it.
//   4. Misuse ("EMU") is raised before anything is built; a failure of
//      cHTTP.openURL comes back unchanged, never raised.
//   5. The nonce is randomToken(32) and the timestamp the system clock's
//      Unix seconds, whatever the time-zone variables say; tests fix both
//      through their seams.
#pragma once

#include <cstdint>

#include "core/str.h"
#include "social/key_value_pairs.h"
#include "web/http.h"

namespace bw {

// Signs and opens one request. oauthParamList holds extra protocol
// parameters (oauth_callback, oauth_verifier); headers is NIL or further
// header lines each beginning with "\n"; postData (raw form pairs) NIL
// makes a GET. timeout and nonBlocking go to cHTTP.openURL unchanged, with
// the certificate check on.
cHTTP::OpenResult oauth1_openURL(cHTTP& http, Text url, Text consumerKey, Text consumerSecret, Text token,
                                 Text tokenSecret, OauthKeyValuePairs oauthParamList, Text headers, Text postData,
                                 int32_t timeout, bool nonBlocking);
// The same with the query and the form as raw pairs (form nullptr: a GET),
// for values that hold "&", "=" or "#"; baseURL has no query.
cHTTP::OpenResult oauth1_openPairs(cHTTP& http, Text baseURL, const KeyValuePairs& query, const KeyValuePairs* form,
                                   Text consumerKey, Text consumerSecret, Text token, Text tokenSecret,
                                   OauthKeyValuePairs oauthParamList, Text headers, int32_t timeout, bool nonBlocking);

// The bytes sent for raw pairs: key=value joined by "&", each encoded once.
Str oauth1_encodeForm(const KeyValuePairs& raw);

// The header text oauth1_openURL hands to cHTTP: "Authorization: OAuth ..."
// followed by headers. Raises "EMU" "oauth1_openURL(); headers string does
// not begin with \n" when headers is not NIL and does not begin with "\n".
Str oauth1_authorizationHeader(Text url, Text consumerKey, Text consumerSecret, Text token, Text tokenSecret,
                               OauthKeyValuePairs oauthParamList, Text headers, Text postData);

// Appends the protocol parameters of one request to list: the consumer
// key, a new nonce, "HMAC-SHA1", the timestamp, "1.0" and, when token is
// not NIL, the token.
void oauth1_addProtocolParameters(OauthKeyValuePairs& list, Text consumerKey, Text token);

// The base64 HMAC-SHA1 signature of a request; the list is only read.
Str oauth1_makeSignature(Text consumerSecret, Text tokenSecret, const OauthKeyValuePairs& oauthParamList, Text url,
                         Text postData);
// Its two inputs: the signature base string and the signing key (the key
// ends in "&" when tokenSecret is NIL).
Str oauth1_signatureBaseString(const OauthKeyValuePairs& oauthParamList, Text url, Text postData);
Str oauth1_signingKey(Text consumerSecret, Text tokenSecret);

// prefix, then key=value (quoted: key="value") for each pair in list order,
// separated by separator (NIL: "&"), then suffix; NIL prefix and suffix are
// left out.
Str oauth1_joinParameters(const OauthKeyValuePairs& list, bool quoted, Text separator, Text prefix, Text suffix);

// Decimal text of a signed 64-bit value: "-" in front of a negative one, no
// leading zeros, at most 20 characters (INT64_MIN included).
Str twitterBigValueToString(int64_t value);
// Appends that text to s, clipped at s's capacity.
void appendBigValue(Str& s, int64_t value);
// Whole seconds since 1970-01-01 00:00:00 UTC by the system clock.
int64_t oauth1_unixTime();

}  // namespace bw
