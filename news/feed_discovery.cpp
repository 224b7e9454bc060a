// news/feed_discovery.cpp - the document step of downloadXML: the received
// body becomes a document; when a feed is being added and the body is a web
// page, the feeds it announces are offered, and the chosen one is fetched
// with the same downloader and returned instead.
#include "news/feed_discovery.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "core/charset.h"
#include "news/downloader_choice.h"
#include "news/feed_downloader.h"
#include "news/ui_seam.h"
#include "web/html_reader.h"
#include "web/url.h"

namespace bw {
namespace {

bool startsNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// The first position of the lower-case needle at or after from, letter case
// of the text ignored; npos when none.
size_t findNoCase(std::string_view text, std::string_view needle, size_t from) {
  if (needle.empty() || text.size() < needle.size()) return std::string_view::npos;
  for (size_t i = from; i + needle.size() <= text.size(); ++i) {
    if (startsNoCase(text.substr(i), needle)) return i;
  }
  return std::string_view::npos;
}

std::string_view trimmed(std::string_view s) {
  const char* const blanks = " \t\r\n\f";
  const size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// RFC 3986: a letter, then letters, digits, "+", "-" or ".", then ":".
bool hasScheme(std::string_view url) {
  const size_t colon = url.find(':');
  if (colon == std::string_view::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(url[0]))) return false;
  for (size_t i = 1; i < colon; ++i) {
    const char c = url[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

bool offeredScheme(std::string_view url, bool filePage) {
  return startsNoCase(url, "http://") || startsNoCase(url, "https://") || (filePage && startsNoCase(url, "file:"));
}

class CandidateTest {
 public:
  explicit CandidateTest(Text pageURL) : pageURL_(pageURL), filePage_(startsNoCase(pageURL.view(), "file:")) {
    utf8_.load("UTF-8");
  }
  void test(const webDataNode& link, std::vector<FeedCandidate>& into) {
    Str type = link.getAttribute("type", &utf8_, false);
    if (!(type == "application/rss+xml" || type == "application/atom+xml")) return;
    if (!(link.getAttribute("rel", &utf8_, false) == "alternate")) return;
    Str href = link.getAttribute("href", &utf8_, false);
    if (href.isNil()) return;
    // Browsers drop white space around an address; a request with it fails.
    href = Str(trimmed(href.view()));
    // An address with a scheme of its own is taken as it is ("javascript:"
    // is no folder of the page).
    Str url = pageURL_.isNil() || hasScheme(href.view()) ? Str() : resolveRelativeURL(href, pageURL_, false);
    // A "feed:" address is the address it wraps.
    if (url.isNil()) url = unwrapFeedAddress(href);
    if (!offeredScheme(url.view(), filePage_)) return;
    Str title = link.getAttribute("title", nullptr, false);
    if (title.isNil()) title = Str(trimmed(link.getAttribute("href", nullptr, false).view()));
    into.push_back({std::move(url), std::move(title)});
  }

 private:
  Text pageURL_;
  bool filePage_;
  cEncodingUTF utf8_;
};

}  // namespace

CandidateScan collectFeedCandidates(const webDataRoot* document, std::string_view text, Text pageURL) {
  CandidateScan scan;
  CandidateTest test(pageURL);
  if (document) {
    const webDataNode* html = document->findNode("html", nullptr, nullptr, nullptr);
    const webDataNode* head = html ? html->findChild("head", nullptr, nullptr, nullptr) : nullptr;
    for (const webDataNode* link = head ? head->findChild("link", nullptr, nullptr, nullptr) : nullptr; link;
         link = head->findChild("link", nullptr, link, nullptr)) {
      test.test(*link, scan.candidates);
    }
    return scan;
  }
  // Bytes after a NUL are not part of the page.
  text = text.substr(0, std::min(text.size(), text.find('\0')));
  const size_t headEnd = findNoCase(text, "</head>", 0);
  scan.headEnd = headEnd != std::string_view::npos;
  if (!scan.headEnd) return scan;
  std::unique_ptr<htmlDataRoot> root = createHTMLroot(Str("UTF-8"), Str());
  const Text page(text);
  for (size_t pos = findNoCase(text, "<link ", 0); pos < headEnd;) {
    HtmlTagAndText t = pHTML::html_nextTagAndText(page, static_cast<int64_t>(pos), true);
    if (!t.tag.isNil()) {
      HtmlParsedTag parsed = pHTML::html_parseTag(t.tag, root.get(), std::move(t.text), true);
      // Each node ends before its root does.
      if (parsed.node) test.test(*parsed.node, scan.candidates);
    }
    const size_t after = t.tag.isNil() || t.position < 0 ? pos + 1 : static_cast<size_t>(t.position);
    pos = findNoCase(text, "<link ", std::max(after, pos + 1));
  }
  return scan;
}

std::string feedChoiceQuestion(const std::vector<FeedCandidate>& candidates) {
  std::string text = "Please choose one of the following feeds:";
  for (size_t n = 0; n < candidates.size(); ++n) {
    text += "\n" + std::to_string(n + 1) + ". " + doublePercent(candidates[n].title.view());
  }
  return text;
}

std::string feedChoiceButtons(size_t count) {
  std::string buttons;
  for (size_t n = 1; n <= count; ++n) buttons += std::to_string(n) + "|";
  return buttons + "Cancel";
}

FeedDocument downloadXML::discoverFeeds(bool isNewFeed) {
  if (!dest_) return {nullptr, kFeedNoBody, Str()};
  httpSaveToBuffer::Buffer body = dest_->getBuffer();
  if (!body.data) return {nullptr, kFeedNoBody, Str()};
  const int32_t size = static_cast<int32_t>(std::min<int64_t>(body.total - 1, INT32_MAX));
  std::unique_ptr<webDataRoot> document;
  Str message;
  int32_t line = -1;
  if (reader_->open(body.data.get(), size)) {
    XmlParseResult r = reader_->parseDocument();
    document = std::move(r.root);
    if (!document) {
      line = reader_->infoLineNumber();
      message = std::move(r.message);
    }
    reader_->close();
  } else {
    line = reader_->infoLineNumber();
    message = Str(reader_->lastError());
  }
  const std::string_view text(body.data.get(), static_cast<size_t>(size));

  if (isNewFeed) {
    const Str& redirected = http_ ? http_->infoRedirectedURL() : Str();
    CandidateScan scan = collectFeedCandidates(document.get(), text, redirected.isNil() ? Text(url_) : Text(redirected));
    if (!scan.candidates.empty()) {
      document.reset();
      body.data.reset();
      size_t chosen = 0;
      if (scan.candidates.size() > 1) {
        int32_t answer = newsUi().gui_requester("Add feed", feedChoiceQuestion(scan.candidates),
                                                feedChoiceButtons(scan.candidates.size()), {}, 0, 0);
        if (answer <= 0 || static_cast<size_t>(answer) > scan.candidates.size()) return {nullptr, kFeedOk, Str()};
        chosen = static_cast<size_t>(answer - 1);
      }
      return downloadChosenFeed(std::move(scan.candidates[chosen].url));
    }
    if (!document && scan.headEnd) return {nullptr, kFeedNoFeedFound, Str()};
  }
  if (document) return {std::move(document), kFeedOk, Str()};
  failureText_ = Str(text);
  failureLine_ = line;
  failureMessage_ = std::move(message);
  return {nullptr, kFeedParseFailed, Str()};
}

// Fetches the chosen feed blocking with the same client, then reads it as a
// stored feed's document (no second discovery).
FeedDocument downloadXML::downloadChosenFeed(const Str& chosen) {
  cHTTP* client = http_;
  close();
  FeedDocument result{nullptr, kFeedDownloadFailed, chosen};
  if (open(chosen, client == ownHttp_.get() ? nullptr : client, true).failed != 0) return result;
  saveInit(false, nullptr, kFeedBufferSize);
  DownloadStep step;
  do {
    step = saveAppend(false, nullptr);
  } while (step.failed == 0 && !step.finished);
  if (!step.finished) return result;
  FeedDocument inner = discoverFeeds(false);
  result.document = std::move(inner.document);
  result.kind = inner.kind;
  const Str& redirected = http_->infoRedirectedURL();
  if (!redirected.isNil()) result.feedURL = redirected;
  return result;
}

}  // namespace bw
