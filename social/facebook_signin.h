// social/facebook_signin.h - the Facebook sign-in: the OAuth 2.0 implicit
// flow, redirected to the callback server on this machine.
//
// Invariants:
//   1. The redirect goes to the callback server's own address on
//      127.0.0.1, whose landing page turns the fragment into the query; no
//      page elsewhere sees the token.
//   2. Only a callback that carries a "state" equal to the one sent (a
//      fresh randomToken(32) per sign-in) ends the wait; any other is
//      refused and the wait goes on, so no other web page can plant a token
//      of its own or end the sign-in.
//   3. In shell mode it fails at once: no socket, no window, no browser.
//   4. Nothing is reported here but a wait that ran out (the waiting
//      window's leg tells it); every failure gives NIL, a refusal in the
//      browser ("error=" with the state) told apart from Cancel. The waiting
//      window and the callback server end with the call, whichever way it
//      ends.
#pragma once

#include <utility>

#include "core/str.h"
#include "social/login_window.h"

namespace bw {

// "v2.8": the Graph API version the dialog and the downloader address.
inline constexpr char graphApiVersion[] = "v2.8";

// The dialog address opened in the browser, nothing in it encoded by us:
// <facebook web>/v2.8/dialog/oauth?client_id=<app id>&redirect_uri=
// <redirectURI>&response_type=token&scope=user_posts,user_friends
// &state=<state>.
Str facebookDialogURL(Text redirectURI, Text state);

// A sign-in's token (NIL unless kSignedIn) and how it ended; made from a
// bare token (NIL: kFailed) where only the token matters.
struct FacebookAccessToken {
  FacebookAccessToken(Str t = Str()) : token(std::move(t)), end(token ? SignInEnd::kSignedIn : SignInEnd::kFailed) {}
  FacebookAccessToken(Str t, SignInEnd e) : token(std::move(t)), end(e) {}
  Str token;
  SignInEnd end;
};

// The user's access token, or NIL with the way the sign-in ended. The
// token is form-decoded once from the answer.
FacebookAccessToken obtainUserAccessToken_facebook();

}  // namespace bw
