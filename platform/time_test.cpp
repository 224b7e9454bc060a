// platform/time_test.cpp - calendar, date stamps, display text, the clock
// and the time-zone offset.
#include "platform/time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>

#include "core/exception.h"
#include "platform/clock.h"

namespace bw::pTime {
namespace {

using namespace std::chrono;

TEST(Calendar, EveryDayFrom1900To2299AgreesWithStdChrono) {
  const sys_days epoch = sys_days(year{1899} / December / 30);
  dayNumber expected = 2;
  for (sys_days d = sys_days(year{1900} / January / 1); d <= sys_days(year{2299} / December / 31);
       d += days{1}) {
    year_month_day ymd(d);
    int32_t y = static_cast<int>(ymd.year());
    int32_t m = static_cast<int32_t>(static_cast<unsigned>(ymd.month()));
    int32_t dd = static_cast<int32_t>(static_cast<unsigned>(ymd.day()));
    dayNumber n = dateToDayNumber(y, m, dd);
    ASSERT_EQ(n, (d - epoch).count()) << y << "-" << m << "-" << dd;
    ASSERT_EQ(n, expected);
    ++expected;
    CalendarDate back = dayNumberToDate(n);
    ASSERT_EQ(back.year, y);
    ASSERT_EQ(back.month, m);
    ASSERT_EQ(back.day, dd);
    bigTime t = DateTimeToBigTime(y, m, dd, 12, 0, 0);
    ASSERT_EQ(t, duration_cast<seconds>(d - sys_days(year{2000} / January / 1)).count() + 43200);
    ASSERT_EQ(weekdayOfBigTime(t), static_cast<int32_t>(weekday(d).iso_encoding()));
    ASSERT_EQ(daysInMonth(m, y), static_cast<int32_t>(static_cast<unsigned>(
                                     year_month_day_last(ymd.year(), month_day_last(ymd.month())).day())));
  }
}

TEST(Calendar, KnownDaysAndTimes) {
  EXPECT_EQ(dateToDayNumber(1900, 1, 1), 2);
  EXPECT_EQ(dateToDayNumber(1970, 1, 1), 25569);
  EXPECT_EQ(dateToDayNumber(1978, 1, 1), 28491);
  EXPECT_EQ(dateToDayNumber(2000, 1, 1), 36526);
  EXPECT_EQ(DateTimeToBigTime(2000, 1, 1, 0, 0, 0), 0);
  EXPECT_EQ(DateTimeToBigTime(1970, 1, 1, 0, 0, 0), -946684800);
  EXPECT_EQ(weekdayOfBigTime(0), 6);
  EXPECT_EQ(weekdayOfBigTime(DateTimeToBigTime(1900, 1, 1, 0, 0, 0)), 1);
  EXPECT_EQ(daysInMonth(2, 1900), 28);
  EXPECT_EQ(daysInMonth(2, 2000), 29);
  EXPECT_EQ(daysInMonth(13, 2000), 0);
  EXPECT_EQ(daysInMonth(0, 2000), 0);
  EXPECT_STREQ(weekdayName(1), "Mon");
  EXPECT_STREQ(weekdayName(7), "Sun");
  EXPECT_EQ(weekdayName(8), nullptr);
}

TEST(Calendar, FieldsCarryAndMonthsWrapWithinTheYear) {
  EXPECT_EQ(DateTimeToBigTime(2024, 3, 5, 24, 0, 0), DateTimeToBigTime(2024, 3, 6, 0, 0, 0));
  EXPECT_EQ(DateTimeToBigTime(2024, 1, 32, 0, 0, 0), DateTimeToBigTime(2024, 2, 1, 0, 0, 0));
  EXPECT_EQ(DateTimeToBigTime(2024, 3, 5, 0, 0, 90), DateTimeToBigTime(2024, 3, 5, 0, 1, 30));
  EXPECT_EQ(DateTimeToBigTime(2024, 13, 1, 0, 0, 0), DateTimeToBigTime(2024, 1, 1, 0, 0, 0));
  EXPECT_EQ(DateTimeToBigTime(2024, 0, 1, 0, 0, 0), DateTimeToBigTime(2024, 12, 1, 0, 0, 0));
}

TEST(Calendar, SplittingBefore2000UsesFloorDivision) {
  CalendarDate d = bigTimeToDate(-1);
  EXPECT_EQ(d.year, 1999);
  EXPECT_EQ(d.month, 12);
  EXPECT_EQ(d.day, 31);
  DayTime t = secondsToDayTime(-1);
  EXPECT_EQ(t.hour, 23);
  EXPECT_EQ(t.minute, 59);
  EXPECT_EQ(t.second, 59);
  EXPECT_EQ(secondsToDateStamp(-1), (DateStamp{8034, 1439, 2950}));
  EXPECT_EQ(secondsToDateStamp(0), (DateStamp{8035, 0, 0}));
  EXPECT_EQ(secondsToDateStamp(kDateStampEpoch), (DateStamp{0, 0, 0}));
  for (bigTime x : {bigTime{-1}, bigTime{0}, bigTime{1234567}, kDateStampEpoch, bigTime{-5000000000}})
    EXPECT_EQ(dateStampToSeconds(secondsToDateStamp(x)), x);
}

TEST(FormatBigTime, ThreeFormsClippedAtCapacity) {
  Str s = Str::withCapacity(40);
  bigTime t = DateTimeToBigTime(2024, 3, 5, 7, 8, 9);
  EXPECT_EQ(formatBigTime(s, t, false, false), "2024-03-05");
  EXPECT_EQ(formatBigTime(s, t, true, false), "2024-03-05 07:08");
  EXPECT_EQ(formatBigTime(s, t, true, true), "2024-03-05 07:08:09");
  EXPECT_EQ(formatBigTime(s, t, false, true), "2024-03-05");  // seconds only with the time
  EXPECT_EQ(formatBigTime(s, 0, true, true), "2000-01-01 00:00:00");
  Str small = Str::withCapacity(7);
  EXPECT_EQ(formatBigTime(small, t, true, true), "2024-03");
}

TEST(TimeZoneOffset, TzoneValues) {
  // Summer time forced on: a zone with a summer name takes its offset.
  EXPECT_EQ(parseTimeZoneOffset("CET-1", true), -3600);
  EXPECT_EQ(parseTimeZoneOffset("CET-1CEST", true), -7200);
  EXPECT_EQ(parseTimeZoneOffset("EST5EDT", true), 14400);
  EXPECT_EQ(parseTimeZoneOffset("EST5", true), 18000);
  EXPECT_EQ(parseTimeZoneOffset("GMT0", true), 0);
  EXPECT_EQ(parseTimeZoneOffset("", true), 0);
  EXPECT_EQ(parseTimeZoneOffset("CE", true), 0);
  EXPECT_EQ(parseTimeZoneOffset(nullptr, true), 0);
  EXPECT_EQ(parseTimeZoneOffset("IST-5:30", false), -19800);
  EXPECT_EQ(parseTimeZoneOffset("NST3:30NDT2:30", true), 9000);
  EXPECT_EQ(parseTimeZoneOffset("XYZ", true), 0);
  EXPECT_EQ(parseTimeZoneOffset("XYZ-0:30", false), -1800);  // the minutes keep the sign
  EXPECT_EQ(parseTimeZoneOffset("XYZabc", true), 0);
}

TEST(TimeZoneOffset, SummerNameDoesNotMeanSummerTimeInForce) {
  // A zone with a summer-time name keeps its standard offset while the
  // system says summer time is not in force.
  EXPECT_EQ(parseTimeZoneOffset("CET-1CEST", false), -3600);
  EXPECT_EQ(parseTimeZoneOffset("EST5EDT", false), 18000);
  EXPECT_EQ(parseTimeZoneOffset("NST3:30NDT2:30", false), 12600);
}

// Installs a clock source and environment for one test, restoring both.
class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    hadTz_ = tz != nullptr;
    if (tz) oldTz_ = tz;
    const char* tzone = std::getenv("TZONE");
    hadTzone_ = tzone != nullptr;
    if (tzone) oldTzone_ = tzone;
    ::unsetenv("TZONE");
    initTimerDevice();
  }
  void TearDown() override {
    setClockSource({});
    if (hadTz_) ::setenv("TZ", oldTz_.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
    if (hadTzone_) ::setenv("TZONE", oldTzone_.c_str(), 1);
    else ::unsetenv("TZONE");
    closeTimerDevice();
  }
  void zone(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  // The system's reading of the given UTC second, through the seam.
  void standAt(int64_t utc) {
    setClockSource([utc] {
      time_t t = static_cast<time_t>(utc);
      tm local{};
      ::localtime_r(&t, &local);
      return ClockReading{utc, local.tm_gmtoff, local.tm_isdst > 0};
    });
  }

  bool hadTz_ = false, hadTzone_ = false;
  std::string oldTz_, oldTzone_;
};

TEST_F(ClockTest, WithoutTzoneFormOneIsTrueUtc) {
  const int64_t winter = 1705320000;  // 2024-01-15 12:00 UTC
  const int64_t summer = 1721044800;  // 2024-07-15 12:00 UTC
  struct Case {
    const char* tz;
    int64_t utc;
    int64_t gmtoff;
  } cases[] = {{"UTC", winter, 0},
               {"Europe/Berlin", winter, 3600},
               {"Europe/Berlin", summer, 7200},
               {"America/New_York", winter, -18000},
               {"America/New_York", summer, -14400}};
  for (const Case& c : cases) {
    zone(c.tz);
    standAt(c.utc);
    EXPECT_EQ(CurrentTime(1) - CurrentTime(0), -c.gmtoff) << c.tz;
    EXPECT_EQ(CurrentTime(1), c.utc + kUnixEpoch) << c.tz;
    EXPECT_EQ(CurrentTime(2), c.utc + c.gmtoff + kUnixEpoch) << c.tz;
    EXPECT_EQ(readTimeZoneOffset(), -c.gmtoff);
  }
}

TEST_F(ClockTest, SystemClockMatchesTime) {
  setClockSource({});
  time_t now = ::time(nullptr);
  tm local{};
  ::localtime_r(&now, &local);
  bigTime expected = static_cast<bigTime>(now) - 946684800 + local.tm_gmtoff;
  EXPECT_LE(std::llabs(CurrentTime(0) - expected), 1);
}

// The UTC seconds alone are the source's, and the system clock's in any zone.
TEST_F(ClockTest, UtcSecondsAreTheReadingsInEveryZone) {
  standAt(1721044800);
  EXPECT_EQ(readUtcSeconds(), 1721044800);
  setClockSource({});
  for (const char* tz : {"UTC", "Asia/Kolkata", "America/New_York"}) {
    zone(tz);
    EXPECT_LE(std::llabs(readUtcSeconds() - static_cast<int64_t>(::time(nullptr))), 1) << tz;
  }
}

// The system clock follows a new zone at once, within the same second.
TEST_F(ClockTest, SystemClockFollowsEveryNewZone) {
  setClockSource({});
  for (const char* tz : {"UTC", "America/New_York", "Europe/Berlin", "UTC", "Asia/Kolkata", "America/New_York"}) {
    zone(tz);
    const ClockReading reading = readClock();
    time_t t = static_cast<time_t>(reading.utcSeconds);
    tm local{};
    ::localtime_r(&t, &local);
    EXPECT_EQ(reading.gmtOffset, local.tm_gmtoff) << tz;
    EXPECT_EQ(reading.dst, local.tm_isdst > 0) << tz;
  }
}

TEST_F(ClockTest, TzoneTakesSummerOffsetOnlyWhileSummerTimeIsInForce) {
  ::setenv("TZONE", "CET-1CEST", 1);
  setClockSource([] { return ClockReading{1705320000, 3600, false}; });
  EXPECT_EQ(readTimeZoneOffset(), -3600);
  EXPECT_EQ(CurrentTime(1), 1705320000 + kUnixEpoch);
  setClockSource([] { return ClockReading{1721044800, 7200, true}; });
  EXPECT_EQ(readTimeZoneOffset(), -7200);
  EXPECT_EQ(CurrentTime(1), 1721044800 + kUnixEpoch);
}

TEST_F(ClockTest, ClosedClockRaisesDev) {
  closeTimerDevice();
  try {
    CurrentTime(0);
    FAIL() << "no exception";
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "DEV");
    EXPECT_EQ(e.message(), "pTime; CurrentTime(); unable to open the timer.device");
  }
}

TEST_F(ClockTest, ClockBeyond2068IsRight) {
  const int64_t utc2070 = 3155803200;  // 2070-01-01 12:00:00 UTC
  setClockSource([=] { return ClockReading{utc2070, 0, false}; });
  bigTime now = CurrentTime(0);
  EXPECT_EQ(now, DateTimeToBigTime(2070, 1, 1, 12, 0, 0));
  EXPECT_GT(now, int64_t{INT32_MAX});
  CalendarDate d = bigTimeToDate(now);
  EXPECT_EQ(d.year, 2070);
}

}  // namespace
}  // namespace bw::pTime
