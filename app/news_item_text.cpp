// app/news_item_text.cpp - rendering a news item and its chain of updates,
// and the item information window.
#include "app/news_item_text.h"

#include <set>
#include <string_view>

#include "app/main_windows.h"
#include "app/window_sizes.h"
#include "core/string_procs.h"
#include "gui/host/core/gui_native_items.h"
#include "gui/host/gui_app_client.h"
#include "news/html_text.h"
#include "news/news_load.h"
#include "platform/time.h"

namespace bw {
namespace {

bool startsWith(const Str& text, std::string_view prefix) {
  return !text.isNil() && text.view().substr(0, prefix.size()) == prefix;
}

// The older updates a chain walk has loaded: one item and its body at a
// time, given back when replaced and when the walk ends.
class WalkUses {
 public:
  explicit WalkUses(cJournaledIndexedObjectSoupDatabase& db) : db_(db) {}
  WalkUses(const WalkUses&) = delete;
  WalkUses& operator=(const WalkUses&) = delete;
  ~WalkUses() { release(); }
  // The item at index with its body; false when no item loads there.
  bool load(int32_t index, newsFeed* feed) {
    release();
    item_ = loadObject_newsItem2(db_, index, feed);
    if (item_) body_ = loadObject_newsItemBody(db_, item_->bodyIndex);
    return item_ != nullptr;
  }
  newsItem* item() const { return item_; }
  newsItemBody* body() const { return body_; }

