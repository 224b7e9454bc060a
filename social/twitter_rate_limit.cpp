// social/twitter_rate_limit.cpp - the request budget and the turn of the
// Twitter feeds.
#include "social/twitter_rate_limit.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "core/exception.h"
#include "core/string_procs.h"
#include "news/news_config.h"
#include "platform/dos_env.h"
#include "social/json_members.h"
#include "social/service_config.h"
#include "social/twitter_downloader.h"
#include "social/twitter_module.h"
#include "social/twitter_records.h"

namespace bw {
namespace {

std::vector<newsFeed*> feedsOf(cMegaList_class& list) {
  std::vector<newsFeed*> out;
  if (list.isEmpty()) return out;
  auto cursor = list.infoStart()->clone(0, 0);
  for (bool end = false; !end; end = cursor->gotoNext()) {
    out.push_back(static_cast<newsFeed*>(static_cast<cMegaCursor_class*>(cursor.get())->getData()));
  }
  return out;
}

void append(cMegaList_class& list, newsFeed* feed) { list.infoPastEnd()->beforeInsert(list.makeFloating(feed)); }

// A member named as the service writes it ("\/" for "/") or plainly.
const webDataNode* member(const webDataNode* node, std::string_view escaped) {
  if (!node) return nullptr;
  if (const webDataNode* found = jsonMember(node, escaped)) return found;
  std::string plain(escaped);
  for (size_t at = plain.find("\\/"); at != std::string::npos; at = plain.find("\\/", at)) plain.erase(at, 1);
  return jsonMember(node, plain);
}

// resources.<group>.<name>.remaining as a number, when the path exists.
std::optional<int32_t> remainingOf(const webDataNode* top, std::string_view group, std::string_view name) {
  Str text = twitterMemberText(member(member(member(top, "resources"), group), name), "remaining", true);
  if (!text) return std::nullopt;
  return readRuntimeNumber(text.view(), 0, false).value;
}

// The budget the service reports; 0 on any failure.
int32_t requestBudget(downloadTwitter& api, cHTTP& http) {
  const std::string url =
      twitterApiBase().str() + "/1.1/application/rate_limit_status.json?resources=statuses,users";
  for (int attempt = 0;; ++attempt) {
    if (api.openApi(http, url, nullptr, nullptr, false).result != 0) return 0;
    httpSaveToBuffer dest;
    const cHTTP::Step step = http.save(&dest, nullptr, kFeedBufferSize);
    const int32_t status = http.infoStatus().status;
    http.close();
    if (step.result == 0 && status < 400) {
      httpSaveToBuffer::Buffer body = dest.getBuffer();
      const char* text = body.data ? body.data.get() : "";
      JsonParseResult parsed =
          api.infoReader().parseDocument(text, body.data ? static_cast<int32_t>(body.total - 1) : 0);
      if (!parsed.root) return 0;
      const webDataNode* top = parsed.root->head();
      const std::optional<int32_t> statuses = remainingOf(top, "statuses", "\\/statuses\\/user_timeline");
      const std::optional<int32_t> users = remainingOf(top, "users", "\\/users\\/show\\/:id");
      return users ? std::min(statuses.value_or(0), *users) : statuses.value_or(0);
    }
    if (status != 401 || attempt > 0) return 0;
    api.setUserToken(Str(), Str());
    if (dos::shellMode()) return 0;
    TwitterAccessToken token = api.obtainUserAccessToken();
    if (token.errorKind != kSignInOk) return 0;
    api.setUserToken(std::move(token.token), std::move(token.tokenSecret));
  }
}

}  // namespace

void checkTwitterRateLimit(cJournaledIndexedObjectSoupDatabase& soup, newsRoot& root, cMegaList_class& workList) {
  if (workList.isEmpty()) return;
  if (workList.infoAutoDealloc()) raise("EMU", "checkTwitterRateLimit(); workList owns its feeds");
  std::vector<newsFeed*> all = feedsOf(workList);
  std::vector<newsFeed*> twitter;
  bool anyCredit = false;
  for (newsFeed* feed : all) {
    if (!feed->type.view().starts_with("Twitter")) continue;
    twitter.push_back(feed);
    anyCredit = anyCredit || feed->twitterUpdateCredit > 0;
  }
  if (twitter.empty()) return;
  // The work list without its Twitter feeds, every other entry in its place.
  auto cursor = workList.infoStart()->clone(0, 0);
  for (bool end = false; !end;) {
    auto* feed = static_cast<newsFeed*>(cursor->getData());
    if (!feed->type.view().starts_with("Twitter")) {
      end = cursor->gotoNext();
      continue;
    }
    auto doomed = cursor->clone(0, 0);
    end = cursor->gotoNext();
    doomed->destroy();
  }

  downloadTwitter api(root.twitterToken, root.twitterTokenSecret);
  cHTTP http{Text(newsConfig::kUserAgent)};
  int32_t remaining = requestBudget(api, http);
  if (remaining <= 0) return;

  SoupTransaction transaction(soup.infoBlockFile());
  if (!anyCredit) {
    for (newsFeed* feed : twitter) {
      feed->twitterUpdateCredit += 1;
      soup.saveChangesToObject(feed);
    }
  }
  cMegaList_class turn(false, nullptr, false);
  for (newsFeed* feed : twitter) append(turn, feed);
  turn.sort(&twitterFeedsSort());
  for (newsFeed* feed : feedsOf(turn)) {
    remaining -= feed->noOlderItems ? 1 : 2;
    if (remaining < 0) break;
    append(workList, feed);
    feed->twitterUpdateCredit -= 1;
    soup.saveChangesToObject(feed);
  }
  api.updateFeedInfo(soup, root);
  transaction.finish();
}

}  // namespace bw
