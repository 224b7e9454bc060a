// app/damage_sweep_test.cpp - the start-up road over damaged copies of a
// reader's database: six feeds with long lists, items of every feed stored
// side by side, a backup beside it. Each copy has one page damaged (zeroed,
// one byte flipped, or eight) and was left open, as a crash leaves it; the
// program then starts (`UpdateAll`) and must end sound (every level of the
// independent checker clean, every item and body read whole) without a
// restore, keeping every item whose records the damage did not touch; any
// other copy ends restored from the backup or with its losses told in
// words.
// BRINDLEWORK_DAMAGE_RUNS sets the copies (default 24, spread over the
// pages and kinds); at least as many as the pages times three runs them all.
// The figures are printed.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <set>

#include "app/app_test_support.h"
#include "database/journal_format.h"
#include "database/soup_block_file.h"
#include "tools/soupcheck/block_level.h"
#include "tools/soupcheck/soup_level.h"
#include "tools/soupcheck/soupcheck.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;
constexpr int64_t kPage = 4096;

// Where an object's bytes lie in the file: its block and its index entry.
struct Extent {
  int64_t begin = 0, end = 0, entry = 0;
};

struct StoredFeed {
  int32_t index = 0, itemList = 0;
  std::string title;
  std::vector<std::pair<int32_t, int32_t>> items;  // item, body
};

// The feeds by title, with their items in order; false when the database
// does not open, or an item or body does not read whole.
bool readAll(Db& db, const std::string& path, std::map<std::string, std::vector<int32_t>>& feeds) {
  try {
    if (!db.open(Text(path), false)) return false;
    bool whole = true;
    newsRoot* root = loadObject_newsRoot(db, db.infoRootValue());
    std::set<int32_t> seen;
    for (int32_t f = root->feedList->infoHeadIndex(); f != 0 && seen.insert(f).second;) {
      newsFeed* feed = loadObject_newsFeed(db, f);
      auto& items = feeds[std::string(feed->title.view())];
      for (int32_t i = feed->itemList->infoHeadIndex(); i != 0 && seen.insert(i).second;) {
        items.push_back(i);
        newsItem* item = loadObject_newsItem(db, i);
        newsItemBody* body = loadObject_newsItemBody(db, item->bodyIndex);
        whole = whole && body != nullptr;
        db.unloadObject(body);
        i = item->infoNextIndex();
        db.unloadObject(item);
      }
      f = feed->infoNextIndex();
      db.unloadObject(feed);
    }
    db.unloadObject(root);
    db.closeQuickly();
    return whole;
  } catch (const eException&) {
    db.closeQuickly();
    return false;
  }
}

class DamageSweepTest : public ProgramTest {
 protected:
  // Six feeds of 150 items, added a round at a time to every feed, with
  // bodies of 150 to 450 bytes; left open (needing a check) after closing.
  void generate() {
    makeEmptyDatabase("database.soup");
    withDatabase("database.soup", [&](Db& db, newsRoot& root) {
      std::vector<newsFeed*> feeds;
      for (int f = 0; f < 6; ++f) {
        auto feed = std::make_unique<newsFeed>();
        feed->type = Str("RSS 2.0");
        feed->docFormat = feedTypeToDocFormat(feed->type);
        feed->title = Str("feed " + std::to_string(f));
        feed->url = Str("http://127.0.0.1/" + std::to_string(f));
        feed->tags = Str(",news,");
        feed->setSoup(&db);
        root.feedList->insertAtTail(db.createdObject(feed.get()));
        feeds.push_back(feed.release());
        stored_.push_back({feeds.back()->infoSoupIndex(), feeds.back()->itemListIndex, "feed " + std::to_string(f), {}});
      }
      for (int i = 0; i < 150; ++i) {
        for (size_t f = 0; f < feeds.size(); ++f) {
          auto body = std::make_unique<newsItemBody>();
          body->author = Str("author " + std::to_string(f));
          body->summary = Str(std::string(150 + static_cast<size_t>(i * 37 + static_cast<int>(f) * 11) % 300,
                                          static_cast<char>('a' + i % 26)));
          const int32_t bodyIndex = db.createdAndUnloadObject(body.release());
          auto item = std::make_unique<newsItem>();
          item->title = Str(stored_[f].title + " item " + std::to_string(i));
          item->link = Str("http://example.org/" + std::to_string(f) + "/" + std::to_string(i));
          item->uniqueID = item->link;
          item->published = 100000 - i;
          item->feedIndex = feeds[f]->infoSoupIndex();
          item->bodyIndex = bodyIndex;
          const int32_t index = db.createdAndUnloadObject(item.release());
          feeds[f]->itemList->insertAtTail(index);
          stored_[f].items.emplace_back(index, bodyIndex);
        }
        if (i % 10 == 9) db.flush();
      }
      for (newsFeed* feed : feeds) db.unloadObject(feed);
      db.flush();
      rootIndex_ = db.infoRootValue();
      feedList_ = root.feedListIndex;
    });
    backup_ = bytes("database.soup");
    withDatabase("database.soup", [&](Db& db, newsRoot&) {
      db.setNeedsRepair(true);
      const std::string image = bytes("database.soup");
      const int64_t array = getBig64(reinterpret_cast<const uint8_t*>(image.data()) + kJournalHeaderSize + 8);
      auto extentOf = [&](int32_t index) {
        const int64_t data = db.infoBlockFile().infoBlockOfIndex(index, true);
        const int64_t at = kJournalHeaderSize + data - 12;
        const uint32_t size = getBig32(reinterpret_cast<const uint8_t*>(image.data()) + at) & ~3u;
        extents_[index] = {at, at + size, kJournalHeaderSize + array + 8 * (int64_t{index} + 13)};
      };
      for (int32_t i : {rootIndex_, feedList_}) extentOf(i);
      for (const StoredFeed& f : stored_) {
        extentOf(f.index);
        extentOf(f.itemList);
        for (auto [item, body] : f.items) {
          extentOf(item);
          extentOf(body);
        }
      }
    });
    pristine_ = bytes("database.soup");
  }

