// app/opml_import.cpp - the OPML import dialog and the adding of its feeds.
#include "app/opml_import.h"

#include <memory>
#include <string>

#include "app/feed_dialogs.h"
#include "app/feed_list.h"
#include "app/modal_dialog.h"
#include "app/window_sizes.h"
#include "gui/gui_list.h"
#include "news/add_update_feed.h"
#include "news/downloader_choice.h"
#include "news/ui_seam.h"
#include "platform/native_path.h"
#include "platform/path.h"

namespace bw {
namespace {

// The host form of a path gadget's internal path, as the user typed it.
std::string hostPathOf(const Str& internal) {
  std::string native(cPath::ExportPath(internal).view());
  std::string host;
  if (!dos::nativeToHost(native, host)) host = native;
  return host;
}

// Path texts "OK" accepts: a name that is there and is not a folder's.
bool importablePath(const Str& path) {
  if (path.isNil() || path.empty() || path.view().back() == '/') return false;
  return cPath::ExistsPath(path, true);
}

// The first update of a new feed from address in "Update feeds".
AddUpdateResult addFirstUpdate(cJournaledIndexedObjectSoupDatabase& db, ImportTargets& t, newsRoot& root,
                               const cEncoding& charset, const Str& address) {
  DownloaderMade made = createDownloaderForURL(root, address, nullptr, t.updateWindow.progress.window);
  if (!made.downloader) {
    AddUpdateResult none;
    // A lookup that found nothing to ask about has told the user already.
    none.cancelled = made.failed == 0 && made.errorCode == 0;
    return none;
  }
  UpdateWindowRecord& w = t.updateWindow;
  sizeDialogWindow(t.mainWindow, w.window);
  w.buttonPage->setState(0);
  w.window->open();
  AddUpdateResult r = addUpdateFeed(db, root, &charset, made.downloader.get(), address, nullptr, &w.progress, 1, 1);
  w.window->close();
  return r;
}

}  // namespace

ImportResult importOpmlOutlines(webDataNode& node, bool dontEdit, cJournaledIndexedObjectSoupDatabase& db,
                                ImportTargets targets, newsRoot& root, const cEncoding& charset) {
  ImportResult result;
  walkOpmlOutlines(node, charset, [&](const OpmlFeedOutline& outline) {
    Str address = unwrapFeedAddress(outline.address);
    AddUpdateResult added = addFirstUpdate(db, targets, root, charset, address);
    if (added.windowEvent && targets.updateWindow.window->infoQuitRequested(true)) result.quit = true;
    refreshTagChooserAndFeedList(targets.feedList, targets.tagList, db, &charset, root);
    newsFeed* feed = added.feed;
    if (!feed) {
      if (!added.cancelled && !added.errorReported) {
        int32_t answer = newsUi().gui_requester("Import OPML", "Failed to add the feed:\n\x1b" "1%s",
                                                "OK|Cancel importing", {std::string(address.view())}, 0, 0);
        if (answer == 0) result.stop = true;
      }
    } else if (!dontEdit) {
      if (!result.quit) {
        DialogResult edited = editFeed(*feed, "Cancel edit & stop importing", db, targets.mainWindow,
                                       targets.feedList, targets.tagList, root, charset, outline.name, outline.tags);
        result.quit = edited.quit;
        result.stop = edited.cancelled;
      }
      refreshTagChooser(targets.tagList, root, &charset);
    } else {
      nameAndTagFeed(db, *feed, outline.name, outline.tags, root, charset);
      refreshTagChooserAndFeedList(targets.feedList, targets.tagList, db, &charset, root);
    }
    return !result.quit && !result.stop;
  });
  return result;
}

bool importOpmlFile(cJournaledIndexedObjectSoupDatabase& db, ImportTargets targets, newsRoot& root,
                    const cEncoding& charset) {
  ModalDialog dialog("Import OPML file");
  dialog->beginGroupVertical(nullptr);
  cGuiPathString* file = dialog->addPathString("File");
  dialog->addLabel("You can export a list of your RSS feeds (in OPML format) from websites like Feedly & Digg "
                   "Reader.")
      ->initAlignLeft();
  dialog->addLabel("Then you can import that file here, adding all your feeds in one go.")->initAlignLeft();
  dialog->addBar(nullptr);
  cGuiTick* dontEdit = dialog->addTick("Don't Edit each added feed (but import cannot be cancelled!)");
  auto [ok, cancel] = dialog.addButtonRow("Cancel", true);
  dialog.open(targets.mainWindow);

  bool quit = false;
  for (;;) {
    ModalDialog::Event e = dialog.next();
    if (e.quit) quit = true;
    if (e.quit || e.close || e.item == cancel) return quit;
    if (e.item == file) ok->setDisabled(!importablePath(file->getState()));
    if (e.item == ok) break;
  }
  Str path = file->getState();
  bool dontEditEach = dontEdit->getState();
  dialog->close();
  OpmlDocument opml = readOpmlFile(Text(hostPathOf(path)));
  if (opml) {
    quit = importOpmlOutlines(*opml.body, dontEditEach, db, targets, root, charset).quit;
    db.flush();
  }
  return quit;
}

}  // namespace bw
