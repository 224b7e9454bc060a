// news/add_update_feed.cpp - driving one download to its end with the
// progress window alive, reporting what went wrong, choosing the parser and
// storing the result.
#include "news/add_update_feed.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "core/exception.h"
#include "core/string_procs.h"
#include "news/atom_parser.h"
#include "news/downloader_choice.h"
#include "news/feed_failure.h"
#include "news/rss_parser.h"
#include "platform/clock.h"
#include "platform/dos_env.h"
#include "platform/file.h"
#include "platform/native_path.h"
#include "platform/path.h"

namespace bw {
namespace {

SocialFeedParser gTwitterParser = nullptr;
SocialFeedParser gFacebookParser = nullptr;

std::string asText(const Str& s) { return s.isNil() ? std::string() : s.str(); }

void setStep(feedProgressGui* gui, std::string_view text) {
  if (gui && gui->stepText) gui->stepText->setState(text);
}

// The byte count after one download step; the old status while no header
// has arrived. cHTTP counts the bytes still to come when the length is
// announced, and those received when it is not. 64-bit arithmetic keeps
// large bodies' percentages right.
std::string progressStatus(const cHTTP::Progress& p, const std::string& old) {
  if (p.bodyLength < -1) return old;
  const int64_t received = p.bodyLength >= 0 ? p.bodyLength - p.bodyCount : p.bodyCount;
  if (p.bodyLength == 0 || p.bodyLength == -1) return std::to_string(received) + " bytes";
  const int64_t percent = std::clamp<int64_t>(received * 100 / p.bodyLength, 0, 100);
  return std::to_string(received) + " bytes (" + std::to_string(percent) + "%)";
}

struct DownloadOutcome {
  bool finished = false;
  bool cancelled = false;
  bool windowEvent = false;
  bool stalled = false;  // no progress for kNoProgressSeconds
  int32_t failed = 0;
};

// Runs saveAppend to the end, polling the window between steps.
class DownloadLoop {
 public:
  // breakable: Ctrl-C cancels the download (shell mode).
  DownloadLoop(downloadFeed& downloader, feedProgressGui* gui, bool breakable)
      : downloader_(downloader), gui_(gui), breakable_(breakable) {}

  DownloadOutcome run() {
    cHTTP* http = downloader_.infoHTTP();
    const bool waitReady = http && http->nonBlocking();
    bool first = true;
    idleSince_ = readUtcSeconds();
    do {
      if (!waitReady || http->isReady(100)) {
        DownloadStep step = downloader_.saveAppend(first, nullptr);
        first = false;
        out_.failed = step.failed;
        out_.finished = step.finished;
        idleSince_ = readUtcSeconds();
        if (gui_ && http) {
          status_ = progressStatus(http->infoProgress(), status_);
          setProgressText(gui_, status_);
        }
      } else if (readUtcSeconds() - idleSince_ >= kNoProgressSeconds) {
        out_.failed = kFeedDownloadFailed;  // a stalled server fails like a dead one
        out_.stalled = true;
      }
      if (gui_) poll();
      // A download that has just finished is stored; its caller sees the break.
      if (breakable_ && !out_.finished && dos::checkBreak()) out_.cancelled = true;
    } while (!out_.finished && !out_.cancelled && out_.failed == 0);
    return out_;
  }

  std::string status_ = "connecting";

 private:
  void poll() {
    ProgressPoll p;
    idleSince_ += pollProgressWindow(*gui_, status_, p);  // paused time is no stall
    out_.cancelled = out_.cancelled || p.cancelled;
    out_.windowEvent = out_.windowEvent || p.windowEvent;
  }

