// news/news_filter.cpp - newsFeed.setFilter and matchNewsItemFilter.
#include "news/news_filter.h"

#include <locale.h>
#include <wctype.h>

#include <string>
#include <string_view>

#include "core/charset.h"
#include "core/string_procs.h"
#include "core/utf8.h"
#include "news/html_text.h"

namespace bw {
namespace {

char lowerByte(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

// The system's Unicode case tables, whatever the process's own locale; 0
// when the system has no UTF-8 locale (then only A-Z fold).
locale_t unicodeLocale() {
  static const locale_t loaded = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    return l ? l : newlocale(LC_CTYPE_MASK, "en_US.UTF-8", locale_t(0));
  }();
  return loaded;
}

bool startsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
  if (text.size() < lowerPrefix.size()) return false;
  for (size_t i = 0; i < lowerPrefix.size(); ++i) {
    if (lowerByte(text[i]) != lowerPrefix[i]) return false;
  }
  return true;
}

bool isWordEdge(char c) { return filterCharClass(static_cast<uint8_t>(c)) >= 4; }

// The leftmost occurrence of the term's pattern in title whose edges hold.
bool titleTermMatches(std::string_view title, std::string_view term) {
  bool leadingAny = term.front() == '_';
  if (leadingAny) term.remove_prefix(1);
  bool trailingAny = !term.empty() && term.back() == '_';
  if (trailingAny) term.remove_suffix(1);
  if (term.empty()) return false;
  for (size_t at = title.find(term); at != std::string_view::npos; at = title.find(term, at + 1)) {
    size_t end = at + term.size();
    bool left = leadingAny || at == 0 || isWordEdge(title[at - 1]);
    bool right = trailingAny || end == title.size() || isWordEdge(title[end]);
    if (left && right) return true;
  }
  return false;
}

// Lower-cases a text of the item once, when a term first needs it, into a
// buffer kept for the next call (the filter runs once per listed item). The
// title is matched as the lists show it (shownBy its feed): a stored title
// that holds an escape, a CDATA section or markup is read through the
// feed's format first, so "AT&T" finds "AT&amp;T".
class LazyLower {
 public:
  LazyLower(const Str& text, std::string& buffer, newsItem* shownBy = nullptr, newsFeed* feed = nullptr)
      : text_(text), buffer_(buffer), item_(shownBy), feed_(feed) {}
  std::string_view get() {
    if (!done_) {
      const bool read = item_ && feed_->docFormat && text_.view().find_first_of("&<") != std::string_view::npos;
      buffer_ = foldCaseUtf8(read ? shown().view() : text_.view());
      done_ = true;
    }
    return buffer_;
  }

 private:
  Str shown() const {
    return feedTextForDisplay(*feed_->docFormat, &sharedUtf8Encoding(), text_, item_->titleFormat, false);
  }
  const Str& text_;
  std::string& buffer_;
  newsItem* item_;
  newsFeed* feed_;
  bool done_ = false;
};

}  // namespace

std::string foldCaseUtf8(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  const locale_t unicode = unicodeLocale();
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t at = 0; at < length;) {
    const auto byte = static_cast<unsigned char>(text[static_cast<size_t>(at)]);
    if (byte < 0x80 || !unicode) {
      folded += lowerByte(static_cast<char>(byte));
      ++at;
      continue;
    }
    const DecodedChara chara = convertUTF8charaToUnicode(text.data(), at, length, -1);
    if (chara.codePoint < 0) {  // not UTF-8: the byte stays, the next is looked at afresh
      folded += static_cast<char>(byte);
      ++at;
      continue;
    }
    const wint_t lower = towlower_l(static_cast<wint_t>(chara.codePoint), unicode);
    if (lower == WEOF || static_cast<int32_t>(lower) == chara.codePoint) {
      folded.append(text.substr(static_cast<size_t>(at), static_cast<size_t>(chara.size)));  // as it stood
    } else {
      char encoded[4];
      folded.append(encoded, static_cast<size_t>(convertUnicodeCharaToUTF8(static_cast<int32_t>(lower), encoded)));
    }
    at += chara.size;
  }
  return folded;
}

void newsFeed::setFilter(Text text) {
  filter = Str();
  filterTerms.clear();
  if (text.isNil() || text.length() == 0) return;
  filter = Str(text.view());
  filterTerms = splitString(filter, ",").chain;
}

bool matchNewsItemFilter(cJournaledIndexedObjectSoupDatabase& db, newsRoot* root, newsItem& item, newsFeed& feed) {
  if (item.infoIsDuplicate()) {
    DuplicateEnds ends = item.infoOldestDuplicateItemIndex(db);
    bool byNewest = feed.type.view().substr(0, 8) == "Facebook";
    if ((byNewest ? ends.newest : ends.oldest) != item.infoSoupIndex()) return true;
  }
  bool searching = root && !root->searchTerms.empty();
  const StrChain& terms = searching ? root->searchTerms : feed.filterTerms;
  if (terms.empty()) return false;
  bool result = terms.front() == "~";
  bool invert = false;
  if (searching && !terms.front().empty()) {
    result = !result;
    invert = true;
  }

  thread_local std::string titleBuffer, linkBuffer, tagsBuffer;
  LazyLower title(item.title, titleBuffer, &item, &feed), link(item.link, linkBuffer), tags(item.tags, tagsBuffer);
  for (const Str& term : terms) {
    std::string_view t = term.view();
    bool matched = false;
    if (t == "~") {
      invert = !invert;
    } else if (startsWithNoCase(t, "url:")) {
      matched = !item.link.isNil() && link.get().find(t.substr(4)) != std::string_view::npos;
    } else if (startsWithNoCase(t, "tag:")) {
      matched = !item.tags.isNil() &&
                ("," + std::string(tags.get()) + ",").find("," + std::string(t.substr(4)) + ",") != std::string::npos;
    } else if (!t.empty() && !item.title.isNil()) {
      matched = titleTermMatches(title.get(), t);
    }
    if (matched) result = !invert;
  }
  return result;
}

}  // namespace bw
