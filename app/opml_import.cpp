// app/opml_import.cpp - the OPML import dialog and the adding of its feeds.
#include "app/opml_import.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/feed_dialogs.h"
#include "app/feed_list.h"
#include "app/modal_dialog.h"
#include "app/window_sizes.h"
#include "gui/gui_window.h"
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
    // A lookup the user declined is no failure.
    if (made.failed == 0 && made.errorCode == 0) {
      none.errorReported = true;
    } else {
      none.failure = made.reason;
    }
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

// Takes the reports of the news layer for a while (the failure is in the
// update's result); requesters and window events pass through.
class QuietReports : public NewsUi {
 public:
  QuietReports() : inner_(newsUi()) { setNewsUi(this); }
  ~QuietReports() override { setNewsUi(&inner_); }
  QuietReports(const QuietReports&) = delete;
  QuietReports& operator=(const QuietReports&) = delete;

  int32_t gui_requester(Text title, Text text, Text buttons, const RequesterParameters& parameters, int32_t wrap1,
                        int32_t wrap2) override {
    return inner_.gui_requester(title, text, buttons, parameters, wrap1, wrap2);
  }
  void report(Text, Text, const RequesterParameters&) override {}
  ChangedGuiItem checkForChangedGuiItem() override { return inner_.checkForChangedGuiItem(); }
  ChangedGuiItem waitForChangedGuiItem() override { return inner_.waitForChangedGuiItem(); }
  std::unique_ptr<NewsGuiBuiltWindow> CreateGuiWindow(Text title) override { return inner_.CreateGuiWindow(title); }

 private:
  NewsUi& inner_;
};

// A text for one cell of the report's list: no tab, no control byte, no
// style escape.
std::string cellText(std::string_view text) {
  std::string cell(text);
  for (char& c : cell)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return cell;
}

ImportFailure failedOutline(const OpmlFeedOutline& outline, const Str& address, const std::string& reason) {
  return {outline.name.isNil() ? std::string() : std::string(outline.name.view()), std::string(address.view()),
          reason.empty() ? std::string("the feed could not be added") : reason};
}

// Whether feed is one of the chain from first on.
bool inChain(const newsFeed* first, const newsFeed* feed) {
  for (; first; first = first->nextLoadedFeed)
    if (first == feed) return true;
  return false;
}

}  // namespace

std::string importReportText(const ImportCounts& counts) {
  std::string text = std::to_string(counts.added) + (counts.added == 1 ? " feed" : " feeds") + " added";
  if (counts.alreadySubscribed > 0) text += "; " + std::to_string(counts.alreadySubscribed) + " already subscribed";
  if (counts.failures.empty()) return text + ".";
  return text + "; " + std::to_string(counts.failures.size()) + " failed:";
}

void showImportReport(cGuiWindow* mainWindow, const ImportCounts& counts) {
  ModalDialog dialog("Import OPML");
  dialog->beginGroupVertical(nullptr);
  dialog->addText("")->setState(Str(importReportText(counts)));
  if (!counts.failures.empty()) {
    // However many failed, the report is one window of the dialogs' size:
    // the list scrolls.
    cGuiList* list = dialog->beginList(3, nullptr);
    list->initMultiSelect(false, false)->initColumnTitles("Name\tAddress\tReason");
    list->initFillColumn(2);
    for (const ImportFailure& f : counts.failures) {
      list->addEntry(Str(cellText(f.name) + "\t" + cellText(f.address) + "\t" + cellText(f.reason)), 0, false, 0,
                     nullptr);
    }
    dialog->endList();
  }
  dialog.addOkButton();
  dialog->endGroup();
  dialog.open(mainWindow, counts.failures.empty() ? kDialogHeight : kFeedDialogHeight);
  for (;;) {
    ModalDialog::Event e = dialog.next();
    if (e.quit || e.close || e.item) return;
  }
}

ImportResult importOpmlOutlines(webDataNode& node, bool dontEdit, cJournaledIndexedObjectSoupDatabase& db,
                                ImportTargets targets, newsRoot& root, const cEncoding& charset) {
  ImportResult result;
  ImportCounts counts;
  walkOpmlOutlines(node, charset, [&](const OpmlFeedOutline& outline) {
    Str address = unwrapFeedAddress(Str(cleanAddress(outline.address.view())));
    AddUpdateResult first;
    const newsFeed* firstBefore = root.firstLoadedFeed;
    {
      // One feed that fails is one line of the report at the end, not a
      // requester of its own.
      QuietReports quiet;
      first = addFirstUpdate(db, targets, root, charset, address);
    }
    if (first.windowEvent && targets.updateWindow.window->infoQuitRequested(true)) result.quit = true;
    refreshTagChooserAndFeedList(targets.feedList, targets.tagList, db, &charset, root);
    newsFeed* feed = first.feed;
    if (!feed) {
      // Cancel in "Update feeds" ends the import; a failure goes on; a
      // choice the user declined (among a page's feeds) skips the outline.
      if (first.cancelled && !first.errorReported) {
        result.stop = true;
      } else if (!first.errorReported || !first.failure.empty()) {
        counts.failures.push_back(failedOutline(outline, address, first.failure));
      }
    } else if (inChain(firstBefore, feed)) {
      // The outline named a feed the user already has: updated, not added,
      // and left as the user keeps it.
      ++counts.alreadySubscribed;
    } else {
      ++counts.added;
      if (!dontEdit) {
        if (!result.quit) {
          DialogResult edited = editFeed(*feed, "Cancel edit & stop importing", db, targets.mainWindow,
                                         targets.feedList, targets.tagList, root, charset, outline.name,
                                         outline.tags);
          result.quit = edited.quit;
          result.stop = edited.cancelled;
        }
        refreshTagChooser(targets.tagList, root, &charset);
      } else {
        nameAndTagFeed(db, *feed, outline.name, outline.tags, root, charset);
        refreshTagChooserAndFeedList(targets.feedList, targets.tagList, db, &charset, root);
      }
    }
    return !result.quit && !result.stop;
  });
  if (!result.quit) showImportReport(targets.mainWindow, counts);
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
