// fuzz/fuzz_social_feed.cpp - whole Twitter and Facebook downloads on
// arbitrary bytes into a database in memory: the input names its service on
// its first line ("facebook"; anything else is Twitter), and its parts, cut
// at lines "--", are the profile (account record), the newer page and the
// older page of a first download, then the pages of a second one that
// updates the stored feed. Each part is read as the downloader reads it and
// placed under its root in the downloader's order. Nothing may raise, and
// the database must close sound (the independent checker reads it).
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "database/crashing_backend.h"
#include "fuzz/fuzz_text_modules.h"
#include "news/memory_news_support.h"
#include "social/facebook_parser.h"
#include "social/facebook_records.h"
#include "social/service_config.h"
#include "social/twitter_module.h"
#include "social/twitter_parser.h"
#include "social/twitter_records.h"
#include "tools/soupcheck/block_level.h"
#include "tools/soupcheck/soup_level.h"
#include "tools/soupcheck/soupcheck.h"
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
std::unique_ptr<bw::webDataRoot> document(const Service& service, const std::vector<std::string>& pages,
                                          std::vector<std::unique_ptr<std::string>>& texts) {
  std::unique_ptr<bw::webDataRoot> doc;
  const std::pair<size_t, std::string_view> order[] = {{1, service.newer}, {2, service.older}, {0, service.profile}};
  for (const auto& [at, name] : order) {
    if (at >= pages.size() || pages[at].empty()) continue;
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
  const std::vector<std::string> pages = parts(text);
  std::vector<std::unique_ptr<std::string>> texts;
  bw::testing_news::MemoryNews news;
  if (!news.isOpen()) std::abort();
  bw::newsFeed* feed = nullptr;
  for (size_t download = 0; download < 2; ++download) {
    std::vector<std::string> these(pages.begin() + std::min(pages.size(), download * 3), pages.end());
    if (download == 1) {
      if (!feed || these.empty()) break;
      these.insert(these.begin(), pages[0]);  // the second download reads the profile again
    }
    std::unique_ptr<bw::webDataRoot> doc = document(service, these, texts);
    if (!doc) break;
    feed = service.parse(news.db(), *doc, *news.root(), nullptr, nullptr, feed, nullptr).feed;
    if (news.db().infoMustClose()) std::abort();
  }
  news.close();
  const bw::soupcheck::Report report = bw::soupcheck::check(news.image(), bw::soupcheck::Expect::kClosed);
  if (!report.clean() || !bw::soupcheck::checkIndexLevel(report.effectiveData).empty() ||
      !bw::soupcheck::checkSoupLevel(report.effectiveData).clean())
    std::abort();
  return 0;
}
