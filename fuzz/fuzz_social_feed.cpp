// fuzz/fuzz_social_feed.cpp - whole Twitter and Facebook downloads on
// arbitrary bytes into a database in memory: the input names its service on
// its first line ("facebook"; anything else is Twitter), and its parts, cut
// at lines "--", are the profile (account record), the newer page and the
// older page of a first download, then the pages of a second one that
// updates the stored feed (a part left out or empty: no such page). Each
// part is read as the downloader reads it and placed under its root in the
// downloader's order; the first download's newer page is read once more
// between the two. Nothing may raise, the repeated page adds no item with
// an id, and the database must close sound (the independent checker).
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "database/crashing_backend.h"
#include "fuzz/fuzz_soup_sound.h"
#include "fuzz/fuzz_text_modules.h"
#include "news/memory_news_support.h"
#include "social/facebook_parser.h"
#include "social/facebook_records.h"
#include "social/service_config.h"
#include "social/twitter_module.h"
#include "social/twitter_parser.h"
#include "social/twitter_records.h"
#include "web/json_reader.h"

namespace {

struct State {
  State() {
    bw::testing_news::addMemoryNewsModules(modules);
    modules.initAll();
    bw::twitterModuleNew();
  }
  ~State() {
    bw::twitterModuleEnd();
    bw::credentialsModuleEnd();
    modules.endAll();
  }
  bw::ModuleRegistry modules;
};

// text cut at every line "--" (the first part starts after the first line).
std::vector<std::string> parts(std::string_view text) {
  std::vector<std::string> out;
  const size_t first = text.find('\n');
  text = first == std::string_view::npos ? std::string_view() : text.substr(first + 1);
  for (;;) {
    const size_t cut = text.find("\n--\n");
    out.emplace_back(text.substr(0, cut));
    if (cut == std::string_view::npos) return out;
    text.remove_prefix(cut + 4);
  }
}

struct Service {
  const bw::TranslateEntry* table;
  std::string_view newer, older, profile;
  bw::FeedParseResult (*parse)(bw::cJournaledIndexedObjectSoupDatabase&, bw::webDataRoot&, bw::newsRoot&,
                               const bw::cEncoding*, bw::Text, bw::newsFeed*, bw::feedProgressGui*);
};

// The download of pages (profile, newer, older), in the order the
// downloader joins them; texts keeps the bytes the nodes point into.
std::unique_ptr<bw::webDataRoot> document(const Service& service, const std::array<std::string, 3>& pages,
                                          std::vector<std::unique_ptr<std::string>>& texts) {
  std::unique_ptr<bw::webDataRoot> doc;
  const std::pair<size_t, std::string_view> order[] = {{1, service.newer}, {2, service.older}, {0, service.profile}};
  for (const auto& [at, name] : order) {
    if (pages[at].empty()) continue;
    texts.push_back(std::make_unique<std::string>(pages[at]));
    bw::cJSON reader(service.table);
    bw::JsonParseResult r = reader.parseDocument(texts.back()->c_str(), static_cast<int32_t>(texts.back()->size() + 1));
    if (!r.root || !r.root->head()) continue;
    r.root->head()->setName(bw::Str(name), bw::Str(), false);
    if (doc) {
      doc->addNodes(r.root->takeNodes(), doc.get());
    } else {
      doc = std::move(r.root);
    }
  }
  return doc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bw::fuzzing::stateForInput<State>(data)) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Service service = text.starts_with("facebook")
                              ? Service{nullptr, bw::kFacebookTimelineRoot, bw::kFacebookOlderTimelineRoot,
                                        bw::kFacebookInfoRoot, bw::parseFacebookFeed}
                              : Service{bw::twitterEscapeTable(), bw::kTimelineRoot, bw::kOlderTimelineRoot,
                                        bw::kUsersShowRoot, bw::parseTwitterFeed};
  std::vector<std::string> pages = parts(text);
  pages.resize(std::max<size_t>(pages.size(), 5));
  std::vector<std::unique_ptr<std::string>> texts;
  bw::testing_news::MemoryNews news;
  if (!news.isOpen()) std::abort();
  // One download of the profile and the pages given into the feed (NIL:
  // adding); the feed from here on.
  auto download = [&](const std::string& newer, const std::string& older, bw::newsFeed* feed) {
    std::unique_ptr<bw::webDataRoot> doc = document(service, {pages[0], newer, older}, texts);
    if (!doc) return feed;
    feed = service.parse(news.db(), *doc, *news.root(), nullptr, nullptr, feed, nullptr).feed;
    if (news.db().infoMustClose()) std::abort();
    return feed;
  };
  if (bw::newsFeed* feed = download(pages[1], pages[2], nullptr)) {
    // The newer page again adds nothing (an older page is added without
    // the id test, and an item without an id is always new).
    const int32_t once = news.itemsWithID(*feed);
    download(pages[1], "", feed);
    if (news.itemsWithID(*feed) != once) std::abort();
    download(pages[3], pages[4], feed);
  }
  news.close();
  if (!bw::fuzzing::closedSound(news.image())) std::abort();
  return 0;
}
