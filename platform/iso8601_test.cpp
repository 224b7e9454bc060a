// platform/iso8601_test.cpp - the ISO 8601 reader.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "platform/time.h"

namespace bw::pTime {
namespace {

constexpr bigTime kFallback = -2147483647;

bigTime parse(const char* text, int32_t strictness = 2) {
  return parseDateTimeISO8601(text, kFallback, 0, strictness, 0);
}

TEST(Iso8601, Vectors) {
  const bigTime base = DateTimeToBigTime(2024, 3, 5, 7, 8, 9);
  EXPECT_EQ(parse("2024-03-05T07:08:09Z"), base);
  EXPECT_EQ(parse("2024-03-05T07:08:09Z", 1), base);
  EXPECT_EQ(parse("2024-03-05T07:08:09"), base);  // the end of the text is UTC
  EXPECT_EQ(parse("2024-03-05T07:08:09.123+01:30", 1), base - 5400);
  EXPECT_EQ(parse("2024-03-05T07:08:09.123+01:30", 2), base - 5400);
  EXPECT_EQ(parse("2024-03-05 07:08:09", 1), base);
  EXPECT_EQ(parse("2024-03-05t07:08:09z", 1), base);
  EXPECT_EQ(parse("2024-03-05 07:08:09", 2), kFallback);
  EXPECT_EQ(parse("2024-03-05T07:08:09z", 2), kFallback);
  EXPECT_EQ(parse("2024-03-05T07:08:09+0130", 1), kFallback);
  EXPECT_EQ(parse("2024-03-05T07:08:09+0130", 2), base - 5400);
  EXPECT_EQ(parse("2024-03-05T07:08:09-0130", 2), base + 5400);
  EXPECT_EQ(parse("1899-12-31T00:00:00Z"), kFallback);
  EXPECT_EQ(parse("2024-13-01T00:00:00Z"), kFallback);
  EXPECT_EQ(parse("2024-03-05T07:08"), kFallback);
  EXPECT_EQ(parse("2024-02-31T00:00:00Z"), DateTimeToBigTime(2024, 3, 2, 0, 0, 0));
  EXPECT_EQ(parse("2024-03-05T24:00:00Z"), kFallback);
  EXPECT_EQ(parse("2024-03-05T07:60:00Z"), kFallback);
  EXPECT_EQ(parse("2024-03-05T07:08:09X"), kFallback);
  EXPECT_EQ(parse("2024-03-05T07:08:09+01"), kFallback);  // minutes are required
  EXPECT_EQ(parse("2024/03/05T07:08:09Z"), kFallback);
  EXPECT_EQ(parse("2024-03-05T07:08:09Z trailing text"), base);
}

TEST(Iso8601, Rfc3339Examples) {
  EXPECT_EQ(parse("1985-04-12T23:20:50.52Z"), DateTimeToBigTime(1985, 4, 12, 23, 20, 50));
  EXPECT_EQ(parse("1996-12-19T16:39:57-08:00"), DateTimeToBigTime(1996, 12, 20, 0, 39, 57));
  EXPECT_EQ(parse("1996-12-19T16:39:57-08:00", 1), DateTimeToBigTime(1996, 12, 20, 0, 39, 57));
  EXPECT_EQ(parse("1990-12-31T23:59:60Z"), kFallback);
  EXPECT_EQ(parse("1937-01-01T12:00:27.87+00:20"), DateTimeToBigTime(1937, 1, 1, 11, 40, 27));
  EXPECT_EQ(parse("1937-01-01T12:00:27.87+00:20", 1), DateTimeToBigTime(1937, 1, 1, 11, 40, 27));
}

TEST(Iso8601, ZoneRange) {
  const bigTime noon = DateTimeToBigTime(2020, 6, 1, 12, 0, 0);
  for (int32_t s : {1, 2}) {
    EXPECT_EQ(parse("2020-06-01T12:00:00-12:00", s), noon + 12 * 3600);
    EXPECT_EQ(parse("2020-06-01T12:00:00+14:00", s), noon - 14 * 3600);
    EXPECT_EQ(parse("2020-06-01T12:00:00-13:00", s), kFallback);
    EXPECT_EQ(parse("2020-06-01T12:00:00+15:00", s), kFallback);
    EXPECT_EQ(parse("2020-06-01T12:00:00+05:60", s), kFallback);
    // A negative zone under an hour keeps its sign.
    EXPECT_EQ(parse("2020-06-01T12:00:00-00:30", s), noon + 1800);
  }
}

TEST(Iso8601, LengthAndStartBoundTheText) {
  const char* text = "xx2024-03-05T07:08:09+01:00";
  const bigTime base = DateTimeToBigTime(2024, 3, 5, 7, 8, 9);
  EXPECT_EQ(parseDateTimeISO8601(text, kFallback, 0, 2, 2), base - 3600);
  // Cut after the seconds: the zone is not seen, the time is UTC.
  EXPECT_EQ(parseDateTimeISO8601(text, kFallback, 19, 2, 2), base);
  EXPECT_EQ(parseDateTimeISO8601(text, kFallback, 18, 2, 2), kFallback);
  // Cut inside the zone: minutes missing.
  EXPECT_EQ(parseDateTimeISO8601(text, kFallback, 24, 2, 2), kFallback);
  EXPECT_EQ(parseDateTimeISO8601(text, 42, 0, 2, 100), 42);
  EXPECT_EQ(parseDateTimeISO8601(text, 42, 0, 2, -1), 42);
  EXPECT_EQ(parseDateTimeISO8601(nullptr, 42, 0, 2, 0), 42);
  Str s = Str::withCapacity(40, "2024-03-05T07:08:09Z");
  EXPECT_EQ(parseDateTimeISO8601(s, kFallback, 0, 2, 0), base);
}

TEST(Iso8601, EveryDayFrom1900To2299AgreesWithStdChrono) {
  using namespace std::chrono;
  const sys_days epoch = sys_days(year{2000} / January / 1);
  char buf[40];
  for (sys_days d = sys_days(year{1900} / January / 1); d <= sys_days(year{2299} / December / 31);
       d += days{1}) {
    year_month_day ymd(d);
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT13:14:15-01:30", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    bigTime want = duration_cast<seconds>(d - epoch).count() + 13 * 3600 + 14 * 60 + 15 + 5400;
    ASSERT_EQ(parse(buf), want) << buf;
  }
}

TEST(Iso8601, FallbackIsReturnedUnchanged) {
  for (bigTime fallback : {bigTime{0}, bigTime{-1}, INT64_MIN, INT64_MAX, kFallback})
    EXPECT_EQ(parseDateTimeISO8601("not a date at all, no", fallback, 0, 1, 0), fallback);
}

}  // namespace
}  // namespace bw::pTime
