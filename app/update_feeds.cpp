// app/update_feeds.cpp - the GUI's update of a work list of feeds, two
// requests in flight, and the main window's count lines.
#include "app/update_feeds.h"

#include <array>
#include <chrono>
#include <string>

#include "app/window_sizes.h"
#include "core/gui_list_selection.h"
#include "news/add_update_feed.h"
#include "news/downloader_choice.h"
#include "news/feed_failure.h"
#include "app/feed_list.h"
#include "app/main_windows.h"
#include "app/program_identity.h"
#include "news/news_orderings.h"
#include "news/seen_times.h"
#include "platform/clock.h"
#include "social/twitter_rate_limit.h"
#include "web/http_watcher.h"
#include "web/url.h"

namespace bw {
namespace {

// Feeds by ascending newestItemTime, ties in list order: the feed ordering
// reversed (the list sort keeps A first on 0 or 1).
class AscendingHeadDate : public fCompareMegaNodes {
  BW_CLASS(AscendingHeadDate, fCompareMegaNodes)
 public:
  int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b) override {
    return -gCompareNewsFeed_itemHeadDate->call(store, a, b);
  }
};

// Removes the first feed of the list for which take is true and answers
// it; NIL when none is.
template <class Take>
newsFeed* takeFirst(cMegaList_class& list, Take take) {
  if (list.isEmpty()) return nullptr;
  auto cursor = list.infoStart()->clone(0, 0);
  for (bool end = false; !end; end = cursor->gotoNext()) {
    auto* feed = static_cast<newsFeed*>(cursor->getData());
    if (!take(feed)) continue;
    cursor->destroy();
    return feed;
  }
  return nullptr;
}

// Removes the disabled feeds; answers how many stay.
int32_t removeDisabled(cMegaList_class& list) {
  int32_t kept = 0;
  if (list.isEmpty()) return 0;
  auto cursor = list.infoStart()->clone(0, 0);
  for (bool end = false; !end;) {
    if (!static_cast<newsFeed*>(cursor->getData())->disabled) {
      ++kept;
      end = cursor->gotoNext();
      continue;
    }
    auto doomed = cursor->clone(0, 0);
    end = cursor->gotoNext();
    doomed->destroy();
  }
  return kept;
}

int32_t countFeeds(cMegaList_class& list) {
  int32_t n = 0;
  if (list.isEmpty()) return 0;
  auto cursor = list.infoStart()->clone(0, 0);
  for (bool end = false; !end; end = cursor->gotoNext()) ++n;
  return n;
}

// One request slot: its client (one for the whole update), the downloader
// of the feed in flight and when its request opened.
struct Slot {
  std::unique_ptr<cHTTP> http;
  std::unique_ptr<downloadFeed> downloader;
  newsFeed* feed = nullptr;
  int64_t openedAt = 0;
  int64_t pausedSeconds = 0;
  bool busy() const { return downloader != nullptr; }
};

// The news interface while an update runs: every call goes on to the one in
// force, and the time spent waiting on the user (paused, or a requester
// open) is held off the open requests' deadlines: cHTTP's own, through the
// watcher, and the update's deadline of unpaused time (clock seam seconds).
class UserTimeOff : public NewsUi {
 public:
  UserTimeOff(cHTTPwatcher& watcher, std::array<Slot, 2>& slots)
      : inner_(newsUi()), watcher_(watcher), slots_(slots) {
    setNewsUi(this);
  }
  ~UserTimeOff() override { setNewsUi(&inner_); }
  UserTimeOff(const UserTimeOff&) = delete;
  UserTimeOff& operator=(const UserTimeOff&) = delete;

  int32_t gui_requester(Text title, Text text, Text buttons, const RequesterParameters& parameters, int32_t wrap1,
                        int32_t wrap2) override {
    Held held(*this);
    return inner_.gui_requester(title, text, buttons, parameters, wrap1, wrap2);
  }
  void report(Text title, Text text, const RequesterParameters& parameters) override {
    Held held(*this);
    inner_.report(title, text, parameters);
  }
  ChangedGuiItem checkForChangedGuiItem() override { return inner_.checkForChangedGuiItem(); }
  ChangedGuiItem waitForChangedGuiItem() override {
    Held held(*this);
    return inner_.waitForChangedGuiItem();
  }
  std::unique_ptr<NewsGuiBuiltWindow> CreateGuiWindow(Text title) override { return inner_.CreateGuiWindow(title); }

 private:
  struct Held {
    explicit Held(UserTimeOff& off) : off(off) {}
    ~Held() {
      off.watcher_.holdDeadlines(std::chrono::steady_clock::now() - start);
      for (Slot& s : off.slots_) s.pausedSeconds += readUtcSeconds() - seconds;
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    UserTimeOff& off;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    int64_t seconds = readUtcSeconds();
  };

