// news/feed_failure.h - why a feed could not be updated, told as one short
// sentence, and the feed's note of its last failure.
//
// Invariants:
//   1. Every reason is a non-empty phrase without a final full stop, worded
//      for the user ("HTTP 404 Not Found", "the page is HTML, not a feed");
//      the shell's report, the requesters and the feed's Info window show
//      the same words.
//   2. Text from outside (a host name, a parser's message) reaches a reason
//      with its control bytes shown as "?" and clipped to a line's length.
//   3. A feed's last failure is kept for the run only (noteFeedFailure): the
//      stored record does not change, so older programs open the database
//      as before.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/str.h"
#include "news/feed_downloader.h"
#include "news/news_objects.h"
#include "web/http.h"
#include "web/web_data.h"

namespace bw {

// Why the request on http failed; url is the address it was opened with
// (a redirect's own address is taken from http).
std::string requestFailureReason(cHTTP& http, Text url);
// Why a request could not even be opened (cHTTP::openURL's two results).
std::string openFailureReason(int32_t result, int32_t protocolError, Text url);
// A download that made no progress for that many seconds.
std::string stallReason(int64_t seconds);
// A result kind of getDocument without a document (kinds 1-3 and 5-7, any
// other number).
std::string resultKindReason(int32_t kind);

// What a feed's download says when its sign-in was refused in the browser,
// or given up by the user in the program (kFeedAuthFailed either way).
inline constexpr char kSignInRefusedReason[] = "the sign-in was refused in the browser";
inline constexpr char kSignInCancelledReason[] = "the sign-in was cancelled";
// A document that failed to parse: HTML said as such, else what the reader
// found wrong and where.
std::string parseFailureReason(const ParseFailure& failure);
// A document that parsed but is no feed any parser takes.
std::string unreadDocumentReason(const webDataRoot& document);
// True when the text begins (after blanks, a byte-order mark and comments)
// like an HTML page.
bool looksLikeHtml(std::string_view text);

// Marks the feed failed to download, with the reason and the time now.
void noteFeedFailure(newsFeed& feed, std::string reason);
// The feed's last failure as the Info window and the feed list show it:
// "HTTP 404 Not Found (2026-12-09 10:02)", local time; "" when it has none.
std::string feedFailureText(const newsFeed& feed);

}  // namespace bw
