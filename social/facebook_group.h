// social/facebook_group.h - findFacebookGroup: the account id behind a typed
// Facebook address. A user or page name is the id; a group is searched by
// name and confirmed by the user, or given by its number; groups that are
// not public are refused; the id found must exist.
//
// Invariants:
//   1. Without a downloader nothing is asked: the answer only tells whether
//      the address is a Facebook one ("" and TRUE for a group by name).
//   2. Every failure answers NIL; only the refusal of a closed group is
//      shown to the user. A search that finds nothing, "No" to every group,
//      or a sign-in the user gave up (kind 6), answers NIL silently.
//   3. Graph requests go through the downloader's plain calls, one after
//      another; the downloader holds no request afterwards.
//   4. An id goes into Graph paths as it stands, so a found group id with a
//      byte outside [A-Za-z0-9._-] is passed over.
#pragma once

#include "core/str.h"
#include "news/ui_seam.h"
#include "social/facebook_downloader.h"

namespace bw {

// The smallest size of the confirmation requester.
inline constexpr int32_t kGroupRequesterWidth = 640;
inline constexpr int32_t kGroupRequesterHeight = 480;

struct FacebookGroupFound {
  Str id;  // NIL: no Facebook address, or no usable id
  bool isGroup = false;
  int32_t failed = 0;  // kFeedAuthFailed when the user gave up a sign-in (id NIL)
};

// window: whose size sets the requester's (NIL: the smallest); downloader:
// after its construction with the root's tokens, or NIL.
FacebookGroupFound findFacebookGroup(Text url, NewsGuiWindow* window, downloadFacebook* downloader);

}  // namespace bw
