// app/add_feed_dialog.h - "Add feed": a feed by its address, a Facebook
// friend's Timeline ("Add Facebook feed"), or an OPML import; the first
// update of a new feed runs in "Update feeds".
//
// Invariants:
//   1. A typed address without "://" gets "http://" in front; "https:" (in
//      lower case) becomes "http:"; any other address is used as typed.
//   2. A feed that could not be added is told once: by the update itself, or
//      here when a typed address's downloader could not be opened, with its
//      failure kind's text ("Authentication failed for:" for a refused
//      sign-in) or else "Failed to add the feed:" (never for the Facebook
//      friend road, never after a cancel, never for an empty address).
//   3. The feed list and tag chooser are refreshed after every attempt.
#pragma once

#include <memory>

#include "app/update_window.h"
#include "core/charset.h"
#include "database/soup_database.h"
#include "news/news_objects.h"
#include "news/seen_times.h"

namespace bw {

class cGuiList;
class downloadFacebook;
class cGuiText;
class cGuiWindow;

// The longest address the URL field takes: a long query still fits.
inline constexpr int32_t kLongestFeedAddress = 8000;

struct AddFeedTargets {
  cGuiWindow* mainWindow;
  cGuiText* feedCountText;
  cGuiList& feedList;
  cGuiList& tagList;
  UndoSeenButton* undoSeenButton;
  UpdateWindowRecord& updateWindow;
};

struct AddFeedResult {
  newsFeed* feed = nullptr;  // the new feed (loaded in the chain), or NIL
  bool quit = false;
};
AddFeedResult addFeed(cJournaledIndexedObjectSoupDatabase& db, AddFeedTargets targets, newsRoot& root,
                      const cEncoding& charset);

// The URL text as it is added: NIL for an empty text.
Str addressToAdd(Text typed);

struct FacebookFeedChoice {
  std::unique_ptr<downloadFacebook> downloader;  // open and ready, or NIL
  int32_t errorCode = 0;
  int32_t detail = 0;
  bool quit = false;
};
FacebookFeedChoice addFacebookFeed(cJournaledIndexedObjectSoupDatabase& db, cGuiWindow* mainWindow, newsRoot& root);

}  // namespace bw
