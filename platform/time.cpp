// platform/time.cpp - pTime: clock, time-zone offset, calendar, date stamps
// and the display text.
#include "platform/time.h"

#include <cstdio>

#include "core/exception.h"
#include "platform/amiga_dos.h"
#include "platform/clock.h"
#include "platform/dos_env.h"

namespace bw::pTime {
namespace {

constexpr const char* kWeekdayNames[7] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

int64_t floorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

struct Split {
  int64_t days;
  int64_t seconds;  // 0..86399
};

Split split(bigTime t) {
  int64_t days = floorDiv(t, 86400);
  return {days, t - days * 86400};
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a decimal number at pos (blanks and a sign first). Sets `ok` when a
// digit was read and leaves pos after it.
int64_t readNumber(std::string_view s, size_t& pos, bool& ok, bool& negative) {
  size_t i = pos;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  int64_t v = 0;
  size_t digits = i;
  while (i < s.size() && isDigit(s[i])) {
    if (v < 100000000) v = v * 10 + (s[i] - '0');
    ++i;
  }
  ok = i > digits;
  if (ok) pos = i;
  return negative ? -v : v;
}

// The hours and optional ":minutes" of a TZONE offset at pos, in seconds.
bool readZoneOffset(std::string_view s, size_t& pos, int64_t& offset) {
  bool ok = false, negative = false;
  int64_t hours = readNumber(s, pos, ok, negative);
  if (!ok) return false;
  offset = hours * 3600;
  if (pos < s.size() && s[pos] == ':') {
    size_t p = pos + 1;
    bool mok = false, mneg = false;
    int64_t minutes = readNumber(s, p, mok, mneg);
    if (mok) {
      offset += (negative ? -minutes : minutes) * 60;
      pos = p;
    }
  }
  return true;
}

void skipToNumber(std::string_view s, size_t& pos) {
  while (pos < s.size() && !isDigit(s[pos]) && s[pos] != '-') ++pos;
}

}  // namespace

int64_t parseTimeZoneOffset(Text value, bool summerTime) {
  std::string_view s = value.nulView();
  if (value.isNil() || s.size() < 3) return 0;
  size_t pos = 3;
  skipToNumber(s, pos);
  if (pos >= s.size()) return 0;
  int64_t standard = 0;
  if (!readZoneOffset(s, pos, standard)) return 0;
  if (pos >= s.size()) return standard;
  pos = std::min(pos + 3, s.size());
  skipToNumber(s, pos);
  int64_t summer = 0;
  if (pos >= s.size() || !readZoneOffset(s, pos, summer)) summer = standard - 3600;
  // A summer-time name only says the zone has summer time; whether it is in
  // force now is the clock's to say.
  return summerTime ? summer : standard;
}

int64_t readTimeZoneOffset() {
  ClockReading now = readClock();
  Str zone = strGetVar("TZONE", dos::kGlobalOnly);
  if (zone.isNil()) return -now.gmtOffset;
  return parseTimeZoneOffset(zone, now.dst);
}

bigTime CurrentTime(int32_t form) {
  if (!timerDeviceOpen()) raise("DEV", "pTime; CurrentTime(); unable to open the timer.device");
  ClockReading now = readClock();
  bigTime local = now.utcSeconds + now.gmtOffset + kUnixEpoch;
  if (form == 1) {
    Str zone = strGetVar("TZONE", dos::kGlobalOnly);
    local += zone.isNil() ? -now.gmtOffset : parseTimeZoneOffset(zone, now.dst);
  }
  return local;
}

CalendarDate dayNumberToDate(dayNumber dn) {
  int64_t g = static_cast<int64_t>(dn) + 693899;
  int64_t y = (10000 * g + 14775) / 3652425;
  int64_t r = g - (365 * y + y / 4 - y / 100 + y / 400);
  if (r < 0) {
    --y;
    r = g - (365 * y + y / 4 - y / 100 + y / 400);
  }
  int64_t mi = (10 * r + 4) / 306;
  int64_t month = (mi + 2) % 12 + 1;
  if (month < 3) ++y;
  int64_t day = r - (306 * mi + 5) / 10 + 1;
  return {static_cast<int32_t>(y), static_cast<int32_t>(month), static_cast<int32_t>(day)};
}

int32_t daysInMonth(int32_t month, int32_t year) {
  switch (month) {
    case 1: case 3: case 5: case 7: case 8: case 10: case 12: return 31;
    case 4: case 6: case 9: case 11: return 30;
    case 2: return ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0) ? 29 : 28;
    default: return 0;
  }
}

CalendarDate bigTimeToDate(bigTime time) {
  return dayNumberToDate(static_cast<dayNumber>(split(time).days + 36526));
}

DayTime secondsToDayTime(bigTime time) {
  int64_t s = split(time).seconds;
  return {static_cast<int32_t>(s / 3600), static_cast<int32_t>((s / 60) % 60), static_cast<int32_t>(s % 60)};
}

int32_t weekdayOfBigTime(bigTime time) {
  int64_t w = (split(time).days + 36526 + 5) % 7;
  if (w < 0) w += 7;
  return static_cast<int32_t>(w + 1);
}

DateStamp secondsToDateStamp(bigTime time) {
  Split s = split(time);
  return {static_cast<int32_t>(s.days + 8035), static_cast<int32_t>(s.seconds / 60),
          static_cast<int32_t>((s.seconds % 60) * 50)};
}

bigTime dateStampToSeconds(const DateStamp& stamp) {
  return (static_cast<int64_t>(stamp.days) - 8035) * 86400 + static_cast<int64_t>(stamp.minute) * 60 +
         stamp.tick / 50;
}

const char* weekdayName(int32_t weekday) {
  return weekday >= 1 && weekday <= 7 ? kWeekdayNames[weekday - 1] : nullptr;
}

Str& formatBigTime(Str& target, bigTime time, bool withTime, bool withSeconds) {
  CalendarDate d = bigTimeToDate(time);
  DayTime t = secondsToDayTime(time);
  char buf[96];
  long y = d.year, mo = d.month, da = d.day, h = t.hour, mi = t.minute, s = t.second;
  if (!withTime)
    std::snprintf(buf, sizeof buf, "%4.4ld-%2.2ld-%2.2ld", y, mo, da);
  else if (!withSeconds)
    std::snprintf(buf, sizeof buf, "%4.4ld-%2.2ld-%2.2ld %2.2ld:%2.2ld", y, mo, da, h, mi);
  else
    std::snprintf(buf, sizeof buf, "%4.4ld-%2.2ld-%2.2ld %2.2ld:%2.2ld:%2.2ld", y, mo, da, h, mi, s);
  target.assign(buf);
  return target;
}

}  // namespace bw::pTime
