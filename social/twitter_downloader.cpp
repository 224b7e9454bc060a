// social/twitter_downloader.cpp - the request steps of a Twitter timeline
// download and the joining of its answers into one document.
#include "social/twitter_downloader.h"

#include <limits>
#include <string>

#include "core/exception.h"
#include "news/news_config.h"
#include "platform/dos_env.h"
#include "social/key_value_pairs.h"
#include "social/oauth1.h"
#include "social/service_config.h"
#include "social/twitter_records.h"

namespace bw {
namespace {

std::function<TwitterAccessToken(cHTTP&)> gSignInHook;

// The value of a decimal id text in 1..2^63-1; 0 for anything else.
int64_t idValue(Text id) {
  if (id.isNil() || id.length() == 0) return 0;
  int64_t value = 0;
  for (char c : id.view()) {
    if (c < '0' || c > '9') return 0;
    const int digit = c - '0';
    if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return value;
}

bool allDigits(const Str& text) {
  if (text.empty()) return false;
  for (char c : text.view()) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool isScreenName(const Str& text) {
  if (text.empty()) return false;
  for (char c : text.view()) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

// "user_id=<id>" or "screen_name=<name>", appended unencoded.
std::string userQuery(const Str& userID, const Str& screenName) {
  return userID ? "user_id=" + userID.str() : "screen_name=" + screenName.str();
}

}  // namespace

Str twitterIdMinusOne(Text id) {
  const int64_t value = idValue(id);
  return value == 0 ? Str() : twitterBigValueToString(value - 1);
}

void setTwitterSignInHook(std::function<TwitterAccessToken(cHTTP&)> hook) { gSignInHook = std::move(hook); }

downloadTwitter::downloadTwitter(Text userToken, Text userTokenSecret)
    : ownHttp_(std::make_unique<cHTTP>(Text(newsConfig::kUserAgent))),
      answer_("downloadTwitter", std::make_unique<cJSON>(twitterEscapeTable())) {
  if (!userToken.isNil()) {
    userToken_ = Str(userToken.view());
    if (!userTokenSecret.isNil()) userTokenSecret_ = Str(userTokenSecret.view());
  }
}

downloadTwitter::~downloadTwitter() {
  if (http_) close();
}

TwitterAccessToken downloadTwitter::obtainUserAccessToken() {
  return gSignInHook ? gSignInHook(*ownHttp_) : obtainTwitterUserAccessToken(*ownHttp_);
}

cHTTP::OpenResult downloadTwitter::openApi(cHTTP& http, Text url, Text headers, Text postData, bool nonBlocking) {
  if (userTokenSecret_.isNil()) userToken_ = Str();
  return oauth1_openURL(http, url, twitterConsumerKey(), twitterConsumerSecret(), userToken_,
                        userTokenSecret_, OauthKeyValuePairs(), headers, postData, kTwitterRequestTimeout,
                        nonBlocking);
}

TwitterOpenResult downloadTwitter::open(Str userID, Str screenName, Text count, Str sinceID, Str maxID,
                                        cHTTP* http, bool blocking, Str olderThanID) {
  if (userID && screenName) raise("EMU", "downloadTwitter.open(); both user_id & screen_name were supplied");
  if (!userID && !screenName) raise("EMU", "downloadTwitter.open(); neither user_id nor screen_name were supplied");
  if (http_) raise("EMU", "downloadTwitter.open(); previous call was never closed");
  if (answer_.hasDestination()) raise("BUG", "downloadTwitter.open(); somehow dest<>NIL despite http=NIL");
  // Ids and names go into the signed query as they stand: anything else
  // names no account.
  if (userID ? !allDigits(userID) : !isScreenName(screenName)) return {kFeedDownloadFailed, 0, 0};
  if (userToken_.isNil()) {
    if (dos::shellMode() || signedIn_) return {kFeedAuthFailed, 0, 0};
    TwitterAccessToken token = obtainUserAccessToken();
    signedIn_ = true;
    if (token.errorKind != kSignInOk) {
      signInEnd_ = token.end;
      return {token.errorKind, 0, 0};
    }
    userToken_ = std::move(token.token);
    userTokenSecret_ = std::move(token.tokenSecret);
  }

  std::string url = twitterApiBase().str() + "/1.1/statuses/user_timeline.json?" + userQuery(userID, screenName) +
                    "&count=" + std::string(count.view());
  if (Str since = twitterIdMinusOne(sinceID)) url += "&since_id=" + since.str();
  if (Str max = twitterIdMinusOne(maxID)) url += "&max_id=" + max.str();
  url += "&tweet_mode=extended&trim_user=true&exclude_replies=true";
  cHTTP* client = http ? http : ownHttp_.get();
  cHTTP::OpenResult r = openApi(*client, url, nullptr, nullptr, !blocking);
  if (r.result != 0) return {kFeedDownloadFailed, r.result, r.protocolError};

  http_ = client;
  userID_ = std::move(userID);
  screenName_ = std::move(screenName);
  count_ = Str(count.view());
  sinceID_ = std::move(sinceID);
  maxID_ = std::move(maxID);
  blocking_ = blocking;
  olderThanID_ = std::move(olderThanID);
  phase_ = Phase::kNewer;
  answer_.begin();
  return {};
}

void downloadTwitter::saveInit(bool doNotSupplyDestYet, fHttpSaveCallback* callback, int32_t bufSize) {
  if (!http_) raise("EMU", "downloadTwitter.saveInit(); not open");
  answer_.saveInit(*http_, doNotSupplyDestYet, callback, bufSize);
}

DownloadStep downloadTwitter::saveAppend(bool supplyDestNow, fHttpSaveCallback* callback) {
  if (!http_) raise("EMU", "downloadTwitter.saveAppend(); not open");
  const JsonAnswer::Step s = answer_.append(*http_, supplyDestNow, callback);
  const int32_t errorCode = s.errorCode;

  if (phase_ == Phase::kProfile) {
    if (errorCode != 0) return {kFeedOk, true, errorCode};
    if (!s.finished) return {};
    std::unique_ptr<webDataRoot> answer = answer_.read();
    if (answer && answer->head()) {
      answer->head()->setName(Str(kUsersShowRoot), Str(), false);
      if (document_) {
        document_->addNodes(answer->takeNodes(), document_.get());
      } else {
        document_ = std::move(answer);
      }
    }
    return {kFeedOk, true, 0};
  }
  if (errorCode != 0) return timelineFailed(errorCode);
  if (!s.finished) return {};
  // Driven without a destination (the update's second request in flight),
  // finished says the body can be read: the caller supplies one next, and
  // the answer is read then, however much of it has come already.
  if (!answer_.arming().supplied) return {kFeedOk, true, 0};
  return timelineAnswer();
}

DownloadStep downloadTwitter::timelineFailed(int32_t errorCode) {
  const int32_t status = http_->infoStatus().status;
  if (status == 429) return {kFeedBlocked, false, errorCode};
  if (status != 401) return {kFeedNoBody, false, errorCode};
  // The token pair was refused: one new sign-in per download, then the same
  // page again.
  cHTTP* client = http_;
  closeApi();
  userToken_ = Str();
  userTokenSecret_ = Str();
  int32_t failed = kFeedAuthFailed;
  if (!dos::shellMode() && !signedIn_) {
    TwitterAccessToken token = obtainUserAccessToken();
    signedIn_ = true;
    failed = token.errorKind;
    if (failed != kSignInOk) signInEnd_ = token.end;
    userToken_ = std::move(token.token);
    userTokenSecret_ = std::move(token.tokenSecret);
  }
  if (failed != kSignInOk) {
    close();
    return {failed, false, errorCode};
  }
  const Phase phase = phase_;
  const JsonAnswer::Arming arming = answer_.arming();
  TwitterOpenResult opened = open(userID_, screenName_, count_, sinceID_, maxID_, client, blocking_, olderThanID_);
  if (opened.failed != 0) return {2, false, opened.errorCode};
  phase_ = phase;
  answer_.rearm(*http_, arming);
  return {};
}

DownloadStep downloadTwitter::timelineAnswer() {
  std::unique_ptr<webDataRoot> page = answer_.read();
  if (!page) return {kFeedOk, true, 0};
  webDataNode* top = page->head();
  cHTTP* client = http_;

  // The gap search: the page is complete when it holds the stored newest
  // tweet (which goes) or is empty; otherwise the next page lies below the
  // last id read.
  bool finished = true;
  Str lastID;
  if (phase_ == Phase::kNewer && sinceID_) {
    ++newerPages_;
    finished = top == nullptr || top->getFirstChild() == nullptr;
    for (webDataNode* tweet = top ? top->getFirstChild() : nullptr; tweet && !finished;) {
      webDataNode* next = tweet->getNext();
      Str text = twitterMemberText(tweet, "id_str", true);
      if (text) lastID = text;
      if (text == sinceID_) {
        tweet->remove();
        finished = true;
      }
      tweet = next;
    }
  }

  if (top) {
    if (phase_ == Phase::kOlder && document_) {
      top->setName(Str(kOlderTimelineRoot), Str(), false);
      document_->addNodes(page->takeNodes(), document_.get());
    } else if (!document_) {
      top->setName(Str(phase_ == Phase::kOlder ? kOlderTimelineRoot : kTimelineRoot), Str(), false);
      document_ = std::move(page);
    } else if (top->getFirstChild()) {
      document_->head()->addChildNode(top->infoChildren()->takeNodes());
    }
  }

  closeApi();
  if (!finished) {
    // A page that does not reach below the one before would be asked for
    // again and again.
    const int64_t last = idValue(lastID);
    const int64_t previous = idValue(maxID_);
    if (last != 0 && (maxID_.isNil() || last < previous) && newerPages_ < kTwitterNewerPages) {
      return nextPage(client, Phase::kNewer, std::move(lastID));
    }
  }
  if (phase_ == Phase::kNewer && olderThanID_) {
    Str older = std::move(olderThanID_);
    olderThanID_ = Str();
    sinceID_ = Str();
    return nextPage(client, Phase::kOlder, std::move(older));
  }
  return openProfile(client);
}

DownloadStep downloadTwitter::nextPage(cHTTP* client, Phase phase, Str maxID) {
  const JsonAnswer::Arming arming = answer_.arming();
  TwitterOpenResult opened = open(userID_, screenName_, count_, phase == Phase::kNewer ? sinceID_ : Str(),
                                  std::move(maxID), client, blocking_, phase == Phase::kNewer ? olderThanID_ : Str());
  if (opened.failed != 0) {
    // A newer page is needed; the older page is not, and the profile follows.
    if (phase == Phase::kNewer) return {2, false, opened.errorCode};
    return openProfile(client);
  }
  phase_ = phase;
  answer_.rearm(*http_, arming);
  return {};
}

DownloadStep downloadTwitter::openProfile(cHTTP* client) {
  const std::string url =
      twitterApiBase().str() + "/1.1/users/show.json?" + userQuery(userID_, screenName_) + "&include_entities=false";
  cHTTP::OpenResult r = openApi(*client, url, nullptr, nullptr, !blocking_);
  if (r.result != 0) return {kFeedOk, true, r.result};
  http_ = client;
  phase_ = Phase::kProfile;
  const JsonAnswer::Arming arming = answer_.arming();
  answer_.saveInit(*client, false, arming.callback, arming.bufSize);
  return {};
}

void downloadTwitter::closeApi() {
  if (http_) http_->close();
  http_ = nullptr;
  answer_.release();
}

void downloadTwitter::close() {
  closeApi();
  userID_ = Str();
  screenName_ = Str();
  count_ = Str();
  sinceID_ = Str();
  maxID_ = Str();
  olderThanID_ = Str();
  document_.reset();
  newerPages_ = 0;
  signedIn_ = false;
}

FeedDocument downloadTwitter::getDocument(bool) {
  if (answer_.parseFailed()) return {nullptr, kFeedParseFailed, Str()};
  return {std::move(document_), kFeedOk, Str()};
}

void downloadTwitter::updateFeedInfo(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root) {
  if (userToken_.isNil()) return;
  if (root.twitterToken == userToken_ && root.twitterTokenSecret == userTokenSecret_) return;
  root.twitterToken = userToken_;
  root.twitterTokenSecret = userTokenSecret_;
  soup.saveChangesToObject(&root);
}

}  // namespace bw