  bool touched(int32_t index, const std::vector<int64_t>& hit, int64_t page) const {
    const Extent& e = extents_.at(index);
    auto in = [&](int64_t from, int64_t to) {
      if (hit.empty()) return from < (page + 1) * kPage && to > page * kPage;
      for (int64_t at : hit)
        if (at >= from && at < to) return true;
      return false;
    };
    return in(e.begin, e.end) || in(e.entry, e.entry + 8);
  }

  std::vector<StoredFeed> stored_;
  std::map<int32_t, Extent> extents_;
  int32_t rootIndex_ = 0, feedList_ = 0;
  std::string pristine_, backup_;
};

TEST_F(DamageSweepTest, StartUpRepairsAPageOfDamageAndTellsWhatWasLost) {
  generate();
  const int64_t pages = static_cast<int64_t>(pristine_.size() + kPage - 1) / kPage;
  const int64_t all = pages * 3;
  int64_t runs = 24;
  if (const char* env = std::getenv("BRINDLEWORK_DAMAGE_RUNS")) runs = std::max(1, std::atoi(env));
  runs = std::min(runs, all);
  std::mt19937_64 random(64);
  struct Tally {
    int64_t runs = 0, good = 0, restored = 0, told = 0, untouchedLost = 0, itemsLost = 0;
  } tally;
  const char* kinds[] = {"zeroed page", "1 byte flipped", "8 bytes flipped"};
  for (int64_t run = 0; run < runs; ++run) {
    const int64_t pick = run * all / runs;  // spread over the pages and kinds
    const int64_t page = pick / 3;
    const int kind = static_cast<int>(pick % 3);
    SCOPED_TRACE(std::string(kinds[kind]) + " in page " + std::to_string(page));
    std::string damaged = pristine_;
    std::vector<int64_t> hit;
    const int64_t end = std::min<int64_t>(static_cast<int64_t>(damaged.size()), (page + 1) * kPage);
    if (kind == 0) {
      std::fill(damaged.begin() + page * kPage, damaged.begin() + end, '\0');
    } else {
      for (int k = 0; k < (kind == 1 ? 1 : 8); ++k) {
        const int64_t at = page * kPage + static_cast<int64_t>(random() % static_cast<uint64_t>(end - page * kPage));
        damaged[static_cast<size_t>(at)] = static_cast<char>(damaged[static_cast<size_t>(at)] ^ (1 + random() % 255));
        hit.push_back(at);
      }
    }
    for (const auto& e : fs::directory_iterator(tree.host())) fs::remove_all(e.path());
    write("database.soup", damaged);
    write("database.soup.bak_2KnownGood", backup_);
    const int rc = runShell();
    ++tally.runs;
    const bool restored = output.find("Restored from backup") != std::string::npos;
    EXPECT_EQ(output.find("EXCEPTION"), std::string::npos) << output;
    EXPECT_TRUE(rc == 0 || (rc == 10 && restored)) << rc << output;
    if (restored) {
      ++tally.restored;
      continue;
    }
    fs::copy_file(at("database.soup"), at("look.soup"));
    const std::string image = bytes("look.soup");
    soupcheck::Report r = soupcheck::check(std::vector<uint8_t>(image.begin(), image.end()), soupcheck::Expect::kClosed);
    bool sound = r.clean() && soupcheck::checkIndexLevel(r.effectiveData).empty() &&
                 soupcheck::checkSoupLevel(r.effectiveData).clean();
    std::map<std::string, std::vector<int32_t>> now;
    withModules([&] {
      Db db(0);
      sound = readAll(db, "look.soup", now) && sound;
    });
    EXPECT_TRUE(sound) << output;
    // What was kept of each feed, against what the damage left alone.
    bool keptUntouched = true, lostSome = false;
    for (const StoredFeed& f : stored_) {
      const bool feedTouched = touched(f.index, hit, page) || touched(f.itemList, hit, page);
      const std::set<int32_t> left(now[f.title].begin(), now[f.title].end());
      for (auto [item, body] : f.items) {
        if (left.contains(item)) continue;
        lostSome = true;
        ++tally.itemsLost;
        if (feedTouched || touched(item, hit, page) || touched(body, hit, page)) continue;
        keptUntouched = false;
        ++tally.untouchedLost;
        ADD_FAILURE() << "item " << item << " of " << f.title << " was lost, untouched";
      }
    }
    const bool told = output.find("could not be read") != std::string::npos ||
                      output.find("was damaged") != std::string::npos;
    EXPECT_TRUE(told || !lostSome) << "items were lost without a word\n" << output;
    tally.told += lostSome && told ? 1 : 0;
    tally.good += sound && keptUntouched ? 1 : 0;
    if (HasFailure()) break;
  }
  std::printf("damage sweep: %lld runs over %lld pages, %lld sound without a restore (%.1f %%), %lld restored, "
              "%lld told their losses; %lld items lost, %lld of them untouched\n",
              static_cast<long long>(tally.runs), static_cast<long long>(pages), static_cast<long long>(tally.good),
              100.0 * static_cast<double>(tally.good) / static_cast<double>(tally.runs),
              static_cast<long long>(tally.restored), static_cast<long long>(tally.told),
              static_cast<long long>(tally.itemsLost), static_cast<long long>(tally.untouchedLost));
  if (tally.runs >= 20) {
    EXPECT_GE(tally.good * 100, tally.runs * 95);
  }
}

}  // namespace
}  // namespace bw::testing_app
