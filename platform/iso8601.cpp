// platform/iso8601.cpp - pTime.parseDateTimeISO8601: the date-times of
// feeds and web services (RFC 3339 and its looser Atom forms).
//
// Fixed layout, positions from start:
//   0 year  4 "-"  5 month  7 "-"  8 day  10 "T"  11 hour  13 ":"  14 minute
//   16 ":"  17 second  19 [.fraction] then the zone.
#include "platform/time.h"

namespace bw::pTime {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number at pos of s (s ends at the text's end): blanks and
// a sign first. False when no digit follows. Large values saturate so that
// range checks refuse them.
bool numberAt(std::string_view s, size_t pos, int32_t& value, size_t* after = nullptr) {
  size_t i = pos;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  size_t first = i;
  int32_t v = 0;
  for (; i < s.size() && isDigit(s[i]); ++i)
    if (v < 100000000) v = v * 10 + (s[i] - '0');
  if (i == first) return false;
  value = negative ? -v : v;
  if (after) *after = i;
  return true;
}

// A field of `width` digits at pos followed by a non-digit, read directly;
// anything else (blanks, signs, more digits) goes through numberAt.
inline bool fieldAt(std::string_view s, size_t pos, size_t width, int32_t& value) {
  if (pos + width < s.size()) {
    int32_t v = 0;
    size_t i = 0;
    for (; i < width && isDigit(s[pos + i]); ++i) v = v * 10 + (s[pos + i] - '0');
    if (i == width && !isDigit(s[pos + width])) {
      value = v;
      return true;
    }
  }
  return numberAt(s, pos, value);
}

bool twoDigits(std::string_view s, size_t pos, int32_t& value) {
  if (pos + 2 > s.size() || !isDigit(s[pos]) || !isDigit(s[pos + 1])) return false;
  value = (s[pos] - '0') * 10 + (s[pos + 1] - '0');
  return true;
}

bool inRange(int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

}  // namespace

bigTime parseDateTimeISO8601(Text text, bigTime fallback, int32_t length, int32_t strictness,
                             int32_t start) {
  std::string_view all = text.view();
  if (text.isNil() || start < 0 || length < 0 || static_cast<size_t>(start) > all.size()) [[unlikely]] return fallback;
  std::string_view s = all.substr(static_cast<size_t>(start));
  if (length > 0 && static_cast<size_t>(length) < s.size()) s = s.substr(0, static_cast<size_t>(length));
  if (s.size() < 19) [[unlikely]] return fallback;

  if (s[4] != '-' || s[7] != '-' || s[13] != ':' || s[16] != ':') [[unlikely]] return fallback;
  char t = s[10];
  if (strictness == 2 ? t != 'T' : (t != 'T' && t != 't' && t != ' ')) [[unlikely]] return fallback;

  int32_t year, month, day, hour, minute, second;
  if (!fieldAt(s, 0, 4, year) || year < 1900) [[unlikely]] return fallback;
  if (!fieldAt(s, 5, 2, month) || !inRange(month, 1, 12)) [[unlikely]] return fallback;
  if (!fieldAt(s, 8, 2, day) || !inRange(day, 1, 31)) [[unlikely]] return fallback;
  if (!fieldAt(s, 11, 2, hour) || !inRange(hour, 0, 23)) [[unlikely]] return fallback;
  if (!fieldAt(s, 14, 2, minute) || !inRange(minute, 0, 59)) [[unlikely]] return fallback;
  if (!fieldAt(s, 17, 2, second) || !inRange(second, 0, 59)) [[unlikely]] return fallback;

  size_t p = 19;
  if (p < s.size() && s[p] == '.') {
    ++p;
    while (p < s.size() && isDigit(s[p])) ++p;
  }

  int64_t zoneMinutes = 0;
  if (p < s.size() && !(s[p] == 'Z' || (strictness != 2 && s[p] == 'z'))) {
    char sign = s[p];
    if (sign != '+' && sign != '-') [[unlikely]] return fallback;
    int32_t zh = 0, zm = 0;
    if (strictness == 1) {
      if (!numberAt(s, p, zh) || !inRange(zh, -12, 14)) [[unlikely]] return fallback;
      if (p + 3 >= s.size() || s[p + 3] != ':') [[unlikely]] return fallback;
      if (!numberAt(s, p + 4, zm) || !inRange(zm, 0, 59)) [[unlikely]] return fallback;
    } else {
      if (!twoDigits(s, p + 1, zh)) [[unlikely]] return fallback;
      if (sign == '-') zh = -zh;
      if (!inRange(zh, -12, 14)) [[unlikely]] return fallback;
      size_t m = p + 3;
      if (m < s.size() && s[m] == ':') ++m;
      if (!twoDigits(s, m, zm) || !inRange(zm, 0, 59)) [[unlikely]] return fallback;
    }
    // The minutes take the zone's sign, "-00:30" included.
    zoneMinutes = static_cast<int64_t>(zh) * 60 + (sign == '-' ? -zm : zm);
  }
  return DateTimeToBigTime(year, month, day, hour, minute, second) - zoneMinutes * 60;
}

}  // namespace bw::pTime
