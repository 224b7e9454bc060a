// social/service_config.h - the one table of the social services'
// addresses and the application's credentials.
//
// Invariants:
//   1. Each address comes from its environment variable when that is set,
//      else from the built-in default; it is read at every call, so a test
//      or a loopback stand-in can point the program elsewhere.
//   2. The consumer pair is built when the Twitter module starts, from two
//      masked byte arrays (or the environment), and wiped when the
//      credentials module ends; before that both are NIL.
//   3. The built-in consumer pair is a placeholder of the right lengths (25
//      and 50 characters), never a real secret.
#pragma once

#include "core/str.h"

namespace bw {

// "https://api.twitter.com" (BRINDLEWORK_TWITTER_API).
Str twitterApiBase();
// "https://graph.facebook.com" (BRINDLEWORK_GRAPH_API).
Str graphApiBase();
// "https://www.facebook.com": dialog, log-out, send, share
// (BRINDLEWORK_FACEBOOK_WEB).
Str facebookWebBase();
// The maker's http site that serves the "/brindlework/" pages
// (BRINDLEWORK_MAKER_WEB); the default is a placeholder.
Str makerWebBase();
// "604917382215530" (BRINDLEWORK_FACEBOOK_APP_ID).
Str facebookAppId();

// Fixed site texts matched in or written into feed data.
inline constexpr char kTwitterSiteURL[] = "https://twitter.com/";
inline constexpr char kFacebookDomain[] = "facebook.com";
inline constexpr char kYoutubePrefix[] = "https://www.youtube.";

// The application credentials (BRINDLEWORK_TWITTER_CONSUMER_KEY and
// BRINDLEWORK_TWITTER_CONSUMER_SECRET override the built-in pair).
const Str& twitterConsumerKey();
const Str& twitterConsumerSecret();

// Builds the consumer pair (the Twitter module's start calls it), and the
// credentials' finaliser (wipes the pair).
void buildTwitterCredentials();
void credentialsModuleEnd();

}  // namespace bw
