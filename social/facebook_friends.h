// social/facebook_friends.h - the signed-in user's friends as id/name pairs,
// read with one plain "me/friends" call on a Facebook downloader.
//
// Invariants:
//   1. The list exists exactly when the answer had "data"; then the error is
//      0 and entries without "id" or "name" are skipped.
//   2. Without a list the error is the kind of the call (4 for an answer
//      that gave no document).
#pragma once

#include <cstdint>
#include <optional>

#include "social/facebook_downloader.h"
#include "social/key_value_pairs.h"

namespace bw {

struct FacebookFriends {
  std::optional<KeyValuePairs> friends;  // key = id, value = name; in order
  int32_t error = 0;
};

// downloader: made with the root's token and own id, no request open.
FacebookFriends facebookFetchFriends(downloadFacebook& downloader);

}  // namespace bw
