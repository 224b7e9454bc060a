// app/add_feed_dialog.cpp - the "Add feed" and "Add Facebook feed" dialogs.
#include "app/add_feed_dialog.h"

#include <string>

#include "app/feed_list.h"
#include "app/main_windows.h"
#include "app/modal_dialog.h"
#include "app/opml_import.h"
#include "app/program_identity.h"
#include "app/update_feeds.h"
#include "app/window_sizes.h"
#include "core/box.h"
#include "gui/gui_list.h"
#include "news/add_update_feed.h"
#include "news/downloader_choice.h"
#include "news/feed_failure.h"
#include "news/ui_seam.h"
#include "social/facebook_downloader.h"
#include "social/facebook_friends.h"
#include "social/log_out_window.h"

namespace bw {
namespace {

constexpr char kOwnTimeline[] = "anyone posting on your Timeline";

// Tells that the downloader of a typed address could not be opened: with
// the text of the failure's kind where that says more than a failed
// download (a refused sign-in above all), else "Failed to add the feed:"
// with the reason when it is known.
void tellFailedAdd(int32_t failed, const Str& address, const std::string& reason) {
  // A sign-in the user gave up is the user's own act, like a cancel.
  if (failed == kFeedAuthFailed && reason == kSignInCancelledReason) return;
  const char* text = reason.empty() ? "Failed to add the feed:\n\x1b" "1%s" : "Failed to add the feed:\n\x1b" "1%s\n%s";
  switch (failed) {
    case kFeedNoFeedFound: text = "No news feed found for:\n\x1b" "1%s"; break;
    case kFeedNoBody: text = "An unknown error occured for:\n\x1b" "1%s"; break;
    case kFeedAuthFailed:
      // A refusal in the browser says so on a line of its own.
      text = reason.empty() ? "Authentication failed for:\n\x1b" "1%s" : "Authentication failed for:\n\x1b" "1%s\n%s";
      break;
    case kFeedBlocked:
      text = "Temporarily blocked by server, due to sending too many requests, for:\n\x1b" "1%s";
      break;
    default: break;
  }
  newsUi().gui_requester("Add feed", text, "OK", {std::string(address.view()), reason}, 0, 0);
}

}  // namespace

Str addressToAdd(Text typed) {
  if (typed.isNil()) return Str();
  std::string url(unwrapFeedAddress(Str(cleanAddress(typed.view()))).view());
  if (url.empty()) return Str();
  if (url.find("://") == std::string::npos) url = "http://" + url;
  return Str(url);
}

FacebookFeedChoice addFacebookFeed(cJournaledIndexedObjectSoupDatabase& db, cGuiWindow* mainWindow,
                                   newsRoot& root) {
  (void)mainWindow;
  FacebookFeedChoice choice;
  auto facebook = std::make_unique<downloadFacebook>(root.facebookAccessToken, root.facebookUserID);
  FacebookFriends fetched = facebookFetchFriends(*facebook);
  if (!fetched.friends) {
    newsUi().gui_requester(std::string(programName), "Failed to retrieve list of Facebook friends.", "OK", {}, 0,
                           0);
    choice.errorCode = fetched.error;
    facebook->updateFeedInfo(db, root);
    return choice;
  }
  Str ownID(facebook->readOwnUserID().id.view());

  ModalDialog dialog("Add Facebook feed");
  dialog->beginGroupVertical(nullptr);
  dialog->beginGroupHorizontal(nullptr);
  cGuiButton* post = dialog->addButton("Make a post")->initNoWeight();
  dialog->addLabel("which asks all your friends to give Brindlework permission to receive their posts")
      ->initAlignLeft();
  dialog->endGroup();
  dialog->beginGroupHorizontal(nullptr);
  cGuiButton* message = dialog->addButton("Send a private message")->initNoWeight();
  dialog->addLabel("to a friend, asking them to give Brindlework permission to receive their posts")->initAlignLeft();
  dialog->endGroup();
  dialog->addBar(nullptr);
  dialog->addLabel("You can choose to follow the Timeline of a friend.  But they will not be shown below, unless "
                   "they have given Brindlework permission to receive their posts:");
  cGuiList* friends = dialog->beginList(1, "Friends");
  friends->initMultiSelect(false, false);
  dialog->addListEntry(kOwnTimeline, 0, false, 0, std::make_unique<boxSTRING>(ownID));
  for (const auto& pair : *fetched.friends)
    dialog->addListEntry(pair.value, 0, false, 0, std::make_unique<boxSTRING>(pair.key));
  dialog->endList();
  dialog->beginGroupHorizontal(nullptr);
  cGuiTick* others = dialog->addTick("Show other people's posts on their Timeline");
  dialog->addLabel("(Comments are always shown)")->initAlignLeft();
  dialog->endGroup();
  auto [ok, cancel] = dialog.addButtonRow("Cancel", true);
  dialog->build(false);

  Str chosen;
  for (;;) {
    ModalDialog::Event e = dialog.next();
    if (e.quit) choice.quit = true;
    if (e.quit || e.close || e.item == cancel) break;
    if (e.item == post) facebookAskFriendViaShare();
    if (e.item == message) facebookAskFriendViaSend();
    if (e.item == friends) {
      bool any = friends->infoSelectionCount() > 0;
      ok->setDisabled(!any);
      bool own = false;
      if (any && friends->cursor_gotoFirstSelected()) {
        auto* id = static_cast<boxSTRING*>(friends->cursor_getDataBox());
        own = id && id->value.view() == ownID.view();
      }
      others->setDisabled(own);
    }
    if (e.item == ok && friends->infoSelectionCount() > 0 && friends->cursor_gotoFirstSelected()) {
      chosen = static_cast<boxSTRING*>(friends->cursor_getDataBox())->value;
      break;
    }
  }
  dialog->close();
  if (!chosen.isNil()) {
    FacebookOpenResult opened = facebook->open(chosen, false, others->getState(), 0, 0, nullptr, false, 0);
    if (opened.failed == 0) {
      facebook->saveInit(true, nullptr, 1500);
    } else {
      choice.errorCode = opened.failed;
      choice.detail = opened.errorCode;
      newsUi().gui_requester(std::string(programName), "Failed due to Facebook errorCode %ld.\nPlease report this.",
                             "OK", {int64_t{opened.failed}}, 0, 0);
    }
  }
  facebook->updateFeedInfo(db, root);
  if (!chosen.isNil() && choice.errorCode == 0) choice.downloader = std::move(facebook);
  return choice;
}

AddFeedResult addFeed(cJournaledIndexedObjectSoupDatabase& db, AddFeedTargets t, newsRoot& root,
                      const cEncoding& charset) {
  ModalDialog dialog("Add feed");
  dialog->initSaveID(guiSaveId("AddF"));
  dialog->beginGroupVertical(nullptr);
  dialog->beginGroupHorizontal(nullptr);
  cGuiString* url = dialog->addString("URL")->initMaxChars(kLongestFeedAddress);
  dialog->addLabel("or");
  cGuiButton* facebook = dialog->addButton("Facebook friend")
                             ->initImage("PROGDIR:/FacebookLogo.png")
                             ->initNoWeight()
                             ->setHelp("Show Facebook options (ignores the URL text box)");
  dialog->addLabel("or");
  cGuiButton* import = dialog->addButton("Import OPML")->initImage(getToolbarImagePath("import"))->initNoWeight();
  dialog->endGroup();
  for (const char* line : {"Use a URL (web address) for any of the following:", "* A Facebook Group or Facebook Page.",
                           "* Someone on Twitter.", "* An RSS or Atom news feed.",
                           "You can also try any news site or blog, as they may contain an embedded RSS or Atom "
                           "news feed."})
    dialog->addLabel(line)->initAlignLeft();
  auto [ok, cancel] = dialog.addButtonRow("Cancel");
  dialog.open(t.mainWindow);

  AddFeedResult result;
  ModalDialog::Event e;
  do {
    e = dialog.next();
  } while (!e.quit && !e.close && e.item != cancel && e.item != ok && e.item != facebook && e.item != import);
  dialog->close();
  result.quit = e.quit;
  if (e.quit || e.close || e.item == cancel) return result;

  if (e.item == import) {
    result.quit = importOpmlFile(db, {t.mainWindow, t.feedList, t.tagList, t.updateWindow}, root, charset);
    showFeedCountStatus(t.feedCountText, t.feedList);
    updateOldestSeenTime(root, &t.feedList, t.undoSeenButton, false);
    return result;
  }

  Str address;
  std::unique_ptr<downloadFeed> downloader;
  // The open's failure kind and error code; both 0 when nothing was made
  // and nothing needs telling (the user declined a Facebook lookup).
  int32_t failed = 0;
  int32_t errorCode = 0;
  std::string reason;
  if (e.item == ok) {
    address = addressToAdd(url->getState());
    if (!address.isNil()) {
      DownloaderMade made = createDownloaderForURL(root, address, nullptr, t.updateWindow.progress.window);
      downloader = std::move(made.downloader);
      failed = made.failed;
      errorCode = made.errorCode;
      reason = made.reason;
    }
  } else {
    FacebookFeedChoice chosen = addFacebookFeed(db, t.mainWindow, root);
    downloader = std::move(chosen.downloader);
    errorCode = chosen.errorCode;
    result.quit = chosen.quit;
  }
  AddUpdateResult added;
  if (downloader) {
    UpdateWindowRecord& w = t.updateWindow;
    sizeDialogWindow(t.mainWindow, w.window);
    w.buttonPage->setState(0);
    w.window->open();
    added = addUpdateFeed(db, root, &charset, downloader.get(), address, nullptr, &w.progress, 1, 1);
    w.window->close();
    if (added.windowEvent && w.window->infoQuitRequested(true)) result.quit = true;
  } else {
    added.cancelled = failed == 0 && errorCode == 0;
  }
  refreshTagChooserAndFeedList(t.feedList, t.tagList, db, &charset, root);
  result.feed = added.feed;
  if (!added.feed) {
    if (!added.cancelled && !added.errorReported && !address.isNil()) {
      tellFailedAdd(failed, address, downloader ? added.failure : reason);
    }
  } else {
    showFeedCountStatus(t.feedCountText, t.feedList);
    updateOldestSeenTime(root, &t.feedList, t.undoSeenButton, false);
  }
  return result;
}

}  // namespace bw
