// app/feed_dialogs.cpp - "Edit feed", "Rename feed tag", "Info about feed"
// and the commands that walk the selection with them.
#include "app/feed_dialogs.h"

#include <memory>
#include <string>

#include "app/feed_list.h"
#include "app/modal_dialog.h"
#include "core/string_space.h"
#include "gui/gui_list.h"
#include "news/feed_failure.h"
#include "news/feed_tags.h"
#include "news/html_text.h"

namespace bw {
namespace {

constexpr char kTagsHelp[] =
    "Tags are words separated by commas.\nUse them to group similar feeds together, so you can see all their news "
    "items at once.";
constexpr char kOldItemsHelp[] =
    "Twitter & Facebook feeds can have news items going back several years.\nTicking this will cause old news "
    "items to be gradually downloaded.\n\nIt will automatically untick itself when there are no older news items "
    "available.";

bool isSocialFeed(const newsFeed& feed) {
  std::string_view type = feed.type.view();
  return type.starts_with("Twitter") || type.starts_with("Facebook");
}

cEncodingUTF utf8Encoding() {
  cEncodingUTF utf8;
  utf8.load("UTF-8");
  return utf8;
}

// A stored text of the feed for display ("" where the feed has none). A
// text is trimmed as read, as the feed's name is: an Atom feed stores its
// texts as written, and a reference to a blank is none until decoded.
Str shown(newsFeed& feed, const cEncoding& charset, const Str& text, bool isAddress) {
  Str s = feed.docFormat ? convertFeedText(*feed.docFormat, &charset, text, isAddress, false) : text;
  if (s.isNil()) return Str("");
  if (!isAddress) trimDisplayText(s, isUtf8Encoding(charset));
  return s;
}

struct InitialTexts {
  Str name;
  Str tags;
  bool changed = false;
};

InitialTexts initialTexts(newsFeed& feed, const cEncoding& charset, Text suggestedName, Text suggestedTags) {
  InitialTexts t;
  if (suggestedName.isNil() || !feed.userName.isNil()) {
    t.name = feed.infoName(&charset);
  } else {
    t.name = Str(suggestedName.view());
    t.changed = true;
  }
  if (suggestedTags.isNil()) {
    t.tags = feed.infoTags(&charset);
  } else {
    t.tags = tagsWithSuggestion(feed, charset, suggestedTags);
    t.changed = true;
  }
  return t;
}

}  // namespace

Str tagsWithSuggestion(newsFeed& feed, const cEncoding& charset, Text suggestedTags) {
  if (feed.tags.isNil()) return Str(suggestedTags.view());
  std::string joined = std::string(feed.infoTags(&charset).view()) + "," + std::string(suggestedTags.view());
  Str parsed = parseTagText(Text(joined));
  return parsed.isNil() ? Str(joined) : parsed;
}

void nameAndTagFeed(cJournaledIndexedObjectSoupDatabase& db, newsFeed& feed, Text name, Text tags, newsRoot& root,
                    const cEncoding& charset) {
  cEncodingUTF utf8 = utf8Encoding();
  int32_t transaction = db.beginTransaction();
  if (feed.userName.isNil()) feed.setName(db, charset, utf8, name);
  if (!tags.isNil()) {
    std::unique_ptr<cStringSpace> oldTags = getAllFeedUserTags(root, &charset);
    feed.setTags(db, charset, utf8, tagsWithSuggestion(feed, charset, tags));
    unifyTagSpelling(tags, &feed, *oldTags, db, root, &charset);
  }
  db.finishTransaction(transaction);
}

DialogResult editFeed(newsFeed& feed, Text cancelText, cJournaledIndexedObjectSoupDatabase& db,
                      cGuiWindow* mainWindow, cGuiList& feedList, cGuiList& tagList, newsRoot& root,
                      const cEncoding& charset, Text suggestedName, Text suggestedTags) {
  InitialTexts initial = initialTexts(feed, charset, suggestedName, suggestedTags);
  bool changed = initial.changed;
  const bool social = isSocialFeed(feed);

  ModalDialog dialog("Edit feed");
  dialog->initSaveID(guiSaveId("RenF"));
  dialog->beginGroupVertical(nullptr);
  dialog->addText("Original name")->setState(shown(feed, charset, feed.title, false));
  cGuiString* name = dialog->addString("Name")->setState(initial.name);
  cGuiString* tags = dialog->addString("Tags")->setState(initial.tags)->setHelp(kTagsHelp);
  cGuiTick* oldItems = nullptr;
  if (social) {
    dialog->addBreak();
    oldItems = dialog->addTick("Download old news items")->setState(!feed.noOlderItems)->setHelp(kOldItemsHelp);
  }
  auto [ok, cancel] = dialog.addButtonRow(cancelText.isNil() ? Text("Cancel") : cancelText);
  dialog.open(mainWindow);

  DialogResult result;
  for (;;) {
    ModalDialog::Event e = dialog.next();
    if (e.quit) result.quit = true;
    if (e.close || e.item == cancel) result.cancelled = true;
    if (result.quit || result.cancelled || e.item == ok) break;
    if (e.item == name || (oldItems && e.item == oldItems)) changed = true;
    if (e.item == tags) {
      changed = true;
      Str normal = parseTagText(tags->getState());
      if (!normal.isNil()) tags->setState(normal);
    }
  }
  if (result.quit || result.cancelled || !changed) return result;

  cEncodingUTF utf8 = utf8Encoding();
  Str tagText = tags->getState();
  int32_t transaction = db.beginTransaction();
  std::unique_ptr<cStringSpace> oldTags = getAllFeedUserTags(root, &charset);
  feed.setName(db, charset, utf8, name->getState());
  feed.setTags(db, charset, utf8, tagText);
  if (oldItems) {
    feed.noOlderItems = !oldItems->getState();
    db.saveChangesToObject(&feed);
  }
  unifyTagSpelling(tagText, &feed, *oldTags, db, root, &charset);
  db.finishTransaction(transaction);
  db.flush();
  refreshTagChooserAndFeedList(feedList, tagList, db, &charset, root);
  return result;
}

RenameTagResult renameFeedTagDialog(Text oldTag, cJournaledIndexedObjectSoupDatabase& db, cGuiWindow* mainWindow,
                                    cGuiList& feedList, cGuiList& tagList, newsRoot& root,
                                    const cEncoding& charset) {
  ModalDialog dialog("Rename feed tag");
  dialog->beginGroupVertical(nullptr);
  cGuiString* tag = dialog->addString("Tag")->setState(oldTag);
  auto [ok, cancel] = dialog.addButtonRow("Cancel & stop renaming");
  dialog.open(mainWindow);

  RenameTagResult result;
  for (;;) {
    ModalDialog::Event e = dialog.next();
    if (e.quit) result.quit = true;
    if (e.quit || e.close || e.item == cancel) return result;
    if (e.item == tag) ok->setDisabled(tag->getState().empty());
    if (e.item == ok) break;
  }
  Str text = tag->getState();
  if (text.isNil() || text.empty()) return result;
  result.newTag = text;
  if (text.view() != oldTag.view()) {
    cEncodingUTF utf8 = utf8Encoding();
    renameFeedTag(oldTag, text, db, root, charset, utf8, nullptr);
    refreshTagChooserAndFeedList(feedList, tagList, db, &charset, root);
  }
  return result;
}

FeedInfoResult showFeedInfo(newsFeed& feed, const cEncoding& charset) {
  ModalDialog dialog("Info about feed");
  auto text = [&](const char* label, const Str& value, bool isAddress) {
    dialog->addText(label)->setState(shown(feed, charset, value, isAddress));
  };
  dialog->beginGroupVertical(nullptr);
  text("Name", feed.title, false);
  dialog->addTextBox("Summary")->setState(shown(feed, charset, feed.subtitle, false));
  text("URL", feed.url, true);
  text("Unique ID", feed.uniqueID, false);
  text("Image URL", feed.imageURL, true);
  text("Copyright", feed.rights, false);
  dialog->beginGroupHorizontal(nullptr);
  dialog->beginGroupVertical(nullptr);
  text("Updated", feed.updatedText, false);
  text("Generator", feed.generator, false);
  dialog->endGroup();
  dialog->beginGroupVertical(nullptr);
  text("Lang", feed.language, false);
  dialog->addText("Type")->setState(feed.type.isNil() ? Str("") : feed.type);
  dialog->endGroup();
  dialog->endGroup();
  // Why the feed's last update failed (kept for the run).
  if (!feed.failureReason.empty()) dialog->addText("Last failure")->setState(Str(feedFailureText(feed)));
  cGuiKeyButton* ok = dialog.addOkButton();
  dialog->endGroup();
  dialog->build(false);

  FeedInfoResult result;
  for (;;) {
    ModalDialog::Event e = dialog.next();
    if (e.quit) result.quit = true;
    if (e.close) result.closedByUser = true;
    if (e.quit || e.close || e.item == ok) return result;
  }
}

bool gotoFeedRow(cGuiList& feedList, const newsFeed* feed) {
  if (feedList.infoSize() == 0 || !feedList.cursor_gotoStart()) return false;
  do {
    if (feedOfListEntry(feedList.cursor_getDataBox()) == feed) return true;
  } while (feedList.cursor_gotoNext(1) == 1);
  return false;
}

bool showSelectedFeedsInfo(cGuiList& feedList, const cEncoding& charset) {
  for (bool more = feedList.cursor_gotoFirstSelected(); more; more = feedList.cursor_gotoNextSelected()) {
    newsFeed* feed = feedOfListEntry(feedList.cursor_getDataBox());
    if (!feed) continue;
    int32_t at = feedList.cursor_infoPosition();
    FeedInfoResult r = showFeedInfo(*feed, charset);
    if (r.quit) return true;
    if (r.closedByUser) return false;
    // The dialog changes nothing, but the walk goes on from its own row.
    feedList.cursor_gotoStart();
    feedList.cursor_gotoNext(at);
  }
  return false;
}

EditFeedsResult editSelectedFeeds(cJournaledIndexedObjectSoupDatabase& db, cGuiWindow* mainWindow,
                                  cGuiList& feedList, cGuiList& tagList, newsRoot& root, const cEncoding& charset) {
  EditFeedsResult result;
  while (!result.quit && feedList.cursor_gotoFirstSelected()) {
    newsFeed* feed = feedOfListEntry(feedList.cursor_getDataBox());
    feedList.cursor_setState(false);
    if (!feed) continue;
    DialogResult r = editFeed(*feed, "Cancel & stop editing", db, mainWindow, feedList, tagList, root, charset,
                              nullptr, nullptr);
    result.quit = r.quit;
    if (r.cancelled) {
      // The refresh may have moved the rows: the feed's own row is selected
      // again.
      if (gotoFeedRow(feedList, feed)) feedList.cursor_setState(true);
      break;
    }
  }
  db.flush();
  refreshTagChooser(tagList, root, &charset);
  result.anySelected = feedList.infoSelectionCount() > 0;
  return result;
}

bool renameSelectedTags(cJournaledIndexedObjectSoupDatabase& db, cGuiWindow* mainWindow, cGuiList& feedList,
                        cGuiList& tagList, newsRoot& root, const cEncoding& charset) {
  std::vector<Str> newNames;
  bool quit = false, stopped = false;
  int32_t transaction = db.beginTransaction();
  while (!quit && tagList.cursor_gotoFirstSelected()) {
    Str label = tagList.cursor_getLabel();
    tagList.cursor_setState(false);
    RenameTagResult r = renameFeedTagDialog(label, db, mainWindow, feedList, tagList, root, charset);
    quit = r.quit;
    if (r.newTag.isNil()) {
      if (tagList.cursor_findLabel(label, false, 0, false)) tagList.cursor_setState(true);
      stopped = true;
      break;
    }
    newNames.push_back(r.newTag);
  }
  db.finishTransaction(transaction);
  db.flush();
  if (stopped) return quit;
  // A tag renamed into several ("p,q") selects each of them.
  for (const Str& name : newNames) {
    std::string_view rest = name.view();
    while (!rest.empty()) {
      const size_t comma = rest.find(',');
      std::string_view part = rest.substr(0, comma);
      rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
      while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
      while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
      if (!part.empty() && tagList.cursor_findLabel(Str(part), false, 0, false)) tagList.cursor_setState(true);
    }
  }
  refreshTagChooserAndFeedList(feedList, tagList, db, &charset, root);
  return quit;
}

}  // namespace bw
