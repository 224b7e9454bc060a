// news/html_text.cpp - display text from feed texts: the HTML reader and its
// line writer, the HTML guess and the trims.
#include "news/html_text.h"

#include <string>
#include <string_view>
#include <vector>

#include "core/ascii_case.h"
#include "core/exception.h"
#include "core/unicode.h"
#include "core/utf8.h"
#include "news/news_objects.h"
#include "web/control_chars.h"
#include "web/xml_entities.h"
#include "web/xml_reader.h"

namespace bw {
namespace {

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// A tag read at its "<": end is the position after its ">", 0 when the "<"
// starts no tag (no letter after it, or no ">" that ends it).
struct Tag {
  size_t end = 0;
  bool closing = false;
  bool selfClosing = false;
  std::string_view name;
  size_t attributesAt = 0;
};

// Walks the attributes from p, as the HTML tokeniser reads them (a quoted
// value may hold ">" and "<"), calling visit(name, value, hasValue) for
// each until it answers true; the position of the tag's ">", or npos when
// the text ends first.
template <class Visit>
size_t walkAttributes(std::string_view s, size_t p, Visit visit) {
  for (;;) {
    while (p < s.size() && (isHtmlSpace(s[p]) || s[p] == '/')) ++p;
    if (p >= s.size()) return std::string_view::npos;
    if (s[p] == '>') return p;
    const size_t nameAt = p++;
    while (p < s.size() && !isHtmlSpace(s[p]) && s[p] != '/' && s[p] != '>' && s[p] != '=') ++p;
    const std::string_view name = s.substr(nameAt, p - nameAt);
    size_t q = p;
    while (q < s.size() && isHtmlSpace(s[q])) ++q;
    std::string_view value;
    bool hasValue = q < s.size() && s[q] == '=';
    if (hasValue) {
      ++q;
      while (q < s.size() && isHtmlSpace(s[q])) ++q;
      if (q < s.size() && (s[q] == '"' || s[q] == '\'')) {
        const size_t close = s.find(s[q], q + 1);
        if (close == std::string_view::npos) return std::string_view::npos;
        value = s.substr(q + 1, close - q - 1);
        p = close + 1;
      } else {
        p = q;
        while (p < s.size() && !isHtmlSpace(s[p]) && s[p] != '>') ++p;
        value = s.substr(q, p - q);
      }
    }
    if (visit(name, value, hasValue)) return p;
  }
}

Tag readTag(std::string_view s, size_t open) {
  Tag tag;
  size_t p = open + 1;
  tag.closing = p < s.size() && s[p] == '/';
  if (tag.closing) ++p;
  if (p >= s.size() || !isAsciiLetter(s[p])) return {};
  const size_t nameAt = p;
  while (p < s.size() && !isHtmlSpace(s[p]) && s[p] != '/' && s[p] != '>') ++p;
  tag.name = s.substr(nameAt, p - nameAt);
  tag.attributesAt = p;
  const size_t close = walkAttributes(s, p, [](std::string_view, std::string_view, bool) { return false; });
  if (close == std::string_view::npos) return {};
  tag.end = close + 1;
  tag.selfClosing = s[close - 1] == '/';
  return tag;
}

// The first attribute of the name (letter case ignored), or NIL.
struct AttributeValue {
  bool found = false;
  std::string_view value;
};
AttributeValue attributeOf(std::string_view s, const Tag& tag, std::string_view name) {
  AttributeValue found;
  walkAttributes(s, tag.attributesAt, [&](std::string_view n, std::string_view v, bool) {
    if (!equalsNoCase(n, name)) return false;
    found = {true, v};
    return true;
  });
  return found;
}

// Elements whose contents are never shown.
bool isHiddenElement(std::string_view name) {
  return equalsNoCase(name, "script") || equalsNoCase(name, "style") || equalsNoCase(name, "template") ||
         equalsNoCase(name, "noscript");
}

// Elements that stand on lines of their own.
bool isBlockElement(std::string_view name) {
  static constexpr std::string_view kBlocks[] = {
      "div",     "section", "article", "header", "footer",   "nav",     "aside",  "main",
      "address", "figure",  "figcaption", "dl",  "dt",       "dd",      "form",   "fieldset",
      "details", "summary", "center",  "caption", "legend",  "tbody",   "thead",  "tfoot"};
  for (std::string_view b : kBlocks) {
    if (equalsNoCase(name, b)) return true;
  }
  return false;
}

bool isHeading(std::string_view name) {
  return name.size() == 2 && (name[0] | 0x20) == 'h' && name[1] >= '1' && name[1] <= '6';
}

// The display text as it is written: white space folded into single spaces
// (written only between words), line ends asked for by blocks.
class DisplayWriter {
 public:
  DisplayWriter(bool styles, bool utf8) : styles_(styles), utf8_(utf8) {}

