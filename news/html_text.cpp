// news/html_text.cpp - display text from feed texts: the three matchers of
// the HTML rewrite, the HTML guess and the trims.
#include "news/html_text.h"

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "core/ascii_case.h"
#include "core/exception.h"
#include "core/string_procs.h"

namespace bw {
namespace {

enum class TagKind : int32_t {
  kP, kEndP, kBr, kHr, kB, kEndB, kI, kEndI, kU, kEndU, kLi, kEndLi, kUl, kEndUl, kA, kEndA, kImg,
  kOtherOpening, kOtherClosing
};

// The working record of one htmlToDisplayText run, shared with the tag
// matcher through the table's word6.
struct HtmlTextState {
  TagKind lastTag = TagKind::kEndP;
  int32_t lastTagEnd = -1;
  bool useStyles = false;
  // The first position from which no ">" follows; a "<" at or after it never
  // makes a tag, so the text is searched for ">" once, not once per "<".
  int32_t noCloseFrom = -1;
};

struct Matchers {
  fLineFeedTranslateMatcher lineFeed;
  fMergeMultipleSpacesTranslateMatcher spaces;
  fHtmlTranslateMatcher html;
};
std::unique_ptr<Matchers> gMatchers;

Matchers& matchers() {
  if (!gMatchers) raise("BUG", "htmlToDisplayText(); matchers used before initNewsTextModule()");
  return *gMatchers;
}

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiAlnum(char c) { return isAsciiLetter(c) || (c >= '0' && c <= '9'); }
bool isTagSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || static_cast<unsigned char>(c) == 0xA0;
}

// The first case-blind occurrence of needle in hay, or npos.
size_t findNoCase(std::string_view hay, std::string_view needle, size_t from) {
  for (size_t i = from; i + needle.size() <= hay.size(); ++i) {
    if (equalsNoCase(hay.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

TranslateMatch replaced(int32_t position, int32_t length, std::string_view replacement) {
  TranslateMatch m;
  m.position = position;
  m.matchLength = length;
  m.replacement = Str(replacement);
  m.replacementLength = static_cast<int32_t>(replacement.size());
  return m;
}

// An attribute value of the tag text [from, close): its bytes (with quotes
// when quoted) and the value inside them; found is false when the attribute
// is missing or its value does not end before close.
struct AttributeValue {
  bool found = false;
  bool quoted = false;
  std::string_view inner;
};

AttributeValue attributeValue(std::string_view s, size_t from, size_t close, std::string_view name,
                              bool endAtQuery) {
  size_t at = findNoCase(s.substr(0, close), name, from);
  if (at == std::string_view::npos) return {};
  size_t v = at + name.size();
  if (v >= s.size()) return {};
  bool quoted = s[v] == '"' || s[v] == '\'';
  size_t begin = quoted ? v + 1 : v;
  size_t end = begin;
  while (end < s.size()) {
    char c = s[end];
    if (quoted ? c == s[v] : c == ' ') break;
    if (endAtQuery && c == '?') break;
    ++end;
  }
  if (end >= close) return {};
  return {true, quoted, s.substr(begin, end - begin)};
}

std::string pictureText(std::string_view s, size_t nameEnd, size_t close) {
  std::string detail;
  AttributeValue alt = attributeValue(s, nameEnd, close, "alt=", false);
  if (alt.found && !alt.inner.empty()) {
    detail = " ";
    if (alt.quoted) {
      char quote = s[static_cast<size_t>(alt.inner.data() - s.data()) - 1];
      detail += quote;
      detail += alt.inner;
      detail += quote;
    } else {
      detail += alt.inner;
    }
  } else {
    AttributeValue src = attributeValue(s, nameEnd, close, "src=", true);
    if (src.found) {
      size_t slash = src.inner.rfind('/');
      std::string_view file = slash == std::string_view::npos ? src.inner : src.inner.substr(slash + 1);
      detail = " \"" + std::string(file) + "\"";
    }
  }
  return "[PICTURE" + detail + "]\n";
}

// The spacing rule for tags the tables do not name.
std::string_view spacing(std::string_view s, size_t open, size_t close, bool adjacent) {
  if (adjacent || open == 0 || close + 1 >= s.size()) return "";
  char before = s[open - 1];
  char after = s[close + 1];
  bool beforeOk = isAsciiAlnum(before) || before == '<' || before == '>' || before == '.' || before == ',' ||
                  before == '!';
  bool afterOk = isAsciiAlnum(after) || after == '<' || after == '>';
  return beforeOk && afterOk ? " " : "";
}

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

TranslateMatch fLineFeedTranslateMatcher::call(Text text, int32_t position, const TranslateEntry&) {
  std::string_view s = text.view();
  auto p = static_cast<size_t>(position);
  size_t end = p + 1;
  while (end < s.size() && (s[end] == '\n' || s[end] == '\r')) ++end;
  bool none = p == 0 || end == s.size() || s[p - 1] == '>' || s[end] == '<';
  return replaced(position, static_cast<int32_t>(end - p), none ? "" : " ");
}

TranslateMatch fMergeMultipleSpacesTranslateMatcher::call(Text text, int32_t position, const TranslateEntry&) {
  std::string_view s = text.view();
  // A lone space would be replaced by itself: only runs and tabs match, so
  // ordinary prose costs the engine no match per word.
  for (size_t p = s.find_first_of(" \t", static_cast<size_t>(position)); p != std::string_view::npos;
       p = s.find_first_of(" \t", p + 1)) {
    size_t end = s.find_first_not_of(" \t", p);
    if (end == std::string_view::npos) end = s.size();
    if (end - p == 1 && s[p] == ' ') continue;
    return replaced(static_cast<int32_t>(p), static_cast<int32_t>(end - p), " ");
  }
  return {};
}

TranslateMatch fHtmlTranslateMatcher::call(Text text, int32_t position, const TranslateEntry& entry) {
  auto& state = *static_cast<HtmlTextState*>(const_cast<void*>(entry.word6));
  std::string_view s = text.view();
  auto open = static_cast<size_t>(position);
  if (state.noCloseFrom >= 0 && position >= state.noCloseFrom) return {};
  size_t close = s.find('>', open + 1);
  if (close == std::string_view::npos) {
    state.noCloseFrom = position;
    return {};
  }
  size_t i = open + 1;
  while (i < close && isTagSpace(s[i])) ++i;
  bool closing = i < close && s[i] == '/';
  if (closing) {
    ++i;
    while (i < close && isTagSpace(s[i])) ++i;
  }
  size_t nameStart = i;
  while (i < close && isAsciiLetter(s[i])) ++i;
  std::string_view name = s.substr(nameStart, i - nameStart);
  bool heading = equalsNoCase(name, "h") && i < close && s[i] >= '1' && s[i] <= '6';
  bool adjacent = state.lastTagEnd >= 0 && open == static_cast<size_t>(state.lastTagEnd) + 1;
  bool styles = state.useStyles;
  auto is = [&](std::string_view n) { return equalsNoCase(name, n); };

  std::string out;
  TagKind kind;
  if (!closing) {
    if (is("br")) {
      out = "\n", kind = TagKind::kBr;
    } else if (is("hr")) {
      out = "\n" + std::string(38, '-') + "\n", kind = TagKind::kHr;
    } else if (is("p") || heading) {
      out = state.lastTag == TagKind::kEndUl || open == 0 ? "" : "\n", kind = TagKind::kP;
    } else if (is("b") || is("strong")) {
      out = styles ? "\x1b" "b" : "*", kind = TagKind::kB;
    } else if (styles && (is("i") || is("em"))) {
      out = "\x1b" "i", kind = TagKind::kI;
    } else if (styles && is("u")) {
      out = "\x1b" "u", kind = TagKind::kU;
    } else if (is("li")) {
      out = "* ", kind = TagKind::kLi;
    } else if (is("ul")) {
      out = "\n", kind = TagKind::kUl;
    } else if (is("a")) {
      out = styles ? "\x1b" "u" "\x1b" "5" : "", kind = TagKind::kA;
    } else if (is("img")) {
      out = pictureText(s, i, close), kind = TagKind::kImg;
    } else {
      out = spacing(s, open, close, adjacent), kind = TagKind::kOtherOpening;
    }
  } else {
    if (is("p") || heading) {
      out = "\n", kind = TagKind::kEndP;
    } else if (is("b") || is("strong")) {
      out = styles ? "\x1b" "n" : "*", kind = TagKind::kEndB;
    } else if (styles && (is("i") || is("em"))) {
      out = "\x1b" "n", kind = TagKind::kEndI;
    } else if (styles && is("u")) {
      out = "\x1b" "n", kind = TagKind::kEndU;
    } else if (is("li")) {
      out = "\n", kind = TagKind::kEndLi;
    } else if (is("ul")) {
      out = "\n", kind = TagKind::kEndUl;
    } else if (is("a")) {
      out = styles ? "\x1b" "n" "\x1b" "2" : "", kind = TagKind::kEndA;
    } else {
      out = spacing(s, open, close, adjacent), kind = TagKind::kOtherClosing;
    }
  }
  state.lastTag = kind;
  state.lastTagEnd = static_cast<int32_t>(close);
  return replaced(position, static_cast<int32_t>(close - open + 1), out);
}

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
  Matchers& m = matchers();
  HtmlTextState state;
  state.useStyles = useStyles;
  std::array<TranslateEntry, 4> table{};
  table[0].matcher = &m.html;
  table[0].matchText = "<";
  table[0].word6 = &state;
  table[1].matcher = &m.lineFeed;
  table[1].matchText = "\n";
  table[2].matcher = &m.spaces;
  Str result = dynamicTranslateStr(text, table.data(), 0, false, 0);
  tabsToSpaces(result);
  trimDisplayText(result, utf8);
  return result;
}

Str prepareTextForDisplay(Str&& text, int32_t format, bool useStyles, bool utf8) {
  if (text.isNil()) return Str();
  if (format == kFormatDetect) format = looksLikeHtml(text) ? kFormatHTML : kFormatPlainText;
  if (format == kFormatPlainText) {
    Str tidied = std::move(text);
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

bool looksLikeHtml(Text text) {
  enum { kOutside, kInTag, kInQuotes } state = kOutside;
  int64_t openings = 0, closings = 0, slashes = 0, oddities = 0;
  for (char c : text.nulView()) {
    if (c == '<') {
      if (state == kOutside) {
        ++openings;
      } else {
        ++oddities;
      }
      state = kInTag;
    } else if (c == '>') {
      if (state == kInTag) {
        ++closings;
      } else {
        ++oddities;
      }
      state = kOutside;
    } else if (c == '"' || c == '\'') {
      if (state == kInTag) {
        state = kInQuotes;
      } else if (state == kInQuotes) {
        state = kInTag;
      }
    } else if (c == '/' && state == kInTag) {
      ++slashes;
    }
  }
  if (openings == 0 || closings == 0) return false;
  if (openings * 9 / 10 > closings || openings * 11 / 10 < closings) return false;
  if (slashes * 9 / 10 > openings) return false;
  return oddities * 4 <= openings;
}

void initNewsTextModule() {
  if (!gMatchers) gMatchers = std::make_unique<Matchers>();
}

void endNewsTextModule() { gMatchers.reset(); }

}  // namespace bw
