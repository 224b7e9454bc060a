// news/news_test_support.h - the fixture of the news tests: the modules the
// news model needs, a database on the in-memory recording backend (closed,
// checked at every level and reopened at will), and verbs that make feeds,
// items and raw records.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/raise_test_support.h"
#include "database/journal_test_support.h"
#include "database/journaled_soup_file.h"
#include "database/soup_check_test_support.h"
#include "database/soup_database.h"
#include "news/news_load.h"
#include "news/news_module_list.h"
#include "news/news_objects.h"
#include "news/news_orderings.h"
#include "platform/memory_restore_stream.h"

namespace bw::testing_news {

using Bytes = std::vector<uint8_t>;

// A record of raw bytes, for damaged or hand-made records in the soup.
struct RawRecord : cIndexedObject {
  Bytes bytes;
  explicit RawRecord(Bytes b = {}) : bytes(std::move(b)) {}
  void restore(cRestoreStreamBase& stream, bool doStore) override {
    if (doStore) stream.write(bytes.data(), static_cast<int32_t>(bytes.size()));
  }
};

// The bytes an object's restore writes.
template <class T>
Bytes encode(T& object, bool skipHeader = false) {
  return recordOf(object, skipHeader);
}

// A new T read from bytes; the stream must end exactly with the record.
template <class T>
std::unique_ptr<T> decode(const Bytes& bytes, bool skipHeader = false) {
  cRestoreStream_memory stream;
  stream.setInput(bytes.data(), bytes.size());
  auto object = std::make_unique<T>();
  restoreRecord(*object, stream, false, skipHeader);
  EXPECT_EQ(stream.infoRemaining(), 0) << "bytes left after the record";
  return object;
}

class NewsTest : public testing_journal::JournalTest {
 protected:
  void SetUp() override {
    JournalTest::SetUp();
    addNewsModules(modules);
    modules.initAll();
    utf8.load("UTF-8");
    open();
  }
  void TearDown() override {
    if (db && db->isOpen()) {
      bool discarded = db->infoMustClose();
      db->close();
      if (!discarded) testing::expectSoupSound(image(kName), soupcheck::Expect::kClosed);
    }
    db.reset();
    modules.endAll();
    JournalTest::TearDown();
  }

  void open() {
    auto file = std::make_unique<JournaledSoupBlockFile>(0);
    file->file().setIoBackend(backend);
    file->setPathProbe([this](Text) { return backend->exists(native(kName)); });
    db = std::make_unique<cJournaledIndexedObjectSoupDatabase>(std::move(file));
    ASSERT_TRUE(db->open(Text(internal(kName)), false)) << db->infoError().view();
  }
  // Closes (a must-close soup closes quickly), checks a cleanly closed file
  // at every level, and opens again.
  void reopen() {
    bool discarded = db->infoMustClose();
    db->close();
    if (!discarded) testing::expectSoupSound(image(kName), soupcheck::Expect::kClosed);
    open();
  }

  // A stored feed of the type with its item list, loaded (one use).
  newsFeed* makeFeed(const char* type = "RSS 2.0") {
    auto feed = std::make_unique<newsFeed>();
    feed->type = Str(type);
    feed->docFormat = feedTypeToDocFormat(feed->type);
    feed->setSoup(db.get());
    db->createdObject(feed.get());
    return feed.release();
  }
  // A stored item of feed with a stored body, at the tail of the feed's
  // list unless listed is false; not loaded. Answers its index.
  int32_t addItem(newsFeed* feed, const char* title = "item", bool listed = true) {
    auto body = std::make_unique<newsItemBody>();
    int32_t bodyIndex = db->createdAndUnloadObject(body.release());
    auto item = std::make_unique<newsItem>();
    item->title = Str(title);
    item->feedIndex = feed->infoSoupIndex();
    item->bodyIndex = bodyIndex;
    int32_t index = db->createdAndUnloadObject(item.release());
    if (listed) feed->itemList->insertAtTail(index);
    return index;
  }
  // The item at index with one use, borrowing feed.
  newsItem* item(int32_t index, newsFeed* feed) { return loadObject_newsItem2(*db, index, feed); }

  static constexpr const char* kName = "news.soup";
  ModuleRegistry modules;
  cEncodingUTF utf8;
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db;
};

}  // namespace bw::testing_news
