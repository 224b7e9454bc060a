// news/rss_date_test.cpp - the RSS date reader on a table of dates (the
// lenient forms, the zones, CDATA, the mended day, year and 12 AM rules) and
// on the feed validator's date cases, and the feed address normalisation.
#include "news/rss_date.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

namespace bw {
namespace {

constexpr bigTime kBase = 473768430;  // 2015-01-05 10:20:30 UTC

TEST(RssDate, ReadsTheTable) {
  struct Case {
    const char* text;
    bigTime expected;
  } cases[] = {
      {"Mon, 05 Jan 2015 10:20:30 GMT", kBase},
      {"Mon, 5 Jan 2015 10:20 +0100", 473764800},
      {"Mon, 05 Jan 2015 10:20:30 -0530", 473788230},
      {"Mon, 05 Jan 2015 11:20 PM EST", 473833200},
      {"Mon, 05 January 2015 10:20:30 GMT", kBase},
      {"mon, 05 JAN 2015 10:20:30 gmt", kBase},
      {"<![CDATA[Mon, 05 Jan 2015 10:20:30 GMT]]>", kBase},
      {"<![CDATA[Mon, 05 Jan 2015 10:20:30 GMT ]]>", kBase},
      {"<![CDATA[Mon, 05 Jan 2015 10:20:30 +0000]]>", kBase},
      {"<![CDATA[05 Jan 2015 10:20:30 UT]]>", kBase},
      {"\n  <![CDATA[Mon, 05 Jan 2015 10:20:30 GMT]]>\n", kBase},
      {" <![CDATA[ 2015-01-05T10:20:30Z ]]> ", kBase},
      {"Mon, 05 Jan 15 10:20:30 GMT", kBase},
      {"Mon, 05 Jan 2015 10:20:30 Z", kBase},
      {"Mon, 05 Jan 2015 10:20:30 z", kBase},
      {"Mon, 05 Jan 2015 10:20:30 Y", kBase - 12 * 3600},
      {"Mon, 05 Jan 2015 10:20:30 A", kBase + 3600},
      {"Mon, 05 Jan 2015 10:20:30 M", kBase + 12 * 3600},
      {"Mon, 05 Jan 2015 10:20:30", kBase},
      {"Mon, 05 Jan 2015 10:20:30 UTC", kBase},
      {"Mon, 05 Jan 2015 10:20:30 PDT", kBase + 7 * 3600},
      {"Mon, 05 Jan 2015 2015/01/05 10:20:30 GMT", kBase},  // a numeric date before the time
      {"Mon, 05 Jan 2015 10:20 GMT", kBase - 30},
      {"Mon, 31 Jun 2015 10:20 GMT", 489061200},  // the day is not checked against the month
      // Mended: no weekday, two-digit years by RFC 5322, 12 AM is midnight.
      {"05 Jan 2015 10:20:30 GMT", kBase},
      {"  5 Jan 2015 10:20:30 GMT", kBase},
      {"Mon, 05 Jan 25 10:20:30 GMT", kBase + 315619200},
      {"Fri, 05 Jan 99 10:20:30 GMT", kBase - 504921600},
      {"Mon, 05 Jan 49 10:20:30 GMT", kBase + 1073001600},
      {"Mon, 05 Jan 50 10:20:30 GMT", kBase - 2051222400},
      {"Mon, 05 Jan 2015 12:30 AM GMT", kBase - 10 * 3600 - 20 * 60 + 30 * 60 - 30},
      {"Mon, 05 Jan 2015 12:30 PM GMT", kBase + 2 * 3600 + 10 * 60 - 30},
      // Refused.
      {"", kDateInvalid},
      {"Mon,", kDateInvalid},
      {"<![CDATA[", kDateInvalid},   // read past its end before the mend
      {"<![CDATA[1 J", kDateInvalid},
      {"Mon, 05 Jan 2015 10:20:30 XYZ", kDateInvalid},
      {"Mon, 05 Jan 2015 10:20:30 J", kDateInvalid},
      {"Mon, 32 Jan 2015 10:20:30 GMT", kDateInvalid},
      {"Mon, 05 Foo 2015 10:20:30 GMT", kDateInvalid},
      {"Mon, 05 Jan 1899 10:20:30 GMT", kDateInvalid},
      {"Mon, 05 Jan 2015 24:20:30 GMT", kDateInvalid},
      {"Mon, 05 Jan 2015 10:60:30 GMT", kDateInvalid},
      {"Mon, 05 Jan 2015 10:20:60 GMT", kDateInvalid},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseRssDate(c.text, 0), c.expected) << c.text;
  }
  EXPECT_EQ(parseRssDate(nullptr, 0), kDateUnset);
  // The length bounds the text; the reader never looks past it.
  const char* clipped = "Mon, 05 Jan 2015 10:20:30 GMT+garbage";
  EXPECT_EQ(parseRssDate(clipped, 29), kBase);
  auto exact = std::make_unique<char[]>(11);
  std::memcpy(exact.get(), "<![CDATA[1 ", 11);
  EXPECT_EQ(parseRssDate(std::string_view(exact.get(), 11), 11), kDateInvalid);
}

// Forms real feeds write that the RFC 822 reading refuses, each with the
// UTC second it stands for (Unix time, as `date -u -d @N` shows it).
TEST(RssDate, ReadsTheFormsFeedsWrite) {
  constexpr bigTime kUnixOf2000 = 946684800;
  struct Case {
    const char* text;
    bigTime unixSecond;
  } cases[] = {
      {"Mon, 05 Jan 2015 10:20:30 GMT", 1420453230},
      {"Mon, 5 Jan 2015 10:20 +0100", 1420449600},
      {"Mon, 05 Jan 2015 10:20:30 +05:30", 1420433430},
      {"Tue, 10 Jun 2003 04:00:00 -05:30", 1055237400},
      {"Mon, 05 Jan 2015", 1420416000},
      {"2006-01-11 16:42:55 -0800", 1137026575},
      {"2023-01-03T15:00:00Z", 1672758000},
      {"2023-01-03T15:00:00.123+01:00", 1672754400},
      {"2023-01-03", 1672704000},
      {"2023-01-03T15:00:00", 1672758000},
      {"Fri, 01 Dec 2023 10:00:00 GMT+2", 1701417600},
      {"Fri, 01 Dec 2023 10:00:00 GMT-0500", 1701442800},
      {"Fri, 01 Dec 2023 10:00:00 UTC+05:30", 1701405000},
      {"Wed, 02 Oct 2002 08:00:00 EST", 1033563600},
      {"Wed, 02 Oct 2002 15:00:00 CET", 1033567200},
      {"Wed, 02 Oct 2002 15:00:00 CEST", 1033563600},
      {"Wed, 02 Oct 2002 15:00:00 BST", 1033567200},
      {"Wed, 02 Oct 2002 15:00:00 IST", 1033551000},
      {"Wed, 02 Oct 2002 15:00:00 JST", 1033538400},
      {"Wed, 02 Oct 2002 15:00:00 AEST", 1033534800},
      {"Wed, 02 Oct 2002 15:00:00 MSK", 1033560000},
      {"Wed, 02 Oct 2002 15:00:00 EEST", 1033560000},
      {"Wed, 02 Oct 2002 15:00:00 NZDT", 1033524000},
      {"Wed, 02 Oct 2002 03:00:00 pm PDT", 1033596000},
      {"Wed, 02 Oct 2002 03:00 am GMT", 1033527600},
      {"Wed, 02 Oct 2002 12:30:00 am", 1033518600},
      {"Wed, 02 Oct 2002 03:00:00 PM +0000", 1033570800},
      {"Sat, Dec 16 2023 02:02:33 PM", 1702735353},
      {"Sat, Dec 16, 2023 2:02 PM EST", 1702753320},
      {"December 16, 2023 at 2:02 pm", 1702735320},
      {"16 December 2023 14:02:00 +0100", 1702731720},
      {"Saturday, 16 December 2023 14:02:00 GMT", 1702735320},
      {"Sat, 16 Dec 2023 14:02:00 +0000 (UTC)", 1702735320},
      {"Sat, 16 Dec 23 14:02:00 GMT", 1702735320},
      {"Sat, 16 Dec 2023 14:02:00 Z", 1702735320},
      {"Sat, 16 Dec 2023 14:02:00", 1702735320},
      {"Sat, 16 Dec 2023 14:02:00 -0000", 1702735320},
      {"<![CDATA[Sat, 16 Dec 2023 14:02:00 +0530]]>", 1702715520},
      {"<![CDATA[2023-12-16T14:02:00+05:30]]>", 1702715520},
      {"Thu, 31 Dec 2020 23:59:59 -1200", 1609502399},
      {"Mon, 29 Feb 2016 00:00:00 GMT", 1456704000},
      {"2016/02/29 08:15:00 +0900", 1456701300},
      {"Sun, 4th Feb 2018 10:00:00 GMT", 1517738400},
      {"Tue, 10 Jun 2003 09:41:01 America/New_York", kDateInvalid},
      {"yesterday", kDateInvalid},
      {"posted on the 5th", kDateInvalid},
      {"2023-13-03T15:00:00Z", kDateInvalid},
      {"Mon, 05 Jan 2015 25:20:30 GMT", kDateInvalid},
      {"Mon, 05 Jan 2015 10:20:30 +05:30 +01:00", kDateInvalid},
  };
  for (const Case& c : cases) {
    const bigTime want = c.unixSecond == kDateInvalid ? kDateInvalid : c.unixSecond - kUnixOf2000;
    EXPECT_EQ(parseRssDate(c.text, 0), want) << c.text;
  }
}

// One date text reads alike in RSS and Atom: each row was read by one of
// the two formats' readers and refused by the other.
TEST(FeedDate, ReadsEveryFormatAlike) {
  constexpr bigTime kUnixOf2000 = 946684800, k = 1071340202;  // 2003-12-13 18:30:02 UTC
  const struct {
    const char* text;
    bigTime unixSecond;
  } cases[] = {
      {"2003-12-13T18:30:02Z", k},               {"2003-12-13T18:30:02+0100", k - 3600},
      {"2003-12-13T18:30:02,25Z", k},            {"2003-12-13T18:30Z", k - 2},
      {"2003-12-13", 1071273600},                {"2003-12-13 18:30:02 +01:00", k - 3600},
      {"2003-12-13T18:30:02 GMT", k},            {"2003-1-5T18:30:02Z", 1041791402},
      {"2003-12-13T18:30:02+01:00:00", k - 3600}, {"2003-12-13T18:30:2Z", k},
      {"\n <![CDATA[2003-12-13T18:30:02+0100]]>\n", k - 3600},
      {"Sat, 13 Dec 2003 18:30:02 GMT", k},      {"yesterday", kDateInvalid},
      {"", kDateInvalid},
  };
  for (const auto& c : cases) {
    const bigTime want = c.unixSecond == kDateInvalid ? kDateInvalid : c.unixSecond - kUnixOf2000;
    EXPECT_EQ(parseFeedDate(Str(c.text)), want) << c.text;
  }
  EXPECT_EQ(parseFeedDate(Str()), kDateUnset);
}

TEST(RssDate, NormalisesFeedAddresses) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"https://a:80/b", "http://a/b"},  {"http://a:8080/b", "http://a:8080/b"},
      {"HTTPS://a/b", "HTTPS://a/b"},    {"http://a:80", "http://a:80"},
      {"https://a/b", "http://a/b"},     {"http://a:80/b:80/c", "http://a/b:80/c"},
      {"", ""},
  };
  for (const Case& c : cases) {
    Str url(c.in);
    int32_t capacity = url.capacity();
    EXPECT_EQ(normaliseFeedURL(url), c.out) << c.in;
    EXPECT_EQ(url.capacity(), capacity);
  }
}

