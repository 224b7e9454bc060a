// social/twitter_signin.h - the Twitter sign-in: three-legged OAuth 1.0a
// (request token, the user's approval in the browser, access token).
//
// Invariants:
//   1. The result is both strings and kind 0, or both NIL and a failure
//      kind: 1 when one of the two token requests could not be opened, 6
//      for every other failure (the user's giving up included).
//   2. In shell mode it fails at once (kind 6): no socket, no window, no
//      browser.
//   3. Only a callback that names the request token (both form-decoded)
//      ends the wait: with a verifier it goes on to the access token, as
//      "denied" it fails as refused. The callback server refuses any other
//      request and goes on waiting.
//   4. A token answer that finishes with a status of 400 or more counts as a
//      failed transfer.
//   5. The waiting window and the callback server end with the call,
//      whichever way it ends; an exception from below passes on after that.
//   6. Token answers are form-decoded once: "oauth_token=a%2Bb" is the
//      token "a+b", which the signing encodes once again.
#pragma once

#include <cstdint>

#include "core/str.h"
#include "social/login_window.h"
#include "web/http.h"

namespace bw {

inline constexpr int32_t kSignInOk = 0;
inline constexpr int32_t kSignInNotOpened = 1;
inline constexpr int32_t kSignInFailed = 6;

struct TwitterAccessToken {
  Str token;
  Str tokenSecret;
  int32_t errorKind = kSignInFailed;
  SignInEnd end = SignInEnd::kFailed;  // a refusal in the browser and Cancel told apart
};

// Signs the user in through http (the downloader's client) against the
// service table's Twitter API.
TwitterAccessToken obtainTwitterUserAccessToken(cHTTP& http);

}  // namespace bw
