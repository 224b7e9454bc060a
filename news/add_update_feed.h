// news/add_update_feed.h - addUpdateFeed, the one road by which a feed's
// document is downloaded, parsed and stored, whether the feed is being added
// or updated; and setProgressStatus, the feed line of the progress window.
//
// Invariants:
//   1. Every failure to get a document has a reason in words (the result's
//      failure, news/feed_failure.h), which an update also notes in the
//      feed. It is reported once through newsUi(), under "Add feed" or
//      "Update feed", except: a failed update's download (the feed's row
//      and Info tell it), a cancel, and any failure of an update without a
//      window (shell mode, whose caller tells it in one line).
//   2. The progress window stays responsive: it is polled between download
//      steps (Pause, Resume, Cancel, close and quit requests); while paused
//      the download does not advance and its time does not count.
//   3. A download that makes no progress for kNoProgressSeconds of unpaused
//      time (clock seam) fails like any failed download.
//   4. The soup is flushed once per document that arrived, whether or not a
//      parser took it.
//   5. A document that fails to parse is kept in the data folder, one file
//      per address ("BadNewsFeed_" and eight hex digits), for the user to
//      look at; Ctrl-C is left to the caller's loop.
#pragma once

#include <cstdint>
#include <string>

#include "core/charset.h"
#include "core/str.h"
#include "database/soup_database.h"
#include "news/feed_downloader.h"
#include "news/feed_store.h"
#include "news/news_objects.h"
#include "news/ui_seam.h"

namespace bw {

inline constexpr int64_t kNoProgressSeconds = 60;

struct AddUpdateResult {
  newsFeed* feed = nullptr;  // made or updated by the parser; stays loaded
  bool windowEvent = false;  // a window-level event of the progress window arrived
  bool cancelled = false;
  bool errorReported = false;  // the user was told, or cancelled in the chooser
  std::string failure;         // why no feed came, in words; empty on success or cancel
  std::string badDocument;     // the host path of a document that failed to parse
};

// downloader: opened with saveInit done, or NIL to make one for updateFeed
// (then deleted here); a given one stays the caller's and is closed here.
// url names the feed in messages. updateFeed NIL adds a new feed. gui NIL is
// shell mode. feedNumber of feedCount shows as "(n/m) " when m > 1.
AddUpdateResult addUpdateFeed(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root, const cEncoding* charset,
                              downloadFeed* downloader, Text url, newsFeed* updateFeed, feedProgressGui* gui,
                              int32_t feedNumber, int32_t feedCount);

// The feed line: "(n/m) " when m > 1, then feedA's name (fallback when feedA
// is NIL), then " + " and feedB's name when feedB is given.
void setProgressStatus(newsFeed* feedA, int32_t n, int32_t m, feedProgressGui* gui, const cEncoding* charset,
                       newsFeed* feedB, Text fallback);

// What a poll of the progress window found.
struct ProgressPoll {
  bool cancelled = false;    // Cancel, or the window's close or quit request
  bool windowEvent = false;  // a window-level event of the window arrived
};

// Takes the progress window's events until none is waiting or the poll is
// cancelled; other windows' events are dropped. Cancel, a close request of
// the window and the quit request cancel (the quit request is kept for the
// caller's caller). Pause shows page 1 and status + " (paused)" and waits
// for events until Resume (page 0, status again) or a cancel. Answers the
// seconds spent paused (clock seam).
int64_t pollProgressWindow(feedProgressGui& gui, const std::string& status, ProgressPoll& poll);

// The parsers of the social layer's pseudo roots, registered by its modules
// (NIL: such a document stores nothing). They take what parseRssFeed takes.
using SocialFeedParser = FeedParseResult (*)(cJournaledIndexedObjectSoupDatabase& soup, webDataRoot& document,
                                             newsRoot& root, const cEncoding* charset, Text url,
                                             newsFeed* updateFeed, feedProgressGui* gui);
void setTwitterFeedParser(SocialFeedParser parser);
void setFacebookFeedParser(SocialFeedParser parser);

}  // namespace bw
