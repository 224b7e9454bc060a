// social/facebook_module.cpp - module start and end of the Facebook side.
#include "social/facebook_module.h"

#include <memory>
#include <string>
#include <optional>

#include "news/add_update_feed.h"
#include "news/downloader_choice.h"
#include "social/facebook_downloader.h"
#include "social/facebook_group.h"
#include "social/facebook_parser.h"

namespace bw {
namespace {

DownloaderMade openFacebookDownloader(newsRoot& root, const FacebookOpenRequest& request) {
  const Str& token = request.accessToken ? request.accessToken : root.facebookAccessToken;
  auto downloader = std::make_unique<downloadFacebook>(token, root.facebookUserID);
  FacebookOpenResult opened = downloader->open(request.userID, request.isGroup, request.anyoneElse, request.since, 0,
                                               request.http, false, request.olderThan);
  // A sign-in refused or cancelled on the way says so.
  std::string reason = opened.failed != 0 ? downloader->infoFailureReason() : std::string();
  return {std::move(downloader), opened.failed, opened.errorCode, std::move(reason)};
}

bool isFacebookAddress(Text url) { return !findFacebookGroup(url, nullptr, nullptr).id.isNil(); }

// The lookup asks with the root's tokens; a token a sign-in gave it on the
// way goes on to the download, which stores it.
std::optional<FacebookGroup> lookUpFacebookGroup(newsRoot& root, Text url, NewsGuiWindow* window) {
  downloadFacebook downloader(root.facebookAccessToken, root.facebookUserID);
  FacebookGroupFound found = findFacebookGroup(url, window, &downloader);
  if (found.failed != 0) {
    return FacebookGroup{Str(), found.isGroup, Str(), found.failed, downloader.infoFailureReason()};
  }
  if (!found.id) return std::nullopt;
  return FacebookGroup{std::move(found.id), found.isGroup, downloader.infoAccessToken()};
}

}  // namespace

void facebookModuleNew() {
  SocialDownloaderHooks hooks = socialDownloaderHooks();
  hooks.openFacebook = openFacebookDownloader;
  hooks.isFacebookAddress = isFacebookAddress;
  hooks.findFacebookGroup = lookUpFacebookGroup;
  setSocialDownloaderHooks(std::move(hooks));
  setFacebookFeedParser(parseFacebookFeed);
}

void facebookModuleEnd() {
  setFacebookFeedParser(nullptr);
  SocialDownloaderHooks hooks = socialDownloaderHooks();
  hooks.openFacebook = nullptr;
  hooks.isFacebookAddress = nullptr;
  hooks.findFacebookGroup = nullptr;
  setSocialDownloaderHooks(std::move(hooks));
}

}  // namespace bw