  downloadFeed& downloader_;
  feedProgressGui* gui_;
  bool breakable_;
  DownloadOutcome out_;
  int64_t idleSince_ = 0;
};

// Keeps a document that failed to parse in the data folder, one file per
// address (the next bad document of the feed replaces it), so that the user
// can look at it after the run; the host path of the file, or NIL when it
// could not be written.
Str writeBadDocument(const Str& text, const Str& url) {
  uint32_t hash = 2166136261u;  // FNV-1a of the address
  for (char c : url.view()) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  char name[32];
  std::snprintf(name, sizeof name, "BadNewsFeed_%08x", hash);
  const Str path = concatStrings("PROGDIR:/", name);
  cFile file;
  file.initialise(0);
  if (!file.create(path, false, false)) return Str();
  try {
    if (text.length() > 0) file.write(text.data(), text.length(), 0, false);
    file.close();
  } catch (const eException&) {
    file.close();
    cPath::DeletePath(path, true, false);
    return Str();
  }
  std::string host;
  if (!dos::nativeToHost(cPath::ExportPath(path), host)) return cPath::ExportPath(path);
  return Str(host);
}

// A feed's own broken document is its fault, not the program's: the
// message says what is wrong and where the document was kept.
void reportParseFailure(Text title, const ParseFailure& failure, const std::string& reason, const std::string& file,
                        newsFeed* updateFeed, feedProgressGui* gui, const cEncoding* charset) {
  // The highlight marks stand in the text, never in an argument: a
  // requester shows an argument's control bytes as they are.
  std::string text = "Parsing error on line %ld:\n\x1b" "1%s\n";
  RequesterParameters p{int64_t{failure.line}, reason};
  if (updateFeed) {
    Str name = gui && gui->feedText ? gui->feedText->state() : updateFeed->infoName(charset);
    text += "for the feed:\n\x1b" "1%s\n";
    p.push_back(asText(name));
  }
  if (!file.empty()) {
    text += "The bad document has been written to:\n\x1b" "1%s";
    p.push_back(file);
  }
  newsUi().report(title, text, p);
}

// The message of a download without a document; a failed download says why.
void reportFailedKind(Text title, int32_t kind, const Str& url, const std::string& reason) {
  const char* text = nullptr;
  switch (kind) {
    case 1:
    case 2:
      newsUi().report(title, "Downloading failed for:\n\x1b" "1%s\n%s", {asText(url), reason});
      return;
    case 3: text = "No news feed found for:\n\x1b" "1%s"; break;
    case 5: text = "An unknown error occured for:\n\x1b" "1%s"; break;
    case 6: text = "Authentication failed for:\n\x1b" "1%s"; break;
    case 7: text = "Temporarily blocked by server, due to sending too many requests, for:\n\x1b" "1%s"; break;
    default:
      newsUi().report(title, "Error %ld occured, but I don't know how to report it...\nPlease report this error!",
                      {int64_t{kind}});
      return;
  }
  newsUi().report(title, text, {asText(url)});
}

// The parser is chosen by the first row whose element is among the
// document's top-level elements, even when its condition then fails;
// nothing when no parser takes the document.
std::optional<FeedParseResult> parseDocument(cJournaledIndexedObjectSoupDatabase& soup, webDataRoot& document, newsRoot& root,
                              const cEncoding* charset, const Str& url, newsFeed* updateFeed, feedProgressGui* gui) {
  if (webDataNode* rss = document.findNode("rss", nullptr, nullptr, nullptr)) {
    Str version = rss->getAttribute("version", nullptr, true);
    if (!isReadableRssVersion(version)) return std::nullopt;
    setStep(gui, "Scanning for new items...");
    return parseRssFeed(soup, document, root, charset, url, updateFeed, gui);
  }
  if (findAtomFeed(document, nullptr)) {
    setStep(gui, "Scanning for new items...");
    return parseAtomFeed(soup, document, root, charset, url, updateFeed, gui);
  }
  for (auto [name, parser] : {std::pair{"twitter_user_timeline", gTwitterParser},
                              std::pair{"facebook_user_timeline", gFacebookParser}}) {
    if (!document.findNode(name, nullptr, nullptr, nullptr)) continue;
    if (!parser) return std::nullopt;
    setStep(gui, "Scanning for new items...");
    return parser(soup, document, root, charset, url, updateFeed, gui);
  }
  return std::nullopt;
}

}  // namespace

int64_t pollProgressWindow(feedProgressGui& gui, const std::string& status, ProgressPoll& poll) {
  NewsUi& ui = newsUi();
  bool paused = false;
  int64_t pausedAt = 0;
  int64_t pausedSeconds = 0;
  while (!poll.cancelled) {
    ChangedGuiItem e = paused ? ui.waitForChangedGuiItem() : ui.checkForChangedGuiItem();
    if (!e.window) {
      if (paused) continue;
      break;
    }
    if (e.window != gui.window) continue;  // other windows' events are dropped
    if (!e.item) {
      if (e.window->infoQuitRequested(true)) poll.cancelled = true;
      poll.windowEvent = true;
      if (e.window->infoCloseRequested(false)) poll.cancelled = true;
    } else if (e.item == gui.cancelButton) {
      poll.cancelled = true;
    } else if (e.item == gui.pauseButton && !paused) {
      paused = true;
      pausedAt = readUtcSeconds();
      if (gui.pauseResumePage) gui.pauseResumePage->setState(1);
      setProgressText(&gui, status + " (paused)");
    } else if (e.item == gui.resumeButton && paused) {
      paused = false;
      pausedSeconds += readUtcSeconds() - pausedAt;
      if (gui.pauseResumePage) gui.pauseResumePage->setState(0);
      setProgressText(&gui, status);
    }
  }
  if (paused) pausedSeconds += readUtcSeconds() - pausedAt;
  return pausedSeconds;
}

void setTwitterFeedParser(SocialFeedParser parser) { gTwitterParser = parser; }
void setFacebookFeedParser(SocialFeedParser parser) { gFacebookParser = parser; }

void setProgressStatus(newsFeed* feedA, int32_t n, int32_t m, feedProgressGui* gui, const cEncoding* charset,
                       newsFeed* feedB, Text fallback) {
  if (!gui || !gui->feedText) return;
  std::string text;
  if (m > 1) text = "(" + std::to_string(n) + "/" + std::to_string(m) + ") ";
  text += feedA ? asText(feedA->infoName(charset)) : std::string(fallback.view());
  if (feedB) text += " + " + asText(feedB->infoName(charset));
  gui->feedText->setState(text);
}

AddUpdateResult addUpdateFeed(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root, const cEncoding* charset,
                              downloadFeed* downloader, Text url, newsFeed* updateFeed, feedProgressGui* gui,
                              int32_t feedNumber, int32_t feedCount) {
  const Text title = updateFeed ? "Update feed" : "Add feed";
  AddUpdateResult result;
  std::unique_ptr<downloadFeed> made;
  auto finish = [&] {
    if (!result.feed && !result.cancelled) {
      if (result.failure.empty()) result.failure = resultKindReason(kFeedParseFailed);
      if (updateFeed) noteFeedFailure(*updateFeed, result.failure);
    }
    return result;
  };
  if (!downloader) {
    if (!updateFeed) raise("EMU", "addUpdateFeed(); updateFeed=NIL & downloader=NIL");
    DownloaderMade opened = createFeedDownloader(soup, root, *updateFeed, nullptr);
    if (!opened.downloader) {
      result.failure = !opened.reason.empty()
                           ? opened.reason
                           : resultKindReason(opened.failed != 0 ? opened.failed : kFeedDownloadFailed);
      return finish();
    }
    made = std::move(opened.downloader);
    downloader = made.get();
  }

  // Ctrl-C ends a shell update's download in progress; the shell's loop
  // then stops.
  DownloadLoop loop(*downloader, gui, !gui && updateFeed);
  if (gui) {
    setProgressStatus(updateFeed, feedNumber, feedCount, gui, charset, nullptr, url);
    setStep(gui, "Downloading feed...");
    setProgressText(gui, loop.status_);
  }
  const DownloadOutcome outcome = loop.run();
  result.cancelled = outcome.cancelled;
  result.windowEvent = outcome.windowEvent;
  Str redirected;
  if (outcome.failed == 0 && !outcome.cancelled && downloader->infoHTTP()) {
    redirected = downloader->infoHTTP()->infoRedirectedURL();
  }
  if (gui) setProgressText(gui, "");
  if (!outcome.finished) {
    if (!outcome.cancelled) {
      result.failure = outcome.stalled ? stallReason(kNoProgressSeconds) : downloader->infoFailureReason();
      // Downloaders that do not word their failures: what their request says.
      cHTTP* http = downloader->infoHTTP();
      if (result.failure.empty() && http && http->infoIsOpen()) result.failure = requestFailureReason(*http, url);
      if (result.failure.empty()) result.failure = resultKindReason(kFeedDownloadFailed);
    }
    downloader->close();
    // A new feed's failed download is told at once; a cancel, of the
    // download or of its sign-in, is the user's own.
    if (!updateFeed && !outcome.cancelled && result.failure != kSignInCancelledReason) {
      newsUi().report(title, "Failed to download the feed:\n\x1b" "1%s\n%s", {std::string(url.view()), result.failure});
      result.errorReported = true;
    }
    return finish();
  }

  Str recordURL = redirected.isNil() ? Str(url.view()) : redirected;
  downloader->updateFeedInfo(soup, root);
  setStep(gui, "Parsing...");
  FeedDocument doc;
  {
    struct Busy {
      NewsGuiWindow* w;
      explicit Busy(NewsGuiWindow* window) : w(window) {
        if (w) w->setBusy(true);
      }
      ~Busy() {
        if (w) w->setBusy(false);
      }
    } busy(gui ? gui->window : nullptr);
    doc = downloader->getDocument(updateFeed == nullptr);
  }
  if (!doc.feedURL.isNil()) recordURL = doc.feedURL;
  // The parse failure's text is read before close; it survives it.
  const ParseFailure failure = doc.document ? ParseFailure{} : downloader->infoParseFailure();
  const std::string downloadReason = doc.document ? std::string() : downloader->infoFailureReason();
  downloader->close();

  if (!doc.document) {
    if (doc.kind == kFeedOk) {
      result.cancelled = true;
      result.errorReported = true;
      return finish();
    }
    if (doc.kind == kFeedParseFailed) {
      result.failure = parseFailureReason(failure);
      const Str kept = writeBadDocument(failure.text, recordURL);
      if (!kept.isNil()) result.badDocument = kept.str();
    } else {
      const bool failedDownload = doc.kind == kFeedDownloadFailed || doc.kind == 2;
      result.failure = failedDownload && !downloadReason.empty() ? downloadReason : resultKindReason(doc.kind);
    }
    // An update without a window is shell mode: its caller tells the
    // failure in one line.
    if (gui || !updateFeed) {
      result.errorReported = true;
      if (doc.kind == kFeedParseFailed) {
        reportParseFailure(title, failure, result.failure, result.badDocument, updateFeed, gui, charset);
      } else {
        reportFailedKind(title, doc.kind, recordURL, result.failure);
      }
    }
    return finish();
  }

  std::optional<FeedParseResult> parsed =
      parseDocument(soup, *doc.document, root, charset, recordURL, updateFeed, gui);
  if (parsed) {
    result.feed = parsed->feed;
    result.errorReported = parsed->errorReported;
  } else {
    result.failure = unreadDocumentReason(*doc.document);
  }
  setStep(gui, "Writing to disk...");
  soup.flush();
  setStep(gui, "");
  if (updateFeed && result.feed) updateFeed->downloadFailed = false;
  return finish();
}

}  // namespace bw
