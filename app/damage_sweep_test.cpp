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
// pages and kinds; all with BRINDLEWORK_FULL_SWEEPS=1). The figures are
// printed. The link sweep below damages one link at a time instead.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <regex>
#include <set>

#include "app/app_test_support.h"
#include "app/child_run_test_support.h"
#include "app/link_damage_test_support.h"
#include "core/sweep_test_support.h"
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
  std::vector<std::string> links;                  // of the items
};

// The items of a feed in list order: their indices and links.
using FeedItems = std::vector<std::pair<int32_t, std::string>>;

// The feeds by title, with their items; false when the database does not
// open, or an item or body does not read whole.
bool readAll(Db& db, const std::string& path, std::map<std::string, FeedItems>& feeds) {
  try {
    if (!db.open(Text(path), false)) return false;
    bool whole = true;
    newsRoot* root = loadObject_newsRoot(db, db.infoRootValue());
    std::set<int32_t> seen;
    for (int32_t f = root->feedList->infoHeadIndex(); f != 0 && seen.insert(f).second;) {
      newsFeed* feed = loadObject_newsFeed(db, f);
      auto& items = feeds[std::string(feed->title.view())];
      for (int32_t i = feed->itemList->infoHeadIndex(); i != 0 && seen.insert(i).second;) {
        newsItem* item = loadObject_newsItem(db, i);
        items.emplace_back(i, item->link.view());
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

std::string linkOf(size_t feed, int item) {
  return "http://example.org/" + std::to_string(feed) + "/" + std::to_string(item);
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
        stored_.push_back({feeds.back()->infoSoupIndex(), feeds.back()->itemListIndex, "feed " + std::to_string(f), {}, {}});
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
          item->link = Str(linkOf(f, i));
          item->uniqueID = item->link;
          item->published = 100000 - i;
          item->feedIndex = feeds[f]->infoSoupIndex();
          item->bodyIndex = bodyIndex;
          const int32_t index = db.createdAndUnloadObject(item.release());
          feeds[f]->itemList->insertAtTail(index);
          stored_[f].items.emplace_back(index, bodyIndex);
          stored_[f].links.push_back(linkOf(f, i));
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
  const int64_t runs = std::min<int64_t>(bw::testing::sweepCount("BRINDLEWORK_DAMAGE_RUNS", 24, all), all);
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
    std::map<std::string, FeedItems> now;
    withModules([&] {
      Db db(0);
      sound = readAll(db, "look.soup", now) && sound;
    });
    EXPECT_TRUE(sound) << output;
    // What was kept of each feed, against what the damage left alone.
    bool keptUntouched = true, lostSome = false;
    for (const StoredFeed& f : stored_) {
      const bool feedTouched = touched(f.index, hit, page) || touched(f.itemList, hit, page);
      std::set<int32_t> left;
      for (const auto& kept : now[f.title]) left.insert(kept.first);
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

// One copy of the link sweep: a link of one object rewritten to name
// value, or (kZeroed) the object's block zeroed.
struct LinkCopy {
  int32_t object = 0, value = 0;
  Link link = Link::kZeroed;
  std::string shape;  // "next of item -> itself"
  std::string name;   // "item #17 of feed 2 (812): next of item -> itself"
  int32_t lostFeed = 0;  // a feed whose block is zeroed too
  bool closed = false;   // closed cleanly, not left open
};

// A check of the link sweep: how many copies failed it, with a few of them.
struct Check {
  explicit Check(const char* n) : name(n) {}
  const char* name;
  int64_t failed = 0;
  std::map<std::string, std::pair<int64_t, std::string>> shapes;  // failures of each shape, the first of them
};

// The number a summary tells as removed, and whether it says "at least".
std::pair<int64_t, bool> toldRemoved(const std::string& output) {
  static const std::regex told(R"((at least )?(\d+) (items?|of them) )");
  std::pair<int64_t, bool> sum{0, false};
  for (std::sregex_iterator m(output.begin(), output.end(), told), end; m != end; ++m) {
    sum.first += std::stoll((*m)[2]);
    sum.second = sum.second || (*m)[1].matched;
  }
  return sum;
}

class LinkDamageSweepTest : public DamageSweepTest {
 protected:
  // Every object's every link, each naming an object of a class it should
  // not name, the object itself, or a free index (an item's links take the
  // three in turn), and each item list zeroed; ordered so that every shape
  // (class, link, target) comes once before any comes again.
  std::vector<LinkCopy> linkCopies(std::mt19937_64& random) {
    std::vector<std::pair<int32_t, Kind>> all{{rootIndex_, Kind::kRoot}, {feedList_, Kind::kList}};
    std::map<int32_t, std::string> names{{rootIndex_, "root"}, {feedList_, "feed list"}};
    for (const StoredFeed& f : stored_) {
      all.insert(all.end(), {{f.index, Kind::kFeed}, {f.itemList, Kind::kList}});
      names[f.index] = f.title;
      names[f.itemList] = "item list of " + f.title;
      for (size_t n = 0; n < f.items.size(); ++n) {
        all.insert(all.end(), {{f.items[n].first, Kind::kItem}, {f.items[n].second, Kind::kBody}});
        names[f.items[n].first] = "item #" + std::to_string(n) + " of " + f.title;
      }
    }
    std::vector<int32_t> free;
    withDatabase("database.soup", [&](Db& db, newsRoot&) {
      for (int32_t i = 1; free.size() < 8; ++i)
        if (db.infoBlockFile().infoBlockOfIndex(i, true) == 0) free.push_back(i);
    });
    const char* targets[] = {"another class", "itself", "a free index"};
    std::map<std::string, std::vector<LinkCopy>> shapes;
    std::vector<std::string> order;
    auto add = [&](int32_t object, Kind kind, Link link, Kind named, int target) {
      LinkCopy c{object, object, link, {}, {}};
      if (target == 0) {
        do {
          c.value = all[random() % all.size()].first;
        } while (c.value == object || std::find(all.begin(), all.end(), std::pair{c.value, named}) != all.end());
      } else if (target == 2) {
        c.value = free[random() % free.size()];
      }
      const char* kinds[] = {"root", object == feedList_ ? "feed list" : "item list", "feed", "item", "body"};
      const std::string shape = c.shape = link == Link::kZeroed ? "item list zeroed"
                                                      : std::string(linkName(link)) + " of " +
                                                            kinds[static_cast<int>(kind)] + " -> " + targets[target];
      c.name = names[object] + " (" + std::to_string(object) + "): " + shape +
               (target == 1 ? "" : " " + std::to_string(c.value));
      if (shapes[shape].empty()) order.push_back(shape);
      shapes[shape].push_back(std::move(c));
    };
    // A feed's item-list link naming each other feed's list, the owner
    // coming before or after it in the feed list.
    for (size_t f = 0; f < stored_.size(); ++f) {
      for (size_t g = 0; g < stored_.size(); ++g) {
        if (g == f) continue;
        const std::string shape = std::string("item list of feed -> ") + (g < f ? "an earlier" : "a later") + " feed's list";
        LinkCopy c{stored_[f].index, stored_[g].itemList, Link::kItemList, shape,
                   stored_[f].title + " (" + std::to_string(stored_[f].index) + "): " + shape + " (" + stored_[g].title + ")"};
        if (shapes[shape].empty()) order.push_back(shape);
        shapes[shape].push_back(std::move(c));
      }
    }
    // A feed's item-list link naming the list of a feed whose block is
    // zeroed, in a database left open or closed cleanly: the list's items
    // stay with the feed their records name, which comes back from the
    // backup.
    for (size_t f = 0; f < stored_.size(); ++f) {
      for (size_t g = 0; g < stored_.size(); ++g) {
        if (g == f) continue;
        const bool closed = (f + g) % 2 == 1;
        const std::string shape = std::string("item list of feed -> a lost feed's list, ") + (closed ? "closed" : "left open");
        LinkCopy c{stored_[f].index, stored_[g].itemList, Link::kItemList, shape,
                   stored_[f].title + " (" + std::to_string(stored_[f].index) + "): " + shape + " (" + stored_[g].title + ")",
                   stored_[g].index, closed};
        if (shapes[shape].empty()) order.push_back(shape);
        shapes[shape].push_back(std::move(c));
      }
    }
    // The root's feed-list link naming a body record: the start repairs
    // it from the feed records and tells no feed lost.
    for (const StoredFeed& f : stored_) {
      const std::string shape = "feed list of root -> a body";
      LinkCopy c{rootIndex_, f.items[0].second, Link::kRootFeedList, shape,
                 "root (" + std::to_string(rootIndex_) + "): " + shape + " " + std::to_string(f.items[0].second)};
      if (shapes[shape].empty()) order.push_back(shape);
      shapes[shape].push_back(std::move(c));
    }
    int turn = 0;
    for (auto [object, kind] : all) {
      if (kind == Kind::kList && object != feedList_) add(object, kind, Link::kZeroed, Kind::kList, 1);
      for (auto [link, named] : linksOf(kind, object == feedList_)) {
        for (int target = 0; target < 3; ++target)
          if (kind != Kind::kItem || target == turn % 3) add(object, kind, link, named, target);
        ++turn;
      }
    }
    for (auto& [shape, copies] : shapes) std::shuffle(copies.begin(), copies.end(), random);
    std::vector<LinkCopy> sweep;
    for (size_t round = 0, added = 1; added; ++round) {
      added = 0;
      for (const std::string& shape : order) {
        if (round < shapes[shape].size()) {
          sweep.push_back(shapes[shape][round]);
          ++added;
        }
      }
    }
    return sweep;
  }

  // The copy's damage in "database.soup", left needing a check.
  void damage(const LinkCopy& c) {
    if (c.link == Link::kZeroed) {
      std::string image = pristine_;
      const Extent& e = extents_.at(c.object);
      std::fill(image.begin() + e.begin, image.begin() + e.end, '\0');
      write("database.soup", image);
      return;
    }
    write("database.soup", backup_);
    withDatabase("database.soup", [&](Db& db, newsRoot&) {
      damageLink(db, c.object, c.link, c.value);
      if (c.lostFeed != 0) {
        SoupBlockFile& file = db.infoBlockFile();
        SoupTransaction tx(file);
        const int64_t at = file.infoBlockOfIndex(c.lostFeed, true);
        const std::vector<uint8_t> zeros(static_cast<size_t>(file.infoSizeOfIndexBlock(at)));
        file.writeBytes(at, zeros.data(), static_cast<int64_t>(zeros.size()));
        tx.finish();
      }
      db.flush();
      db.setNeedsRepair(!c.closed);
    });
  }

  // The start-up in a child of this process, killed after limit seconds.
  ChildResult startUp(int limit, bool* timedOut) {
    int out[2];
    if (::pipe(out) != 0) return {};
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(out[0]);
      const int rc = runShell();
      for (size_t at = 0; at < output.size();) {
        const ssize_t n = ::write(out[1], output.data() + at, output.size() - at);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      ::_exit(rc);
    }
    ::close(out[1]);
    return finishChild({pid, out[0], -1}, limit, timedOut);
  }
};

// Link damage at every object: each copy's repair ends in a time bounded
// by the objects there are, leaves a sound database whose items all read,
// keeps every whole item of a kept feed in its feed's list, and tells the
// number of items removed ("at least N" where it cannot know it).
// BRINDLEWORK_LINK_DAMAGE_RUNS sets the copies (default: one of each shape),
// BRINDLEWORK_LINK_DAMAGE_COPIES=TEXT keeps those whose name holds TEXT
// ("next of item -> itself", "item #3 of feed 2 "); the figures and each
// check's failures by shape, with the first copy of each, are printed.
TEST_F(LinkDamageSweepTest, StartUpRepairsLinkDamageKeepingEveryWholeItem) {
  generate();
  std::mt19937_64 random(64);
  std::vector<LinkCopy> sweep = linkCopies(random);
  if (const char* only = std::getenv("BRINDLEWORK_LINK_DAMAGE_COPIES"))
    std::erase_if(sweep, [&](const LinkCopy& c) { return c.name.find(only) == std::string::npos; });
  const int64_t runs = std::min<int64_t>(
      bw::testing::sweepCount("BRINDLEWORK_LINK_DAMAGE_RUNS", 60, static_cast<int64_t>(sweep.size())),
      static_cast<int64_t>(sweep.size()));
  const int limit = 10 + static_cast<int>(extents_.size() / 100);  // seconds, by the objects there are
  Check ends{"ends in time"}, exits{"exit 0 or 10, no EXCEPTION"}, sound{"soupcheck level 4 clean"},
      decodes{"every item decodes"}, kept{"whole items in their feed's list"}, exact{"told equals removed"},
      atLeast{"otherwise \"at least N\", N <= removed"}, placed{"every item under the feed it was under"},
      losses{"a loss line for each feed gone, none else"};
  Check* checks[] = {&ends, &exits, &sound, &decodes, &kept, &exact, &atLeast, &placed, &losses};
  auto fail = [](Check& check, const LinkCopy& c, const std::string& detail) {
    ++check.failed;
    auto& [count, first] = check.shapes[c.shape];
    if (count++ == 0) first = c.name + "\n        " + detail;
  };
  int64_t done = 0, restored = 0, removedAll = 0, toldAll = 0;
  for (int64_t run = 0; run < runs; ++run) {
    const LinkCopy& c = sweep[static_cast<size_t>(run)];
    for (const auto& e : fs::directory_iterator(tree.host())) fs::remove_all(e.path());
    damage(c);
    write("database.soup.bak_2KnownGood", backup_);
    bool timedOut = false;
    const ChildResult r = startUp(limit, &timedOut);
    // What the start-up said, on one line, after its validation began and
    // before its request to report the problem.
    std::string said = r.output.substr(0, r.output.find("Please report"));
    said = said.substr(said.find("last time...") == std::string::npos ? 0 : said.find("last time...") + 12, 400);
    std::replace(said.begin(), said.end(), '\n', ' ');
    if (timedOut) {
      fail(ends, c, "still running after " + std::to_string(limit) + " s");
      continue;
    }
    if ((r.rc != 0 && r.rc != 10) || r.output.find("EXCEPTION") != std::string::npos)
      fail(exits, c, "exit " + std::to_string(r.rc) + ": " + said);
    ++done;
    restored += r.output.find("Restored from backup") != std::string::npos ? 1 : 0;
    fs::copy_file(at("database.soup"), at("look.soup"));
    const std::string image = bytes("look.soup");
    soupcheck::Report report =
        soupcheck::check(std::vector<uint8_t>(image.begin(), image.end()), soupcheck::Expect::kClosed);
    std::vector<std::string> findings = report.findings;
    if (report.clean()) findings = soupcheck::checkIndexLevel(report.effectiveData);
    if (findings.empty()) findings = soupcheck::checkSoupLevel(report.effectiveData).findings;
    if (!findings.empty()) fail(sound, c, findings.front() + " after: " + said);
    std::map<std::string, FeedItems> now;
    bool whole = false;
    withModules([&] {
      Db db(0);
      whole = readAll(db, "look.soup", now);
    });
    if (!whole) fail(decodes, c, "after: " + said);
    // Against the undamaged copy: what each kept feed lost, and in all.
    int64_t removed = 0, lostWhole = 0;
    for (const StoredFeed& f : stored_) {
      const auto feed = now.find(f.title);
      std::set<std::string> left;
      if (feed != now.end())
        for (const auto& [index, link] : feed->second) left.insert(link);
      for (size_t n = 0; n < f.items.size(); ++n) {
        if (left.contains(f.links[n])) continue;
        ++removed;
        // An item whose body link names another object lost its body.
        lostWhole += feed != now.end() && !(c.link == Link::kBody && c.object == f.items[n].first) ? 1 : 0;
      }
    }
    if (lostWhole > 0) fail(kept, c, std::to_string(lostWhole) + " whole items gone; " + said);
    // Each feed's items are its own (their links hold its number).
    int64_t misplaced = 0;
    for (const auto& [title, items] : now) {
      const std::string own = "http://example.org/" + title.substr(title.rfind(' ') + 1) + "/";
      for (const auto& [index, link] : items) misplaced += link.starts_with(own) ? 0 : 1;
    }
    if (misplaced > 0) fail(placed, c, std::to_string(misplaced) + " items under another feed; " + said);
    // A loss line names a feed that is gone (one beyond reading, any).
    static const std::regex lossLine(R"re(\n(The feed "([^"]*)"|A feed) was damaged (beyond reading )?and no backup holds it)re");
    std::vector<std::string> gone, toldGone;
    for (const StoredFeed& f : stored_)
      if (!now.contains(f.title)) gone.push_back(f.title);
    for (std::sregex_iterator m(r.output.begin(), r.output.end(), lossLine), end; m != end; ++m)
      toldGone.push_back((*m)[2].matched ? (*m)[2].str() : "");
    bool trueLosses = toldGone.size() == gone.size();
    for (const std::string& title : toldGone)
      trueLosses = trueLosses && (title.empty() || std::find(gone.begin(), gone.end(), title) != gone.end());
    if (!trueLosses)
      fail(losses, c, std::to_string(toldGone.size()) + " loss lines, " + std::to_string(gone.size()) + " feeds gone: " + said);
    const auto [told, toldAtLeast] = toldRemoved(r.output);
    removedAll += removed;
    toldAll += told;
    if (told != removed) {
      fail(exact, c, "told " + std::to_string(told) + ", removed " + std::to_string(removed) + ": " + said);
      if (!toldAtLeast || told > removed) fail(atLeast, c, "removed " + std::to_string(removed) + ": " + said);
    }
  }
  std::printf("link damage sweep: %lld of %zu copies, %lld ended, %lld restored from the backup; %lld items removed, "
              "%lld told\n",
              static_cast<long long>(runs), sweep.size(), static_cast<long long>(done), static_cast<long long>(restored),
              static_cast<long long>(removedAll), static_cast<long long>(toldAll));
  for (Check* check : checks) {
    std::printf("  %-40s %6lld failed\n", check->name, static_cast<long long>(check->failed));
    for (const auto& [shape, failed] : check->shapes)
      std::printf("    %lld x %s, as %s\n", static_cast<long long>(failed.first), shape.c_str(), failed.second.c_str());
    EXPECT_EQ(check->failed, 0) << check->name;
  }
}

}  // namespace
}  // namespace bw::testing_app
