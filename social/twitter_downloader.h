// social/twitter_downloader.h - downloadTwitter, the downloader of one
// Twitter user's timeline: signed timeline pages until the newest stored
// tweet is met, optionally one page of older tweets, then the profile, all
// joined into one document under the pseudo roots "twitter_user_timeline",
// "twitter_user_timeline2" and "twitter_users_show".
//
// Invariants:
//   1. Every request is signed with the consumer pair and the user's token
//      pair and opened on one client, one after another; the downloader
//      holds a request (infoHTTP non-NIL) exactly between a successful open
//      and close, or until a step fails.
//   2. A download signs in at most once (in open when there is no token, or
//      after a refused one); a token refused again, or any refusal in shell
//      mode, closes the download with kind 6. The same page is asked again
//      after a sign-in.
//   3. The newer pages stop at the page holding the stored newest tweet, at
//      an empty page, at a page whose last id does not lie below the page
//      before (an id text that is no decimal in 1..2^63-1 counts as none),
//      or after kTwitterNewerPages pages.
//   4. An answer that ends with a status of 400 or more fails like a failed
//      transfer: 429 gives kind 7, 401 the sign-in, others kind 5 (a
//      timeline page) or no profile (the profile, which never fails the
//      download).
//   5. An answer that is not JSON ends the download: getDocument answers
//      kind 4 and infoParseFailure the raw text, line and message.
//   6. Driven without a destination, saveAppend answers finished once the
//      answer's body can be read; the next call supplies the destination
//      and the page is read from there, whether or not it is whole yet.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "core/str.h"
#include "news/feed_downloader.h"
#include "social/json_answer.h"
#include "social/twitter_signin.h"
#include "web/http.h"
#include "web/web_data.h"

namespace bw {

inline constexpr int32_t kTwitterNewerPages = 20;
inline constexpr int32_t kTwitterRequestTimeout = 10;

// The decimal id text minus one, NIL when the text is no decimal number in
// 1..2^63-1 (sent as no bound).
Str twitterIdMinusOne(Text id);

struct TwitterOpenResult {
  int32_t failed = 0;      // 0; 1 not opened; the sign-in's kind; 6 in shell mode
  int32_t errorCode = 0;   // openApi's result
  int32_t detail = 0;      // and its protocol error
};

// The sign-in a downloader runs; tests replace it (an empty value restores
// obtainTwitterUserAccessToken).
void setTwitterSignInHook(std::function<TwitterAccessToken(cHTTP&)> hook);

class downloadTwitter : public downloadFeed {
  BW_CLASS(downloadTwitter, downloadFeed)
 public:
  // userToken NIL: both NIL (the first open signs in).
  downloadTwitter(Text userToken, Text userTokenSecret);
  ~downloadTwitter() override;
  downloadTwitter(const downloadTwitter&) = delete;
  downloadTwitter& operator=(const downloadTwitter&) = delete;

  TwitterAccessToken obtainUserAccessToken();
  // Signs url with the consumer and user pairs (no token while the secret
  // is NIL) and opens it on http, certificate checked.
  cHTTP::OpenResult openApi(cHTTP& http, Text url, Text headers, Text postData, bool nonBlocking);
  // Exactly one of userID and screenName; userID must be all digits and
  // screenName of [A-Za-z0-9_] (else failed 1). http NIL: the own client.
  // The first timeline page is opened; ids are kept as given.
  TwitterOpenResult open(Str userID, Str screenName, Text count, Str sinceID, Str maxID, cHTTP* http,
                         bool blocking, Str olderThanID);

  void saveInit(bool doNotSupplyDestYet, fHttpSaveCallback* callback, int32_t bufSize) override;
  DownloadStep saveAppend(bool supplyDestNow, fHttpSaveCallback* callback) override;
  FeedDocument getDocument(bool isNewFeed) override;
  void close() override;
  // Stores a changed token pair in root (saved once).
  void updateFeedInfo(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root) override;
  cHTTP* infoHTTP() override { return http_; }
  ParseFailure infoParseFailure() const override { return answer_.failure(); }
  // A sign-in refused in the browser or cancelled says so; else empty.
  std::string infoFailureReason() const override { return signInFailureReason(signInEnd_); }

  // Replaces the token pair (NIL, NIL: none).
  void setUserToken(Str token, Str tokenSecret) {
    userToken_ = std::move(token);
    userTokenSecret_ = std::move(tokenSecret);
  }
  const Str& infoUserToken() const { return userToken_; }
  const Str& infoUserTokenSecret() const { return userTokenSecret_; }
  cJSON& infoReader() { return answer_.reader(); }

 private:
  enum class Phase { kNewer, kOlder, kProfile };
  void closeApi();
  DownloadStep timelineFailed(int32_t errorCode);
  DownloadStep timelineAnswer();
  // Opens the next request on the kept client after closeApi: a page of
  // the given phase and max id, or the profile.
  DownloadStep nextPage(cHTTP* client, Phase phase, Str maxID);
  DownloadStep openProfile(cHTTP* client);

  Str userToken_;
  Str userTokenSecret_;
  std::unique_ptr<cHTTP> ownHttp_;
  cHTTP* http_ = nullptr;
  JsonAnswer answer_;
  Str userID_;
  Str screenName_;
  Str count_;
  Str sinceID_;
  Str maxID_;
  bool blocking_ = false;
  Str olderThanID_;
  Phase phase_ = Phase::kNewer;
  int32_t newerPages_ = 0;
  bool signedIn_ = false;
  SignInEnd signInEnd_ = SignInEnd::kSignedIn;  // of the last sign-in that failed
  std::unique_ptr<webDataRoot> document_;
};

}  // namespace bw
