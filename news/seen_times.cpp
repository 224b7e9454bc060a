// news/seen_times.cpp - updateOldestSeenTime and undoSeen.
#include "news/seen_times.h"

#include <algorithm>
#include <vector>

#include "core/box.h"
#include "platform/time.h"

namespace bw {
namespace {

// The feeds the limit is taken from (invariant 3).
std::vector<newsFeed*> consideredFeeds(newsRoot& root, GuiListSelection* feedList) {
  std::vector<newsFeed*> feeds;
  if (feedList) {
    for (bool more = feedList->cursor_gotoFirstSelected(); more; more = feedList->cursor_gotoNextSelected()) {
      box* data = feedList->cursor_getDataBox();
      if (data && data->isOfClass(boxPTR::kClassName)) feeds.push_back(static_cast<newsFeed*>(static_cast<boxPTR*>(data)->value));
    }
  }
  if (feeds.empty()) {
    for (newsFeed* feed = root.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) feeds.push_back(feed);
  }
  return feeds;
}

bool anyPreviousSeenTime(const newsRoot& root) {
  for (newsFeed* feed = root.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) {
    if (feed->previousSeenUpToTime != kDateUnset) return true;
  }
  return false;
}

}  // namespace

void updateOldestSeenTime(newsRoot& root, GuiListSelection* feedList, UndoSeenButton* undoButton, bool force) {
  if (undoButton) undoButton->setDisabled(!anyPreviousSeenTime(root));
  if (!force && root.fixedShowPeriod) return;
  const bigTime now = pTime::CurrentTime(0);
  bigTime limit = now;
  int counted = 0;
  for (newsFeed* feed : consideredFeeds(root, feedList)) {
    if (!feed || feed->disabled || !isValidDate(feed->seenUpToTime) || feed->seenUpToTime > feed->newestItemTime) {
      continue;
    }
    limit = std::min(limit, feed->seenUpToTime);
    ++counted;
  }
  limit = std::min(limit, now - kShowAtLeastBack);
  if (counted > 1) limit = std::max(limit, now - kShowAtMostBack);
  root.showLimitTime = limit;
}

void undoSeen(GuiListSelection* feedList, UndoSeenButton* undoButton, cJournaledIndexedObjectSoupDatabase& db,
              newsRoot& root) {
  SoupTransaction transaction(db.infoBlockFile());
  for (newsFeed* feed = root.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) {
    if (feed->previousSeenUpToTime == kDateUnset) continue;
    feed->seenUpToTime = feed->previousSeenUpToTime;
    feed->previousSeenUpToTime = kDateUnset;
    db.saveChangesToObject(feed);
  }
  transaction.finish();
  updateOldestSeenTime(root, feedList, undoButton, false);
}

}  // namespace bw
