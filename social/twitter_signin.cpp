// social/twitter_signin.cpp - the Twitter sign-in.
#include "social/twitter_signin.h"

#include <optional>
#include <string>

#include "platform/dos_env.h"
#include "social/key_value_pairs.h"
#include "social/login_window.h"
#include "social/oauth1.h"
#include "social/service_config.h"
#include "web/http_save.h"

namespace bw {
namespace {

constexpr int32_t kTokenTimeout = 10;
constexpr int32_t kAnswerBufferSize = 1500;

// The answer of a token request split into its pairs, form-decoded once;
// nothing when the transfer fails or the status is 400 or more. The request
// is closed either way.
std::optional<KeyValuePairs> readTokenAnswer(cHTTP& http) {
  httpSaveToBuffer answer;
  cHTTP::Step step = http.save(&answer, nullptr, kAnswerBufferSize);
  bool failed = step.result != 0 || http.infoStatus().status >= 400;
  http.close();
  if (failed) return std::nullopt;
  httpSaveToBuffer::Buffer body = answer.getBuffer();
  if (!body.data) return KeyValuePairs();
  return splitFormAnswer(std::string_view(body.data.get(), static_cast<size_t>(body.total - 1)));
}

Str copyValue(const KeyValuePairs& pairs, Text key) {
  Text value = findKeyValue(pairs, key);
  return value.isNil() ? Str() : Str(value.view());
}

}  // namespace

TwitterAccessToken obtainTwitterUserAccessToken(cHTTP& http) {
  TwitterAccessToken failed;
  if (dos::shellMode()) return failed;

  twitterWebServer server;
  int32_t port = server.open(0);
  if (port == 0) return failed;
  std::string api(twitterApiBase().view());

  OauthKeyValuePairs callback;
  newOauthKeyValuePair(callback, Str("oauth_callback"), server.infoURL(port));
  if (oauth1_openURL(http, api + "/oauth/request_token", twitterConsumerKey(),
                     twitterConsumerSecret(), nullptr, nullptr, std::move(callback), nullptr, "", kTokenTimeout, false)
          .result != 0)
    return {Str(), Str(), kSignInNotOpened};
  std::optional<KeyValuePairs> answer = readTokenAnswer(http);
  if (!answer || findKeyValue(*answer, "oauth_callback_confirmed").view() != "true") return failed;
  Str requestToken = copyValue(*answer, "oauth_token");
  Str requestTokenSecret = copyValue(*answer, "oauth_token_secret");
  if (requestToken.isNil() || requestTokenSecret.isNil()) return failed;

  // Only the redirect that names this request token ends the wait: with a
  // verifier when the user agreed, "denied" when not. Any other request to
  // the port is refused and the wait goes on.
  auto forThisToken = [&requestToken](Text query) {
    KeyValuePairs redirect = splitFormAnswer(query);
    Text token = findKeyValue(redirect, "oauth_token");
    Text denied = findKeyValue(redirect, "denied");
    if (!denied.isNil()) {
      return denied.view() == requestToken.view() ? CallbackVerdict::kRefusal : CallbackVerdict::kNotOurs;
    }
    const bool agreed =
        !token.isNil() && token.view() == requestToken.view() && !findKeyValue(redirect, "oauth_verifier").isNil();
    return agreed ? CallbackVerdict::kAnswer : CallbackVerdict::kNotOurs;
  };
  BrowserLogin login = waitForBrowserLogin(server, twitterLoginWindow, twitterLoginCancelButton,
                                           twitterLoginAbortCallback, "Waiting for Twitter login to complete...",
                                           api + "/oauth/authorize?oauth_token=" + oauthEncode(requestToken).str(),
                                           forThisToken);
  server.close();
  failed.end = login.end;
  if (login.end != SignInEnd::kSignedIn) return failed;
  failed.end = SignInEnd::kFailed;
  Str verifier = copyValue(splitFormAnswer(login.query), "oauth_verifier");
  if (verifier.isNil()) return failed;

  OauthKeyValuePairs verifierList;
  newOauthKeyValuePair(verifierList, Str("oauth_verifier"), std::move(verifier));
  if (oauth1_openURL(http, api + "/oauth/access_token", twitterConsumerKey(),
                     twitterConsumerSecret(), requestToken, requestTokenSecret, std::move(verifierList),
                     "\nContent-Type: application/x-www-form-urlencoded", "", kTokenTimeout, false)
          .result != 0)
    return {Str(), Str(), kSignInNotOpened};
  answer = readTokenAnswer(http);
  if (!answer) return failed;
  TwitterAccessToken signedIn{copyValue(*answer, "oauth_token"), copyValue(*answer, "oauth_token_secret"), kSignInOk,
                              SignInEnd::kSignedIn};
  if (signedIn.token.isNil() || signedIn.tokenSecret.isNil()) return failed;
  return signedIn;
}

}  // namespace bw
