// news/feed_tags.cpp - parseTagText, newsFeed.setTags, the visibility test,
// the tag space and the rename.
#include "news/feed_tags.h"

#include <string>
#include <string_view>

#include "core/box.h"
#include "core/exception.h"
#include "core/string_procs.h"

namespace bw {
namespace {

// The piece without leading and trailing spaces (the space byte only).
std::string_view trimSpaces(std::string_view piece) {
  while (!piece.empty() && piece.front() == ' ') piece.remove_prefix(1);
  while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
  return piece;
}

std::string enclosed(std::string_view tag) { return "," + std::string(tag) + ","; }

}  // namespace

Str parseTagText(Text text) {
  if (text.isNil()) return Str();
  cStringSpace seen(false, cStringSpace::kCaseInsensitive);
  std::string kept;
  bool changed = false;
  for (const Str& piece : splitString(text, ",").chain) {
    std::string_view tag = trimSpaces(piece.view());
    changed |= tag.size() != piece.view().size();
    if (tag.empty() || seen.get(Text(tag)).data) {
      changed = true;
      continue;
    }
    seen.set(Text(tag), &seen);
    if (!kept.empty()) kept += ',';
    kept += tag;
  }
  return changed ? Str(kept) : Str();
}

void newsFeed::setTags(cJournaledIndexedObjectSoupDatabase& db, const cEncoding& charset, const cEncoding& encoding,
                       Text text) {
  SoupTransaction transaction(db.infoBlockFile());
  tags = Str();
  tagsCache = Str();
  if (!text.isNil() && text.length() > 0) {
    tagsCache = Str(text.view());
    tags = Str(enclosed(feedTextToFeedEncoding(charset, encoding, text, false).view()));
  }
  db.saveChangesToObject(this);
  transaction.finish();
}

bool feedHasVisibleTag(newsFeed& feed, GuiListSelection* tagChooser, const cEncoding* charset) {
  if (!tagChooser || !tagChooser->cursor_gotoFirstSelected()) return true;
  if (feed.tags.isNil()) return false;
  Str display;
  if (feed.docFormat) display = convertFeedText(*feed.docFormat, charset, feed.tags, false, true);
  std::string_view tags = display.isNil() ? feed.tags.view() : display.view();
  do {
    if (tags.find(enclosed(tagChooser->cursor_getLabel().view())) != std::string_view::npos) return true;
  } while (tagChooser->cursor_gotoNextSelected());
  return false;
}

std::unique_ptr<cStringSpace> getAllFeedUserTags(newsRoot& root, const cEncoding* charset) {
  auto space = std::make_unique<cStringSpace>(true, cStringSpace::kCaseInsensitive);
  for (newsFeed* feed = root.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) {
    if (feed->tags.isNil()) continue;
    Str display = feed->infoTags(charset);
    if (display.isNil()) raise("BUG", "getAllFeedUserTags(); visibleUserTags=NILS");
    int32_t flags = (feed->hasNewItems ? kTagHasNewItems : 0) | (feed->infoHasUnseen() ? kTagHasUnseen : 0);
    for (const Str& tag : splitString(display, ",").chain) {
      if (auto* known = static_cast<boxVALUE*>(space->get(tag).data)) {
        known->value |= flags;
      } else {
        space->set(tag, new boxVALUE(flags));
      }
    }
  }
  return space;
}

void renameFeedTag(Text oldTag, Text newTag, cJournaledIndexedObjectSoupDatabase& db, newsRoot& root,
                   const cEncoding& charset, const cEncoding& encoding, newsFeed* exceptFeed) {
  SoupTransaction transaction(db.infoBlockFile());
  const std::string pattern = enclosed(feedTextToFeedEncoding(charset, encoding, oldTag, false).view());
  const Str stored = feedTextToFeedEncoding(charset, encoding, newTag, false);
  for (newsFeed* feed = root.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) {
    if (feed == exceptFeed || feed->tags.isNil()) continue;
    std::string tags = feed->tags.str();
    size_t at = tags.find(pattern);
    if (at == std::string::npos) continue;
    tags.replace(at + 1, pattern.size() - 2, stored.view());
    // A new name of several tags ("x, y") gives each its place; blanks
    // around them and empty ones go, and a tag the feed already has is
    // kept once.
    std::string_view inner = std::string_view(tags).substr(1, tags.size() - 2);
    Str parsed = parseTagText(Text(inner));
    std::string normal = parsed.isNil() ? std::string(inner) : parsed.str();
    feed->tags = normal.empty() ? Str() : Str(enclosed(normal));
    feed->clearTagsCache();
    db.saveChangesToObject(feed);
  }
  transaction.finish();
}

}  // namespace bw