  std::string out;
  const bool styles_;

  // Text of the source [from, to): references decoded unless raw (CDATA);
  // in pre its line ends and spaces kept.
  void text(std::string_view s, size_t from, size_t to, bool pre, bool raw) {
    for (size_t i = from; i < to;) {
      const char c = s[i];
      if (c == '&' && !raw) {
        const HtmlReference r = scanHtmlReference(s.substr(0, to), i, false);
        if (r.length > 0) {
          character(r.first);
          if (r.second) character(r.second);
          i += static_cast<size_t>(r.length);
          continue;
        }
      }
      // Controls are never shown; a form feed outside pre is white space.
      if (isForbiddenControl(static_cast<unsigned char>(c)) && (pre || c != '\f')) {
        character(kReplacementCharacter);
        ++i;
        continue;
      }
      if (pre) {
        if (c == '\r') {
          out += '\n';
          i += i + 1 < to && s[i + 1] == '\n' ? 2 : 1;
          continue;
        }
        flushSpace();
        out += c;
      } else if (isHtmlSpace(c)) {
        space_ = true;
      } else {
        flushSpace();
        out += c;
      }
      ++i;
    }
  }

  // A style mark or a marker: an opening one stands before the space that
  // waits, a closing one after the word it closes.
  void mark(std::string_view m, bool opening) {
    if (opening) flushSpace();
    out += m;
  }

  // Words on the same line go on after this with no space.
  void put(std::string_view s) {
    flushSpace();
    out += s;
  }

  void lineBreak() {
    dropSpaces();
    out += '\n';
  }

  // The text so far ends with at least n line ends (nothing at its start).
  void endLines(int n) {
    dropSpaces();
    if (out.empty()) return;
    int have = 0;
    for (size_t k = out.size(); k > 0 && out[k - 1] == '\n' && have < n; --k) ++have;
    out.append(static_cast<size_t>(n - have), '\n');
  }

  void character(int32_t code) {
    flushSpace();
    if (isForbiddenControl(code)) code = kReplacementCharacter;
    if (!utf8_) {
      out += code < 0x100 ? static_cast<char>(code) : '?';
      return;
    }
    char bytes[4];
    out.append(bytes, static_cast<size_t>(convertUnicodeCharaToUTF8(code, bytes)));
  }

 private:
  void flushSpace() {
    if (space_ && !out.empty() && out.back() != '\n' && out.back() != ' ') out += ' ';
    space_ = false;
  }
  void dropSpaces() {
    space_ = false;
    while (!out.empty() && out.back() == ' ') out.pop_back();
  }