  NewsUi& inner_;
  cHTTPwatcher& watcher_;
  std::array<Slot, 2>& slots_;
};

class FeedUpdate {
 public:
  FeedUpdate(cMegaList_class& workList, cGuiList& feedList, cGuiList& tagChooser, UpdateWindowRecord& record,
             cJournaledIndexedObjectSoupDatabase& db, const cEncoding* charset, newsRoot& root, int64_t deadline)
      : workList_(workList), lists_(feedList, tagChooser, db, charset, root), gui_(record.progress), db_(db),
        charset_(charset), root_(root), deadline_(deadline) {
    for (Slot& s : slots_) {
      s.http = std::make_unique<cHTTP>(Text(programUserAgent));
      watcher_.add(s.http.get(), false);
    }
  }
  ~FeedUpdate() {
    for (Slot& s : slots_) {
      free(s);
      watcher_.remove(s.http.get(), false);
    }
  }
  FeedUpdate(const FeedUpdate&) = delete;
  FeedUpdate& operator=(const FeedUpdate&) = delete;

  // Starts the first download, keeps a second one in flight beside it, then
  // reads the rest one at a time; answers the window-event flag.
  bool run(int32_t feedCount) {
    m_ = feedCount;
    startFirst();
    twoInFlight();
    oneAtATime();
    return windowEvent_;
  }

 private:
  Slot* busySlot() {
    for (Slot& s : slots_)
      if (s.busy()) return &s;
    return nullptr;
  }
  Slot& freeSlot() { return slots_[0].busy() ? slots_[1] : slots_[0]; }

  void connecting(newsFeed* feed, newsFeed* inFlight) {
    setProgressStatus(feed, n_, m_, &gui_, charset_, inFlight, nullptr);
    gui_.stepText->setState("Connecting to feed...");
  }
  // Makes the feed's downloader in the slot, which opens its request; a
  // feed without one is marked failed to download.
  bool open(Slot& slot, newsFeed* feed) {
    DownloaderMade made = createFeedDownloader(db_, root_, *feed, slot.http.get());
    if (!made.downloader) {
      noteFeedFailure(*feed, !made.reason.empty() ? made.reason
                                                  : resultKindReason(made.failed != 0 ? made.failed : kFeedDownloadFailed));
      lists_.changed(feed);
      return false;
    }
    slot.downloader = std::move(made.downloader);
    slot.feed = feed;
    slot.openedAt = readUtcSeconds();
    slot.pausedSeconds = 0;
    return true;
  }
  void free(Slot& slot) {
    if (slot.downloader) slot.downloader->close();
    slot.downloader.reset();
    slot.http->close();
    slot.feed = nullptr;
  }
  // reason empty: what the downloader or its request says.
  void fail(Slot& slot, std::string reason = {}) {
    if (reason.empty()) reason = slot.downloader->infoFailureReason();
    if (reason.empty()) reason = requestFailureReason(*slot.http, slot.feed->url);
    noteFeedFailure(*slot.feed, std::move(reason));
    lists_.changed(slot.feed);
    free(slot);
  }
  // The lists as refreshTagChooserAndFeedList leaves them, renewing only
  // the rows of the feeds changed since the last refresh.
  void refresh() { lists_.refresh(); }
  void addUpdate(Slot& slot, int32_t feedNumber) {
    AddUpdateResult r =
        addUpdateFeed(db_, root_, charset_, slot.downloader.get(), slot.feed->url, slot.feed, &gui_, feedNumber, m_);
    windowEvent_ = r.windowEvent;
    cancelled_ = r.cancelled;
    lists_.changed(slot.feed);
    free(slot);
  }

  // Until one download is in flight or the list is empty.
  void startFirst() {
    while (newsFeed* feed = takeFirst(workList_, [](newsFeed*) { return true; })) {
      ++n_;
      connecting(feed, nullptr);
      if (open(freeSlot(), feed)) return;
      refresh();
    }
  }

  // A second request to another host while the first connects; the first
  // answer is read and stored, and the next feed takes its slot.
  void twoInFlight() {
    while (!cancelled_ && !windowEvent_) {
      Slot* flying = busySlot();
      if (!flying) {  // both requests ran out of time
        startFirst();
        if (!(flying = busySlot())) return;
      }
      const Str& host = flying->feed->url;
      newsFeed* next = takeFirst(workList_, [&](newsFeed* f) { return !isSameHost(f->url, host); });
      if (!next) return;
      connecting(next, flying->feed);
      ++n_;
      if (open(freeSlot(), next)) serveFirstAnswer();
      refresh();
    }
  }