// An independent reader of the strict RFC 2822 form, for the validator's
// cases: [weekday ","] day month year hh:mm[:ss] zone.
bigTime strictRfc2822(const std::string& text) {
  static const std::regex form(
      R"(^\s*(?:[A-Za-z]{3},\s*)?(\d{1,2})\s+([A-Za-z]{3})\s+(\d{4})\s+(\d\d):(\d\d)(?::(\d\d))?\s+([+-]\d{4}|[A-Za-z]+)\s*$)");
  std::smatch m;
  if (!std::regex_match(text, m, form)) return kDateInvalid;
  static const std::string months = "janfebmaraprmayjunjulaugsepoctnovdec";
  std::string mon = m[2];
  for (char& c : mon) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t at = months.find(mon);
  if (at == std::string::npos || at % 3 != 0) return kDateInvalid;
  std::tm tm{};
  tm.tm_mday = std::stoi(m[1]);
  tm.tm_mon = static_cast<int>(at / 3);
  tm.tm_year = std::stoi(m[3]) - 1900;
  tm.tm_hour = std::stoi(m[4]);
  tm.tm_min = std::stoi(m[5]);
  tm.tm_sec = m[6].matched ? std::stoi(m[6]) : 0;
  int64_t offset = 0;
  std::string zone = m[7];
  if (zone[0] == '+' || zone[0] == '-') {
    offset = (std::stoi(zone.substr(1, 2)) * 60 + std::stoi(zone.substr(3, 2))) * 60 * (zone[0] == '-' ? -1 : 1);
  } else {
    static const std::pair<const char*, int> zones[] = {{"GMT", 0},  {"UT", 0},   {"Z", 0},   {"EST", -5},
                                                        {"EDT", -4}, {"CST", -6}, {"CDT", -5}, {"MST", -7},
                                                        {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
    bool known = false;
    for (auto& [name, hours] : zones) {
      if (zone == name) offset = hours * 3600, known = true;
    }
    if (!known) return kDateInvalid;
  }
  return static_cast<bigTime>(timegm(&tm)) - 946684800 - offset;
}

TEST(RssDate, AgreesWithTheFeedValidatorCases) {
  const std::filesystem::path root = std::filesystem::path(BRINDLEWORK_TESTDATA_DIR) / "feeds/feedvalidator/rss20";
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "no feed validator corpus at " << root;
  static const std::regex expect(R"(Expect:\s*(\w+)\{parent:\w+,element:(\w+)\})");
  int valid = 0, invalid = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".xml") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string xml = buffer.str();
    std::smatch m;
    if (!std::regex_search(xml, m, expect)) continue;
    const std::string kind = m[1], element = m[2];
    if (kind.find("RFC2822Date") == std::string::npos) continue;
    // The element's text after the comment that holds the expectation.
    size_t body = xml.find("-->", static_cast<size_t>(m.position(0)));
    size_t open = xml.find("<" + element + ">", body);
    size_t close = xml.find("</" + element + ">", open);
    ASSERT_NE(open, std::string::npos) << entry.path();
    const std::string text = xml.substr(open + element.size() + 2, close - open - element.size() - 2);
    const bigTime ours = parseRssDate(text, 0);
    if (kind == "ValidRFC2822Date") {
      ++valid;
      EXPECT_EQ(ours, strictRfc2822(text)) << entry.path() << ": " << text;
      EXPECT_GT(ours, kDateInvalid) << entry.path();
    } else {
      ++invalid;
      // Read leniently by design: the weekday and the month's length are
      // never checked, ISO 8601 dates and "-05:00" zones are read as feeds
      // mean them, and the first of everything.xml's dates is sound (its
      // refused forms are comments and nested brackets further on).
      const std::string name = entry.path().filename().string();
      if (name == "invalid_pubdate_dow.xml" || name == "invalid_pubdate_day.xml" || name == "everything.xml" ||
          name == "invalid_lastBuildDate.xml" || name == "invalid_pubdate_differential.xml" ||
          name == "invalid_pubdate.xml") {
        EXPECT_GT(ours, kDateInvalid);
        continue;
      }
      EXPECT_EQ(ours, kDateInvalid) << entry.path() << ": " << text;
    }
  }
  EXPECT_GT(valid, 20);
  EXPECT_GT(invalid, 2);
}

}  // namespace
}  // namespace bw
