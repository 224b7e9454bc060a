// social/twitter_module.cpp - module start and end of the Twitter side.
#include "social/twitter_module.h"

#include <memory>
#include <string>

#include "core/exception.h"
#include "core/translate.h"
#include "news/add_update_feed.h"
#include "news/downloader_choice.h"
#include "social/service_config.h"
#include "social/twitter_downloader.h"
#include "social/twitter_parser.h"

namespace bw {
namespace {

std::unique_ptr<fCompareMegaNodes_twitterFeeds_sort> gFeedsSort;
TranslateEntry gEntities[5];

DownloaderMade openTwitterDownloader(newsRoot& root, const TwitterOpenRequest& request) {
  auto downloader = std::make_unique<downloadTwitter>(root.twitterToken, root.twitterTokenSecret);
  TwitterOpenResult opened = downloader->open(request.userID, request.screenName, request.count, request.sinceID,
                                              Str(), request.http, false, request.olderThanID);
  // A sign-in refused or cancelled on the way says so.
  std::string reason = opened.failed != 0 ? downloader->infoFailureReason() : std::string();
  return {std::move(downloader), opened.failed, opened.errorCode, std::move(reason)};
}

}  // namespace

void twitterModuleNew() {
  buildTwitterCredentials();
  fTranslateMatcher* simple = &sharedSimpleTranslateMatcher();
  const char* pairs[4][2] = {{"&amp;", "&"}, {"&quot;", "\""}, {"&lt;", "<"}, {"&gt;", ">"}};
  for (int i = 0; i < 4; ++i) gEntities[i] = {simple, pairs[i][0], nullptr, 0, pairs[i][1], nullptr};
  gEntities[4] = {};
  setTwitterEscapeTable(gEntities);
  gFeedsSort = std::make_unique<fCompareMegaNodes_twitterFeeds_sort>();
  SocialDownloaderHooks hooks = socialDownloaderHooks();
  hooks.openTwitter = openTwitterDownloader;
  setSocialDownloaderHooks(std::move(hooks));
  setTwitterFeedParser(parseTwitterFeed);
}

void twitterModuleEnd() {
  setTwitterFeedParser(nullptr);
  SocialDownloaderHooks hooks = socialDownloaderHooks();
  hooks.openTwitter = nullptr;
  setSocialDownloaderHooks(std::move(hooks));
  gFeedsSort.reset();
  setTwitterEscapeTable(nullptr);
  for (TranslateEntry& entry : gEntities) entry = {};
}

fCompareMegaNodes_twitterFeeds_sort& twitterFeedsSort() {
  if (!gFeedsSort) raise("BUG", "twitterFeedsSort(); the Twitter module has not started");
  return *gFeedsSort;
}

}  // namespace bw
