// news/feed_store.cpp - the same-feed question and storing the parsed feed.
#include "news/feed_store.h"

#include <cstdio>
#include <string>

#include "core/ascii_case.h"
#include "news/news_config.h"
#include "news/ui_seam.h"

namespace bw {

SameFeedAnswer findSameFeed(newsRoot& root, newsFeed& fresh, const cEncoding* charset, bool askAlways) {
  for (newsFeed* loaded = root.firstLoadedFeed; loaded; loaded = loaded->nextLoadedFeed) {
    const bool sameID = loaded->uniqueID == fresh.uniqueID;
    const bool sameURL = !loaded->url.isNil() && !fresh.url.isNil() && equalsNoCase(loaded->url.view(), fresh.url.view());
    if (!(sameID || sameURL)) continue;
    if (!loaded->docFormat || !fresh.docFormat || loaded->docFormat->className() != fresh.docFormat->className())
      continue;
    if (sameURL && !askAlways) return {loaded, false};
    const std::string freshName(fresh.infoName(charset).view());
    const std::string loadedName(loaded->infoName(charset).view());
    const int32_t answer = newsUi().gui_requester(
        "Add feed", "This new feed:\n\x1b" "1%s\nseems to be the same as this existing feed:\n\x1b" "1%s\n\nIs this correct?",
        "Yes|No", {freshName, loadedName}, 0, 0);
    if (answer != 0) return {loaded, false};
    newsUi().gui_requester("Add feed",
                           "This seemingly identical feed cannot be added.\n\nPlease report this problem to:\n\x1b" "1%s",
                           "OK", {std::string(newsConfig::kMakerContact)}, 0, 0);
    return {nullptr, true};
  }
  return {};
}

newsFeed* settleFeed(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, std::unique_ptr<newsFeed> fresh,
                     newsFeed* updateFeed) {
  if (!updateFeed) {
    fresh->setSoup(&db);
    const int32_t transaction = db.beginTransaction();
    const int32_t oldHead = root.feedList->infoHeadIndex();
    const int32_t index = db.createdObject(fresh.get());
    newsFeed* feed = fresh.release();
    root.feedList->insertAtHead(index);
    // The list links loaded nodes in memory only: write both headers.
    db.writeLoadedObjectNodeHeader(feed);
    if (oldHead != 0) {
      if (auto* old = dynamic_cast<cIndexedObjectNode*>(db.findLoadedObject(oldHead, 0)))
        db.writeLoadedObjectNodeHeader(old);
    }
    feed->nextLoadedFeed = root.firstLoadedFeed;
    root.firstLoadedFeed = feed;
    db.finishTransaction(transaction);
    return feed;
  }
  const int32_t transaction = db.beginTransaction();
  newsFeed& to = *updateFeed;
  to.title = std::move(fresh->title);
  const bool keepEmptyURL = !to.url.isNil() && to.url.empty();
  if (!keepEmptyURL) to.url = std::move(fresh->url);
  to.uniqueID = std::move(fresh->uniqueID);
  to.type = std::move(fresh->type);
  to.docFormat = std::move(fresh->docFormat);
  to.updatedText = std::move(fresh->updatedText);
  to.imageURL = std::move(fresh->imageURL);
  to.language = std::move(fresh->language);
  to.subtitle = std::move(fresh->subtitle);
  to.rights = std::move(fresh->rights);
  to.generator = std::move(fresh->generator);
  to.nameCache = Str();
  fresh.reset();
  db.saveChangesToObject(&to);
  db.finishTransaction(transaction);
  return updateFeed;
}

SettledFeed settleParsedFeed(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, std::unique_ptr<newsFeed> fresh,
                             newsFeed* updateFeed, const cEncoding* charset, bool askAlways) {
  if (!updateFeed) {
    SameFeedAnswer same = findSameFeed(root, *fresh, charset, askAlways);
    if (same.refused) return {nullptr, false, true};
    updateFeed = same.updateFeed;
  }
  const bool existed = updateFeed != nullptr;
  return {settleFeed(db, root, std::move(fresh), updateFeed), existed, false};
}

std::vector<webDataNode*> childrenWithChildren(const webDataNode& parent, Text name, Text ns) {
  std::vector<webDataNode*> out;
  for (webDataNode* n = parent.findChild(name, ns, nullptr, nullptr); n; n = parent.findChild(name, ns, n, nullptr)) {
    if (n->getFirstChild()) out.push_back(n);
  }
  return out;
}

void reportNoUniqueID(const char* kind, Text url) {
  const std::string text = std::string("Failed to make a uniqueID for ") + kind +
                           " news feed:\n\x1b" "1%s\n\nPlease report this to:\n\x1b" "1%s";
  newsUi().report(newsConfig::kProgramName, text,
                  {std::string(url.view()), std::string(newsConfig::kMakerContact)});
}

void showItemProgress(feedProgressGui* gui, int32_t number, int32_t count) {
  if (!gui) return;
  char text[64];
  const int64_t percent = count > 0 ? int64_t{number} * 100 / count : 0;
  std::snprintf(text, sizeof text, "Parsing item %ld (%ld%%)", static_cast<long>(number), static_cast<long>(percent));
  setProgressText(gui, text);
}

}  // namespace bw
