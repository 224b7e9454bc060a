// social/facebook_records.h - one Graph API account record into a newsFeed,
// one post or comment into a newsItem with its body, and the two text rules
// of Facebook items: how a post id splits and how a title is cut.
//
// Invariants:
//   1. Texts are read into UTF-8 raw (escapes as the service wrote them);
//      "link", "permalink_url" and "type" decoded. Absent members, and
//      members whose value is the JSON null, give
//      "#MISSING", "unknown post type", "(shared a post)", the empty text,
//      NIL or the unset date; nothing raises for them.
//   2. A date must read as ISO 8601 with its "T" ("2017-06-18T10:20:30+0000")
//      over the whole text, else it is the invalid date.
//   3. The readers hand out new, unstored objects; on an exception nothing
//      built so far survives.
#pragma once

#include <memory>
#include <string_view>

#include "core/str.h"
#include "news/news_objects.h"
#include "platform/time.h"
#include "web/web_data.h"

namespace bw {

inline constexpr std::string_view kFacebookFeedType = "Facebook v2.8";
inline constexpr std::string_view kFacebookInfoRoot = "facebook_user_info";
inline constexpr std::string_view kFacebookTimelineRoot = "facebook_user_timeline";
inline constexpr std::string_view kFacebookOlderTimelineRoot = "facebook_user_timeline2";

// A Graph API date: NIL gives kDateUnset, a text that does not read
// kDateInvalid.
bigTime facebookParseDate(Text text);

// The feed of the "facebook_user_info" pseudo root, NIL without it.
std::unique_ptr<newsFeed> facebookUserInfoToFeed(const webDataRoot& document);

struct FacebookRecord {
  std::unique_ptr<newsItem> item;
  std::unique_ptr<newsItemBody> body;
  const webDataNode* commentsNode = nullptr;  // posts only: "comments" with a first "data" element
  // Posts only: the post's own address on Facebook, whatever it shares: its
  // "permalink_url", else "https://www.facebook.com/<owner>/posts/<post>"
  // from its id; empty without either.
  Str postAddress;
};
FacebookRecord facebookExtractPost(const webDataNode& post);
// parent NIL raises "EPU". The link is postAddress (the post's, see
// FacebookRecord) with "comment_id=" and the comment id's post part after
// "?" or "&"; empty when either is missing.
FacebookRecord facebookExtractComment(const webDataNode& comment, const newsItem* parent, Text postAddress);

// "owner_post" splits at its first "_"; without one the whole id is the
// post part and owner is NIL. postPartOnly leaves owner NIL.
struct FacebookPostID {
  Str postPart;
  Str ownerPart;
};
FacebookPostID facebookSplitPostID(Text id, bool postPartOnly);

// The title of a message: cut at its first line break (the two characters
// "\n" when escapedLineBreaks), then, beyond position 27, at the first ".",
// "," or "-" from there; trailing spaces dropped (never the first
// character); "(name) " or "(comment by name) " in front when name is given.
Str facebookMakeTitle(Text message, bool escapedLineBreaks, Text name, bool isComment);

}  // namespace bw
