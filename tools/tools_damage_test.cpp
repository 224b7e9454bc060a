// tools/tools_damage_test.cpp - the tools that read a whole database
// (soupdump, newsdump, newsdump --items, soupcheck) on damaged copies: each
// ends in time with the exit code and the last line that tell whether it
// read everything, and a dump loads into a new database with every item
// that still reads; soupcheck and the start-up check of a database closed
// cleanly judge its links alike. soupcheck's own decoder of the news
// records calls a record damaged exactly when the program cannot read it.
#include <gtest/gtest.h>

#include <random>

#include "app/app_test_support.h"
#include "app/backup_dump.h"
#include "app/feed_lists_check.h"
#include "app/child_run_test_support.h"
#include "core/sweep_test_support.h"
#include "tools/soupcheck/news_level.h"
#include "tools/soupcheck/soupcheck.h"

namespace bw::testing_app {
namespace {

using Db = cJournaledIndexedObjectSoupDatabase;

// A sanitized tool reads a few objects in well under this; more is a walk
// that does not end.
constexpr int kSecondsForARun = 60;

void putBytes(Db& db, int32_t index, int64_t offset, const std::vector<uint8_t>& bytes) {
  SoupTransaction tx(db.infoBlockFile());
  db.infoBlockFile().writeBytes(db.infoBlockFile().infoBlockOfIndex(index, true) + offset, bytes.data(),
                                static_cast<int64_t>(bytes.size()));
  tx.finish();
}
void putLink(Db& db, int32_t index, int64_t offset, int32_t value) {
  putBytes(db, index, offset,
           {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)});
}

// Offsets in the records: a node begins with its next and previous links,
// a list with its head and tail. The first string's version byte follows
// next, previous, version and feedIndex in an item, next, previous and
// version in a feed, the version in a body; no string has version 07.
constexpr int64_t kNext = 0, kHead = 0, kTail = 4, kItemFeed = 12, kItemTitle = 16, kFeedTitle = 12, kBodyEncoding = 4;
const std::vector<uint8_t> kNoString = {0x07};

// Three feeds, "a" with five items, "b" with three, "c" with two.
struct Made {
  int32_t feedList = 0;
  std::vector<int32_t> feeds, lists;
  std::vector<std::vector<int32_t>> items, bodies;
  std::string at(int feed, int item) const { return std::to_string(items[feed][item]); }
  std::string feed(int f) const { return std::to_string(feeds[f]); }
};

struct Shape {
  const char* name;
  void (*damage)(Db&, const Made&);
  // What the dumps' last line names (empty: the database reads whole),
  // and what one of soupcheck's findings says.
  std::string (*told)(const Made&);
  std::string (*found)(const Made&);
  size_t itemsDumped;  // of the 10
  // Whether the start-up check of a database closed cleanly refuses it (it
  // reads no bodies, nor what no list leads to but the lists of the chain).
  bool startRefuses;
};

std::string none(const Made&) { return {}; }

void nameItemList(Db& db, int32_t feedIndex, int32_t list) {
  newsFeed* feed = loadObject_newsFeed(db, feedIndex);
  feed->itemListIndex = list;
  db.saveChangesToObject(feed);
  db.unloadObject(feed);
}

// How the dumps (or soupcheck) name feed b's item list when it is list
// lists[list], read before.
std::string secondListOfB(const Made& m, int list, bool dumps) {
  const std::string index = std::to_string(m.lists[list]);
  return "the item list of feed " + m.feed(1) +
         (dumps ? ": list " + index + " was read before" : " is list " + index + ", reached a second time");
}

// The items at first and second name each other as the older duplicate.
void loopDuplicates(Db& db, int32_t first, int32_t second) {
  for (auto [at, older] : {std::pair{first, second}, {second, first}}) {
    newsItem* item = loadObject_newsItem(db, at);
    item->olderDuplicateItemIndex = older;
    item->newestDuplicateItemIndex = first;
    db.saveChangesToObject(item);
    db.unloadObject(item);
  }
}

const Shape kShapes[] = {
    {"sound", [](Db&, const Made&) {}, none, none, 10, false},
    {"an item's record does not decode", [](Db& db, const Made& m) { putBytes(db, m.items[0][2], kItemTitle, kNoString); },
     [](const Made& m) { return "item " + m.at(0, 2) + " of feed " + m.feed(0) + " (unknown version)"; },
     [](const Made& m) {
       return "news: item " + m.at(0, 2) + " of feed " + m.feed(0) + " does not decode: title has string version 07";
     },
     9, true},
    {"a body's record does not decode",
     [](Db& db, const Made& m) { putBytes(db, m.bodies[1][1], kBodyEncoding, kNoString); },
     [](const Made& m) { return "the body " + std::to_string(m.bodies[1][1]) + " of item " + m.at(1, 1) + " ("; },
     [](const Made& m) {
       return "news: the body " + std::to_string(m.bodies[1][1]) + " of item " + m.at(1, 1) + " of feed " + m.feed(1) +
              " does not decode: encoding has string version 07";
     },
     10, false},
    {"a feed's record does not decode", [](Db& db, const Made& m) { putBytes(db, m.feeds[1], kFeedTitle, kNoString); },
     [](const Made& m) { return "feed " + m.feed(1) + " (unknown version); 7 stored objects no list leads to"; },
     [](const Made& m) { return "news: feed " + m.feed(1) + " does not decode: title has string version 07"; }, 7,
     true},
    {"an item list comes back to its second item",
     [](Db& db, const Made& m) { putLink(db, m.items[0][4], kNext, m.items[0][1]); },
     [](const Made& m) {
       return "the item list of feed " + m.feed(0) + " past index " + m.at(0, 4) + " (it comes back to index " +
              m.at(0, 1) + ", read before)";
     },
     [](const Made& m) {
       return "soup: node " + m.at(0, 1) + " of list " + std::to_string(m.lists[0]) + " is reached twice";
     },
     10, true},
    {"an item list is cut after its third item", [](Db& db, const Made& m) { putLink(db, m.items[0][2], kNext, 0); },
     [](const Made& m) {
       return "the item list of feed " + m.feed(0) + " past index " + m.at(0, 2) + " (its tail is index " + m.at(0, 4) +
              ")";
     },
     [](const Made& m) { return "soup: list " + std::to_string(m.lists[0]) + " has tailIndex " + m.at(0, 4); }, 8, true},
    {"an item list starts in another feed's list",
     [](Db& db, const Made& m) { putLink(db, m.lists[1], kHead, m.items[0][3]); },
     [](const Made& m) {
       return "the item list of feed " + m.feed(1) + " from its head (it comes back to index " + m.at(0, 3) +
              ", read before)";
     },
     [](const Made& m) {
       return "soup: node " + m.at(0, 3) + " of list " + std::to_string(m.lists[0]) + " is reached twice";
     },
     7, true},
    {"the feed list is emptied",
     [](Db& db, const Made& m) {
       putLink(db, m.feedList, kHead, 0);
       putLink(db, m.feedList, kTail, 0);
     },
     [](const Made&) { return std::string("could not read 26 stored objects no list leads to"); },
     [](const Made&) { return std::string("news: 26 allocated records that nothing of the news model leads to"); }, 0, true},
    // b's walk meets the list a second time: the first feed's list went.
    {"a's item-list link names b's list", [](Db& db, const Made& m) { nameItemList(db, m.feeds[0], m.lists[1]); },
     [](const Made& m) { return secondListOfB(m, 1, true) + "; 11 stored objects no list leads to"; },
     [](const Made& m) { return "news: " + secondListOfB(m, 1, false); }, 5, true},
    {"b's item-list link names a's list", [](Db& db, const Made& m) { nameItemList(db, m.feeds[1], m.lists[0]); },
     [](const Made& m) { return secondListOfB(m, 0, true) + "; 7 stored objects no list leads to"; },
     [](const Made& m) { return "news: " + secondListOfB(m, 0, false); }, 7, true},
    {"an item names another feed", [](Db& db, const Made& m) { putLink(db, m.items[0][2], kItemFeed, m.feeds[1]); },
     none, [](const Made& m) { return "news: item " + m.at(0, 2) + " of feed " + m.feed(0) + " names feed " + m.feed(1); },
     10, true},
    {"two items name each other as older duplicates",
     [](Db& db, const Made& m) { loopDuplicates(db, m.items[2][0], m.items[2][1]); }, none,
     [](const Made& m) {
       const std::string first = std::to_string(std::min(m.items[2][0], m.items[2][1]));
       return "news: the chain of older duplicates of item " + first + " comes back to item " + first;
     },
     10, true},
    {"the compaction walk stands at an item", [](Db& db, const Made& m) { db.setDefragListIndex(m.items[0][1]); },
     [](const Made&) { return std::string("the database's structures, which do not check sound"); },
     [](const Made& m) { return "soup: the compaction walk stands at " + m.at(0, 1) + ", no list of the chain"; }, 10,
     true},
};

class ToolDamageTest : public ProgramTest {
 protected:
  Made makeFeeds() {
    makeEmptyDatabase("database.soup");  // in place of the last one
    Made m;
    withDatabase("database.soup", [&](Db& db, newsRoot& root) {
      m.feedList = root.feedListIndex;
      for (auto [title, items] : {std::pair{"a", 5}, {"b", 3}, {"c", 2}}) {
        newsFeed* feed = loadObject_newsFeed(db, addFeed(db, root, title, items, true));
        m.feeds.push_back(feed->infoSoupIndex());
        m.lists.push_back(feed->itemListIndex);
        auto& indices = m.items.emplace_back();
        auto& bodies = m.bodies.emplace_back();
        for (int32_t i = feed->itemList->infoHeadIndex(); i != 0; i = db.readObjectNodeHeader(i).nextIndex) {
          indices.push_back(i);
          newsItem* item = loadObject_newsItem(db, i);
          bodies.push_back(item->bodyIndex);
          db.unloadObject(item);
        }
        db.unloadObject(feed);
      }
    });
    return m;
  }
  ChildResult runTool(const std::vector<std::string>& arguments) {
    bool timedOut = false;
    ChildOptions options;
    options.captureErrors = true;
    ChildResult r = finishChild(startChild(arguments, {}, options), kSecondsForARun, &timedOut);
    EXPECT_FALSE(timedOut) << arguments[0] << " went on for ever";
    return r;
  }
  // The items of the dump at name, loaded into a new database.
  size_t itemsIn(const std::string& name) {
    fs::remove(at("loaded.soup"));
    makeEmptyDatabase("loaded.soup");
    size_t items = 0;
    withDatabase("loaded.soup", [&](Db& db, newsRoot& root) {
      ::testing::internal::CaptureStdout();
      const bool loaded = restoreDatabaseBackup(Text(name), root, db);
      ::testing::internal::GetCapturedStdout();
      ASSERT_TRUE(loaded);
      for (int32_t f = root.feedList->infoHeadIndex(); f != 0; f = db.readObjectNodeHeader(f).nextIndex) {
        newsFeed* feed = loadObject_newsFeed(db, f);
        for (int32_t i = feed->itemList->infoHeadIndex(); i != 0; i = db.readObjectNodeHeader(i).nextIndex) ++items;
        db.unloadObject(feed);
      }
    });
    return items;
  }
};

std::vector<uint8_t> imageOf(const std::string& bytes) { return {bytes.begin(), bytes.end()}; }

std::string lastLine(std::string text) {
  if (text.ends_with('\n')) text.pop_back();
  return text.substr(text.rfind('\n') + 1);
}

TEST_F(ToolDamageTest, EveryDumpSaysWhatItCouldNotRead) {
  for (const Shape& shape : kShapes) {
    SCOPED_TRACE(shape.name);
    const Made made = makeFeeds();
    withDatabase("database.soup", [&](Db& db, newsRoot&) { shape.damage(db, made); });
    const std::string told = shape.told(made);
    const std::string db = at("database.soup").string();
    fs::remove(at("dump.backup"));
    const ChildResult dump = runTool({SOUPDUMP, db, at("dump.backup").string()});
    const ChildResult model = runTool({NEWSDUMP, db});
    const ChildResult items = runTool({NEWSDUMP, "--items", db});
    const ChildResult check = runTool({SOUPCHECK, db});
    const std::string found = shape.found(made);
    EXPECT_EQ(check.rc, found.empty() ? 0 : 1) << check.output;
    EXPECT_EQ(lastLine(check.output), found.empty() ? "clean" : "NOT clean") << check.output;
    if (!found.empty()) {
      EXPECT_NE(check.output.find("FINDING: " + found), std::string::npos) << check.output;
    }
    // The start of the program judges the links as soupcheck does.
    withDatabase("database.soup", [&](Db& soup, newsRoot&) {
      EXPECT_EQ(!listsAndFeedsAgree(soup), shape.startRefuses);
    });
    if (told.empty()) {
      EXPECT_EQ(dump.rc, 0) << dump.errors;
      EXPECT_EQ(dump.errors, "");
      EXPECT_EQ(model.rc, 0) << model.output;
      EXPECT_TRUE(lastLine(model.output).starts_with("item ")) << model.output;
      EXPECT_EQ(items.rc, 0) << items.output;
      EXPECT_TRUE(lastLine(items.output).starts_with("  contents: ")) << items.output;
    } else {
      for (const auto& [tool, last] : {std::pair{"soupdump", lastLine(dump.errors)}, {"newsdump", lastLine(model.output)},
                                       {"newsdump", lastLine(items.output)}}) {
        EXPECT_TRUE(last.starts_with(std::string(tool) + ": not whole: could not read ")) << last;
        EXPECT_NE(last.find(told), std::string::npos) << last << "\nnot naming: " << told;
      }
      EXPECT_EQ(dump.rc, 3);
      EXPECT_EQ(model.rc, 3);
      EXPECT_EQ(items.rc, 3);
      // Written to a pipe, the line is on standard error as well.
      EXPECT_EQ(lastLine(model.errors), lastLine(model.output));
    }
    EXPECT_EQ(itemsIn("dump.backup"), shape.itemsDumped);
  }
}

TEST_F(ToolDamageTest, ADatabaseThatDoesNotOpenIsToldSo) {
  makeFeeds();
  // The index array's size (its third entry) far beyond its block. The data
  // area follows the journal's header of 28 bytes; its word at 8 is the
  // index array's block.
  std::string file = bytes("database.soup");
  int64_t array = 0;
  for (int i = 0; i < 8; ++i) array = array << 8 | static_cast<uint8_t>(file[28 + 8 + i]);
  file.replace(static_cast<size_t>(28 + array + 16), 8, std::string("\0\0\0\0\x7f\xff\xff\xff", 8));
  write("database.soup", file);
  const std::string db = at("database.soup").string();
  for (const auto& arguments : {std::vector<std::string>{SOUPDUMP, db, at("dump.backup").string()},
                                {NEWSDUMP, db}, {NEWSDUMP, "--items", db}}) {
    const ChildResult r = runTool(arguments);
    EXPECT_EQ(r.rc, 1) << r.output << r.errors;
    const std::string last = lastLine(r.errors);
    EXPECT_NE(last.find(": cannot open the database: "), std::string::npos) << r.errors;
    EXPECT_NE(last.find("arraySize does not fit the index array"), std::string::npos) << r.errors;
  }
  EXPECT_FALSE(exists("dump.backup"));
  EXPECT_EQ(runTool({SOUPCHECK, db}).rc, 1);
}

// Every field of the records filled: feeds with names, tags and filters,
// items with links, tags and a duplicate chain, bodies with their texts.
void fillEveryField(Db& db, const Made& m) {
  for (size_t f = 0; f < m.feeds.size(); ++f) {
    newsFeed* feed = loadObject_newsFeed(db, m.feeds[f]);
    for (Str* text : {&feed->uniqueID, &feed->updatedText, &feed->imageURL, &feed->language, &feed->subtitle,
                      &feed->rights, &feed->generator, &feed->userName, &feed->filter}) {
      *text = Str("text of feed " + std::to_string(f));
    }
    feed->tags = Str(",news,");
    feed->seenUpToTime = 1234;
    db.saveChangesToObject(feed);
    for (size_t i = 0; i < m.items[f].size(); ++i) {
      newsItem* item = loadObject_newsItem2(db, m.items[f][i], feed);
      item->link = Str("http://127.0.0.1/" + std::to_string(i));
      item->statedLink = item->uniqueID = item->tags = item->link;
      item->seen = i % 2 == 0;
      db.saveChangesToObject(item);
      newsItemBody* body = loadObject_newsItemBody(db, item->bodyIndex);
      for (Str* text : {&body->encoding, &body->author, &body->summary, &body->content}) *text = Str("<p>words</p>");
      db.saveChangesToObject(body);
      db.unloadObject(body);
      db.unloadObject(item);
    }
    db.unloadObject(feed);
  }
  newsFeed* feed = loadObject_newsFeed(db, m.feeds[0]);
  newsItem* older = loadObject_newsItem2(db, m.items[0][0], feed);
  newsItem* newer = loadObject_newsItem2(db, m.items[0][1], feed);
  older->addAsNewestDuplicate(db, newer);
  for (cIndexedObject* object : {static_cast<cIndexedObject*>(newer), static_cast<cIndexedObject*>(older),
                                 static_cast<cIndexedObject*>(feed)}) {
    db.unloadObject(object);
  }
}

// Whether the program reads the record at index as an object of T.
template <class T>
bool programReads(Db& db, int32_t index) {
  try {
    T object;
    db.readRecordInto(index, object);
    return true;
  } catch (const eRecordDamage&) {
    return false;
  }
}
// The length of the sound record at index, read as an object of T.
template <class T>
int64_t storedSize(Db& db, int32_t index) {
  T object;
  db.readRecordInto(index, object);
  return object.infoStoredSize();
}

TEST_F(ToolDamageTest, TheCheckerCallsARecordDamagedExactlyWhenTheProgramCannotReadIt) {
  const Made made = makeFeeds();
  withDatabase("database.soup", [&](Db& db, newsRoot&) { fillEveryField(db, made); });
  const ChildResult sound = runTool({SOUPCHECK, at("database.soup").string()});
  ASSERT_EQ(sound.rc, 0) << sound.output;
  // Each record with its reader, its first byte that is no node link, and
  // its length.
  struct Record {
    int32_t index;
    bool (*reads)(Db&, int32_t);
    int64_t from, size;
  };
  std::vector<Record> records;
  withDatabase("database.soup", [&](Db& db, newsRoot&) {
    for (size_t f = 0; f < made.feeds.size(); ++f) {
      records.push_back({made.feeds[f], programReads<newsFeed>, 8, storedSize<newsFeed>(db, made.feeds[f])});
      for (int32_t i : made.items[f]) records.push_back({i, programReads<newsItem>, 8, storedSize<newsItem>(db, i)});
      for (int32_t b : made.bodies[f]) {
        records.push_back({b, programReads<newsItemBody>, 0, storedSize<newsItemBody>(db, b)});
      }
    }
  });
  std::mt19937 random(71);
  const long long rounds = testing::sweepCount("BRINDLEWORK_CHECKER_ROUNDS", 300, 5000);
  long long undecodable = 0;
  withDatabase("database.soup", [&](Db& db, newsRoot&) {
    for (long long round = 0; round < rounds; ++round) {
      const Record& r = records[random() % records.size()];
      const int64_t at = db.infoBlockFile().infoBlockOfIndex(r.index, true);
      const int64_t offset = r.from + static_cast<int64_t>(random() % static_cast<uint32_t>(r.size - r.from));
      uint8_t was = 0;
      db.infoBlockFile().readBytes(at + offset, &was, 1);
      const auto value = static_cast<uint8_t>(was ^ (1 + random() % 255));
      putBytes(db, r.index, offset, {value});
      db.flush();
      const bool reads = r.reads(db, r.index);
      const soupcheck::NewsLevelReport news =
          soupcheck::checkNewsLevel(soupcheck::check(imageOf(bytes("database.soup")), soupcheck::Expect::kOpen).effectiveData);
      const bool decodes = std::find(news.undecodable.begin(), news.undecodable.end(), r.index) == news.undecodable.end();
      EXPECT_EQ(decodes, reads) << "index " << r.index << ", byte " << offset << " from " << int{was} << " to "
                                << int{value};
      undecodable += reads ? 0 : 1;
      putBytes(db, r.index, offset, {was});
    }
  });
  // The sweep met both answers.
  EXPECT_GT(undecodable, rounds / 20);
  EXPECT_LT(undecodable, rounds);
}

}  // namespace
}  // namespace bw::testing_app
