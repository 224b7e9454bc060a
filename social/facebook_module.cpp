// social/facebook_module.cpp - module start and end of the Facebook side.
#include "social/facebook_module.h"

#include <memory>

#include "news/add_update_feed.h"
#include "news/downloader_choice.h"
#include "social/facebook_downloader.h"
#include "social/facebook_parser.h"

namespace bw {
namespace {

DownloaderMade openFacebookDownloader(newsRoot& root, const FacebookOpenRequest& request) {
  auto downloader = std::make_unique<downloadFacebook>(root.facebookAccessToken, root.facebookUserID);
  FacebookOpenResult opened = downloader->open(request.userID, request.isGroup, request.anyoneElse, request.since, 0,
                                               request.http, false, request.olderThan);
  return {std::move(downloader), opened.failed, opened.errorCode};
}

}  // namespace

void facebookModuleNew() {
  SocialDownloaderHooks hooks = socialDownloaderHooks();
  hooks.openFacebook = openFacebookDownloader;
  setSocialDownloaderHooks(std::move(hooks));
  setFacebookFeedParser(parseFacebookFeed);
}

void facebookModuleEnd() {
  setFacebookFeedParser(nullptr);
  SocialDownloaderHooks hooks = socialDownloaderHooks();
  hooks.openFacebook = nullptr;
  setSocialDownloaderHooks(std::move(hooks));
}

}  // namespace bw
