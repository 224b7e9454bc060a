// news/add_update_feed.cpp - driving one download to its end with the
// progress window alive, reporting what went wrong, choosing the parser and
// storing the result.
#include "news/add_update_feed.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "core/exception.h"
#include "news/atom_parser.h"
#include "news/downloader_choice.h"
#include "news/news_config.h"
#include "news/rss_parser.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/native_path.h"
#include "platform/path.h"

namespace bw {
namespace {

std::FILE* gShellStream = nullptr;
SocialFeedParser gTwitterParser = nullptr;
SocialFeedParser gFacebookParser = nullptr;

int64_t clockSeconds() { return readClock().utcSeconds; }

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
  int32_t failed = 0;
};

// Runs saveAppend to the end, polling the window between steps.
class DownloadLoop {
 public:
  DownloadLoop(downloadFeed& downloader, feedProgressGui* gui) : downloader_(downloader), gui_(gui) {}

  DownloadOutcome run() {
    cHTTP* http = downloader_.infoHTTP();
    const bool waitReady = http && http->nonBlocking();
    bool first = true;
    idleSince_ = clockSeconds();
    do {
      if (!waitReady || http->isReady(100)) {
        DownloadStep step = downloader_.saveAppend(first, nullptr);
        first = false;
        out_.failed = step.failed;
        out_.finished = step.finished;
        idleSince_ = clockSeconds();
        if (gui_ && http) {
          status_ = progressStatus(http->infoProgress(), status_);
          setProgressText(gui_, status_);
        }
      } else if (clockSeconds() - idleSince_ >= kNoProgressSeconds) {
        out_.failed = kFeedDownloadFailed;  // a stalled server fails like a dead one
      }
      if (gui_) poll();
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
  DownloadOutcome out_;
  int64_t idleSince_ = 0;
};

// Writes a document that failed to parse to a new file in RAM:; the host
// path of the file, or NIL when it could not be made.
Str writeBadDocument(const Str& text) {
  Str path = cPath::MakeUniquePath(1, "RAM:/", "BadNewsFeed_");
  if (path.isNil()) return Str();
  cFile file;
  file.initialise(0);
  if (!file.create(path, true, false)) return Str();
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

void reportParseFailure(Text title, const ParseFailure& failure, newsFeed* updateFeed, feedProgressGui* gui,
                        const cEncoding* charset) {
  RequesterParameters p{int64_t{failure.line}, asText(failure.message)};
  if (updateFeed) {
    Str name = gui && gui->feedText ? gui->feedText->state() : updateFeed->infoName(charset);
    p.insert(p.end(), {std::string("for the feed:\n\x1b" "1"), asText(name), std::string("\n")});
  } else {
    p.insert(p.end(), {std::string(), std::string(), std::string()});
  }
  Str file = writeBadDocument(failure.text);
  if (!file.isNil()) {
    p.push_back(file.str());
    p.push_back(std::string(newsConfig::kMakerContact));
    newsUi().report(title,
                    "Parsing error on line %ld:\n\x1b" "1%s\n%s%s%sThe bad document has been written to:\n\x1b"
                    "1%s\n\nPlease report this to:\n\x1b" "1%s",
                    p);
  } else {
    // Without the file the user still hears of the failure.
    p.push_back(std::string(newsConfig::kMakerContact));
    newsUi().report(title, "Parsing error on line %ld:\n\x1b" "1%s\n%s%s%sPlease report this to:\n\x1b" "1%s", p);
  }
}

// The message of a download without a document; false for kind 0.
void reportFailedKind(Text title, int32_t kind, const Str& url) {
  const char* text = nullptr;
  switch (kind) {
    case 1:
    case 2: text = "Downloading failed for:\n\x1b" "1%s"; break;
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

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// The parser is chosen by the first row whose element is among the
// document's top-level elements, even when its condition then fails.
FeedParseResult parseDocument(cJournaledIndexedObjectSoupDatabase& soup, webDataRoot& document, newsRoot& root,
                              const cEncoding* charset, const Str& url, newsFeed* updateFeed, feedProgressGui* gui) {
  if (webDataNode* rss = document.findNode("rss", nullptr, nullptr, nullptr)) {
    Str version = rss->getAttribute("version", nullptr, true);
    if (!isReadableRssVersion(version)) return {};
    setStep(gui, "Scanning for new items...");
    return parseRssFeed(soup, document, root, charset, url, updateFeed, gui);
  }
  if (webDataNode* feed = document.findNode("feed", nullptr, nullptr, nullptr)) {
    Str ns = feed->getAttribute("xmlns", nullptr, true);
    if (ns.isNil() || !equalsNoCase(ns.view(), newsConfig::kAtomNamespace)) return {};
    setStep(gui, "Scanning for new items...");
    return parseAtomFeed(soup, document, root, charset, url, updateFeed, gui);
  }
  for (auto [name, parser] : {std::pair{"twitter_user_timeline", gTwitterParser},
                              std::pair{"facebook_user_timeline", gFacebookParser}}) {
    if (!document.findNode(name, nullptr, nullptr, nullptr)) continue;
    if (!parser) return {};
    setStep(gui, "Scanning for new items...");
    return parser(soup, document, root, charset, url, updateFeed, gui);
  }
  return {};
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
      pausedAt = clockSeconds();
      if (gui.pauseResumePage) gui.pauseResumePage->setState(1);
      setProgressText(&gui, status + " (paused)");
    } else if (e.item == gui.resumeButton && paused) {
      paused = false;
      pausedSeconds += clockSeconds() - pausedAt;
      if (gui.pauseResumePage) gui.pauseResumePage->setState(0);
      setProgressText(&gui, status);
    }
  }
  if (paused) pausedSeconds += clockSeconds() - pausedAt;
  return pausedSeconds;
}

void setShellProgressStream(std::FILE* stream) { gShellStream = stream; }
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
    if (!result.feed && !result.cancelled && updateFeed) updateFeed->downloadFailed = true;
    return result;
  };
  if (!downloader) {
    if (!updateFeed) raise("EMU", "addUpdateFeed(); updateFeed=NIL & downloader=NIL");
    made = createFeedDownloader(soup, root, *updateFeed, nullptr).downloader;
    if (!made) return finish();
    downloader = made.get();
  }

  DownloadLoop loop(*downloader, gui);
  if (!gui) {
    std::FILE* out = gShellStream ? gShellStream : stdout;
    std::fputc('.', out);
    std::fflush(out);
  } else {
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
    downloader->close();
    if (!updateFeed) {
      newsUi().report(title, "Failed to download the feed:\n\x1b" "1%s", {std::string(url.view())});
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
  downloader->close();

  if (!doc.document) {
    result.errorReported = true;
    if (doc.kind == kFeedOk) {
      result.cancelled = true;
    } else if (doc.kind == kFeedParseFailed) {
      reportParseFailure(title, failure, updateFeed, gui, charset);
    } else {
      reportFailedKind(title, doc.kind, recordURL);
    }
    return finish();
  }

  FeedParseResult parsed = parseDocument(soup, *doc.document, root, charset, recordURL, updateFeed, gui);
  result.feed = parsed.feed;
  result.errorReported = parsed.errorReported;
  setStep(gui, "Writing to disk...");
  soup.flush();
  setStep(gui, "");
  if (updateFeed) updateFeed->downloadFailed = false;
  return finish();
}

}  // namespace bw
