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

// Zone names beyond the RFC 822 ones, as feeds write them, in minutes east.
struct ZoneMinutes {
  std::string_view name;
  int32_t minutes;
};
constexpr ZoneMinutes kMoreZones[] = {
    {"UT", 0},       {"GMT", 0},      {"UTC", 0},     {"Z", 0},        {"EST", -300},  {"EDT", -240},
    {"CST", -360},   {"CDT", -300},   {"MST", -420},  {"MDT", -360},   {"PST", -480},  {"PDT", -420},
    {"AKST", -540},  {"AKDT", -480},  {"HST", -600},  {"AST", -240},   {"ADT", -180},  {"NST", -210},
    {"NDT", -150},   {"WET", 0},      {"WEST", 60},   {"BST", 60},     {"IST", 330},   {"CET", 60},
    {"CEST", 120},   {"MET", 60},     {"MEST", 120},  {"EET", 120},    {"EEST", 180},  {"MSK", 180},
    {"JST", 540},    {"KST", 540},    {"HKT", 480},   {"SGT", 480},    {"AWST", 480},  {"ACST", 570},
    {"ACDT", 630},   {"AEST", 600},   {"AEDT", 660},  {"NZST", 720},   {"NZDT", 780},  {"BRT", -180},
    {"ART", -180},   {"WIB", 420},    {"ICT", 420},   {"PHT", 480},    {"SAST", 120},  {"CAT", 120},
    {"EAT", 180},    {"WAT", 60}};

constexpr std::string_view kWeekdays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};

bool isLetter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// A run of digits at i: its value (held from overflowing) and its end.
struct Run {
  int64_t value = -1;
  size_t end = 0;
  size_t digits = 0;
};
Run digitsAt(std::string_view s, size_t i) {
  Run r{0, i, 0};
  while (r.end < s.size() && isDigit(s[r.end])) {
    if (r.value < 100000000) r.value = r.value * 10 + (s[r.end] - '0');
    ++r.end;
    ++r.digits;
  }
  if (r.digits == 0) r.value = -1;
  return r;
}

// A zone offset at the sign s[i]: "+05:30", "+0530", "+05", "-8"; minutes
// east, or no digits.
struct Offset {
  bool found = false;
  int32_t minutes = 0;
  size_t end = 0;
};
Offset offsetAt(std::string_view s, size_t i) {
  if (i >= s.size() || (s[i] != '+' && s[i] != '-')) return {};
  const int32_t sign = s[i] == '-' ? -1 : 1;
  Run h = digitsAt(s, i + 1);
  if (h.digits == 0 || h.digits == 3 || h.digits > 4) return {};
  int64_t hours = h.value, minutes = 0;
  size_t end = h.end;
  if (h.digits == 4) {
    hours = h.value / 100, minutes = h.value % 100;
  } else if (end < s.size() && s[end] == ':') {
    Run m = digitsAt(s, end + 1);
    if (m.digits != 2) return {};
    minutes = m.value, end = m.end;
  }
  if (hours > 14 || minutes > 59) return {};
  return {true, static_cast<int32_t>(sign * (hours * 60 + minutes)), end};
}

