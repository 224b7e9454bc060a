// news/rss_date.cpp - parseRssDate and normaliseFeedURL.
#include "news/rss_date.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "core/ascii_case.h"
#include "core/string_procs.h"

namespace bw {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

struct ZoneName {
  std::string_view name;
  int32_t hours;
};
// The first zone list, then the second.
constexpr std::array<ZoneName, 11> kZones = {{{"UT", 0},
                                              {"GMT", 0},
                                              {"EST", -5},
                                              {"EDT", -4},
                                              {"CST", -6},
                                              {"CDT", -5},
                                              {"MST", -7},
                                              {"MDT", -6},
                                              {"PST", -8},
                                              {"PDT", -7},
                                              {"UTC", 0}}};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The date text with reads past its end answering NUL.
class DateText {
 public:
  explicit DateText(std::string_view s) : s_(s) {}
  char at(size_t i) const { return i < s_.size() ? s_[i] : '\0'; }
  size_t size() const { return s_.size(); }
  bool atEnd(size_t i) const { return i >= s_.size(); }
  bool space(size_t i) const { return !atEnd(i) && isWhiteSpace(static_cast<unsigned char>(at(i))); }
  size_t skipSpace(size_t i) const {
    while (space(i)) ++i;
    return i;
  }
  bool equalsNoCase(size_t i, std::string_view word) const {
    for (size_t k = 0; k < word.size(); ++k) {
      if (foldAscii(at(i + k)) != foldAscii(word[k])) return false;
    }
    return true;
  }
  // The runtime's number reader at i: -1 (no digits) or the value, and where
  // reading stopped.
  struct Number {
    int64_t value;
    size_t end;
  };
  Number number(size_t i) const {
    if (i > s_.size()) return {-1, i};
    RuntimeNumber n = readRuntimeNumber(s_, i, false);
    return {n.digits ? n.value : -1, n.end};
  }

 private:
  std::string_view s_;
};

constexpr bigTime kInvalid = kDateInvalid;

}  // namespace

