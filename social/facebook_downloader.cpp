// social/facebook_downloader.cpp - the request steps of a Facebook timeline
// download and the joining of its answers into one document.
#include "social/facebook_downloader.h"

#include <string>

#include "core/exception.h"
#include "core/string_procs.h"
#include "news/news_config.h"
#include "platform/dos_env.h"
#include "social/facebook_records.h"
#include "social/facebook_signin.h"
#include "social/json_members.h"
#include "social/oauth1.h"
#include "social/service_config.h"
#include "social/twitter_records.h"

namespace bw {
namespace {

constexpr int64_t kUnixAt2000 = 946684800;
constexpr int32_t kStatusRefused = 400;
constexpr int32_t kStatusBlocked = 429;
constexpr int32_t kTokenRefusedCode = 190;

std::function<FacebookAccessToken()> gSignInHook;

webDataNode* child(const webDataNode* node, Text name) { return jsonMember(node, name); }

// The decimal Unix time of a bigTime plus offset, NIL for no bound (0).
Str unixText(bigTime time, int64_t offset) { return time == 0 ? Str() : twitterBigValueToString(time + offset); }

bool hasComments(const webDataNode* post) {
  const webDataNode* data = child(child(post, "comments"), "data");
  return data && data->getFirstChild();
}

// Whether url lies on the configured Graph API base: same scheme, host and
// port, then a path.
bool onGraphBase(std::string_view url) {
  const Str base = graphApiBase();
  const std::string_view b = base.view();
  return url.starts_with(b) && (url.size() == b.size() || url[b.size()] == '/' || url[b.size()] == '?');
}

bool tokenRefused(const webDataNode* top) {
  const Str code = twitterMemberText(child(top, "error"), "code", true);
  return code && valueAt(code, 0, 0).value == kTokenRefusedCode;
}

}  // namespace

void setFacebookSignInHook(std::function<FacebookAccessToken()> hook) { gSignInHook = std::move(hook); }

downloadFacebook::downloadFacebook(Text accessToken, Text ownUserID)
    : ownHttp_(std::make_unique<cHTTP>(Text(newsConfig::kUserAgent))),
      answer_("downloadFacebook", std::make_unique<cJSON>()) {
  if (!accessToken.isNil()) accessToken_ = Str(accessToken.view());
  if (!ownUserID.isNil()) ownUserID_ = Str(ownUserID.view());
}

downloadFacebook::~downloadFacebook() {
  if (http_) close();
}

FacebookOpenResult downloadFacebook::openURL(const std::string& url, cHTTP* http, bool blocking, const char* who) {
  if (http_) raise("EMU", std::string("downloadFacebook.") + who + "(); previous call was never closed");
  if (answer_.hasDestination()) raise("BUG", std::string("downloadFacebook.") + who + "(); somehow dest<>NIL despite http=NIL");
  cHTTP* client = http ? http : ownHttp_.get();
  cHTTP::OpenResult r =
      client->openURL(url, nullptr, nullptr, nullptr, kFacebookRequestTimeout, !blocking, nullptr, true);
  if (r.result != 0) return {kFeedDownloadFailed, r.result, r.protocolError};
  http_ = client;
  blocking_ = blocking;
  answer_.begin();
  return {};
}

FacebookOpenResult downloadFacebook::openApi(Str path, cHTTP* http, bool blocking) {
  std::string url = graphApiBase().str() + "/" + graphApiVersion + "/" + path.str();
  url += path.view().find('?') == std::string_view::npos ? "?" : "&";
  url += "access_token=" + accessToken_.str();
  FacebookOpenResult r = openURL(url, http, blocking, "openApi");
  if (r.failed != 0) return r;
  call_ = Call::kPlain;
  apiPath_ = std::move(path);
  return r;
}

FacebookOpenResult downloadFacebook::openApiUrlIncAccessToken(Str url, cHTTP* http, bool blocking) {
  FacebookOpenResult r = openURL(url.str(), http, blocking, "openApiUrlIncAccessToken");
  if (r.failed == 0) call_ = Call::kPagingLink;
  return r;
}

FacebookOpenResult downloadFacebook::openUserInfo(Text userID, bool isGroup, cHTTP* http, bool blocking) {
  if (userID.isNil()) raise("EMU", "downloadFacebook.openUserInfo(); userID=NILA");
  if (http_) raise("EMU", "downloadFacebook.openUserInfo(); previous call was never closed");
  if (answer_.hasDestination()) raise("BUG", "downloadFacebook.openUserInfo(); somehow dest<>NIL despite http=NIL");
  const std::string path =
      std::string(userID.view()) + "/?fields=id,name,link" + (isGroup ? ",description,owner" : ",about");
  FacebookOpenResult r = openApi(Str(path), http, blocking);
  if (r.failed == 0) call_ = Call::kInfo;
  return r;
}

std::string downloadFacebook::timelinePath(bool withComments) const {
  std::string path = (userID_ ? userID_.str() : std::string("me")) +
                     (anyoneElse_ ? "/feed/?fields=from," : "/posts/?fields=") + kFacebookPostFields;
  if (withComments) path += ",comments.filter(stream).order(reverse_chronological)";
  return path + "&limit=100";
}

FacebookOpenResult downloadFacebook::open(Text userID, bool isGroup, bool anyoneElse, bigTime since, bigTime until,
                                          cHTTP* http, bool blocking, bigTime olderThan) {
  if (http_) raise("EMU", "downloadFacebook.open(); previous call was never closed");
  if (answer_.hasDestination()) raise("BUG", "downloadFacebook.open(); somehow dest<>NIL despite http=NIL");
  OwnID own = readOwnUserID();
  if (own.failed != 0) return {own.failed, own.errorCode, own.detail};

  userID_ = userID.isNil() || userID.view() == ownUserID_.view() ? Str() : Str(userID.view());
  isGroup_ = isGroup;
  anyoneElse_ = anyoneElse || isGroup || userID_.isNil();
  since_ = unixText(since, kUnixAt2000);
  until_ = unixText(until, kUnixAt2000 - 1);
  olderThan_ = unixText(olderThan, kUnixAt2000 - 1);
  std::string path = timelinePath(true);
  if (since_) path += "&__previous=1&since=" + since_.str();
  if (until_) path += "&until=" + until_.str();
  FacebookOpenResult r = openApi(Str(path), http, blocking);
  if (r.failed != 0) return r;
  call_ = Call::kTimeline;
  secondRoot_ = false;
  pagingLinks_ = 0;
  return r;
}

downloadFacebook::OwnID downloadFacebook::readOwnUserID() {
  if (ownUserID_) return {ownUserID_};
  FacebookOpenResult opened = openApiCopy("me", nullptr, false);
  if (opened.failed != 0) return {"", opened.failed, opened.errorCode, opened.detail};
  FacebookAnswer me = downloadNow(false);
  if (!me.document) return {"", me.kind, me.status, 0};
  ownUserID_ = twitterMemberText(me.document->head(), "id", true);
  // An answer without an id is no answer: the own timeline could not be
  // told from anyone else's.
  if (!ownUserID_) return {"", kFeedNoBody, me.status, 0};
  return {ownUserID_};
}

FacebookAnswer downloadFacebook::downloadNow(bool isNewFeed) {
  saveInit(false, nullptr, kFeedBufferSize);
  DownloadStep step;
  do {
    if (http_ && !blocking_) http_->isReady(100);
    step = saveAppend(false, nullptr);
  } while (step.failed == 0 && !step.finished);
  FacebookAnswer out;
  if (step.failed == 0) {
    FeedDocument d = getDocument(isNewFeed);
    out.document = std::move(d.document);
    out.kind = out.document ? d.kind : kFeedParseFailed;
  } else {
    out.kind = step.failed;
    out.status = http_ ? http_->infoStatus().status : 0;
  }
  close();
  return out;
}

void downloadFacebook::saveInit(bool doNotSupplyDestYet, fHttpSaveCallback* callback, int32_t bufSize) {
  if (!http_) raise("EMU", "downloadFacebook.saveInit(); not open");
  answer_.saveInit(*http_, doNotSupplyDestYet, callback, bufSize);
}

DownloadStep downloadFacebook::saveAppend(bool supplyDestNow, fHttpSaveCallback* callback) {
  if (!http_) raise("EMU", "downloadFacebook.saveAppend(); not open");
  const JsonAnswer::Step s = answer_.append(*http_, supplyDestNow, callback);
  if (s.errorCode != 0) {
    const int32_t status = http_->infoStatus().status;
    if (status == kStatusRefused) return refused(false, s.errorCode);
    if (call_ == Call::kInfo) return {kFeedOk, true, s.errorCode};
    return {status == kStatusBlocked ? kFeedBlocked : kFeedNoBody, false, s.errorCode};
  }
  if (!s.finished) return {};
  if (!answer_.arming().supplied) return {kFeedOk, true, 0};
  std::unique_ptr<webDataRoot> answer = answer_.read();
  if (!answer) return {kFeedOk, true, 0};
  if (tokenRefused(answer->head())) return refused(true, 0);
  if (!answer->head() || call_ == Call::kPlain) {
    if (call_ == Call::kPlain) document_ = std::move(answer);
    return {kFeedOk, true, 0};
  }
  if (call_ == Call::kInfo) return information(std::move(answer));
  return timelinePage(std::move(answer));
}

DownloadStep downloadFacebook::refused(bool finished, int32_t errorCode) {
  // Only a request opened by path can be asked again, once; shell mode has
  // no browser to sign in with.
  const bool repeatable = (call_ == Call::kPlain || call_ == Call::kTimeline) && apiPath_;
  if (!repeatable || dos::shellMode()) return {kFeedAuthFailed, finished, errorCode};
  accessToken_ = Str();
  FacebookAccessToken token = gSignInHook ? gSignInHook() : obtainUserAccessToken_facebook();
  if (!token.token) {
    signInEnd_ = token.end == SignInEnd::kSignedIn ? SignInEnd::kFailed : token.end;
    return {kFeedAuthFailed, finished, errorCode};
  }
  accessToken_ = std::move(token.token);
  cHTTP* client = http_;
  const JsonAnswer::Arming arming = answer_.arming();
  const Call call = call_;
  closeApi();
  Str path = std::move(apiPath_);
  FacebookOpenResult r = openApi(std::move(path), client, blocking_);
  if (r.failed != 0) return {2, false, r.errorCode};
  call_ = call;
  apiPath_ = Str();  // a second refusal is final
  answer_.rearm(*http_, arming);
  return {};
}

DownloadStep downloadFacebook::timelinePage(std::unique_ptr<webDataRoot> page) {
  webDataNode* top = page->head();
  top->setName(Str(secondRoot_ ? kFacebookOlderTimelineRoot : kFacebookTimelineRoot), Str(), false);
  const webDataNode* data = child(top, "data");
  if (data && data->getFirstChild()) {
    if (userID_.isNil()) {
      if (!ownUserID_) raise("BUG", "downloadFacebook.saveAppend(); ownUserID=NILS (1)");
      // The user's own posts count only when somebody commented on them.
      for (webDataNode* post = data->getFirstChild(); post;) {
        webDataNode* next = post->getNext();
        if (twitterMemberText(child(post, "from"), "id", true) == ownUserID_ && !hasComments(post)) post->remove();
        post = next;
      }
    }
    if (anyoneElse_) {
      const Str& owner = userID_ ? userID_ : ownUserID_;
      if (!owner) raise("BUG", "downloadFacebook.saveAppend(); ownUserID=NILS (2)");
      for (webDataNode* post = data->getFirstChild(); post; post = post->getNext()) {
        webDataNode* from = child(post, "from");
        if (from && twitterMemberText(from, "id", true) == owner) from->remove();
      }
    }
  }

  cHTTP* client = http_;
  const JsonAnswer::Arming arming = answer_.arming();
  if (data && !data->getFirstChild()) {
    const Str link = twitterMemberText(child(top, "paging"), since_ ? "prev" : "next", false);
    if (link && !link.empty() && pagingLinks_ < kFacebookPagingLinks && onGraphBase(link.view())) {
      ++pagingLinks_;
      const bool second = secondRoot_;
      closeApi();
      apiPath_ = Str();
      FacebookOpenResult r = openApiUrlIncAccessToken(Str(link.view()), client, blocking_);
      secondRoot_ = second;
      if (r.failed != 0) return {2, false, r.errorCode};
      answer_.rearm(*http_, arming);
      return {};
    }
  }

  if (document_) {
    document_->addNodes(page->takeNodes(), document_.get());
  } else {
    document_ = std::move(page);
  }
  closeApi();
  if (olderThan_) {
    const std::string path = timelinePath(false) + "&until=" + olderThan_.str();
    FacebookOpenResult r = openApi(Str(path), client, blocking_);
    if (r.failed != 0) return {kFeedOk, true, 0};
    call_ = Call::kTimeline;
    since_ = Str();
    until_ = std::move(olderThan_);
    olderThan_ = Str();
    secondRoot_ = true;
  } else {
    FacebookOpenResult r = openUserInfo(userID_ ? Text(userID_) : Text("me"), isGroup_, client, blocking_);
    if (r.failed != 0) return {kFeedOk, true, 0};
  }
  answer_.rearm(*http_, arming);
  return {};
}

DownloadStep downloadFacebook::information(std::unique_ptr<webDataRoot> answer) {
  webDataNode* top = answer->head();
  top->setName(Str(kFacebookInfoRoot), Str(), false);
  webDataNode* name = child(top, "name");
  if (name) {
    std::string text(twitterMemberText(top, "name", false).view());
    if (isGroup_) {
      text += " (group)";
    } else if (anyoneElse_) {
      text += " (and anyone else)";
    } else {
      for (std::string_view mark : {" (and anyone else)", " (group)"}) {
        const size_t at = text.find(mark);
        if (at != std::string::npos) text.resize(at);
      }
    }
    name->setText(Str(text), kJsonString, false);
  }
  // The link is set whatever the answer held there, null included.
  webDataNode* link = top->findChild("link", nullptr, nullptr, nullptr);
  if (userID_.isNil()) {
    if (link) link->setText(Str(std::string(newsConfig::kFacebookHome) + "me/"), kJsonString, false);
    if (name) name->setText(Str("anyone posting on your Timeline"), kJsonString, false);
  } else if (isGroup_) {
    Str address(std::string(newsConfig::kFacebookHome) + "groups/" + twitterMemberText(top, "id", true).str());
    if (link) {
      link->setText(std::move(address), kJsonString, false);
    } else {
      top->addChildNode(std::make_unique<webDataNode>(Str("link"), std::move(address), kJsonString, answer.get(), Str()));
    }
  }
  if (document_) {
    document_->addNodes(answer->takeNodes(), document_.get());
  } else {
    document_ = std::move(answer);
  }
  return {kFeedOk, true, 0};
}

void downloadFacebook::closeApi() {
  if (http_) http_->close();
  http_ = nullptr;
  answer_.release();
}

void downloadFacebook::close() {
  closeApi();
  apiPath_ = Str();
  userID_ = Str();
  since_ = Str();
  until_ = Str();
  olderThan_ = Str();
  document_.reset();
  pagingLinks_ = 0;
}

FeedDocument downloadFacebook::getDocument(bool) {
  if (answer_.parseFailed()) return {nullptr, kFeedParseFailed, Str()};
  return {std::move(document_), kFeedOk, Str()};
}

void downloadFacebook::updateFeedInfo(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root) {
  if (accessToken_ && root.facebookAccessToken != accessToken_) {
    root.facebookAccessToken = accessToken_;
    soup.saveChangesToObject(&root);
  }
  if (ownUserID_ && root.facebookUserID != ownUserID_) {
    root.facebookUserID = ownUserID_;
    soup.saveChangesToObject(&root);
  }
}

}  // namespace bw