  const bool utf8_;
  bool space_ = false;
};

// An attribute value as display text: references decoded, white space folded.
std::string attributeText(std::string_view value, bool utf8) {
  DisplayWriter w(false, utf8);
  for (size_t i = 0; i < value.size();) {
    const HtmlReference r = scanHtmlReference(value, i, true);
    if (r.length > 0) {
      w.character(r.first);
      if (r.second) w.character(r.second);
      i += static_cast<size_t>(r.length);
    } else {
      w.text(value, i, i + 1, false, true);
      ++i;
    }
  }
  while (!w.out.empty() && w.out.back() == ' ') w.out.pop_back();
  return w.out;
}

std::string pictureText(std::string_view s, const Tag& tag, bool utf8) {
  const AttributeValue alt = attributeOf(s, tag, "alt");
  if (alt.found) {
    const std::string shown = attributeText(alt.value, utf8);
    if (!shown.empty()) return "[PICTURE \"" + shown + "\"]";
  }
  const AttributeValue src = attributeOf(s, tag, "src");
  if (src.found) {
    std::string path = attributeText(src.value, utf8);
    path = path.substr(0, path.find('?'));
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) path.erase(0, slash + 1);
    if (!path.empty()) return "[PICTURE \"" + path + "\"]";
  }
  return "[PICTURE]";
}

// Where the element's contents end: after its end tag, or the end of text.
size_t afterEndTag(std::string_view s, size_t from, std::string_view name) {
  for (size_t at = s.find("</", from); at != std::string_view::npos; at = s.find("</", at + 2)) {
    const size_t n = at + 2 + name.size();
    if (n > s.size() || !equalsNoCase(s.substr(at + 2, name.size()), name)) continue;
    if (n < s.size() && !isHtmlSpace(s[n]) && s[n] != '/' && s[n] != '>') continue;
    const size_t close = s.find('>', n);
    return close == std::string_view::npos ? s.size() : close + 1;
  }
  return s.size();
}

struct ListLevel {
  bool ordered = false;
  int64_t next = 1;
};

// The HTML reader: the text between tags, each tag by its name.
class HtmlReader {
 public:
  HtmlReader(std::string_view s, bool styles, bool utf8) : s_(s), w_(styles, utf8), utf8_(utf8) {}

  std::string run() {
    size_t i = 0;
    while (i < s_.size()) {
      const size_t lt = s_.find('<', i);
      const size_t to = lt == std::string_view::npos ? s_.size() : lt;
      w_.text(s_, i, to, pre_ > 0, false);
      if (lt == std::string_view::npos) break;
      i = markup(lt);
    }
    return std::move(w_.out);
  }

 private:
  // Reads what starts at the "<" at; the position after it.
  size_t markup(size_t at) {
    const std::string_view rest = s_.substr(at);
    if (rest.starts_with("<!--")) {
      if (rest.starts_with("<!-->")) return at + 5;
      if (rest.starts_with("<!--->")) return at + 6;
      const size_t end = s_.find("-->", at + 4);
      return end == std::string_view::npos ? s_.size() : end + 3;
    }
    if (rest.starts_with("<![CDATA[")) {
      const size_t end = s_.find("]]>", at + 9);
      const size_t to = end == std::string_view::npos ? s_.size() : end;
      w_.text(s_, at + 9, to, pre_ > 0, true);
      return end == std::string_view::npos ? s_.size() : end + 3;
    }
    if (rest.starts_with("<!") || rest.starts_with("<?")) {
      const size_t end = s_.find('>', at + 2);
      if (end != std::string_view::npos) return end + 1;
    }
    const Tag tag = readTag(s_, at);
    if (tag.end == 0) {
      w_.text(s_, at, at + 1, pre_ > 0, true);
      return at + 1;
    }
    if (!tag.closing && !tag.selfClosing && isHiddenElement(tag.name)) return afterEndTag(s_, tag.end, tag.name);
    size_t next = tag.end;
    if (tag.closing) {
      closingTag(tag.name);
    } else if (openingTag(tag) && !tag.selfClosing) {
      // pre drops one line end directly after its tag.
      if (s_.compare(next, 2, "\r\n") == 0) {
        next += 2;
      } else if (next < s_.size() && (s_[next] == '\n' || s_[next] == '\r')) {
        ++next;
      }
    }
    return next;
  }