  // Waits for whichever request answers first and stores its feed; a
  // failed request, or one without an answer at the deadline, fails its
  // feed. Cancel closes both.
  void serveFirstAnswer() {
    for (;;) {
      if (cHTTP* ready = watcher_.isReady(1000)) {
        Slot& s = ready == slots_[0].http.get() ? slots_[0] : slots_[1];
        if (s.busy()) {
          DownloadStep step = s.downloader->saveAppend(false, nullptr);
          if (step.failed != 0) return fail(s);
          if (step.finished) return addUpdate(s, n_ - 1);
        }
      }
      ProgressPoll poll;  // a pause is held off the deadlines by userTimeOff_
      pollProgressWindow(gui_, gui_.progressText->state().str(), poll);
      windowEvent_ = windowEvent_ || poll.windowEvent;
      if (poll.cancelled) {
        cancelled_ = true;
        for (Slot& s : slots_) free(s);
        return;
      }
      bool late = false;
      for (Slot& s : slots_) {
        if (s.busy() && readUtcSeconds() - s.openedAt - s.pausedSeconds >= deadline_) {
          fail(s, stallReason(deadline_));
          late = true;
        }
      }
      if (late) return;
    }
  }

  // The slot still busy is read to its end, then the rest of the list one
  // feed at a time in that slot.
  void oneAtATime() {
    Slot* slot = busySlot();
    while (slot && !cancelled_ && slot->busy()) {
      addUpdate(*slot, n_);
      refresh();
      if (cancelled_) return;
      while (newsFeed* feed = takeFirst(workList_, [](newsFeed*) { return true; })) {
        ++n_;
        connecting(feed, nullptr);
        if (open(*slot, feed)) break;
      }
      refresh();
    }
  }

  cMegaList_class& workList_;
  FeedListRefresh lists_;
  feedProgressGui& gui_;
  cJournaledIndexedObjectSoupDatabase& db_;
  const cEncoding* charset_;
  newsRoot& root_;
  int64_t deadline_;
  std::array<Slot, 2> slots_;
  cHTTPwatcher watcher_;
  UserTimeOff userTimeOff_{watcher_, slots_};
  int32_t n_ = 0;
  int32_t m_ = 0;
  bool cancelled_ = false;
  bool windowEvent_ = false;
};

}  // namespace

bool updateFeeds(cMegaList_class& workList, cGuiList& feedList, cGuiList& tagChooser, cGuiWindow* mainWindow,
                 UpdateWindowRecord& record, cGuiButton* undoSeenButton, cJournaledIndexedObjectSoupDatabase& db,
                 const cEncoding* charset, newsRoot& root, int64_t requestDeadlineSeconds) {
  std::unique_ptr<cNumberSpace_cnumberspace> selected = collectSelectionNumbers(feedList, false);
  removeDisabled(workList);
  checkTwitterRateLimit(db, root, workList);
  AscendingHeadDate ascending;
  workList.sort(&ascending);
  // Counted after the rate limit, so that "(n/m)" ends at m.
  const int32_t feedCount = countFeeds(workList);

  sizeDialogWindow(mainWindow, record.window);
  record.buttonPage->setState(0);
  record.window->open();
  bool windowEvent = false;
  {
    FeedUpdate update(workList, feedList, tagChooser, record, db, charset, root, requestDeadlineSeconds);
    windowEvent = update.run(feedCount);
  }
  record.window->close();
  UndoSeenGuiButton undo;
  undo.button = undoSeenButton;
  updateOldestSeenTime(root, &feedList, &undo, false);
  markListEntriesByFunction(feedList, std::move(selected));
  return windowEvent;
}

void showFeedCountStatus(cGuiText* statusText, cGuiList& feedList) {
  int64_t rows = feedList.infoCount();
  int64_t disabled = 0;
  int64_t failed = 0;
  for (int32_t i = 0; i < feedList.infoCount(); ++i) {
    newsFeed* feed = feedOfListEntry(feedList.infoEntryAt(i)->dataBox.get());
    if (!feed) continue;
    disabled += feed->disabled ? 1 : 0;
    failed += feed->downloadFailed ? 1 : 0;
  }
  std::string text = std::to_string(rows - disabled) + " feeds shown";
  if (disabled > 0) text += " (plus " + std::to_string(disabled) + " disabled)";
  if (failed > 0) text += ", but " + std::to_string(failed) + " failed to download";
  statusText->setState(text);
}

void showNewsItemCountStatus(cGuiText* statusText, int32_t count) {
  statusText->setState(std::to_string(count) + " news items shown");
}

void markListEntriesByFunction(cGuiList& list, std::unique_ptr<cNumberSpace_cnumberspace> set) {
  // A merge refresh may have moved selections onto rows of other feeds
  // (rows that sort alike are taken for one another): none stays.
  list.markAll();
  list.marked_setState(false);
  list.marked_clear();
  for (int32_t i = 0; i < list.infoCount(); ++i) {
    GuiListEntry* row = list.entryAt(i);
    if (set->get(selectionKeyOf(row->dataBox.get()))) row->marked = true;
  }
  list.marked_setState(true);
}

}  // namespace bw
