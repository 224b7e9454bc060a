// fuzz/fuzz_tweet.cpp - the Twitter readers on arbitrary bytes: the input
// read as JSON with the Twitter entity table and its top node taken as a
// tweet and as a profile, and the same bytes as a tweet date and as a link.
// The date reader never looks past its text (the bytes alone in a buffer
// of their size give the same answer) and never answers unset; a link key
// is never longer than the link, and NIL only when it is the link itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_social_modules.h"
#include "social/social_links.h"
#include "social/twitter_records.h"
#include "web/json_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bw::fuzzing::socialModulesFor(data)) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const bw::bigTime date = bw::twitterParseDate(text);
  const std::string alone(text.substr(0, text.find('\0')));
  if (date == bw::kDateUnset || date != bw::twitterParseDate(std::string_view(alone))) std::abort();

  const bw::Str key = bw::normaliseSocialLink(text, true);
  const bw::Str copy = bw::normaliseSocialLink(text, false);
  if (copy.length() > static_cast<int32_t>(text.size())) std::abort();
  if (key.isNil() ? copy.view() != text : key.view() != copy.view()) std::abort();
  if (bw::socialLinkKey(text).view() != copy.view()) std::abort();

  bw::cJSON reader(bw::twitterEscapeTable());
  bw::JsonParseResult parsed = bw::fuzzing::parseJson(reader, std::string(text));
  if (!parsed.root || !parsed.root->head()) return 0;
  bw::newsFeed feed;
  feed.url = bw::Str("https://twitter.com/fuzz");
  bw::TweetRecord tweet = bw::twitterExtractTweet(*parsed.root->head(), feed);
  if (tweet.item->uniqueID.isNil() || tweet.item->link.isNil() || tweet.item->title.isNil()) std::abort();
  parsed.root->head()->setName(bw::Str(bw::kUsersShowRoot), bw::Str(), false);
  std::unique_ptr<bw::newsFeed> profile = bw::twitterUserInfoToFeed(*parsed.root);
  if (!profile || profile->url.isNil() || profile->uniqueID.isNil()) std::abort();
  return 0;
}