  // True when the tag opens a pre.
  bool openingTag(const Tag& tag) {
    const std::string_view n = tag.name;
    auto is = [&](std::string_view name) { return equalsNoCase(n, name); };
    const bool styles = w_.styles_;
    if (is("br")) {
      w_.lineBreak();
    } else if (is("p") || isHeading(n) || is("blockquote")) {
      w_.endLines(2);
    } else if (is("hr")) {
      w_.endLines(1);
      w_.put(std::string(38, '-'));
      w_.endLines(1);
    } else if (is("b") || is("strong")) {
      w_.mark(styles ? "\x1b" "b" : "*", true);
    } else if (styles && (is("i") || is("em"))) {
      w_.mark("\x1b" "i", true);
    } else if (styles && is("u")) {
      w_.mark("\x1b" "u", true);
    } else if (styles && is("a")) {
      w_.mark("\x1b" "u" "\x1b" "5", true);
    } else if (is("ul") || is("ol")) {
      w_.endLines(1);
      ListLevel level{is("ol"), 1};
      if (level.ordered) {
        const AttributeValue start = attributeOf(s_, tag, "start");
        if (start.found) level.next = startNumber(start.value);
      }
      lists_.push_back(level);
    } else if (is("li")) {
      w_.endLines(1);
      const size_t depth = lists_.size();
      std::string marker(depth > 1 ? 2 * (depth - 1) : 0, ' ');
      if (depth > 0 && lists_.back().ordered) {
        marker += std::to_string(lists_.back().next++) + ". ";
      } else {
        marker += "* ";
      }
      w_.put(marker);
    } else if (is("img")) {
      w_.put(pictureText(s_, tag, utf8_));
      w_.endLines(1);
    } else if (is("table")) {
      w_.endLines(1);
      cells_.push_back(0);
    } else if (is("tr")) {
      w_.endLines(1);
      if (!cells_.empty()) cells_.back() = 0;
    } else if (is("td") || is("th")) {
      if (!cells_.empty() && cells_.back()++ > 0) w_.mark(" | ", false);
    } else if (is("pre")) {
      w_.endLines(1);
      ++pre_;
      return true;
    } else if (isBlockElement(n)) {
      w_.endLines(1);
    }
    return false;
  }

  void closingTag(std::string_view n) {
    auto is = [&](std::string_view name) { return equalsNoCase(n, name); };
    const bool styles = w_.styles_;
    if (is("p") || isHeading(n) || is("blockquote")) {
      w_.endLines(2);
    } else if (is("br")) {
      w_.lineBreak();
    } else if (is("b") || is("strong")) {
      w_.mark(styles ? "\x1b" "n" : "*", false);
    } else if (styles && (is("i") || is("em") || is("u"))) {
      w_.mark("\x1b" "n", false);
    } else if (styles && is("a")) {
      w_.mark("\x1b" "n" "\x1b" "2", false);
    } else if (is("ul") || is("ol")) {
      if (!lists_.empty()) lists_.pop_back();
      w_.endLines(1);
    } else if (is("li") || is("tr")) {
      w_.endLines(1);
    } else if (is("table")) {
      if (!cells_.empty()) cells_.pop_back();
      w_.endLines(1);
    } else if (is("pre")) {
      if (pre_ > 0) --pre_;
      w_.endLines(1);
    } else if (isBlockElement(n)) {
      w_.endLines(1);
    }
  }

  static int64_t startNumber(std::string_view v) {
    int64_t n = 0;
    size_t k = 0;
    while (k < v.size() && isHtmlSpace(v[k])) ++k;
    const bool minus = k < v.size() && v[k] == '-';
    if (minus) ++k;
    for (; k < v.size() && v[k] >= '0' && v[k] <= '9' && n < 1000000000; ++k) n = n * 10 + (v[k] - '0');
    return minus ? -n : n;
  }

  std::string_view s_;
  DisplayWriter w_;
  bool utf8_;
  int pre_ = 0;
  std::vector<ListLevel> lists_;
  std::vector<int> cells_;
};

// Trims in the sense of invariant 3 of the header: the bounds of the kept text.
bool isTrimByte(std::string_view s, size_t i, bool utf8) {
  char c = s[i];
  if (c == ' ' || c == '\t' || c == '\n' || c == '\r') return true;
  return !utf8 && static_cast<unsigned char>(c) == 0xA0;
}

struct Bounds {
  size_t begin;
  size_t end;
};

Bounds trimmedBounds(std::string_view s, bool utf8) {
  size_t begin = 0, end = s.size();
  for (;;) {
    if (begin < end && isTrimByte(s, begin, utf8)) {
      ++begin;
    } else if (utf8 && begin + 1 < end && s[begin] == '\xC2' && s[begin + 1] == '\xA0') {
      begin += 2;
    } else {
      break;
    }
  }
  for (;;) {
    if (end > begin && isTrimByte(s, end - 1, utf8)) {
      --end;
    } else if (utf8 && end >= begin + 2 && s[end - 2] == '\xC2' && s[end - 1] == '\xA0') {
      end -= 2;
    } else {
      break;
    }
  }
  return {begin, end};
}

}  // namespace

