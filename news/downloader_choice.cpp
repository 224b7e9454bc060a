// news/downloader_choice.cpp - choosing and opening the downloader of a
// stored feed or a typed address.
#include "news/downloader_choice.h"

#include <cctype>

#include "core/ascii_case.h"
#include "core/string_procs.h"
#include "news/news_config.h"
#include "news/news_load.h"

namespace bw {
namespace {

SocialDownloaderHooks gHooks;

constexpr int32_t kFacebookSinceWalk = 200;
constexpr const char* kTweetCount = "3200";

DownloaderMade noSocialDownloader() { return {nullptr, kFeedDownloadFailed, -1, {}}; }

// saveInit on an opened downloader; a failed open leaves nothing behind.
DownloaderMade finishOpen(DownloaderMade made) {
  if (made.downloader && made.failed == 0) {
    made.downloader->saveInit(true, nullptr, kFeedBufferSize);
  } else {
    made.downloader.reset();
  }
  return made;
}

DownloaderMade openXML(Text url, cHTTP* http) {
  auto xml = std::make_unique<downloadXML>();
  DownloaderOpen o = xml->open(url, http, false);
  return finishOpen({std::move(xml), o.failed, o.errorCode, std::move(o.reason)});
}

struct KeptItem {
  Str uniqueID;
  bigTime published = 0;
};

KeptItem readItem(cJournaledIndexedObjectSoupDatabase& soup, newsFeed& feed, int32_t index) {
  newsItem* item = loadObject_newsItem2(soup, index, &feed);
  LoadedUse use(soup, item);
  return {item->uniqueID, item->published};
}

bool contains(const Str& text, std::string_view part) { return text.view().find(part) != std::string_view::npos; }

DownloaderMade openTwitterFeed(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root, newsFeed& feed,
                               cHTTP* http) {
  TwitterOpenRequest r;
  r.userID = feed.uniqueID;
  r.count = Str(kTweetCount);
  r.http = http;
  const int32_t newest = feed.itemList->infoHeadIndex();
  if (newest != 0) {
    r.sinceID = readItem(soup, feed, newest).uniqueID;
    if (!feed.noOlderItems) r.olderThanID = readItem(soup, feed, feed.itemList->infoTailIndex()).uniqueID;
  }
  return gHooks.openTwitter ? gHooks.openTwitter(root, r) : noSocialDownloader();
}

DownloaderMade openFacebookFeed(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root, newsFeed& feed,
                                cHTTP* http) {
  FacebookOpenRequest r;
  r.userID = feed.uniqueID;
  r.isGroup = contains(feed.title, " (group)");
  r.anyoneElse = contains(feed.title, " (and anyone else)");
  r.http = http;
  const int32_t newest = feed.itemList->infoHeadIndex();
  if (newest != 0) {
    // A page or a user is asked again for somewhat older items than the
    // newest: up to the 200th newest kept one, less a second.
    int32_t last = newest;
    if (!r.isGroup) {
      int32_t index = newest;
      for (int32_t visited = 1; visited < kFacebookSinceWalk; ++visited) {
        const int32_t next = soup.readObjectNodeHeader(index).nextIndex;
        if (next == 0) break;
        index = next;
      }
      last = index;
    }
    r.since = readItem(soup, feed, last).published - (r.isGroup ? 0 : 1);
    if (!feed.noOlderItems) r.olderThan = readItem(soup, feed, feed.itemList->infoTailIndex()).published;
  }
  return gHooks.openFacebook ? gHooks.openFacebook(root, r) : noSocialDownloader();
}

}  // namespace

void setSocialDownloaderHooks(SocialDownloaderHooks hooks) { gHooks = std::move(hooks); }
const SocialDownloaderHooks& socialDownloaderHooks() { return gHooks; }

DownloaderMade createFeedDownloader(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root, newsFeed& feed,
                                    cHTTP* http) {
  const std::string_view type = feed.type.view();
  if (type.substr(0, 7) == "Twitter") return finishOpen(openTwitterFeed(soup, root, feed, http));
  if (type.substr(0, 8) == "Facebook") return finishOpen(openFacebookFeed(soup, root, feed, http));
  return openXML(feed.url, http);
}

DownloaderMade createDownloaderForURL(newsRoot& root, Text url, cHTTP* http, NewsGuiWindow* window) {
  Str name = twitterUserNameFromURL(url);
  if (!name.isNil()) {
    if (!gHooks.openTwitter) return noSocialDownloader();
    TwitterOpenRequest r;
    r.screenName = std::move(name);
    r.count = Str(kTweetCount);
    r.http = http;
    return finishOpen(gHooks.openTwitter(root, r));
  }
  if (gHooks.isFacebookAddress && gHooks.isFacebookAddress(url)) {
    if (!gHooks.findFacebookGroup || !gHooks.openFacebook) return noSocialDownloader();
    std::optional<FacebookGroup> group = gHooks.findFacebookGroup(root, url, window);
    if (!group) return {};
    if (group->failed != 0) return {nullptr, group->failed, 0, std::move(group->reason)};
    FacebookOpenRequest r;
    r.userID = group->id;
    r.isGroup = group->isGroup;
    r.http = http;
    r.accessToken = group->accessToken;
    return finishOpen(gHooks.openFacebook(root, r));
  }
  return openXML(url, http);
}

Str twitterUserNameFromURL(Text url) {
  const std::string_view u = url.view();
  const std::string host = std::string(newsConfig::kTwitterHost) + "/";
  const size_t at = u.find(host);
  if (at == std::string_view::npos) return Str();
  if (at > 0) {
    const char before = u[at - 1];
    if (before != '/' && before != '.' && !std::isspace(static_cast<unsigned char>(before))) return Str();
  }
  const size_t start = at + host.size();
  size_t end = u.find('/', start + 1);
  if (end == std::string_view::npos) end = u.find('?', start);
  if (end == std::string_view::npos) end = u.size();
  std::string name(u.substr(start, end - start));
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (name.empty() || name == "hashtag" || name == "search") return Str();
  return Str(name);
}

std::string cleanAddress(std::string_view address) {
  address = trimmedBlanks(address);
  std::string out;
  out.reserve(address.size());
  for (const char c : address) {
    if (c != '\t' && c != '\n' && c != '\r') out += c;
  }
  return out;
}

Str unwrapFeedAddress(Str url) {
  std::string_view u = url.view();
  if (u.size() < 5 || !equalsNoCase(u.substr(0, 5), "feed:")) return url;
  std::string_view rest = u.substr(5);
  if (rest.substr(0, 2) == "//") return Str("http:" + std::string(rest));
  return Str(rest);
}

}  // namespace bw
