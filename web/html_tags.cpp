// web/html_tags.cpp - pHTML: reading one tag and the text after it, the
// tag's tokens and attributes, and turning a tag into a node.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "core/exception.h"
#include "web/control_chars.h"
#include "web/html_reader.h"

namespace bw {
namespace pHTML {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The text and a bounded, NUL-aware byte access: a NUL byte or the end of
// the view both end the text.
struct Bytes {
  std::string_view view;
  char at(int64_t i) const {
    return i >= 0 && static_cast<size_t>(i) < view.size() ? view[static_cast<size_t>(i)] : '\0';
  }
  // The first byte c at or after from, -1 when a NUL or the end comes first.
  int64_t find(char c, int64_t from) const {
    if (static_cast<size_t>(from) >= view.size()) return -1;
    const char* base = view.data();
    size_t n = view.size() - static_cast<size_t>(from);
    const void* hit = std::memchr(base + from, c, n);
    size_t limit = hit ? static_cast<size_t>(static_cast<const char*>(hit) - (base + from)) : n;
    if (std::memchr(base + from, '\0', limit)) return -1;
    return hit ? static_cast<int64_t>(static_cast<const char*>(hit) - base) : -1;
  }
  // The first "<" at or after from, or the position of the NUL or end.
  int64_t textEnd(int64_t from) const {
    if (static_cast<size_t>(from) >= view.size()) return static_cast<int64_t>(view.size());
    const char* base = view.data();
    size_t n = view.size() - static_cast<size_t>(from);
    const void* hit = std::memchr(base + from, '<', n);
    size_t limit = hit ? static_cast<size_t>(static_cast<const char*>(hit) - (base + from)) : n;
    const void* nul = std::memchr(base + from, '\0', limit);
    const void* end = nul ? nul : hit;
    return end ? static_cast<int64_t>(static_cast<const char*>(end) - base)
               : static_cast<int64_t>(view.size());
  }
  // The first "-->" at or after from, -1 when a NUL or the end comes first.
  int64_t findCommentEnd(int64_t from) const {
    size_t e = view.find("-->", static_cast<size_t>(from));
    if (e == std::string_view::npos) return -1;
    if (std::memchr(view.data() + from, '\0', e - static_cast<size_t>(from))) return -1;
    return static_cast<int64_t>(e);
  }
  std::string_view slice(int64_t from, int64_t to) const {
    return view.substr(static_cast<size_t>(from), static_cast<size_t>(to - from));
  }
};

[[noreturn]] void malformed(const char* message) { raise("HTML", message); }

bool isQuote(char c) { return c == '"' || c == '\''; }

}  // namespace

HtmlTagAndText html_nextTagAndText(Text html, int64_t position, bool quiet) {
  Bytes b{html.view()};
  if (position < 0 || static_cast<size_t>(position) > b.view.size()) {
    raise("EMU", "pHTML; html_nextTagAndText(); position out of range");
  }
  const int64_t p = position;
  const char c = b.at(p);
  std::string_view tag;
  bool found = false;
  int64_t reading = 0;
  int64_t next = -1;
  if (c == '<') {
    if (b.slice(p, std::min<int64_t>(p + 4, static_cast<int64_t>(b.view.size()))) == "<!--") {
      int64_t e = b.findCommentEnd(p + 4);
      if (e >= 0) {
        tag = b.slice(p + 1, e + 2);
        reading = e + 3;
        found = true;
      }
    } else {
      int64_t e = b.find('>', p + 1);
      next = e;
      if (e > p + 1) {
        tag = b.slice(p + 1, e);
        if (tag.find('<') == std::string_view::npos) {
          reading = e + 1;
          found = true;
        }
      }
    }
  } else if (c == '\0') {
    return {Str(""), Str(""), p};
  } else if (p > 0) {
    if (c == '>') raise("BUG", "pHTML; html_nextTagAndText(); unexpected \">\" character");
    raise("BUG", "pHTML; html_nextTagAndText(); unexpected tag character");
  } else {
    // Text at the very start: the next tag, or the end, is where to go on.
    next = b.textEnd(p + 1);
  }
  if (!found) {
    if (!quiet) malformed("pHTML; nextTagOrText(); malformed HTML");
    return {Str(), Str(), next};
  }
  int64_t end = b.textEnd(reading);
  return {Str(tag), Str(b.slice(reading, end)), end};
}

HtmlToken tagNextToken(Text tagText, int32_t position) {
  Bytes b{tagText.view()};
  if (position < 0 || static_cast<size_t>(position) >= b.view.size() || b.at(position) == '\0') {
    return {Str(), position};
  }
  const int64_t p = position;
  const char c = b.at(p);
  int64_t end;
  if (c == '=') {
    end = p + 1;
  } else if (isQuote(c)) {
    int64_t close = b.find(c, p + 1);
    if (close < 0) {
      std::string_view shown = tagText.view().substr(0, static_cast<size_t>(tagText.nulLength()));
      std::fputs("pHTML; tagNextToken(); tag=\"", stdout);
      std::fwrite(shown.data(), 1, shown.size(), stdout);
      std::printf("\", pos=%ld\n", static_cast<long>(position));
      malformed("pHTML; tagNextToken(); malformed HTML, string not closed");
    }
    end = close + 1;
  } else {
    end = p;
    for (;;) {
      char d = b.at(end);
      if (d == '\0' || isSpace(d) || d == '=' || (d == '/' && end > p)) break;
      ++end;
    }
  }
  Str token(b.slice(p, end));
  while (isSpace(b.at(end))) ++end;
  return {std::move(token), static_cast<int32_t>(end)};
}

HtmlAttribute html_tagNextAttribute(Text tagText, int32_t position, bool quiet) {
  try {
    HtmlToken name = tagNextToken(tagText, position);
    if (name.token.isNil()) return {Str(""), Str(), position};
    Bytes b{tagText.view()};
    if (b.at(name.position) != '=') return {std::move(name.token), Str(), name.position};
    HtmlToken equals = tagNextToken(tagText, name.position);
    const int64_t start = equals.position;
    if (b.at(start) == '\0') {
      malformed("pHTML; html_tagNextAttribute(); malformed HTML, unexpected end of document");
    }
    if (isQuote(b.at(start))) {
      HtmlToken value = tagNextToken(tagText, equals.position);
      std::string_view v = value.token.view();
      return {std::move(name.token), Str(v.substr(1, v.size() - 2)), value.position};
    }
    // An unquoted value runs to the next white space: "/", "=" and quotes
    // are part of it (href=/feed/ is not self-closing).
    int64_t end = start;
    while (b.at(end) != '\0' && !isSpace(b.at(end))) ++end;
    Str value(b.slice(start, end));
    while (isSpace(b.at(end))) ++end;
    return {std::move(name.token), std::move(value), static_cast<int32_t>(end)};
  } catch (const eException& e) {
    if (!quiet || e.code() != "HTML") throw;
    return {Str(""), Str(), position};
  }
}

HtmlParsedTag html_parseTag(Text tagText, htmlDataRoot* root, Str textAfter, bool quiet) {
  // The node holds no control XML forbids: each reads as U+FFFD.
  std::string cleanTag;
  if (holdsForbiddenControl(tagText.view())) {
    cleanTag = withoutForbiddenControls(tagText.view(), true);
    tagText = Text(cleanTag);
  }
  textAfter = withoutForbiddenControls(std::move(textAfter), true);
  try {
    HtmlAttribute first = html_tagNextAttribute(tagText, 0, false);
    std::string_view token = first.name.view();
    if (token.empty()) return {};
    if (token.starts_with("/")) return {nullptr, true};
    if (token.starts_with("!--")) {
      return {std::make_unique<webDataNode>(Str(tagText.view()), std::move(textAfter), 0, root, Str()), true};
    }
    Str ns;
    Str name;
    size_t colon = token.find(':');
    if (colon == std::string_view::npos) {
      name = std::move(first.name);
    } else {
      ns = Str(token.substr(0, colon));
      name = Str(token.substr(colon + 1));
    }
    auto node = std::make_unique<webDataNode>(std::move(name), std::move(textAfter), 0, root, std::move(ns));
    bool selfClosing = false;
    int32_t position = first.position;
    for (;;) {
      HtmlAttribute a = html_tagNextAttribute(tagText, position, false);
      if (a.name.empty()) break;
      position = a.position;
      if (selfClosing) malformed("pHTML; html_parseTag(); malformed HTML, attributes after self-closing /");
      if (a.value.isNil() && a.name.view() == "/") {
        selfClosing = true;
        webOldText old = node->setText(Str(""), 0, true);
        node->setTextAfterEndTag(std::move(old.text));
      } else if (a.value.isNil() && isQuote(a.name[0])) {
        // A quoted word without "=" (a DOCTYPE's public identifier).
        continue;
      } else if (node->addAttribute(std::move(a.name), a.value.isNil() ? Str("") : std::move(a.value))) {
        malformed("pHTML; html_parseTag(); malformed HTML, attribute duplicate found");
      }
    }
    return {std::move(node), selfClosing};
  } catch (const eException& e) {
    if (!quiet || e.code() != "HTML") throw;
    return {};
  }
}

}  // namespace pHTML
}  // namespace bw
