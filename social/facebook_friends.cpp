// social/facebook_friends.cpp - the friends reader.
#include "social/facebook_friends.h"

#include "social/json_members.h"
#include "social/twitter_records.h"

namespace bw {

FacebookFriends facebookFetchFriends(downloadFacebook& downloader) {
  FacebookFriends out;
  out.error = downloader.openApiCopy("me/friends", nullptr, false).failed;
  if (out.error != 0) return out;
  FacebookAnswer answer = downloader.downloadNow(false);
  out.error = answer.kind;
  const webDataNode* top = answer.document ? answer.document->head() : nullptr;
  const webDataNode* data = jsonMember(top, "data");
  if (!data) return out;
  out.friends.emplace();
  for (const webDataNode* entry = data->getFirstChild(); entry; entry = entry->getNext()) {
    Str id = twitterMemberText(entry, "id", true);
    Str name = twitterMemberText(entry, "name", true);
    if (id && name) newKeyValuePair(*out.friends, std::move(id), std::move(name));
  }
  out.error = 0;
  return out;
}

}  // namespace bw