bigTime parseRssDate(Text text, int32_t length) {
  if (text.isNil()) return kDateUnset;
  std::string_view whole = text.view();
  size_t n = length > 0 ? static_cast<size_t>(length) : static_cast<size_t>(text.nulLength());
  if (n > whole.size()) n = whole.size();
  DateText t(whole.substr(0, n));
  if (t.size() < 5) return kInvalid;

  // Day: right at the start (after a CDATA marker and white space) when the
  // text begins with a digit, else the first digit from index 4 on.
  constexpr std::string_view kCdata = "<![CDATA[";
  const bool cdata = t.size() >= kCdata.size() && whole.substr(0, kCdata.size()) == kCdata;
  size_t pos = t.skipSpace(cdata ? kCdata.size() : 0);
  if (!isDigit(t.at(pos))) {
    pos = cdata ? 13 : 4;
    while (!t.atEnd(pos) && !isDigit(t.at(pos))) ++pos;
    if (t.atEnd(pos)) return kInvalid;
  }
  DateText::Number day = t.number(pos);
  if (day.value < 1 || day.value > 31 || t.at(day.end) != ' ') return kInvalid;
  const size_t daySpace = day.end;

  const size_t monthAt = t.skipSpace(daySpace + 1);
  int32_t month = 0;
  for (size_t m = 0; m < kMonths.size() && month == 0; ++m) {
    if (t.equalsNoCase(monthAt, kMonths[m])) month = static_cast<int32_t>(m + 1);
  }
  if (month == 0) return kInvalid;

  // Year: after the next space from the fourth character after the day's
  // space (so a full month name is passed over).
  pos = daySpace + 4;
  while (!t.atEnd(pos) && t.at(pos) != ' ') ++pos;
  if (t.atEnd(pos)) return kInvalid;
  DateText::Number yearRead = t.number(pos + 1);
  if (yearRead.value < 0 || t.at(yearRead.end) != ' ') return kInvalid;
  int64_t year = yearRead.value;
  if (year <= 99) {
    year += year < 50 ? 2000 : 1900;
  } else if (year < 1900 || year > 9999) {
    return kInvalid;
  }

  // Hour, passing over a numeric year/month/day written before the time.
  DateText::Number hour = t.number(yearRead.end + 1);
  if (t.at(hour.end) == '/') {
    pos = hour.end + 1;
    while (!t.atEnd(pos) && t.at(pos) != '/') ++pos;
    pos = t.atEnd(pos) ? hour.end : pos + 1;
    while (isDigit(t.at(pos))) ++pos;
    hour = t.number(pos);
  }
  if (hour.value < 0 || hour.value > 23 || t.at(hour.end) != ':') return kInvalid;
  DateText::Number minute = t.number(hour.end + 1);
  if (minute.value < 0 || minute.value > 59) return kInvalid;
  int64_t second = 0;
  if (t.at(minute.end) == ':') {
    DateText::Number s = t.number(minute.end + 1);
    if (s.value < 0 || s.value > 59) return kInvalid;
    second = s.value;
    pos = s.end;
  } else {
    pos = minute.end + 1;
  }

  pos = t.skipSpace(pos);
  int64_t h = hour.value;
  if (t.at(pos) == 'A' && t.at(pos + 1) == 'M') {
    if (h == 12) h = 0;
    pos += 2;
  } else if (t.at(pos) == 'P' && t.at(pos + 1) == 'M') {
    if (h < 12) h += 12;
    pos += 2;
  }

  int64_t offsetSeconds = 0;
  const char sign = t.at(pos);
  if ((sign == '+' || sign == '-') && isDigit(t.at(pos + 1)) && isDigit(t.at(pos + 2)) && isDigit(t.at(pos + 3)) &&
      isDigit(t.at(pos + 4))) {
    int64_t hh = (t.at(pos + 1) - '0') * 10 + (t.at(pos + 2) - '0');
    int64_t mm = (t.at(pos + 3) - '0') * 10 + (t.at(pos + 4) - '0');
    offsetSeconds = (hh * 60 + mm) * 60 * (sign == '-' ? -1 : 1);
    pos += 5;
  } else {
    pos = t.skipSpace(pos);
    const char c = foldAscii(t.at(pos));
    const bool letter = c >= 'a' && c <= 'z';
    if (letter && (t.atEnd(pos + 1) || t.space(pos + 1))) {
      if (c >= 'a' && c <= 'i') {
        offsetSeconds = -(c - 'a' + 1) * 3600;
        ++pos;
      } else if (c >= 'k' && c <= 'm') {
        offsetSeconds = -(c - 'k' + 10) * 3600;
        ++pos;
      } else if (c >= 'n' && c <= 'y') {
        offsetSeconds = (c - 'n' + 1) * 3600;
        ++pos;
      } else if (c == 'z') {
        ++pos;
      }
    } else if (!t.atEnd(pos)) {
      for (const ZoneName& z : kZones) {
        size_t after = pos + z.name.size();
        if (t.equalsNoCase(pos, z.name) && (t.atEnd(after) || t.space(after) || (cdata && t.at(after) == ']'))) {
          offsetSeconds = z.hours * 3600;
          pos = after;
          break;
        }
      }
    }
  }

  if (!t.atEnd(pos) && !t.space(pos) && !(cdata && t.at(pos) == ']' && t.at(pos + 1) == ']')) return kInvalid;
  return pTime::DateTimeToBigTime(static_cast<int32_t>(year), month, static_cast<int32_t>(day.value),
                                  static_cast<int32_t>(h), static_cast<int32_t>(minute.value),
                                  static_cast<int32_t>(second)) -
         offsetSeconds;
}

Str& normaliseFeedURL(Str& url) {
  if (url.isNil()) return url;
  std::string s(url.view());
  if (s.starts_with("https:")) s.erase(4, 1);
  size_t port = s.find(":80/");
  if (port != std::string::npos) s.erase(port, 3);
  if (s.size() != static_cast<size_t>(url.length())) url.assign(s);
  return url;
}

}  // namespace bw
