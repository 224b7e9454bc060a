// news/memory_news_support.h - a news database on the in-memory recording
// backend with its root and a scripted user interface, for the benchmark
// and the parser fuzz target: parse a document text into it, as often as
// wanted. Needs the modules addMemoryNewsModules lists started: the DOS
// layer (for "T:"), the news modules, HTTP, the timer device and the
// journal module.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/module_registry.h"
#include "database/crashing_backend.h"
#include "database/journal_file.h"
#include "database/journaled_soup_file.h"
#include "database/soup_database.h"
#include "news/atom_parser.h"
#include "news/feed_merge.h"
#include "news/news_load.h"
#include "news/news_module_list.h"
#include "news/news_objects.h"
#include "news/rss_parser.h"
#include "news/short_links.h"
#include "news/ui_seam_test_support.h"
#include "platform/clock.h"
#include "platform/dos_env.h"
#include "web/http.h"
#include "web/xml_reader.h"

namespace bw::testing_news {

// The modules a MemoryNews needs, in start-up order.
inline void addMemoryNewsModules(ModuleRegistry& modules) {
  modules.add({"dos", dos::initDosLayer, dos::endDosLayer});
  addNewsModules(modules);
  modules.add({"http", initHTTPModule, endHTTPModule});
  modules.add({"timer", initTimerDevice, closeTimerDevice});
  modules.add({"journal", journalModuleInit, journalModuleEnd});
}

class MemoryNews {
 public:
  // Short links stay as they are while it exists: no parse makes requests.
  MemoryNews() {
    ShortLinkHooks offline;
    offline.offline = true;
    setDefaultShortLinkHooks(offline);
    auto file = std::make_unique<JournaledSoupBlockFile>(0);
    file->file().setIoBackend(backend_);
    // The backend holds this one file, so it exists once anything does.
    file->setPathProbe([this](Text) { return !backend_->names().empty(); });
    db_ = std::make_unique<cJournaledIndexedObjectSoupDatabase>(std::move(file));
    if (db_->open(Text("T:/memory-news.soup"), false)) {
      root_ = std::make_unique<newsRoot>();
      root_->init(db_.get());
    }
  }
  ~MemoryNews() {
    close();
    setDefaultShortLinkHooks({});
  }
  MemoryNews(const MemoryNews&) = delete;
  MemoryNews& operator=(const MemoryNews&) = delete;

  bool isOpen() const { return root_ != nullptr; }
  // Reads text and hands it to the parser its top element asks for ("rss"
  // or "feed"); an empty result when it is neither or does not read.
  FeedParseResult parse(const std::string& text, newsFeed* update) {
    cXML reader;
    if (!root_ || !reader.open(text.data(), static_cast<int32_t>(text.size()))) return {};
    XmlParseResult doc = reader.parseDocument();
    if (!doc.root) return {};
    if (doc.root->findNode("rss", nullptr, nullptr, nullptr))
      return parseRssFeed(*db_, *doc.root, *root_, nullptr, "http://memory.example/feed", update, nullptr);
    if (doc.root->findNode("feed", nullptr, nullptr, nullptr))
      return parseAtomFeed(*db_, *doc.root, *root_, nullptr, "http://memory.example/feed", update, nullptr);
    return {};
  }
  // Gives back the loaded feeds and the root and closes the database.
  void close() {
    if (root_) {
      for (newsFeed* f = root_->firstLoadedFeed; f;) {
        newsFeed* next = f->nextLoadedFeed;
        db_->unloadObject(f);
        f = next;
      }
    }
    root_.reset();
    if (db_->isOpen()) db_->close();
  }
  // How many of feed's stored items have an id ("#MISSING" is none).
  int32_t itemsWithID(const newsFeed& feed) {
    int32_t count = 0;
    for (int32_t i = feed.itemList->infoHeadIndex(); i != 0;) {
      newsItem* item = loadObject_newsItem(*db_, i);
      count += item->uniqueID.view() != kMissingText;
      i = item->infoNextIndex();
      db_->unloadObject(item);
    }
    return count;
  }
  // The database file's bytes as they stand (empty before anything exists).
  std::vector<uint8_t> image() const {
    const std::vector<std::string> names = backend_->names();
    return names.empty() ? std::vector<uint8_t>() : backend_->image(names.front());
  }
  cJournaledIndexedObjectSoupDatabase& db() { return *db_; }
  newsRoot* root() { return root_.get(); }
  ScriptedNewsUi& ui() { return ui_; }

 private:
  std::shared_ptr<CrashingIoBackend> backend_ = std::make_shared<CrashingIoBackend>();
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db_;
  std::unique_ptr<newsRoot> root_;
  ScriptedNewsUi ui_;
};

}  // namespace bw::testing_news