void tabsToSpaces(Str& text) {
  for (int32_t i = 0; i < text.length(); ++i) {
    if (text[i] == '\t') text[i] = ' ';
  }
}

void trimDisplayText(Str& text, bool utf8) {
  if (text.isNil()) raise("EPU", "trimDisplayText(); text=NIL");
  Bounds b = trimmedBounds(text.view(), utf8);
  if (b.begin == 0 && b.end == static_cast<size_t>(text.length())) return;
  std::string kept(text.view().substr(b.begin, b.end - b.begin));
  text.assign(kept);
}

Str trimNewsWhiteSpace(Str text, bool utf8) {
  if (text.isNil()) raise("EPU", "trimNewsWhiteSpace(); text=NIL");
  Bounds b = trimmedBounds(text.view(), utf8);
  if (b.begin == 0 && b.end == static_cast<size_t>(text.length())) return text;
  return Str(text.view().substr(b.begin, b.end - b.begin));
}

Str htmlToDisplayText(Text text, bool useStyles, bool utf8) {
  Str result(HtmlReader(text.nulView(), useStyles, utf8).run());
  tabsToSpaces(result);
  trimDisplayText(result, utf8);
  return result;
}

Str prepareTextForDisplay(Str&& text, int32_t format, bool useStyles, bool utf8) {
  if (text.isNil()) return Str();
  if (format == kFormatDetect) format = looksLikeHtml(text) ? kFormatHTML : kFormatPlainText;
  if (format == kFormatPlainText) {
    Str tidied = withoutForbiddenControls(std::move(text), utf8);
    tabsToSpaces(tidied);
    trimDisplayText(tidied, utf8);
    return tidied;
  }
  if (format == kFormatHTML || format == kFormatXHTML) {
    Str result = htmlToDisplayText(text, useStyles, utf8);
    text = Str();
    return result;
  }
  return Str();
}

Str feedTextForDisplay(webDataFormat& docFormat, const cEncoding* charset, Text text, int32_t format,
                       bool useStyles) {
  if (text.isNil()) return Str();
  auto* xml = dynamic_cast<cXML*>(&docFormat);
  const cEncoding* target = charset ? charset : xml ? &xml->infoSystemCharset() : nullptr;
  const bool utf8 = !target || isUtf8Encoding(*target);
  if (xml && (format == kFormatDetect || format == kFormatHTML || format == kFormatXHTML)) {
    // XHTML content is stored as markup already; HTML is stored as the
    // feed's escaped text of it.
    const std::string markup =
        format == kFormatXHTML ? std::string(text.view()) : xmlMarkupText(text.view(), xml->infoDecoder()->entities());
    if (format != kFormatDetect || looksLikeHtml(markup)) {
      Str shown = htmlToDisplayText(markup, useStyles, true);
      const auto* single = dynamic_cast<const cCharset*>(target);
      if (utf8 || !single) return shown;
      return convertUTF8ToCharset(shown, *single, 0, "?", false, false, nullptr, 0);
    }
    format = kFormatPlainText;
  }
  // An XML feed's plain text through convertFeedText, which reads CDATA as
  // its escaped twin does.
  Str converted = xml ? convertFeedText(docFormat, charset, text, false, false)
                      : docFormat.convertText(text, charset, false, false);
  return prepareTextForDisplay(std::move(converted), format, useStyles, utf8);
}

