// social/facebook_downloader.h - downloadFacebook, the downloader of one
// Facebook timeline (the signed-in user's, another user's, a page's or a
// group's) through the Graph API with the user's access token in the query:
// the first timeline page, optionally one page of older posts, then the
// account information, joined into one document under the pseudo roots
// "facebook_user_timeline", "facebook_user_timeline2" and
// "facebook_user_info". The same class makes plain synchronous calls
// ("me", the friends, the group search).
//
// Invariants:
//   1. Requests go one after another on one client to the configured Graph
//      API base; the downloader holds a request (infoHTTP non-NIL) exactly
//      between a successful open and its close.
//   2. A refused token (status 400, or error code 190 in an answer) signs in
//      once and repeats a request opened by path (a plain call, a timeline
//      page); a refused paging link or information request, a second
//      refusal of the repeated request, a sign-in without a token, and any
//      refusal in shell mode (no sign-in there) give kind 6.
//   3. Empty pages follow their paging link at most kFacebookPagingLinks
//      times per download, and only a link on the configured Graph API base
//      (scheme, host and port): the link carries the token. Otherwise the
//      empty page is kept.
//   4. A "me" answer without an id gives kind 5 from open, which then opens
//      nothing; no answer of the service raises.
//   5. An answer that ends with a status of 400 or more fails like a failed
//      transfer: 429 gives kind 7, others kind 5, except for the information,
//      which the download then goes without.
//   6. An answer that is not JSON ends the download: getDocument answers
//      kind 4 and infoParseFailure the raw text, line and message.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "core/str.h"
#include "news/feed_downloader.h"
#include "platform/time.h"
#include "social/facebook_signin.h"
#include "social/json_answer.h"
#include "web/http.h"
#include "web/web_data.h"

namespace bw {

inline constexpr int32_t kFacebookPagingLinks = 10;
inline constexpr int32_t kFacebookRequestTimeout = 10;
// The fields every timeline page asks for.
inline constexpr char kFacebookPostFields[] =
    "id,message,permalink_url,name,description,type,link,created_time,updated_time";

struct FacebookOpenResult {
  int32_t failed = 0;     // 0; 1 not opened; or the kind of the "me" call
  int32_t errorCode = 0;  // cHTTP::openURL's result
  int32_t detail = 0;     // and its protocol error
};

// The answer of a synchronous call: a document with kind 0, else NIL with
// the kind (4 without a document) and the HTTP status.
struct FacebookAnswer {
  std::unique_ptr<webDataRoot> document;
  int32_t kind = 0;
  int32_t status = 0;
};

// The sign-in a downloader runs; tests replace it (an empty value restores
// obtainUserAccessToken_facebook).
void setFacebookSignInHook(std::function<FacebookAccessToken()> hook);

class downloadFacebook : public downloadFeed {
  BW_CLASS(downloadFacebook, downloadFeed)
 public:
  downloadFacebook(Text accessToken, Text ownUserID);
  ~downloadFacebook() override;
  downloadFacebook(const downloadFacebook&) = delete;
  downloadFacebook& operator=(const downloadFacebook&) = delete;

  // "/v2.8/" + path + ("&" or "?") + "access_token=" + token on the Graph
  // API base, nothing encoded. http NIL: the own client.
  FacebookOpenResult openApi(Str path, cHTTP* http, bool blocking);
  FacebookOpenResult openApiCopy(Text path, cHTTP* http, bool blocking) { return openApi(Str(path.view()), http, blocking); }
  // A paging link that carries its own token, opened unchanged.
  FacebookOpenResult openApiUrlIncAccessToken(Str url, cHTTP* http, bool blocking);
  // userID NIL raises "EMU".
  FacebookOpenResult openUserInfo(Text userID, bool isGroup, cHTTP* http, bool blocking);
  // The first timeline page; times are bigTime, 0 for no bound. userID NIL
  // or the own id: the signed-in user's timeline with everybody's posts.
  FacebookOpenResult open(Text userID, bool isGroup, bool anyoneElse, bigTime since, bigTime until, cHTTP* http,
                          bool blocking, bigTime olderThan);
  // Runs the open request to its end and closes it.
  FacebookAnswer downloadNow(bool isNewFeed);
  void closeApi();
  // The own id ("" when it could not be read) and the failed kind of the
  // "me" call (0 when known).
  struct OwnID {
    Text id;
    int32_t failed = 0;
    int32_t errorCode = 0;
    int32_t detail = 0;
  };
  OwnID readOwnUserID();

  void saveInit(bool doNotSupplyDestYet, fHttpSaveCallback* callback, int32_t bufSize) override;
  DownloadStep saveAppend(bool supplyDestNow, fHttpSaveCallback* callback) override;
  FeedDocument getDocument(bool isNewFeed) override;
  void close() override;
  // Stores a changed token, then a changed own id, in root (saved per field).
  void updateFeedInfo(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root) override;
  cHTTP* infoHTTP() override { return http_; }
  ParseFailure infoParseFailure() const override { return answer_.failure(); }
  // A sign-in refused in the browser or cancelled says so; else empty.
  std::string infoFailureReason() const override { return signInFailureReason(signInEnd_); }

  const Str& infoAccessToken() const { return accessToken_; }
  const Str& infoOwnUserID() const { return ownUserID_; }

 private:
  enum class Call { kNone, kPlain, kTimeline, kPagingLink, kInfo };
  FacebookOpenResult openURL(const std::string& url, cHTTP* http, bool blocking, const char* who);
  DownloadStep refused(bool finished, int32_t errorCode);
  DownloadStep timelinePage(std::unique_ptr<webDataRoot> page);
  DownloadStep information(std::unique_ptr<webDataRoot> answer);
  std::string timelinePath(bool withComments) const;

  Str accessToken_;
  SignInEnd signInEnd_ = SignInEnd::kSignedIn;  // of the last sign-in that failed
  Str ownUserID_;
  std::unique_ptr<cHTTP> ownHttp_;
  cHTTP* http_ = nullptr;
  JsonAnswer answer_;
  Call call_ = Call::kNone;
  Str apiPath_;
  Str userID_;
  bool isGroup_ = false;
  bool anyoneElse_ = false;
  Str since_;
  Str until_;
  bool blocking_ = false;
  Str olderThan_;
  bool secondRoot_ = false;
  int32_t pagingLinks_ = 0;
  std::unique_ptr<webDataRoot> document_;
};

}  // namespace bw