 private:
  void release() {
    db_.unloadObject(body_);
    db_.unloadObject(item_);
    body_ = nullptr;
    item_ = nullptr;
  }
  cJournaledIndexedObjectSoupDatabase& db_;
  newsItem* item_ = nullptr;
  newsItemBody* body_ = nullptr;
};

// older joined below newer with the rule; either may be NIL.
Str joinBelow(Str newer, const Str& older, const char* rule) {
  if (newer.isNil()) return older;
  if (older.isNil()) return newer;
  return concatStrings(newer, rule, older);
}

// A Facebook update's title up to its first ")" on a line above its
// contents, when the title is a "(comment by ...)" title or opens with "("
// where the contents do not.
Str withCommentLine(newsFeed& feed, const cEncoding* charset, newsItem& update, Str contents) {
  Str title = feedDisplayText(feed, charset, update.title, false);
  if (title.isNil()) return contents;
  bool bracketed = startsWith(title, "(") && !startsWith(contents, "(");
  size_t close = title.view().find(')');
  if (!(bracketed || startsWith(title, "(comment by ")) || close == std::string_view::npos) return contents;
  return concatStrings(title.view().substr(0, close + 1), "\n", contents);
}

void show(cGuiText* gadget, const Str& text) {
  if (gadget) gadget->setState(text.isNil() ? Text("") : Text(text));
}
void show(cGuiTextBox* gadget, const Str& text) {
  if (gadget) gadget->setState(text.isNil() ? Text("") : Text(text));
}

// Whether display texts in charset are UTF-8 (decides what the trims take
// as a no-break space).
bool isUtf8Charset(const cEncoding* charset) { return charset && isUtf8Encoding(*charset); }

// A stored text of the feed as display text in charset.
Str feedShownText(newsFeed& feed, const cEncoding* charset, Text text, int32_t format, bool useStyles) {
  if (text.isNil()) return Str();
  if (!feed.docFormat) return prepareTextForDisplay(Str(text.view()), format, useStyles, isUtf8Charset(charset));
  return feedTextForDisplay(*feed.docFormat, charset, text, format, useStyles);
}

}  // namespace

Str feedDisplayText(newsFeed& feed, const cEncoding* charset, Text text, bool address) {
  if (text.isNil()) return Str();
  if (!feed.docFormat) return Str(text.view());
  return convertFeedText(*feed.docFormat, charset, text, address, false);
}

Str newsItemDisplayTitle(cJournaledIndexedObjectSoupDatabase& db, newsItem& item, const cEncoding* charset) {
  return feedShownText(*item.infoFeed(&db), charset, item.title, item.titleFormat, false);
}

bool renderNewsItemText(cJournaledIndexedObjectSoupDatabase& db, newsItem& item, newsItemBody* body,
                        const cEncoding* charset, cGuiText* summaryTitle, cGuiTextBox* summaryBox,
                        cGuiText* contentsTitle, cGuiTextBox* contentsBox) {
  newsFeed* feed = item.infoFeed(&db);
  const bool facebook = startsWith(feed->type, "Facebook");
  const bool twitter = startsWith(feed->type, "Twitter");

  Str title = newsItemDisplayTitle(db, item, charset);
  if (item.infoIsOldestDuplicate()) title = concatStrings("* ", title);
  const bool notNewest =
      item.infoIsDuplicate() && item.infoSoupIndex() != item.infoNewestDuplicateOrSelfIndex(db, false);

  Str summary, contents;
  bool stopSummary = false, stopContents = false, seenMet = false;
  WalkUses walk(db);
  std::set<int32_t> visited{item.infoSoupIndex()};
  newsItem* update = &item;
  newsItemBody* updateBody = body;
  for (;;) {
    BodyTexts texts = hasNonBlankBody(db, update, updateBody);
    Str s, c;
    if (!stopSummary && updateBody) {
      bool fromContents = texts.summary.isNil();
      uint8_t format = fromContents ? updateBody->contentFormat : updateBody->summaryFormat;
      s = feedShownText(*feed, charset, fromContents ? texts.contents : texts.summary, format, true);
      if (fromContents) shortenText(s);
    }
    if (!stopContents && updateBody)
      c = feedShownText(*feed, charset, texts.contents, updateBody->contentFormat, true);
    bool firstSeen = false;
    if (facebook) {
      firstSeen = !seenMet && update->seen;
      seenMet = seenMet || firstSeen;
      if (update->infoIsDuplicate()) {
        if (!c.isNil()) c = withCommentLine(*feed, charset, *update, std::move(c));
        if (c.isNil() && !s.isNil()) c = copyStringKeepSize(s);
      }
    } else if (!twitter) {
      // A text of several lines stands for the whole chain: older texts stop.
      stopSummary = stopSummary || (!s.isNil() && s.view().find('\n') != std::string_view::npos);
      stopContents = stopContents || (!c.isNil() && c.view().find('\n') != std::string_view::npos);
    }
    const char* rule = firstSeen ? kEqualsRule : kMinusRule;
    summary = joinBelow(std::move(summary), s, rule);
    contents = joinBelow(std::move(contents), c, rule);

    int32_t next = update->olderDuplicateItemIndex;
    if ((stopSummary && stopContents) || notNewest || next == 0 || !visited.insert(next).second) break;
    if (!walk.load(next, feed)) break;
    update = walk.item();
    updateBody = walk.body();
  }
  if (facebook && !seenMet) {
    summary = concatStrings(summary, kClosingRule);
    contents = concatStrings(contents, kClosingRule);
  }
  show(summaryTitle, title);
  show(contentsTitle, title);
  show(summaryBox, summary);
  show(contentsBox, contents);
  return contents.isNil();
}

std::array<Str, 10> newsItemInfoFields(newsItem& item, newsItemBody* body, const cEncoding* charset) {
  newsFeed& feed = *item.infoFeed(nullptr);
  auto text = [&](const Str& value, bool address) {
    Str shown = feedDisplayText(feed, charset, value, address);
    return shown.isNil() ? Str("") : shown;
  };
  const newsItemBody empty;
  const newsItemBody& b = body ? *body : empty;
  Str url = text(item.link, true);
  if (!item.statedLink.isNil()) url = concatStrings(url, " (stated ", text(item.statedLink, true), ")");
  const Str& updated = (item.infoIsDuplicate() && b.updatedText.isNil()) ? b.publishedText : b.updatedText;
  Str downloaded("");
  if (item.downloaded != kDateUnset) {
    downloaded = Str::withCapacity(20);
    pTime::formatBigTime(downloaded, item.downloaded, true, true);
  }
  Str encoding = b.encoding.isNil() ? Str("") : b.encoding;
  if (!b.statedEncoding.isNil()) encoding = concatStrings(encoding, " (stated ", b.statedEncoding, ")");
  return {text(item.title, false), url,
          text(item.uniqueID, false), text(b.publishedText, false),
          text(updated, false), downloaded,
          text(item.tags, true), text(b.author, false),
          text(b.imageURL, true), encoding};
}

bool showNewsItemInfo(newsItem& item, newsItemBody* body, const cEncoding* charset, cGuiWindow* owner) {
  std::array<Str, 10> values = newsItemInfoFields(item, body, charset);
  cGuiWindow* window = cGuiHost::CreateGuiWindow("Info about news item");
  bool quit = false;
  try {
    window->beginGroupVertical(nullptr);
    for (size_t i = 0; i < values.size(); ++i) window->addText(kNewsItemInfoLabels[i])->setState(values[i]);
    cGuiKeyButton* ok = addKeyButton(window, "OK", 10);
    window->endGroup();
    if (owner)
      sizeDialogWindow(owner, window);
    else
      window->setSize(kDialogMinWidth, kDialogHeight);
    window->build(false);
    for (;;) {
      GuiChange change = cGuiHost::waitForChangedGuiItem();
      if (!change.item) {
        if (window->infoCloseRequested(false)) break;
        if (window->infoQuitRequested(false)) {
          quit = true;
          break;
        }
      } else if (change.item == ok) {
        break;
      }
    }
  } catch (...) {
    endGuiWindow(window);
    throw;
  }
  window->close();
  endGuiWindow(window);
  return quit;
}

}  // namespace bw
