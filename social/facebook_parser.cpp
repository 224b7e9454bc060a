// social/facebook_parser.cpp - posts, comments and the account record into
// the news model.
#include "social/facebook_parser.h"

#include <memory>

#include "core/ascii_case.h"
#include "news/list_loop.h"
#include "news/news_item_glance.h"
#include "news/news_load.h"
#include "social/facebook_records.h"
#include "social/id_index.h"
#include "social/json_members.h"
#include "social/social_merge.h"

namespace bw {
namespace {

const webDataNode* dataOf(const webDataNode* node) { return jsonMember(node, "data"); }

class PostParse : public SocialPageParse {
 public:
  PostParse(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, feedProgressGui* gui, const webDataNode* newer,
            const webDataNode* older)
      : SocialPageParse(db, feed, gui, newer, older), cursor_(db, newsItem::Texts::kKeysAndDates) {}

 private:
  // The newer page: each post and comment not known yet is stored; a known
  // post keeps its comments coming under the stored post.
  void storeNewer(NewItems& items) override {
    for (const webDataNode* post = newer_ ? newer_->getFirstChild() : nullptr; post; post = post->getNext()) {
      showNextItem();
      FacebookRecord r = facebookExtractPost(*post);
      const webDataNode* comments = r.commentsNode;
      const Str postAddress = std::move(r.postAddress);
      HeldItem stored(db_);
      newsItem* parent = nullptr;
      if (const int32_t known = knownIndex(*r.item)) {
        if (comments) stored.reset(loadObject_newsItem2(db_, known, &feed_));
        parent = stored.get();
      } else {
        parent = storeNew(std::move(r), items);
      }
      if (!comments || !parent) continue;
      showComments();
      for (const webDataNode* c = dataOf(comments)->getFirstChild(); c; c = c->getNext()) {
        FacebookRecord comment = facebookExtractComment(*c, parent, postAddress);
        if (knownIndex(*comment.item)) break;  // the rest is older and known
        storeNew(std::move(comment), items);
      }
    }
    cursor_.clear();
  }

  // The older page: everything is stored, comments under their new post.
  void storeOlder(NewItems& items) override {
    for (const webDataNode* post = older_ ? older_->getFirstChild() : nullptr; post; post = post->getNext()) {
      showNextItem();
      FacebookRecord r = facebookExtractPost(*post);
      const webDataNode* comments = r.commentsNode;
      newsItem* parent = r.item.get();
      storeNewItem(db_, feed_, std::move(r.item), std::move(r.body), items);
      if (!comments) continue;
      showComments();
      for (const webDataNode* c = dataOf(comments)->getFirstChild(); c; c = c->getNext()) {
        FacebookRecord comment = facebookExtractComment(*c, parent, r.postAddress);
        storeNewItem(db_, feed_, std::move(comment.item), std::move(comment.body), items);
      }
    }
  }

  void showComments() {
    if (gui_) showSocialProgress(gui_, "Parsing comments of item %ld (%ld%%)", itemNumber_, itemCount());
  }

  // The stored index of item's id (0: not stored), after the collection
  // walk has gone as far as item could repeat a stored one.
  int32_t knownIndex(const newsItem& item) {
    collectNewer(item);
    return known_.find(item.uniqueID.view());
  }

  // Glances at stored items from where the walk stopped last, learning
  // their ids, until one is older than item.
  void collectNewer(const newsItem& item) {
    int32_t next;
    bool stop;
    if (const newsItem* at = cursor_.get()) {
      next = at->infoNextIndex();
      stop = item.published > at->published;
    } else {
      next = feed_.itemList->infoHeadIndex();
      stop = false;
    }
    ListLoop loop(next);
    while (!stop && next != 0) {
      const newsItem* at = cursor_.look(next);
      if (!at) break;
      known_.set(at->uniqueID.view(), next);
      stop = item.published > at->published;
      next = at->infoNextIndex();
      loop.stepTo(next, "facebookParse(); the item list comes back to an item it went through");
    }
  }

  // Stores a new record, counting its date and learning its id; answers the
  // item, still loaded in items.
  newsItem* storeNew(FacebookRecord r, NewItems& items) {
    storeNewItem(db_, feed_, std::move(r.item), std::move(r.body), items);
    newsItem* item = items.pending.back();
    range_.note(*item);
    known_.set(item->uniqueID.view(), item->infoSoupIndex());
    return item;
  }

  ItemGlance cursor_;
  IdIndex known_;
};

}  // namespace

FeedParseResult parseFacebookFeed(cJournaledIndexedObjectSoupDatabase& soup, webDataRoot& document, newsRoot& root,
                                  const cEncoding* charset, Text, newsFeed* updateFeed, feedProgressGui* gui) {
  setProgressText(gui, "Parsing feed");
  std::unique_ptr<newsFeed> info = facebookUserInfoToFeed(document);
  newsFeed* feed = updateFeed;
  bool added = false;
  if (!updateFeed && !info) return {};
  // The feed's own change and every item go in one transaction: a parse
  // that fails half-way leaves no feed without its items.
  SoupTransaction transaction(soup.infoBlockFile());
  if (!updateFeed) {
    SameFeedAnswer same = findSameFeed(root, *info, charset, true);
    if (same.refused) {
      transaction.finish();
      return {nullptr, true};
    }
    updateFeed = same.updateFeed;
    added = updateFeed == nullptr;
  }
  if (info) {
    // The own timeline keeps its "me" id whatever the account record says.
    if (updateFeed && equalsNoCase(updateFeed->uniqueID.view(), "me")) info->uniqueID = Str(updateFeed->uniqueID.view());
    feed = settleFeed(soup, root, std::move(info), updateFeed);
  }

  const webDataNode* olderRoot = document.findNode(kFacebookOlderTimelineRoot, nullptr, nullptr, nullptr);
  const webDataNode* older = dataOf(olderRoot);
  PostParse parse(soup, *feed, gui, dataOf(document.findNode(kFacebookTimelineRoot, nullptr, nullptr, nullptr)), older);
  parse.run(transaction, added, olderRoot != nullptr, !older || !older->getFirstChild());
  return {feed, false};
}

}  // namespace bw
