// social/facebook_signin.h - the Facebook sign-in: the OAuth 2.0 implicit
// flow through the maker's redirect page to the local callback server.
//
// Invariants:
//   1. The token stands only when the redirect carries a "state" equal to
//      the one sent (a fresh randomToken(32) per sign-in), so no other web
//      page can plant a token of its own through localhost.
//   2. In shell mode it fails at once: no socket, no window, no browser.
//   3. Nothing is reported here; every failure gives NIL. The waiting
//      window and the callback server end with the call, whichever way it
//      ends.
#pragma once

#include "core/str.h"

namespace bw {

// "v2.8": the Graph API version the dialog and the downloader address.
inline constexpr char graphApiVersion[] = "v2.8";

// The dialog address opened in the browser, nothing in it encoded by us:
// <facebook web>/v2.8/dialog/oauth?client_id=<app id>&redirect_uri=<maker
// web>/brindlework/facebook_login.html%3Fport=<port>&response_type=token
// &scope=user_posts,user_friends&state=<state>.
Str facebookDialogURL(Text port, Text state);

// The user's access token, or NIL.
Str obtainUserAccessToken_facebook();

}  // namespace bw
