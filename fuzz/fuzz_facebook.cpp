// fuzz/fuzz_facebook.cpp - the Facebook readers on arbitrary bytes: the
// input read as JSON and its top node taken as a post, as a comment under a
// linked parent and as an account record; the same bytes as a message for
// the title rule and as a post id. A title is its prefix and a beginning of
// the message, the split parts join back into the id, and no reader leaves a
// field NIL that the model needs. The bytes as a typed address: without a
// downloader the lookup answers a name with no upper-case letter, "/" or "?"
// (a group by name: ""), and asks nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_social_modules.h"
#include "social/facebook_group.h"
#include "social/facebook_records.h"
#include "web/json_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bw::fuzzing::socialModulesFor(data)) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  for (bool escaped : {false, true}) {
    const std::string_view prefix = escaped ? "(Ann) " : "(comment by Ann) ";
    const bw::Str title = bw::facebookMakeTitle(text, escaped, "Ann", !escaped);
    if (!title.view().starts_with(prefix) || title.view().size() > prefix.size() + text.size()) std::abort();
    if (text.substr(0, title.view().size() - prefix.size()) != title.view().substr(prefix.size())) std::abort();
  }
  const bw::FacebookPostID id = bw::facebookSplitPostID(text, false);
  const std::string joined = id.ownerPart.isNil() ? id.postPart.str() : id.ownerPart.str() + "_" + id.postPart.str();
  if (joined != text) std::abort();

  const bw::FacebookGroupFound group = bw::findFacebookGroup(text, nullptr, nullptr);
  if (group.id) {
    for (char c : group.id.view()) {
      if ((c >= 'A' && c <= 'Z') || c == '/' || c == '?') std::abort();
    }
    if (!group.isGroup && group.id.empty()) std::abort();
  }

  bw::cJSON reader;
  bw::JsonParseResult parsed = bw::fuzzing::parseJson(reader, std::string(text));
  if (!parsed.root || !parsed.root->head()) return 0;
  bw::FacebookRecord post = bw::facebookExtractPost(*parsed.root->head());
  if (post.item->uniqueID.isNil() || post.item->link.isNil() || post.item->title.isNil()) std::abort();
  if (post.commentsNode) {
    for (const bw::webDataNode* c = post.commentsNode->findChild("data", nullptr, nullptr, nullptr)->getFirstChild();
         c; c = c->getNext()) {
      bw::facebookExtractComment(*c, post.item.get(), post.postAddress);
    }
  }
  bw::newsItem parent;
  bw::FacebookRecord comment =
      bw::facebookExtractComment(*parsed.root->head(), &parent, "https://www.facebook.com/1/posts/2?x=1");
  if (comment.item->uniqueID.isNil() || comment.item->link.isNil() || comment.body->content.isNil()) std::abort();
  parsed.root->head()->setName(bw::Str(bw::kFacebookInfoRoot), bw::Str(), false);
  std::unique_ptr<bw::newsFeed> feed = bw::facebookUserInfoToFeed(*parsed.root);
  if (!feed || feed->url.isNil() || feed->uniqueID.isNil() || feed->title.isNil()) std::abort();
  return 0;
}
