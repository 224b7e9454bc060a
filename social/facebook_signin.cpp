// social/facebook_signin.cpp - the Facebook sign-in.
#include "social/facebook_signin.h"

#include <string>

#include "platform/dos_env.h"
#include "social/key_value_pairs.h"
#include "social/login_window.h"
#include "social/random_token.h"
#include "social/service_config.h"

namespace bw {

Str facebookDialogURL(Text port, Text state) {
  std::string url(facebookWebBase().view());
  url += "/";
  url += graphApiVersion;
  url += "/dialog/oauth?client_id=";
  url += facebookAppId().view();
  url += "&redirect_uri=";
  url += makerWebBase().view();
  url += "/brindlework/facebook_login.html%3Fport=";
  url += port.view();
  url += "&response_type=token&scope=user_posts,user_friends&state=";
  url += state.view();
  return Str(url);
}

Str obtainUserAccessToken_facebook() {
  if (dos::shellMode()) return Str();
  facebookWebServer server;
  int32_t port = server.open(0);
  if (port == 0) return Str();
  Str state = randomToken(32);
  Str query = waitForBrowserLogin(server, facebookLoginWindow, facebookLoginCancelButton, facebookLoginAbortCallback,
                                  "Waiting for Facebook login to complete...",
                                  facebookDialogURL(std::to_string(port), state));
  if (query.isNil()) return Str();
  server.close();
  KeyValuePairs pairs = splitQueryString_facebook(query);
  Text token = findKeyValue(pairs, "access_token");
  Text returnedState = findKeyValue(pairs, "state");
  if (token.isNil() || returnedState.isNil() || returnedState.view() != state.view()) return Str();
  return Str(token.view());
}

}  // namespace bw
