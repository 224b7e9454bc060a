// news/feed_discovery.cpp - the document step of downloadXML: the received
// body becomes a document; when a feed is being added and the body is a web
// page, the feeds it announces are offered, and the chosen one is fetched
// with the same downloader and returned instead.
#include "news/feed_discovery.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <optional>
#include <utility>

#include "core/charset.h"
#include "core/string_procs.h"
#include "core/utf8.h"
#include "news/downloader_choice.h"
#include "news/feed_downloader.h"
#include "news/ui_seam.h"
#include "platform/dos_env.h"
#include "web/http.h"
#include "web/text_decoding.h"
#include "web/control_chars.h"
#include "web/url.h"
#include "web/xml_entities.h"

namespace bw {
namespace {

bool isHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool isAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool startsNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (lowerAscii(text[i]) != prefix[i]) return false;
  }
  return true;
}

bool equalsNoCase(std::string_view text, std::string_view lower) {
  return text.size() == lower.size() && startsNoCase(text, lower);
}

// RFC 3986: a letter, then letters, digits, "+", "-" or ".", then ":".
bool hasScheme(std::string_view url) {
  const size_t colon = url.find(':');
  if (colon == std::string_view::npos || colon == 0 || !isAsciiAlpha(url[0])) return false;
  for (size_t i = 1; i < colon; ++i) {
    const char c = url[i];
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

bool offeredScheme(std::string_view url, bool filePage) {
  return startsNoCase(url, "http://") || startsNoCase(url, "https://") || (filePage && startsNoCase(url, "file:"));
}

// The attributes the scan reads; a tag's others are passed over unkept, so
// a tag of any number of attributes costs its length and no memory.
constexpr std::array<std::string_view, 7> kReadAttributes = {"type", "rel", "href", "title", "charset",
                                                             "http-equiv", "content"};

// The index of a name (any letter case) in kReadAttributes, or -1.
int readAttributeIndex(std::string_view name) {
  for (size_t i = 0; i < kReadAttributes.size(); ++i) {
    if (equalsNoCase(name, kReadAttributes[i])) return static_cast<int>(i);
  }
  return -1;
}

struct PageTag {
  std::string name;  // lower case
  bool end = false;
  // The raw value of the first of each read attribute, by its index.
  std::array<std::optional<std::string_view>, kReadAttributes.size()> values;

  // The first attribute of that (lower-case) name among kReadAttributes;
  // nullptr when none.
  const std::string_view* find(std::string_view attribute) const {
    const int i = readAttributeIndex(attribute);
    return i < 0 || !values[static_cast<size_t>(i)] ? nullptr : &*values[static_cast<size_t>(i)];
  }
};

// The start and end tags of a page in order, as the HTML tokeniser reads
// them: comments, doctypes and processing instructions are passed over, a
// "<" that starts no tag is text, and a tag the text's end cuts is dropped.
// stopRequested is asked every kStopPoll tags and attributes; once it
// answers true no more tags are read.
class PageTags {
 public:
  PageTags(std::string_view text, const std::function<bool()>& stopRequested)
      : text_(text), stopRequested_(stopRequested) {}

  bool interrupted() const { return interrupted_; }

  bool next(PageTag& tag) {
    const size_t n = text_.size();
    while (pos_ < n && !stepStops()) {
      const size_t lt = text_.find('<', pos_);
      if (lt == std::string_view::npos || lt + 1 >= n) break;
      pos_ = lt + 1;
      const std::string_view rest = text_.substr(pos_);
      if (rest.starts_with("!--")) {
        skipComment();
      } else if (rest[0] == '!' || rest[0] == '?' || (rest[0] == '/' && rest.size() > 1 && !isAsciiAlpha(rest[1]))) {
        // A doctype, a processing instruction or "</" without a name: to the
        // next ">".
        const size_t gt = text_.find('>', pos_);
        pos_ = gt == std::string_view::npos ? n : gt + 1;
      } else if (isAsciiAlpha(rest[0]) || (rest[0] == '/' && rest.size() > 1)) {
        if (readTag(tag)) return true;
        break;
      }
    }
    pos_ = n;
    return false;
  }

  // Passes over the contents of a raw-text element (script, style, title
  // ...) up to its end tag, which is read next.
  void skipContentsOf(std::string_view name) {
    for (size_t p = pos_; (p = text_.find("</", p)) != std::string_view::npos; p += 2) {
      const std::string_view rest = text_.substr(p + 2);
      if (startsNoCase(rest, name) && (rest.size() == name.size() || isHtmlSpace(rest[name.size()]) ||
                                       rest[name.size()] == '/' || rest[name.size()] == '>')) {
        pos_ = p;
        return;
      }
    }
    pos_ = text_.size();
  }

 private:
  static constexpr uint32_t kStopPoll = 4096;

  // Counts a step; true once the caller's stop has been asked for.
  bool stepStops() {
    if (++steps_ % kStopPoll == 0 && stopRequested_ && stopRequested_()) interrupted_ = true;
    return interrupted_;
  }

  void skipComment() {
    const size_t body = pos_ + 3;
    // "<!-->" and "<!--->" end where they start.
    if (text_.compare(body, 1, ">") == 0) {
      pos_ = body + 1;
      return;
    }
    if (text_.compare(body, 2, "->") == 0) {
      pos_ = body + 2;
      return;
    }
    const size_t end = text_.find("-->", body);
    const size_t bang = text_.find("--!>", body);
    if (bang < end) {
      pos_ = bang + 4;
    } else {
      pos_ = end == std::string_view::npos ? text_.size() : end + 3;
    }
  }

  void skipSpace(size_t& p) const {
    while (p < text_.size() && isHtmlSpace(text_[p])) ++p;
  }

  bool readTag(PageTag& tag) {
    const size_t n = text_.size();
    size_t p = pos_;
    tag.end = text_[p] == '/';
    if (tag.end) ++p;
    tag.name.clear();
    tag.values = {};
    for (; p < n && !isHtmlSpace(text_[p]) && text_[p] != '/' && text_[p] != '>'; ++p) tag.name += lowerAscii(text_[p]);
    for (;;) {
      while (p < n && (isHtmlSpace(text_[p]) || text_[p] == '/')) ++p;
      if (p >= n || stepStops()) return false;
      if (text_[p] == '>') break;
      // A name may begin with "=", and holds anything up to white space,
      // "/", ">" or "=".
      const size_t nameAt = p++;
      while (p < n && !isHtmlSpace(text_[p]) && text_[p] != '/' && text_[p] != '>' && text_[p] != '=') ++p;
      const std::string_view name = text_.substr(nameAt, p - nameAt);
      skipSpace(p);
      std::string_view value;
      if (p < n && text_[p] == '=') {
        ++p;
        skipSpace(p);
        if (p >= n) return false;
        if (text_[p] == '"' || text_[p] == '\'') {
          const size_t close = text_.find(text_[p], p + 1);
          if (close == std::string_view::npos) return false;
          value = text_.substr(p + 1, close - p - 1);
          p = close + 1;
        } else {
          const size_t start = p;
          while (p < n && !isHtmlSpace(text_[p]) && text_[p] != '>') ++p;
          value = text_.substr(start, p - start);
        }
      }
      if (const int i = readAttributeIndex(name); i >= 0 && !tag.values[static_cast<size_t>(i)]) {
        tag.values[static_cast<size_t>(i)] = value;
      }
    }
    pos_ = p + 1;
    return true;
  }

  std::string_view text_;
  const std::function<bool()>& stopRequested_;
  size_t pos_ = 0;
  uint32_t steps_ = 0;
  bool interrupted_ = false;
};

// Elements whose contents hold no tags.
bool hasRawContents(std::string_view name) {
  for (std::string_view raw : {"script", "style", "title", "textarea", "noscript", "template", "xmp", "iframe",
                               "noembed", "noframes"}) {
    if (name == raw) return true;
  }
  return false;
}

// Elements that may stand before the body without starting it.
bool staysBeforeBody(std::string_view name) {
  for (std::string_view head : {"html", "head", "title", "base", "basefont", "bgsound", "link", "meta", "style",
                                "script", "noscript", "template"}) {
    if (name == head) return true;
  }
  return false;
}

bool relHoldsAlternate(std::string_view rel) {
  for (size_t p = 0; p < rel.size();) {
    while (p < rel.size() && isHtmlSpace(rel[p])) ++p;
    const size_t start = p;
    while (p < rel.size() && !isHtmlSpace(rel[p])) ++p;
    if (equalsNoCase(rel.substr(start, p - start), "alternate")) return true;
  }
  return false;
}

bool isFeedType(std::string_view type) {
  type = trimmedBlanks(type);
  return equalsNoCase(type, "application/rss+xml") || equalsNoCase(type, "application/atom+xml");
}

// The charset a "meta" tag declares: its charset, or the charset of the
// content of an http-equiv Content-Type; "" when none.
std::string metaCharset(const PageTag& meta) {
  if (const std::string_view* charset = meta.find("charset")) return std::string(trimmedBlanks(*charset));
  const std::string_view* equiv = meta.find("http-equiv");
  const std::string_view* content = meta.find("content");
  if (!equiv || !content || !equalsNoCase(trimmedBlanks(*equiv), "content-type")) return {};
  return contentTypeCharset(*content);
}

// The charset an XML declaration at the text's start names; "" when none.
std::string declaredXmlEncoding(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  if (!text.starts_with("<?xml")) return {};
  const std::string_view declaration = text.substr(0, text.find("?>"));
  const size_t at = declaration.find("encoding");
  if (at == std::string_view::npos) return {};
  std::string_view rest = trimmedBlanks(declaration.substr(at + 8));
  if (rest.empty() || rest[0] != '=') return {};
  rest = trimmedBlanks(rest.substr(1));
  if (rest.empty() || (rest[0] != '"' && rest[0] != '\'')) return {};
  return std::string(rest.substr(1, rest.find(rest[0], 1) - 1));
}

// An attribute value as UTF-8 text: its bytes read in the page's charset,
// then its character references decoded; a control XML forbids, written or
// referenced, is U+FFFD.
std::string attributeText(std::string_view raw, const std::string& charset) {
  std::optional<std::string> decoded = decodeToUtf8(raw, charset);
  if (!decoded) decoded = decodeToUtf8(raw, "");
  const std::string& in = *decoded;
  std::string out;
  out.reserve(in.size());
  char buffer[4];
  for (size_t i = 0; i < in.size();) {
    const HtmlReference r = in[i] == '&' ? scanHtmlReference(in, i, true) : HtmlReference{};
    if (r.length == 0) {
      out += in[i++];
      continue;
    }
    out.append(buffer, static_cast<size_t>(convertUnicodeCharaToUTF8(r.first, buffer)));
    if (r.second) out.append(buffer, static_cast<size_t>(convertUnicodeCharaToUTF8(r.second, buffer)));
    i += static_cast<size_t>(r.length);
  }
  return withoutForbiddenControls(out, true);
}

// Browsers drop white space around an address, and tabs and line breaks
// inside it.
}  // namespace

CandidateScan collectFeedCandidates(std::string_view text, Text pageURL, std::string_view httpCharset,
                                    const std::function<bool()>& stopRequested) {
  CandidateScan scan;
  // A page in UTF-16 or UTF-32 (by its byte-order mark) is read as UTF-8.
  std::optional<std::string> widened;
  if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
    const bool little = text[0] == '\xFF';
    const bool utf32 = little && text.starts_with(std::string_view("\xFF\xFE\0\0", 4));
    widened = decodeToUtf8(text.substr(utf32 ? 4 : 2), utf32 ? "UTF-32LE" : little ? "UTF-16LE" : "UTF-16BE");
    if (widened) text = *widened;
  }
  struct RawLink {
    std::string_view href;
    std::optional<std::string_view> title;
  };
  std::vector<RawLink> links;
  std::string charset;
  std::optional<std::string_view> base;
  PageTags tags(text, stopRequested);
  PageTag tag;
  while (tags.next(tag)) {
    if (tag.name == "html" || tag.name == "head" || tag.name == "body") scan.webPage = true;
    if (tag.end) continue;
    if (!staysBeforeBody(tag.name)) break;
    if (tag.name == "link") {
      const std::string_view* type = tag.find("type");
      const std::string_view* rel = tag.find("rel");
      const std::string_view* href = tag.find("href");
      const std::string_view* title = tag.find("title");
      // Character references count in rel and type as anywhere else.
      if (type && rel && href && isFeedType(attributeText(*type, "")) && relHoldsAlternate(attributeText(*rel, ""))) {
        links.push_back({*href, title ? std::optional<std::string_view>(*title) : std::nullopt});
      }
    } else if (tag.name == "base" && !base) {
      if (const std::string_view* href = tag.find("href")) base = *href;
    } else if (tag.name == "meta" && charset.empty()) {
      charset = metaCharset(tag);
    } else if (hasRawContents(tag.name)) {
      tags.skipContentsOf(tag.name);
    }
  }
  if (tags.interrupted()) {
    scan.interrupted = true;
    return scan;
  }
  if (widened) {
    charset = "UTF-8";
  } else if (text.starts_with("\xEF\xBB\xBF")) {
    charset = "UTF-8";
  } else {
    if (charset.empty()) charset = std::string(trimLabel(httpCharset));
    if (charset.empty()) charset = declaredXmlEncoding(text);
    // A page cannot say it is UTF-16 in bytes that are not.
    if (startsNoCase(charset, "utf-16") || startsNoCase(charset, "utf-32")) charset = "UTF-8";
  }

  const bool filePage = startsNoCase(pageURL.view(), "file:");
  Str baseURL = pageURL.isNil() ? Str() : Str(pageURL.view());
  if (base && !baseURL.isNil()) {
    if (Str resolved = resolveReference(baseURL, Str(cleanAddress(attributeText(*base, charset)))); !resolved.isNil()) {
      baseURL = std::move(resolved);
    }
  }
  for (const RawLink& link : links) {
    const Str href(cleanAddress(attributeText(link.href, charset)));
    // A "feed:" address is the address it wraps.
    Str url = baseURL.isNil() || hasScheme(href.view()) ? unwrapFeedAddress(href) : resolveReference(baseURL, href);
    if (!offeredScheme(url.view(), filePage)) continue;
    std::string title = link.title ? attributeText(*link.title, charset) : std::string();
    if (!link.title) title = href.str();
    scan.candidates.push_back({std::move(url), Str(title)});
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
  const Str contentType = http_ ? getHeaderValue(http_->infoHeaderLines(), "Content-Type", 0) : Str();
  const std::string httpCharset = contentType.isNil() ? std::string() : contentTypeCharset(contentType.view());
  reader_->setTransportCharset(httpCharset);
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
    CandidateScan scan =
        collectFeedCandidates(text, redirected.isNil() ? Text(url_) : Text(redirected), httpCharset, dos::checkBreak);
    // Ctrl-C during the scan cancels the add.
    if (scan.interrupted) return {nullptr, kFeedOk, Str()};
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
    if (!document && scan.webPage) return {nullptr, kFeedNoFeedFound, Str()};
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
