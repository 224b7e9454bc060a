// news/downloader_choice.h - the two factories that make an open downloader:
// createFeedDownloader for a stored feed (by its type, asking only for what
// is newer than the kept items) and createDownloaderForURL for a typed
// address (by its form); the Twitter user-name rule and the reading of
// "feed:" addresses.
//
// Invariants:
//   1. A factory answers the downloader with its request open and
//      saveInit(TRUE, NIL, 1500) done, or NIL with the failed value and the
//      error code of its open. NIL with (0, 0) means nothing to report (the
//      user declined the Facebook lookup).
//   2. The social kinds are made by hooks the social layer registers; the
//      factories compute what those downloaders are asked for (since and
//      oldest ids or times, group flags) and hand it over. Without a hook a
//      social feed or address gets (NIL, 1, -1).
//   3. The factories read the root, the feed and its kept items, and never
//      write them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/str.h"
#include "database/soup_database.h"
#include "news/feed_downloader.h"
#include "news/news_objects.h"
#include "news/ui_seam.h"
#include "web/http.h"

namespace bw {

struct DownloaderMade {
  std::unique_ptr<downloadFeed> downloader;  // NIL on failure
  int32_t failed = 0;
  int32_t errorCode = 0;
  std::string reason;  // why no downloader was made, in words (may be empty)
};

// What a Twitter timeline download is opened with.
struct TwitterOpenRequest {
  Str userID;       // a stored feed's account id, or NIL
  Str screenName;   // a typed address's user name, or NIL
  Str count;        // "3200"
  Str sinceID;      // the newest kept item's id, or NIL
  Str olderThanID;  // the oldest kept item's id, or NIL
  cHTTP* http = nullptr;
};

// What a Facebook timeline download is opened with.
struct FacebookOpenRequest {
  Str userID;
  bool isGroup = false;
  bool anyoneElse = false;
  bigTime since = 0;
  bigTime olderThan = 0;
  cHTTP* http = nullptr;
  Str accessToken;  // the token to ask with; NIL: the root's
};

struct FacebookGroup {
  Str id;
  bool isGroup = false;
  Str accessToken;  // the token the lookup ended with (a sign-in may renew it), or NIL
  int32_t failed = 0;  // the failure kind that ended the lookup (id NIL), such as a sign-in given up
  std::string reason = {};  // that failure in words, when the lookup's downloader has them
};

// The social layer's part. Each open hook makes the downloader from the
// root's tokens, opens it and answers it; the factories call saveInit.
struct SocialDownloaderHooks {
  std::function<DownloaderMade(newsRoot& root, const TwitterOpenRequest& request)> openTwitter;
  std::function<DownloaderMade(newsRoot& root, const FacebookOpenRequest& request)> openFacebook;
  // Whether url is a Facebook address at all (asks nothing).
  std::function<bool(Text url)> isFacebookAddress;
  // The id and group flag of a Facebook address, asking over window; NIL
  // when the user declined.
  std::function<std::optional<FacebookGroup>(newsRoot& root, Text url, NewsGuiWindow* window)> findFacebookGroup;
};
void setSocialDownloaderHooks(SocialDownloaderHooks hooks);
// The hooks as set, so that one module can change its own part.
const SocialDownloaderHooks& socialDownloaderHooks();

// http: a client lent for the request, or NIL for the downloader's own.
DownloaderMade createFeedDownloader(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root, newsFeed& feed,
                                    cHTTP* http);
DownloaderMade createDownloaderForURL(newsRoot& root, Text url, cHTTP* http, NewsGuiWindow* window);

// The lower-cased user name of an address on the Twitter site, NIL when the
// address names no user ("hashtag", "search", an empty name, the host
// inside another word).
Str twitterUserNameFromURL(Text url);
// An address as a URL reads it (WHATWG URL): the blanks and line ends
// around it left out, and every tab, CR and LF inside it (an address pasted
// with its line end, or written across lines).
std::string cleanAddress(std::string_view address);
// The address a "feed:" address wraps: "feed:https://h/f" is
// "https://h/f", "feed://h/f" is "http://h/f" (any case of "feed");
// anything else is returned as it is, its scheme untouched.
Str unwrapFeedAddress(Str url);

}  // namespace bw
