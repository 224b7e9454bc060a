// app/shell_update.cpp - the shell-mode update of every feed and its report.
#include "app/shell_update.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "app/console_ui.h"
#include "core/exception.h"
#include "core/string_procs.h"
#include "core/system_charset.h"
#include "news/seen_times.h"
#include "platform/dos_env.h"
#include "web/url.h"

namespace bw {
namespace {

ShellFeedUpdate gUpdateForTesting;
std::FILE* gReportStream = nullptr;
bool gReportTerminal = false;

std::FILE* reportStream() { return gReportStream ? gReportStream : stderr; }

std::string counted(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The progress line on a terminal: written over itself, cleared before any
// other text reaches the console.
class ProgressLine {
 public:
  ProgressLine() : out_(reportStream()) {
    terminal_ = gReportStream ? gReportTerminal : ::isatty(::fileno(out_)) == 1;
    if (terminal_) {
      gShown = this;
      setConsoleBeforePrint([] {
        if (gShown) gShown->clear();
      });
    }
  }
  ~ProgressLine() {
    clear();
    if (terminal_) {
      setConsoleBeforePrint(nullptr);
      gShown = nullptr;
    }
  }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void show(int32_t n, int32_t m, std::string_view name) {
    if (!terminal_) return;
    std::string line =
        "Updating feed " + std::to_string(n) + " of " + std::to_string(m) + ": " + printableLine(name);
    line = clipped(line, columns() - 1);
    std::fputs(("\r" + line + "\x1b[K").c_str(), out_);
    std::fflush(out_);
    shown_ = true;
  }
  void clear() {
    if (!shown_) return;
    std::fputs("\r\x1b[K", out_);
    std::fflush(out_);
    shown_ = false;
  }
  // A line of its own on the report stream.
  void print(const std::string& line) {
    clear();
    std::fputs((line + "\n").c_str(), out_);
    std::fflush(out_);
  }

 private:
  static inline ProgressLine* gShown = nullptr;

  size_t columns() const {
    winsize size{};
    if (::ioctl(::fileno(out_), TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col;
    return 80;
  }
  // At most width characters (UTF-8 sequences kept whole).
  static std::string clipped(const std::string& text, size_t width) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
      if (++chars > width) return text.substr(0, i);
    }
    return text;
  }

  std::FILE* out_;
  bool terminal_ = false;
  bool shown_ = false;
};

AddUpdateResult updateOneFeed(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root, const cEncoding& charset,
                              newsFeed& feed) {
  return addUpdateFeed(db, root, &charset, nullptr, feed.url, &feed, nullptr, 0, 0);
}

}  // namespace

void setShellFeedUpdateForTesting(ShellFeedUpdate update) { gUpdateForTesting = std::move(update); }

void setShellReportStreamForTesting(std::FILE* stream, bool terminal) {
  gReportStream = stream;
  gReportTerminal = terminal;
}

std::string shellSummaryLine(const ShellUpdateSummary& s) {
  std::string line = "Updated " + counted(s.feeds, "feed", "feeds") + ": " +
                     counted(s.newItems, "new item", "new items");
  if (s.failed > 0) line += "; " + std::to_string(s.failed) + " failed";
  return line + ".";
}

std::string withoutPassword(std::string_view url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return std::string(url);
  // The user information ends where the URL reader starts the host.
  const size_t start = scheme + 3;
  const size_t host = findURLHost(url, start).start;
  const size_t colon = host > start ? url.substr(start, host - 1 - start).find(':') : std::string_view::npos;
  if (colon == std::string_view::npos) return std::string(url);
  return std::string(url.substr(0, start + colon + 1)) + "***" + std::string(url.substr(host - 1));
}

std::string shellFailureLine(std::string_view name, std::string_view url, const AddUpdateResult& result) {
  std::string line = "Failed to update \"" + printableLine(name) + "\" (" + printableLine(withoutPassword(url)) +
                     "): " + printableLine(result.failure);
  if (!result.badDocument.empty()) {
    line += " (the document was kept in " + printableLine(result.badDocument) + ")";
  }
  return line;
}

ShellUpdateSummary shell_updateAll(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
  std::unique_ptr<cEncoding> charset = newSystemEncoding();
  if (!charset) raise("ERR", "shell_updateAll(); failed to load system charset");
  ShellUpdateSummary summary;
  if (!root.firstLoadedFeed) {
    consolePrint("No feeds to update.\n");
    return summary;
  }
  std::vector<newsFeed*> work;
  for (newsFeed* feed = root.firstLoadedFeed; feed; feed = feed->nextLoadedFeed) {
    if (!feed->disabled) work.push_back(feed);
  }
  std::stable_sort(work.begin(), work.end(),
                   [](const newsFeed* a, const newsFeed* b) { return a->newestItemTime < b->newestItemTime; });
  {
    ProgressLine progress;
    int32_t n = 0;
    for (newsFeed* feed : work) {
      const std::string name(feed->infoName(charset.get()).view());
      progress.show(++n, static_cast<int32_t>(work.size()), name);
      const int32_t before = feed->newItemCount;
      AddUpdateResult r = gUpdateForTesting ? gUpdateForTesting(db, root, *charset, *feed)
                                            : updateOneFeed(db, root, *charset, *feed);
      if (!r.cancelled) ++summary.feeds;
      summary.newItems += feed->newItemCount - before;
      if (!r.failure.empty()) {
        ++summary.failed;
        progress.print(shellFailureLine(name, feed->url.view(), r));
      }
      // Ctrl-C ended the download in progress, or came after it.
      if (r.cancelled || dos::checkBreak()) {
        summary.cancelled = true;
        break;
      }
    }
  }
  if (summary.cancelled) consolePrint("Update cancelled by user.\n");
  consolePrint(shellSummaryLine(summary) + "\n");
  updateOldestSeenTime(root, nullptr, nullptr, true);
  return summary;
}

}  // namespace bw
