// platform/time.h - pTime: the program's one representation of time and
// everything around it.
//
// A bigTime is a signed 64-bit count of whole seconds since 2000-01-01
// 00:00:00. Clock times are local (form 0 and 2 of CurrentTime); times read
// from ISO 8601 text and CurrentTime(1) are UTC. A dayNumber counts days
// with day 0 = 1899-12-30 (1900-01-01 is 2, 2000-01-01 is 36526) on the
// Gregorian calendar extended backwards. An AmigaDOS date stamp counts days
// since 1978-01-01, minutes of the day and ticks (50 a second).
//
// Invariants:
//   1. Hours since the bigTime epoch = dayNumber x 24 - 876624.
//   2. Splitting a bigTime into days and seconds of the day uses floor
//      division, so times before 2000 split like later ones.
//   3. The clock is computed in 64 bits: no year limit.
//   4. parseDateTimeISO8601 never reads outside [start, start + length) and
//      never raises; any text it refuses gives the fallback unchanged.
#pragma once

#include <cstdint>

#include "core/str.h"

namespace bw {

using bigTime = int64_t;
using dayNumber = int32_t;

struct CalendarDate {
  int32_t year = 0;
  int32_t month = 0;  // 1..12
  int32_t day = 0;    // 1..31
};

struct DayTime {
  int32_t hour = 0;    // 0..23
  int32_t minute = 0;  // 0..59
  int32_t second = 0;  // 0..59
};

struct DateStamp {
  int32_t days = 0;    // since 1978-01-01
  int32_t minute = 0;  // 0..1439
  int32_t tick = 0;    // 0..2999, 50 a second
  friend bool operator==(const DateStamp&, const DateStamp&) = default;
};

namespace pTime {

// bigTime of 1970-01-01 00:00:00 counted from 2000-01-01.
inline constexpr bigTime kUnixEpoch = -946684800;
// bigTime of date stamp day 0 (1978-01-01).
inline constexpr bigTime kDateStampEpoch = -694224000;

// The current time: form 1 gives UTC (the local clock plus
// readTimeZoneOffset), any other form the local clock. Raises "DEV" "pTime;
// CurrentTime(); unable to open the timer.device" while the clock is closed.
bigTime CurrentTime(int32_t form);

// The seconds that turn local time into UTC (added to local time). With
// "TZONE" set: its standard offset, or its summer offset while the clock
// says summer time is in force. Without it: -tm_gmtoff of now.
int64_t readTimeZoneOffset();
// The offset that a "TZONE" value gives, summer time in force or not.
int64_t parseTimeZoneOffset(Text value, bool summerTime);

// Calendar. No argument is range-checked: days, hours, minutes and seconds
// carry; a month outside 1..12 wraps within the same year.
inline bigTime DateTimeToBigTime(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                                 int32_t second);
CalendarDate bigTimeToDate(bigTime time);
DayTime secondsToDayTime(bigTime time);
int32_t weekdayOfBigTime(bigTime time);  // 1 = Monday .. 7 = Sunday
inline dayNumber dateToDayNumber(int32_t year, int32_t month, int32_t day);
CalendarDate dayNumberToDate(dayNumber day);
int32_t daysInMonth(int32_t month, int32_t year);  // 0 for a bad month
DateStamp secondsToDateStamp(bigTime time);
bigTime dateStampToSeconds(const DateStamp& stamp);

// "Mon" .. "Sun" for weekday 1..7; nullptr otherwise.
const char* weekdayName(int32_t weekday);

// Writes "YYYY-MM-DD", with withTime " HH:MM" and with withTime and
// withSeconds ":SS" into target, clipped at its capacity. Returns target.
Str& formatBigTime(Str& target, bigTime time, bool withTime, bool withSeconds);

// Reads an ISO 8601 date-time (YYYY-MM-DDTHH:MM:SS[.fraction][zone]) from
// text[start, start + length) (length 0: to the end of the text) and returns
// it in UTC, or fallback when the text is refused. Strictness 1 (Atom)
// allows "t" or " " for "T", "z" for "Z", and needs "hh:mm" zones;
// strictness 2 needs "T" and "Z" and takes "hh:mm" or "hhmm".
bigTime parseDateTimeISO8601(Text text, bigTime fallback, int32_t length, int32_t strictness,
                             int32_t start);

// Inline: the ISO 8601 reader and the file dates use them per item.
inline dayNumber dateToDayNumber(int32_t year, int32_t month, int32_t day) {
  // m = months since March (0..11), y = the year that March begins.
  int64_t m = month >= 3 && month <= 12 ? month - 3 : ((static_cast<int64_t>(month) + 9) % 12 + 12) % 12;
  int64_t y = year - m / 10;
  int64_t leapDays;
  if (y >= 0) {  // the usual case, in cheaper unsigned division
    uint64_t u = static_cast<uint64_t>(y);
    leapDays = static_cast<int64_t>(u / 4 - u / 100 + u / 400);
  } else {
    leapDays = y / 4 - y / 100 + y / 400;
  }
  return static_cast<dayNumber>(365 * y + leapDays + (306 * m + 5) / 10 + (day - 1) - 693899);
}

inline bigTime DateTimeToBigTime(int32_t year, int32_t month, int32_t day, int32_t hour, int32_t minute,
                                 int32_t second) {
  int64_t hours = static_cast<int64_t>(dateToDayNumber(year, month, day)) * 24 - 876624 + hour;
  return (hours * 60 + minute) * 60 + second;
}

}  // namespace pTime
}  // namespace bw