namespace {

// How a known HTML element's tag counts as evidence that a text is HTML.
enum class ElementKind { kUnknown, kPaired, kAlone };

// The WHATWG element list, with the obsolete ones it still names.
// kAlone: void elements, embedded content and the elements whose end tag
// may be left out, each markup on its own; kPaired: the others, which say
// HTML only with their end tag ("The <dialog> element" is a title).
ElementKind elementKind(std::string_view name) {
  static constexpr std::string_view kAlone[] = {
      "applet", "area", "audio", "base", "basefont", "bgsound", "br", "canvas", "col", "dd", "dt", "embed", "frame",
      "hr", "iframe", "img", "input", "isindex", "keygen", "li", "link", "math", "meta", "object", "option", "p",
      "param", "picture", "source", "svg", "td", "th", "tr", "track", "video", "wbr"};
  static constexpr std::string_view kPaired[] = {
      "a", "abbr", "acronym", "address", "article", "aside", "b", "bdi", "bdo", "big", "blink", "blockquote",
      "body", "button", "caption", "center", "cite", "code", "colgroup", "data", "datalist", "del", "details",
      "dfn", "dialog", "dir", "div", "dl", "em", "fieldset", "figcaption", "figure", "font", "footer", "form", "frameset", "h1", "h2",
      "h3", "h4", "h5", "h6", "head", "header", "hgroup", "html", "i", "ins", "kbd", "label", "legend", "listing", "main",
      "map", "mark", "marquee", "menu", "meter", "nav", "nobr", "noembed", "noframes", "noscript", "ol", "optgroup", "output", "pre", "progress",
      "q", "rp", "rt", "ruby", "s", "samp", "script", "search", "section", "select", "slot", "small", "span",
      "strike", "strong", "style", "sub", "summary", "sup", "table", "tbody", "template", "textarea", "tfoot",
      "thead", "time", "title", "tt", "u", "ul", "var", "xmp"};
  for (std::string_view k : kAlone) {
    if (equalsNoCase(name, k)) return ElementKind::kAlone;
  }
  for (std::string_view k : kPaired) {
    if (equalsNoCase(name, k)) return ElementKind::kPaired;
  }
  return ElementKind::kUnknown;
}

bool isNameByte(char c) { return isAsciiLetter(c) || (c >= '0' && c <= '9'); }

// Whether the text holds HTML's evidence: an end tag or "/>" of a known
// element, and with loneTags also a comment or a start tag of an element
// that stands alone (a start tag of another known element says HTML only
// with an end tag somewhere). Everything else ("5 < 7", "a -> b", "<foo>")
// is text.
bool holdsHtmlEvidence(std::string_view s, bool loneTags) {
  for (size_t i = s.find('<'); i != std::string_view::npos; i = s.find('<', i + 1)) {
    if (s.compare(i, 4, "<!--") == 0) {
      if (loneTags && s.find("-->", i + 4) != std::string_view::npos) return true;
      continue;
    }
    const bool closing = i + 1 < s.size() && s[i + 1] == '/';
    size_t p = i + (closing ? 2 : 1);
    const size_t nameAt = p;
    if (p >= s.size() || !isAsciiLetter(s[p])) continue;
    while (p < s.size() && isNameByte(s[p])) ++p;
    if (p >= s.size() || !(isHtmlSpace(s[p]) || s[p] == '/' || s[p] == '>')) continue;
    const std::string_view name = s.substr(nameAt, p - nameAt);
    const ElementKind kind = elementKind(name);
    if (kind == ElementKind::kUnknown) continue;
    size_t close;
    if (closing) {
      while (p < s.size() && isHtmlSpace(s[p])) ++p;
      close = p < s.size() && s[p] == '>' ? p : std::string_view::npos;
    } else {
      close = walkAttributes(s, p, [](std::string_view, std::string_view, bool) { return false; });
    }
    if (close == std::string_view::npos) continue;
    if (closing || s[close - 1] == '/' || (loneTags && kind == ElementKind::kAlone)) return true;
    i = close;
  }
  return false;
}

}  // namespace

bool looksLikeHtml(Text text) { return holdsHtmlEvidence(text.nulView(), true); }

bool titleLooksLikeHtml(Text stored) {
  // Read text holds a "<" only where the stored one has a "<" or a reference:
  // most titles are read for nothing.
  const std::string_view s = stored.nulView();
  if (s.find('<') == std::string_view::npos && s.find('&') == std::string_view::npos) return false;
  return holdsHtmlEvidence(xmlMarkupText(s, *sharedXmlEntityMap()), false);
}

void initNewsTextModule() {}
void endNewsTextModule() {}

}  // namespace bw
