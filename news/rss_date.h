// news/rss_date.h - the reader of RSS dates (the RFC 822 form, read
// leniently) and the feed address normalisation the RSS and Atom parsers
// share.
//
// Invariants:
//   1. parseRssDate never reads outside [0, length): every position read
//      answers NUL past the end, whatever the later steps ask for.
//   2. Its result is unset for NIL, the invalid date for a text outside the
//      grammar, else the instant in UTC; it never raises.
//   3. normaliseFeedURL only removes bytes (the "s" of "https:" and the first
//      ":80" followed by "/"); the capacity stays.
#pragma once

#include <cstdint>

#include <string_view>

#include "core/str.h"
#include "news/news_format.h"
#include "platform/time.h"

namespace bw {

// length 0: the text up to its NUL. A text whose day number stands at its
// start (no weekday) is read from there; two-digit years 00-49 are 20xx and
// 50-99 are 19xx; 12 AM is hour 0.
bigTime parseRssDate(Text text, int32_t length);

// The date of a feed's date text, read alike whatever the feed's format:
// as an Atom date (ISO 8601, pTime::parseDateTimeISO8601, date and time
// apart by "T" or a blank), else as parseRssDate reads it. Unset for NIL,
// else the instant in UTC or the invalid date. An Atom date with a zone
// "+0100" or without seconds, and an RSS dc:date with a zone "+01:00:00",
// were read by one format and refused by the other.
bigTime parseFeedDate(const Str& text);

// A date element's text as its reader takes it: the blanks around it and a
// CDATA section wrapping it left out ("\n <![CDATA[2015-01-05]]>\n").
std::string_view dateTextAsWritten(std::string_view text);

// "https:" becomes "http:", then the first ":80/" becomes "/". Other ports,
// upper-case schemes and a final ":80" stay. NIL is left alone.
Str& normaliseFeedURL(Str& url);

}  // namespace bw