// The forms the RFC 822 reading refuses, read by their parts in any order:
// an ISO 8601 date ("2006-01-11 16:42:55 -0800", "2023-01-03T15:00:00Z"),
// the month before the day ("Sat, Dec 16 2023 02:02:33 PM"), zones written
// "+05:30", "GMT+2" or by a common name, "am" and "pm" in either case.
// Every word must be known, so prose is no date.
bigTime dateByParts(std::string_view s) {
  int64_t year = -1, month = -1, day = -1, hour = -1, minute = 0, second = 0;
  int32_t zone = 0;
  bool haveZone = false, pm = false, am = false;
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '(') {  // "(PST)", "(Pacific Standard Time)": a comment
      const size_t close = s.find(')', i);
      if (close == std::string_view::npos) return kInvalid;
      i = close + 1;
    } else if (isDigit(c)) {
      Run r = digitsAt(s, i);
      if (r.digits == 4 && r.end < s.size() && (s[r.end] == '-' || s[r.end] == '/') && year < 0) {
        const char dash = s[r.end];
        Run m = digitsAt(s, r.end + 1);
        if (m.digits < 1 || m.digits > 2 || m.end >= s.size() || s[m.end] != dash) return kInvalid;
        Run d = digitsAt(s, m.end + 1);
        if (d.digits < 1 || d.digits > 2) return kInvalid;
        year = r.value, month = m.value, day = d.value;
        i = d.end;
        if (i < s.size() && (s[i] == 'T' || s[i] == 't')) ++i;
      } else if (r.end < s.size() && s[r.end] == ':') {
        if (hour >= 0) return kInvalid;
        Run m = digitsAt(s, r.end + 1);
        if (m.digits != 2) return kInvalid;
        hour = r.value, minute = m.value, i = m.end;
        if (i < s.size() && s[i] == ':') {
          Run sec = digitsAt(s, i + 1);
          if (sec.digits != 2) return kInvalid;
          second = sec.value, i = sec.end;
          if (i + 1 < s.size() && (s[i] == '.' || s[i] == ',') && isDigit(s[i + 1])) i = digitsAt(s, i + 1).end;
        }
      } else {
        if (r.digits == 4 && year < 0) {
          year = r.value;
        } else if (r.digits <= 2 && day < 0 && r.value >= 1) {
          day = r.value;
        } else if (r.digits == 2 && year < 0) {
          year = r.value < 50 ? 2000 + r.value : 1900 + r.value;
        } else {
          return kInvalid;
        }
        i = r.end;
        if (i < s.size() && isLetter(s[i])) {  // "16th", "1st"
          size_t w = i;
          while (w < s.size() && isLetter(s[w])) ++w;
          std::string_view suffix = s.substr(i, w - i);
          if (!(bw::equalsNoCase(suffix, "st") || bw::equalsNoCase(suffix, "nd") || bw::equalsNoCase(suffix, "rd") ||
                bw::equalsNoCase(suffix, "th")))
            return kInvalid;
          i = w;
        }
      }
    } else if (c == '+' || (c == '-' && hour >= 0)) {
      Offset o = offsetAt(s, i);
      if (!o.found || (haveZone && zone != 0)) return kInvalid;
      zone += o.minutes, haveZone = true, i = o.end;
    } else if (isLetter(c)) {
      size_t w = i;
      while (w < s.size() && isLetter(s[w])) ++w;
      const std::string_view word = s.substr(i, w - i);
      i = w;
      bool known = false;
      for (size_t m = 0; m < kMonths.size() && !known; ++m) {
        if (word.size() >= 3 && bw::equalsNoCase(word.substr(0, 3), kMonths[m]) && month < 0) {
          month = static_cast<int64_t>(m + 1);
          known = true;
        }
      }
      for (std::string_view d : kWeekdays) {
        if (!known && word.size() >= 3 && bw::equalsNoCase(word.substr(0, 3), d)) known = true;
      }
      if (!known && (bw::equalsNoCase(word, "am") || bw::equalsNoCase(word, "pm"))) {
        ((word[0] | 0x20) == 'p' ? pm : am) = true;
        known = true;
        if (i + 1 < s.size() && s[i] == '.') ++i;
      }
      if (!known && (bw::equalsNoCase(word, "a") || bw::equalsNoCase(word, "p")) && s.substr(i).starts_with(".m.")) {
        ((word[0] | 0x20) == 'p' ? pm : am) = true;
        known = true;
        i += 3;
      }
      if (!known && bw::equalsNoCase(word, "at")) known = true;
      for (const ZoneMinutes& z : kMoreZones) {
        if (known || !bw::equalsNoCase(word, z.name)) continue;
        if (haveZone) return kInvalid;
        zone = z.minutes, haveZone = true, known = true;
        // "GMT+2", "UTC-05:00": an offset from the named zone.
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
          Offset o = offsetAt(s, i);
          if (!o.found) return kInvalid;
          zone += o.minutes, i = o.end;
        }
      }
      if (!known) return kInvalid;
    } else if (c == ' ' || c == ',' || c == '\t' || c == '\n' || c == '\r' || c == '.' || c == '-' || c == '/') {
      ++i;
    } else {
      return kInvalid;
    }
  }
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > 31) return kInvalid;
  if (hour < 0) hour = 0;
  if (pm && hour < 12) hour += 12;
  if (am && hour == 12) hour = 0;
  if (hour > 23 || minute > 59 || second > 59 || year < 1900 || year > 9999) return kInvalid;
  return pTime::DateTimeToBigTime(static_cast<int32_t>(year), static_cast<int32_t>(month), static_cast<int32_t>(day),
                                  static_cast<int32_t>(hour), static_cast<int32_t>(minute),
                                  static_cast<int32_t>(second)) -
         static_cast<bigTime>(zone) * 60;
}

// The RFC 822 reading, lenient as feeds need it.
bigTime rfc822Date(std::string_view whole, DateText t) {
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

}  // namespace

bigTime parseRssDate(Text text, int32_t length) {
  if (text.isNil()) return kDateUnset;
  std::string_view whole = text.view();
  size_t n = length > 0 ? static_cast<size_t>(length) : static_cast<size_t>(text.nulLength());
  if (n > whole.size()) n = whole.size();
  whole = whole.substr(0, n);
  const bigTime strict = rfc822Date(whole, DateText(whole));
  if (strict != kInvalid) return strict;
  return dateByParts(dateTextAsWritten(whole));
}

bigTime parseFeedDate(const Str& text) {
  if (text.isNil()) return kDateUnset;
  // An ISO 8601 date begins with its year; an RFC 822 one mostly with its
  // weekday, which the ISO reading need not look at.
  const std::string_view written = dateTextAsWritten(text.view());
  if (!written.empty() && isDigit(written.front())) {
    const bigTime iso =
        pTime::parseDateTimeISO8601(Text(written), kDateInvalid, static_cast<int32_t>(written.size()), 1, 0);
    if (iso != kDateInvalid) return iso;
  }
  return parseRssDate(text, 0);
}

std::string_view dateTextAsWritten(std::string_view text) {
  std::string_view inner = trimmedBlanks(text);
  if (!inner.starts_with("<![CDATA[")) return inner;
  inner.remove_prefix(9);
  if (inner.ends_with("]]>")) inner.remove_suffix(3);
  return trimmedBlanks(inner);
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
