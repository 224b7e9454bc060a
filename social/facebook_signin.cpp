// social/facebook_signin.cpp - the Facebook sign-in.
#include "social/facebook_signin.h"

#include <string>

#include "platform/dos_env.h"
#include "social/key_value_pairs.h"
#include "social/login_window.h"
#include "social/random_token.h"
#include "social/service_config.h"

namespace bw {

namespace {

// Served by the callback server at its own address: Facebook hands the
// token and the state over in the fragment, which the browser keeps to
// itself, so the page sends them on as the query.
constexpr char kLandingPage[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Brindlework</title></head><body>"
    "<p id=\"message\">Returning to Brindlework...</p><script>"
    "var pairs = window.location.hash.replace(/^#/, \"\");"
    "if (pairs === \"\") document.getElementById(\"message\").textContent = "
    "\"This page only works when Brindlework opens it.\";"
    "else window.location.replace(window.location.pathname + \"?\" + pairs);"
    "</script></body></html>";

}  // namespace

Str facebookDialogURL(Text redirectURI, Text state) {
  std::string url(facebookWebBase().view());
  url += "/";
  url += graphApiVersion;
  url += "/dialog/oauth?client_id=";
  url += facebookAppId().view();
  url += "&redirect_uri=";
  url += redirectURI.view();
  url += "&response_type=token&scope=user_posts,user_friends&state=";
  url += state.view();
  return Str(url);
}

FacebookAccessToken obtainUserAccessToken_facebook() {
  if (dos::shellMode()) return {};
  facebookWebServer server;
  int32_t port = server.open(0);
  if (port == 0) return {};
  server.setLandingPage(kLandingPage);
  Str state = randomToken(32);
  // Only the redirect that carries the state sent ends the wait; any other
  // page's request to the port is refused. A refusal ("error=access_denied")
  // carries the state but no token.
  auto fromThisSignIn = [&state](Text query) {
    KeyValuePairs pairs = splitFormAnswer(query);
    Text returned = findKeyValue(pairs, "state");
    if (returned.isNil() || returned.view() != state.view()) return CallbackVerdict::kNotOurs;
    const bool refused = !findKeyValue(pairs, "error").isNil() || findKeyValue(pairs, "access_token").isNil();
    return refused ? CallbackVerdict::kRefusal : CallbackVerdict::kAnswer;
  };
  BrowserLogin login = waitForBrowserLogin(server, facebookLoginWindow, facebookLoginCancelButton,
                                           facebookLoginAbortCallback, "Waiting for Facebook login to complete...",
                                           facebookDialogURL(server.infoURL(port), state), fromThisSignIn);
  server.close();
  if (login.end != SignInEnd::kSignedIn) return {Str(), login.end};
  const KeyValuePairs pairs = splitFormAnswer(login.query);
  Text token = findKeyValue(pairs, "access_token");
  if (token.isNil() || token.view().empty()) return {Str(), SignInEnd::kFailed};
  return {Str(token.view()), SignInEnd::kSignedIn};
}

}  // namespace bw
