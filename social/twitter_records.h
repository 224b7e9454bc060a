// social/twitter_records.h - one Twitter profile into a newsFeed, one tweet
// into a newsItem with its body, the tweet date grammar, and the ordering
// of Twitter feeds by their update credit.
//
// Invariants:
//   1. Texts are read into UTF-8; titles, ids, summaries, languages and
//      descriptions raw (escapes as the service wrote them), addresses and
//      the screen name decoded. Absent members, and members whose value is
//      the JSON null, give "#MISSING", NIL, the empty text or the unset date
//      as documented; nothing raises for them.
//   2. twitterParseDate never reads past its text: a text that breaks the
//      grammar at any point gives kDateInvalid, NIL gives kDateUnset.
//   3. The readers hand out new, unstored objects; on an exception nothing
//      built so far survives.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "core/ordering.h"
#include "core/str.h"
#include "news/item_body_record.h"
#include "news/news_objects.h"
#include "platform/time.h"
#include "web/web_data.h"

namespace bw {

inline constexpr std::string_view kTwitterFeedType = "Twitter v1.1";
inline constexpr std::string_view kUsersShowRoot = "twitter_users_show";
inline constexpr std::string_view kTimelineRoot = "twitter_user_timeline";
inline constexpr std::string_view kOlderTimelineRoot = "twitter_user_timeline2";

// The UTF-8 text of node (NIL or the JSON null: NIL), raw or decoded.
Str twitterNodeText(const webDataNode* node, bool raw);
// The UTF-8 text of parent's member name, raw or decoded; NIL without it
// or when it is null.
Str twitterMemberText(const webDataNode* parent, Text name, bool raw);

// "Wed Aug 27 13:08:45 +0000 2008" in UTC seconds from 2000.
bigTime twitterParseDate(Text text);

// The feed of the "twitter_users_show" pseudo root, NIL without it.
std::unique_ptr<newsFeed> twitterUserInfoToFeed(const webDataRoot& document);

// A tweet's item and its body; the body's texts view the tweet's document
// where it holds them as they are stored, which must outlive the body.
struct TweetRecord {
  std::unique_ptr<newsItem> item;
  std::unique_ptr<newsItemBodyRecord> body;
};
// One tweet; only feed.url is read (the fallback link's prefix).
TweetRecord twitterExtractTweet(const webDataNode& tweet, const newsFeed& feed);

// The nodes of a tweet that its reading takes (NIL when absent).
struct TweetMembers {
  const webDataNode* fullText = nullptr;  // "full_text"
  const webDataNode* idStr = nullptr;     // "id_str"
  const webDataNode* retweet = nullptr;   // "retweeted_status"
  const webDataNode* created = nullptr;   // "created_at"
  const webDataNode* entities = nullptr;  // "entities"
  // In "entities": the first url's "expanded_url", else the first medium's.
  const webDataNode* link = nullptr;
  // The first medium's "media_url_https", else its "media_url".
  const webDataNode* image = nullptr;
};
// The members of a tweet (NIL: none), each the first of its name.
TweetMembers twitterFindTweetMembers(const webDataNode* tweet);

// The text a tweet shows, raw: a retweet's is the whole retweeted
// "full_text" (the tweet's own is cut), after "RT @<name>: " when the name
// is known (the retweeted user's "screen_name", else the name the tweet's
// own text begins with), and every t.co link the entities list ("urls" and
// "media") is replaced by its "expanded_url". NIL when that is the tweet's
// "full_text" as it stands.
Str twitterShownText(const TweetMembers& members);

// Where the title of a tweet's text is cut: before its first "https" link,
// else its first "http" link (escaped "\/" or plain "/"), when that lies
// beyond position 1; npos keeps the whole text.
size_t twitterTitleCut(std::string_view text);

// Feeds of a cMegaList_class: larger twitterUpdateCredit first, then
// uniqueID in ascending byte order.
class fCompareMegaNodes_twitterFeeds_sort : public fCompareMegaNodes {
  BW_CLASS(fCompareMegaNodes_twitterFeeds_sort, fCompareMegaNodes)
 public:
  int32_t call(cMegaMiniListGeneric* store, MegaNode* a, MegaNode* b) override;
};

}  // namespace bw
