// news/news_records_test.cpp - the stored records: bytes of new and full
// objects, every older version read with its defaults, refused versions,
// damaged strings, the backup records and a seeded round trip through the
// database.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <random>
#include <string>
#include <tuple>

#include "news/item_body_record.h"
#include "news/news_item_glance.h"
#include "news/news_item_glance_test_support.h"
#include "news/news_test_support.h"
#include "web/json_reader.h"
#include "web/xml_reader.h"

namespace bw {
namespace {

using testing_news::Bytes;
using testing_news::decode;
using testing_news::encode;
using testing_news::RawRecord;

// Hand encodings: a LONG, a BIG, a string of capacity and text below 64.
Bytes L(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
Bytes B(uint64_t v) {
  Bytes b = L(uint32_t(v >> 32)), low = L(uint32_t(v));
  b.insert(b.end(), low.begin(), low.end());
  return b;
}
Bytes S(uint8_t capacity, std::string_view text) {
  // Made at its size: g++ 12 at -O3 warns of array bounds on a growing insert.
  Bytes b(3 + text.size());
  b[0] = 1;
  b[1] = uint8_t(0x80 | capacity);
  b[2] = uint8_t(0x80 | text.size());
  std::copy(text.begin(), text.end(), b.begin() + 3);
  return b;
}
const Bytes NIL{0xFF}, T{0xFF}, F{0x00};
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
Bytes written(const std::function<void(cRestoreStreamBase&)>& write) {
  cRestoreStream_memory s;
  write(s);
  return s.infoOutput();
}
Str cap(int32_t capacity, std::string_view text) { return Str::withCapacity(capacity, text); }

class NewsRecordTest : public testing_news::NewsTest {};

TEST_F(NewsRecordTest, PrimitivesAndNewObjectsAreByteExact) {
  newsItemBody body;
  newsRoot root;
  root.feedListIndex = 7;
  struct {
    const char* what;
    Bytes got, want;
  } cases[] = {
      {"NIL string", written([](auto& s) { restoreSTRING(s, true, Str()); }), NIL},
      {"empty, capacity 0", written([](auto& s) { restoreSTRING(s, true, Str::withCapacity(0)); }), {1, 0x80, 0x80}},
      {"compact 300", written([](auto& s) { transferCompactValue(s, true, 300); }), {0x2C, 0x84}},
      {"compact -1", written([](auto& s) { transferCompactValue(s, true, -1); }), {0xC1}},
      {"TRUE", written([](auto& s) { transferBool(s, true, true); }), T},
      {"new body", encode(body), cat({L(5), NIL, NIL, NIL, NIL, NIL, NIL, NIL, {0}, NIL, {0}})},
      {"new root", encode(root), cat({L(8), NIL, NIL, NIL, NIL, NIL, B(0), L(7)})},
  };
  for (auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

TEST_F(NewsRecordTest, FullFeedAndItemRecordsAreByteExact) {
  newsFeed feed;
  feed.setNodeHeader(2, 3);
  feed.title = cap(4, "T");
  feed.url = Str("u"), feed.uniqueID = Str("id"), feed.type = Str("Atom");
  feed.disabled = true, feed.seenUpToTime = 0x0102030405060708, feed.noOlderItems = true;
  feed.twitterUpdateCredit = 300;
  feed.imageURL = Str("i"), feed.language = Str("en"), feed.subtitle = Str("s");
  feed.rights = Str("r"), feed.generator = Str("g"), feed.downloadLength = -1;
  feed.userName = Str("me"), feed.tags = Str(",a,b,"), feed.summaryIsContents = true;
  feed.filter = Str("x,y"), feed.useDownloadDate = true, feed.itemListIndex = 9;
  Bytes feedBody = cat({L(13), S(4, "T"), S(1, "u"), S(2, "id"), S(4, "Atom"), T, F, B(0x0102030405060708), T,
                        {0x2C, 0x84}, NIL, S(1, "i"), S(2, "en"), S(1, "s"), S(1, "r"), S(1, "g"),
                        B(~uint64_t{0}), S(2, "me"), S(5, ",a,b,"), T, F, S(3, "x,y"), T});
  EXPECT_EQ(encode(feed), cat({L(2), L(3), feedBody, L(9)}));
  EXPECT_EQ(encode(feed, true), feedBody);

  newsItem item;
  item.setNodeHeader(0, 4);
  item.feedIndex = 6, item.title = Str("t"), item.titleFormat = kFormatHTML, item.link = Str("l");
  item.uniqueID = Str("u"), item.published = kDateUnset, item.updated = kDateInvalid, item.downloaded = 1;
  item.olderDuplicateItemIndex = 64, item.newestDuplicateItemIndex = 0, item.tags = Str("x");
  item.seen = true, item.bodyIndex = 8;
  Bytes itemBody = cat({S(1, "t"), {2}, S(1, "l"), NIL, S(1, "u"), B(0xFFFFFFFF80000000), B(0xFFFFFFFF80000001),
                        B(1), {0x00, 0x81}, {0x80}, S(1, "x"), T, F});
  EXPECT_EQ(encode(item), cat({L(0), L(4), L(9), L(6), itemBody, L(8)}));
  EXPECT_EQ(encode(item, true), cat({L(9), itemBody}));
}

// Each field with the first version that holds it, its bytes, and a check
// of the value read (present) or of the default (absent).
template <class T>
struct Field {
  int32_t from;
  Bytes bytes;
  std::function<void(T&, bool present)> check;
};

template <class T>
void expectEveryVersion(int32_t newest, Bytes header, const std::vector<Field<T>>& fields, Bytes trailer) {
  for (int32_t v = 1; v <= newest; ++v) {
    SCOPED_TRACE("version " + std::to_string(v));
    Bytes record = cat({header, L(v)});
    for (auto& f : fields) {
      if (f.from <= v) record.insert(record.end(), f.bytes.begin(), f.bytes.end());
    }
    record.insert(record.end(), trailer.begin(), trailer.end());
    std::unique_ptr<T> read = decode<T>(record);
    EXPECT_EQ(read->version, v);
    for (auto& f : fields) f.check(*read, f.from <= v);
  }
}

TEST_F(NewsRecordTest, EveryOlderVersionReadsWithItsDefaults) {
  using R = newsRoot;
  expectEveryVersion<R>(8, {},
                        {{3, S(1, "a"), [](R& r, bool p) { EXPECT_EQ(r.twitterToken.isNil(), !p); }},
                         {4, S(1, "b"), [](R& r, bool p) { EXPECT_EQ(r.twitterTokenSecret.isNil(), !p); }},
                         {5, S(1, "c"), [](R& r, bool p) { EXPECT_EQ(r.facebookAccessToken.isNil(), !p); }},
                         {6, S(1, "d"), [](R& r, bool p) { EXPECT_EQ(r.facebookUserID.isNil(), !p); }},
                         {7, S(1, "e"), [](R& r, bool p) { EXPECT_EQ(r.rootText5.isNil(), !p); }},
                         {8, B(64), [](R& r, bool p) { EXPECT_EQ(r.rootValue64, p ? 64 : 0); }}},
                        L(7));

  using Fd = newsFeed;
  auto text = [](Str Fd::*field) { return [field](Fd& f, bool) { EXPECT_EQ(f.*field, "t"); }; };
  auto flag = [](bool Fd::*field) { return [field](Fd& f, bool p) { EXPECT_EQ(f.*field, p); }; };
  expectEveryVersion<Fd>(
      13, cat({L(1), L(2)}),
      {{1, S(1, "t"), text(&Fd::title)},
       {1, S(1, "t"), text(&Fd::url)},
       {1, S(1, "t"), text(&Fd::uniqueID)},
       {1, S(7, "RSS 2.0"), [](Fd& f, bool) { EXPECT_TRUE(f.docFormat->isOfClass(cXML::kClassName)); }},
       {7, T, flag(&Fd::disabled)},
       {12, T, flag(&Fd::selectedInList)},
       {5, B(5), [](Fd& f, bool p) { EXPECT_EQ(f.seenUpToTime, p ? 5 : kDateUnset); }},
       {13, T, flag(&Fd::noOlderItems)},
       {11, {0x2C, 0x84}, [](Fd& f, bool p) { EXPECT_EQ(f.twitterUpdateCredit, p ? 300 : 0); }},
       {1, S(1, "t"), text(&Fd::updatedText)},
       {1, S(1, "t"), text(&Fd::imageURL)},
       {1, S(1, "t"), text(&Fd::language)},
       {1, S(1, "t"), text(&Fd::subtitle)},
       {1, S(1, "t"), text(&Fd::rights)},
       {1, S(1, "t"), text(&Fd::generator)},
       {6, B(7), [](Fd& f, bool p) { EXPECT_EQ(f.downloadLength, p ? 7 : -1); }},
       {3, S(1, "t"), [](Fd& f, bool p) { EXPECT_EQ(f.userName.isNil(), !p); }},
       {4, S(3, ",a,"), [](Fd& f, bool p) { EXPECT_EQ(f.tags.isNil(), !p); }},
       {2, T, flag(&Fd::summaryIsContents)},
       {10, T, flag(&Fd::notUpdates)},
       {9, S(3, "a,b"), [](Fd& f, bool p) { EXPECT_EQ(f.filterTerms.size(), p ? 2u : 0u); }},
       {8, T, flag(&Fd::useDownloadDate)}},
      L(9));

  using I = newsItem;
  auto date = [](bigTime I::*field) { return [field](I& i, bool p) { EXPECT_EQ(i.*field, p ? 11 : kDateUnset); }; };
  auto mark = [](bool I::*field) { return [field](I& i, bool p) { EXPECT_EQ(i.*field, p); }; };
  expectEveryVersion<I>(
      9, cat({L(0), L(0)}),
      {{5, L(4), [](I& i, bool p) { EXPECT_EQ(i.feedIndex, p ? 4 : 0); }},
       {1, S(1, "t"), [](I& i, bool) { EXPECT_EQ(i.title, "t"); }},
       {1, {3}, [](I& i, bool) { EXPECT_EQ(i.titleFormat, kFormatXHTML); }},
       {1, S(1, "l"), [](I& i, bool) { EXPECT_EQ(i.link, "l"); }},
       {7, S(1, "s"), [](I& i, bool p) { EXPECT_EQ(i.statedLink.isNil(), !p); }},
       {1, S(1, "u"), [](I& i, bool) { EXPECT_EQ(i.uniqueID, "u"); }},
       {2, B(11), date(&I::published)},
       {2, B(11), date(&I::updated)},
       {6, B(11), date(&I::downloaded)},
       {8, {0x85}, [](I& i, bool p) { EXPECT_EQ(i.olderDuplicateItemIndex, p ? 5 : 0); }},
       {8, {0x86}, [](I& i, bool p) { EXPECT_EQ(i.newestDuplicateItemIndex, p ? 6 : 0); }},
       {9, S(1, "g"), [](I& i, bool p) { EXPECT_EQ(i.tags.isNil(), !p); }},
       {3, T, mark(&I::seen)},
       {4, T, mark(&I::secondMark)}},
      L(3));
  // An item whose version is damaged to below 0 holds only its title
  // format and body index.
  std::unique_ptr<I> damaged = decode<I>(cat({L(0), L(0), L(0xFFFFFFFF), {3}, L(8)}));
  EXPECT_EQ(std::pair(int(damaged->titleFormat), damaged->bodyIndex), std::pair(3, 8));
}

TEST_F(NewsRecordTest, UnknownVersionsAndDamagedStringsAreRefused) {
  auto body = [](const Bytes& b) { decode<newsItemBody>(b); };
  auto header = cat({L(0), L(0)});
  struct {
    const char* what;
    std::function<void()> read;
    const char* code;
    const char* message;
  } cases[] = {
      {"body v4", [&] { body(L(4)); }, "VER", "newsItemBody.restore(); soup contains unsupported old object version"},
      {"body v6", [&] { body(L(6)); }, "VER", "newsItemBody.restore(); soup contains unsupported future object version"},
      {"root v9", [] { decode<newsRoot>(L(9)); }, "VER", "newsRoot.restore(); soup contains unsupported object version"},
      {"feed v14", [&] { decode<newsFeed>(cat({header, L(14)})); }, "VER",
       "newsFeed.restore(); soup contains unsupported future object version"},
      {"item v10", [&] { decode<newsItem>(cat({header, L(10)})); }, "VER",
       "newsItem.restore(); soup contains unsupported future object version"},
      {"string version 2", [&] { body(cat({L(5), {2}})); }, "BUG", "restoreSTRING(); unknown version"},
      {"unknown feed type", [&] { decode<newsFeed>(cat({header, L(13), NIL, NIL, NIL, S(6, "Gopher")})); }, "BUG",
       "feedTypeToDocFormat(); unknown type"},
      // Damaged strings: negative capacity, negative length, length above
      // capacity, a version 0 text without its zero, a negative version 0
      // capacity, and 2^31-1 bytes announced in a short stream.
      {"capacity -1", [&] { body(cat({L(5), {1, 0xC1, 0x80}})); }, "BUG", "restoreSTRING(); damaged string record"},
      {"length -1", [&] { body(cat({L(5), {1, 0x85, 0xC1}})); }, "BUG", "restoreSTRING(); damaged string record"},
      {"length > capacity", [&] { body(cat({L(5), {1, 0x82, 0x83, 'a', 'b', 'c'}})); }, "BUG",
       "restoreSTRING(); damaged string record"},
      {"v0 without zero", [&] { body(cat({L(5), {0}, L(3), {'a', 'b', 'c', 'd', 0}})); }, "BUG",
       "restoreSTRING(); damaged string record"},
      {"v0 capacity -1", [&] { body(cat({L(5), {0}, L(0xFFFFFFFF)})); }, "BUG", "restoreSTRING(); damaged string record"},
      {"2^31-1 bytes", [&] { body(cat({L(5), {1, 0x3F, 0x7F, 0x7F, 0x7F, 0x8F, 0x3F, 0x7F, 0x7F, 0x7F, 0x8F}})); },
       "BUG", "restoreSTRING(); damaged string record"},
      {"cut stream", [&] { body(cat({L(5), {1, 0x85, 0x85, 'a'}})); }, "BUG", "restoreSTRING(); damaged string record"},
      {"cut record", [&] { body(L(5)); }, "FILE", "cRestoreStream_memory.read(); unexpected end of stream"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    expectRaise(c.read, c.code, c.message);
  }
  // Version 0 strings are still read, keeping their capacity.
  std::unique_ptr<newsItemBody> old = decode<newsItemBody>(
      cat({L(5), {0}, L(9), {'u', 't', 'f', 0}, NIL, NIL, NIL, NIL, NIL, NIL, {1}, NIL, {2}}));
  EXPECT_EQ(old->encoding, "utf");
  EXPECT_EQ(old->encoding.capacity(), 9);
  EXPECT_EQ(old->contentFormat, kFormatHTML);
}

// Deleting reads items past their texts, and a glance past all but link and
// uniqueID: over whole and damaged item records, such a read must end where
// the full one ends, keep every other field, and fail alike.
TEST_F(NewsRecordTest, AnItemReadPastItsTextsEndsAndFailsLikeAFullRead) {
  const Bytes head = cat({L(1), L(2), L(9), L(6)});
  const Bytes rest = cat({B(5), B(6), B(7), {0x85}, {0x80}});
  const std::string wide(300, 'w');  // longer than the skip's piece
  auto item = [&](Bytes title, Bytes link, Bytes tags) {
    return cat({head, title, {2}, link, NIL, S(1, "u"), rest, tags, T, F, L(8)});
  };
  Bytes wideString = {1, 0x2C, 0x84, 0x2C, 0x84};
  wideString.insert(wideString.end(), wide.begin(), wide.end());
  const Bytes records[] = {
      item(S(1, "t"), S(1, "l"), S(1, "g")),
      item(NIL, wideString, NIL),
      item(cat({{0}, L(9), {'u', 't', 'f', 0}}), S(1, "l"), S(1, "g")),  // version 0
      item({2}, S(1, "l"), S(1, "g")),                                     // unknown version
      item({1, 0x82, 0x83, 'a', 'b', 'c'}, S(1, "l"), S(1, "g")),          // length > capacity
      item(cat({{0}, L(3), {'a', 'b', 'c', 'd', 0}}), S(1, "l"), S(1, "g")),  // no zero in time
      cat({head, S(1, "t"), {2}, {1, 0x85, 0x85, 'a'}}),                   // cut
  };
  using Texts = newsItem::Texts;
  auto read = [](const Bytes& record, Texts texts, std::string& failure) {
    cRestoreStream_memory stream;
    stream.setInput(record.data(), record.size());
    auto object = std::make_unique<newsItem>();
    object->textsRead = texts;
    try {
      restoreRecord(*object, stream, false, false);
      EXPECT_EQ(stream.infoRemaining(), 0);
    } catch (const eException& e) {
      failure = std::string(e.code()) + " " + std::string(e.message());
    }
    return object;
  };
  for (size_t r = 0; r < std::size(records); ++r) {
    const Bytes& record = records[r];
    std::string fullFailure;
    auto full = read(record, Texts::kAll, fullFailure);
    for (Texts texts : {Texts::kNone, Texts::kKeys}) {
      SCOPED_TRACE("record " + std::to_string(r) + (texts == Texts::kKeys ? " keys" : " none"));
      std::string failure;
      auto thin = read(record, texts, failure);
      EXPECT_EQ(failure, fullFailure);
      if (!fullFailure.empty()) continue;
      EXPECT_EQ(std::tuple(thin->infoNextIndex(), thin->infoPrevIndex(), thin->feedIndex, thin->titleFormat,
                           thin->published, thin->updated, thin->downloaded, thin->olderDuplicateItemIndex,
                           thin->newestDuplicateItemIndex, thin->seen, thin->secondMark, thin->bodyIndex),
                std::tuple(full->infoNextIndex(), full->infoPrevIndex(), full->feedIndex, full->titleFormat,
                           full->published, full->updated, full->downloaded, full->olderDuplicateItemIndex,
                           full->newestDuplicateItemIndex, full->seen, full->secondMark, full->bodyIndex));
      EXPECT_TRUE(thin->title.isNil() && thin->statedLink.isNil() && thin->tags.isNil());
      const bool keys = texts == Texts::kKeys;
      EXPECT_EQ(std::pair(thin->link, thin->uniqueID), keys ? std::pair(full->link, full->uniqueID) : std::pair(Str(), Str()));
    }
  }
  // Such an item can never be stored over its record.
  for (Texts texts : {Texts::kNone, Texts::kKeys}) {
    newsItem thin;
    thin.textsRead = texts;
    expectRaise([&] { encode(thin); }, "BUG", "newsItem.restore(); an item read without its texts cannot be stored");
  }
}

// The walks along a feed's list read items through their dates alone: such
// a read gives what a full one gives up to the updated date, keeps link and
// uniqueID, leaves every later field as it was and ends after the dates. It
// fails as the full read does on damage before them, and never sees damage
// after them.
TEST_F(NewsRecordTest, AReadThroughTheDatesStopsAfterThem) {
  const Bytes upToDates = cat({L(1), L(2), L(9), L(6), S(1, "t"), {2}, S(1, "l"), NIL, S(1, "u"), B(5), B(6)});
  const Bytes after = cat({B(7), {0x85}, {0x80}, S(1, "g"), T, F, L(8)});
  const Bytes badTitle = cat({L(1), L(2), L(9), L(6), {2}, {2}, S(1, "l"), NIL, S(1, "u"), B(5), B(6)});
  struct Case {
    Bytes record;
    bool fullFails, datesFail;
  } cases[] = {
      {cat({upToDates, after}), false, false},
      {cat({upToDates, B(7), {0x85}, {0x80}, {2}, T, F, L(8)}), true, false},  // tags of an unknown version
      {upToDates, true, false},                                               // cut after the dates
      {cat({badTitle, after}), true, true},
      {Bytes(upToDates.begin(), upToDates.end() - 3), true, true},  // cut inside the updated date
  };
  for (size_t c = 0; c < std::size(cases); ++c) {
    SCOPED_TRACE("case " + std::to_string(c));
    for (bool showAhead : {true, false}) {
      cRestoreStream_memory stream;
      stream.setInput(cases[c].record.data(), cases[c].record.size(), showAhead);
      newsItem item;
      item.textsRead = newsItem::Texts::kKeysAndDates;
      item.downloaded = 42, item.olderDuplicateItemIndex = 3, item.tags = Str("x"), item.bodyIndex = 77;
      std::string failure;
      try {
        restoreRecord(item, stream, false, false);
      } catch (const eException& e) {
        failure = e.code();
      }
      EXPECT_EQ(testing_news::readItem(cases[c].record, newsItem::Texts::kAll, showAhead).failure.empty(),
                !cases[c].fullFails);
      EXPECT_EQ(failure.empty(), !cases[c].datesFail) << failure;
      if (!failure.empty()) continue;
      EXPECT_EQ(stream.infoRemaining(), int64_t(cases[c].record.size() - upToDates.size()));
      EXPECT_EQ(std::tuple(item.infoNextIndex(), item.infoPrevIndex(), item.feedIndex, item.titleFormat,
                           item.link.str(), item.uniqueID.str(), item.published, item.updated),
                std::tuple(1, 2, 6, uint8_t(2), std::string("l"), std::string("u"), int64_t(5), int64_t(6)));
      EXPECT_TRUE(item.title.isNil() && item.statedLink.isNil());
      EXPECT_EQ(std::tuple(item.downloaded, item.olderDuplicateItemIndex, item.tags.str(), item.bodyIndex),
                std::tuple(int64_t(42), 3, std::string("x"), 77));
    }
  }
  newsItem thin;
  thin.textsRead = newsItem::Texts::kKeysAndDates;
  expectRaise([&] { encode(thin); }, "BUG", "newsItem.restore(); an item read without its texts cannot be stored");
}

// A glance through the soup gives what a load gives: for a plain record, a
// long one, an older version, a loaded item; NIL where the loader answers
// NIL.
TEST_F(NewsRecordTest, AGlanceSeesWhatALoadSees) {
  std::vector<int32_t> indices;
  for (const std::string& title : {std::string("t"), std::string(3000, 't'), std::string("tt")}) {
    auto* item = new newsItem;
    item->setNodeHeader(5, 6);
    item->title = Str(title), item->link = Str("https://example.com/" + title.substr(0, 2));
    item->uniqueID = title.size() == 2 ? Str() : Str("u" + std::to_string(title.size()));
    item->published = 7, item->olderDuplicateItemIndex = 300, item->tags = Str(",a,");
    indices.push_back(db->createdAndUnloadObject(item));
  }
  // Version 8: no tags.
  indices.push_back(db->createdAndUnloadObject(new RawRecord(
      cat({L(1), L(2), L(8), L(6), S(1, "t"), {2}, S(1, "l"), NIL, S(1, "u"), B(5), B(6), B(7), {0x85}, {0x80}, T, F,
           L(8)}))));
  newsItem* loaded = loadObject_newsItem(*db, indices[0]);
  loaded->published = 99;  // changed in memory only: the glance must see it
  ItemGlance glance(*db);
  for (int32_t index : indices) {
    SCOPED_TRACE(index);
    newsItem* full = loadObject_newsItem(*db, index);
    const newsItem* seen = glance.look(index);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(testing_news::glanceFields(*seen), testing_news::glanceFields(*full));
    EXPECT_EQ(seen->infoSoupIndex(), index);
    db->unloadObject(full);
  }
  EXPECT_EQ(glance.look(indices[0])->published, 99);
  glance.clear();
  db->unloadObject(loaded);
  const int32_t body = db->createdObject(new newsItemBody);
  for (int32_t index : {0, 100000, body}) EXPECT_EQ(glance.look(index), nullptr) << index;
  db->unloadObject(db->findLoadedObject(body, 0));
}

TEST_F(NewsRecordTest, AStringLongerThanItsRecordIsRefusedThroughTheSoup) {
  // 1024 bytes announced in a record of a few bytes.
  int32_t index =
      db->createdAndUnloadObject(new RawRecord(cat({L(5), {1, 0x00, 0x80 | 0x10, 0x00, 0x80 | 0x10}, {'x'}})));
  expectRaise([&] { loadObject_newsItemBody(*db, index); }, "BUG", "restoreSTRING(); damaged string record");
  EXPECT_FALSE(db->infoMustClose());
}

TEST_F(NewsRecordTest, ReadingAFeedSetsItsReaderAndResetsRuntimeFields) {
  TranslateEntry table[] = {{}};  // an empty table: the reader only keeps it
  setTwitterEscapeTable(table);
  struct {
    const char* type;
    const char* reader;
  } cases[] = {{"RSS 0.91", cXML::kClassName},
               {"Atom", cXML::kClassName},
               {"Twitter v1.1", cJSON::kClassName},
               {"Facebook v2.8", cJSON::kClassName}};
  for (auto& c : cases) {
    newsFeed feed;
    feed.type = Str(c.type);
    feed.filter = Str("a,,b");
    Bytes record = encode(feed);
    feed.previousSeenUpToTime = feed.newestItemTime = 5;
    feed.downloadFailed = feed.hasNewItems = true;
    feed.nameCache = Str("old");
    cRestoreStream_memory stream;
    stream.setInput(record.data(), record.size());
    feed.restore(stream, false);
    EXPECT_TRUE(feed.docFormat->isSameClass(c.reader)) << c.type;
    EXPECT_EQ(feed.filterTerms, (StrChain{Str("a"), Str(""), Str("b")}));
    EXPECT_EQ(feed.previousSeenUpToTime, kDateUnset);
    EXPECT_EQ(feed.newestItemTime, kDateUnset);
    EXPECT_FALSE(feed.downloadFailed || feed.hasNewItems);
    EXPECT_TRUE(feed.nameCache.isNil());
  }
  setTwitterEscapeTable(nullptr);
  // Every feed's XML reader shares the one entity map.
  auto a = feedTypeToDocFormat(Str("Atom")), b = feedTypeToDocFormat(Str("RSS 2.0"));
  EXPECT_EQ(&static_cast<cXML&>(*a).infoDecoder()->entities(), &static_cast<cXML&>(*b).infoDecoder()->entities());
}

TEST_F(NewsRecordTest, BackupRecordsCarryNoLinks) {
  newsFeed feed;
  feed.setNodeHeader(4, 5);
  feed.type = Str("Atom"), feed.title = Str("t"), feed.itemListIndex = 9;
  newsItem item;
  item.setNodeHeader(4, 5);
  item.feedIndex = 2, item.bodyIndex = 3, item.title = Str("i");
  newsItemBody body;
  body.author = Str("a");
  cRestoreStream_memory s;
  restoreObject_newsFeed(s, true, &feed);
  restoreObject_newsItem(s, true, &item);
  restoreObject_newsItemBody(s, true, &body);
  restoreObject_newsItem(s, true, nullptr);
  Bytes all = s.infoOutput();
  EXPECT_EQ(all, cat({F, encode(feed, true), F, encode(item, true), F, encode(body), T}));

  s.setInput(all.data(), all.size());
  std::unique_ptr<newsFeed> f = restoreObject_newsFeed(s, false, nullptr);
  std::unique_ptr<newsItem> i = restoreObject_newsItem(s, false, nullptr);
  std::unique_ptr<newsItemBody> b = restoreObject_newsItemBody(s, false, nullptr);
  EXPECT_EQ(restoreObject_newsItem(s, false, nullptr), nullptr);
  EXPECT_EQ(f->title, "t");
  EXPECT_EQ(f->itemListIndex, 0);
  EXPECT_EQ(f->infoNextIndex(), 0);
  EXPECT_EQ(i->title, "i");
  EXPECT_EQ(i->feedIndex + i->bodyIndex, 0);
  EXPECT_EQ(b->author, "a");
}

// Seeded random fields: NIL, empty and long strings with spare capacity,
// sentinel and ordinary dates, flags.
class RandomFields {
 public:
  explicit RandomFields(uint32_t seed) : rng_(seed) {}
  Str text() {
    switch (pick(4)) {
      case 0: return Str();
      case 1: return Str::withCapacity(pick(3));
      default: {
        // Now and then longer than the soup stream's read window.
        std::string t(static_cast<size_t>(pick(8) == 0 ? 4000 + pick(4000) : pick(300)), 'a');
        for (char& c : t) c = static_cast<char>(pick(256));
        return Str::withCapacity(static_cast<int32_t>(t.size()) + pick(100), t);
      }
    }
  }
  bigTime date() {
    const bigTime fixed[] = {kDateUnset, kDateInvalid, 0, -1, INT64_MAX};
    return pick(2) ? fixed[pick(5)] : static_cast<bigTime>(rng_());
  }
  bool flag() { return pick(2) == 1; }
  int32_t pick(int32_t n) { return static_cast<int32_t>(rng_() % static_cast<uint32_t>(n)); }
  void fill(newsItem& item) {
    item.title = text(), item.link = text(), item.statedLink = text(), item.uniqueID = text();
    item.tags = text(), item.titleFormat = static_cast<uint8_t>(pick(256));
    item.published = date(), item.updated = date(), item.downloaded = date();
    item.feedIndex = pick(100), item.bodyIndex = pick(100);
    item.olderDuplicateItemIndex = pick(1 << 20), item.newestDuplicateItemIndex = pick(1 << 20);
    item.seen = flag(), item.secondMark = flag();
  }
  void fill(newsItemBody& body) {
    body.encoding = text(), body.statedEncoding = text(), body.publishedText = text();
    body.updatedText = text(), body.author = text(), body.imageURL = text();
    body.summary = text(), body.content = text();
    body.summaryFormat = static_cast<uint8_t>(pick(4)), body.contentFormat = static_cast<uint8_t>(pick(4));
  }

 private:
  std::mt19937 rng_;
};

// An item's or a body's stored record and the backup dump's form
// (skipHeader) give the same fields' bytes, from texts as Str or as views.
TEST_F(NewsRecordTest, StoredRecordsAreTheFieldTransfersBytes) {
  RandomFields r(23);
  for (int n = 0; n < 300; ++n) {
    newsItem item;
    r.fill(item);
    item.setNodeHeader(r.pick(1 << 20), r.pick(1 << 20));
    item.feedIndex = r.pick(1 << 30) - (1 << 29);
    const Bytes dump = encode(item, true);
    const Bytes version(dump.begin(), dump.begin() + 4), fields(dump.begin() + 4, dump.end());
    ASSERT_EQ(encode(item), cat({L(uint32_t(item.infoNextIndex())), L(uint32_t(item.infoPrevIndex())), version,
                                 L(uint32_t(item.feedIndex)), fields, L(uint32_t(item.bodyIndex))}))
        << "item " << n;
    newsItemBody body;
    r.fill(body);
    ASSERT_EQ(encode(body), encode(body, true)) << "body " << n;
    newsItemBodyRecord views;  // the same texts seen from elsewhere
    auto of = [](const Str& text) { return recordStringOf(text); };
    views.texts = {of(body.encoding), of(body.statedEncoding), of(body.publishedText), of(body.updatedText),
                   of(body.author),   of(body.imageURL),       of(body.summary),       body.summaryFormat,
                   of(body.content),  body.contentFormat};
    ASSERT_EQ(encode(views), encode(body)) << "body " << n;
  }
}

}  // namespace
}  // namespace bw

namespace bw::testing_news {
std::ostream& operator<<(std::ostream& o, const ItemRead& r) {
  return o << "'" << r.failure << "' remaining " << r.remaining << ", version " << r.version << ", "
           << ::testing::PrintToString(r.fields);
}
}  // namespace bw::testing_news

namespace bw {
namespace {

using testing_news::ItemRead;
using testing_news::readItem;

// An item read straight from the bytes a stream shows ahead ends as its
// read value by value does: same fields, same end, same failure. Seeded
// records, some of an older version or one too new, some damaged (a byte
// changed, the record cut), read keeping every choice of texts.
TEST_F(NewsRecordTest, AStraightReadEndsAsTheTransfersRead) {
  using Texts = newsItem::Texts;
  RandomFields r(31);
  int failures = 0, reads = 0;
  for (int n = 0; n < 400; ++n) {
    newsItem item;
    r.fill(item);
    item.setNodeHeader(r.pick(1 << 20), r.pick(1 << 20));
    Bytes record = encode(item);
    if (n % 3 == 1) {
      record[size_t(r.pick(int32_t(record.size())))] = uint8_t(r.pick(256));
    } else if (n % 3 == 2) {
      record.resize(size_t(r.pick(int32_t(record.size()))));
    }
    if (n % 5 == 0) record[11] = uint8_t(1 + r.pick(10));  // an older version, or one too new
    for (Texts texts : {Texts::kAll, Texts::kKeys, Texts::kNone, Texts::kKeysAndDates}) {
      SCOPED_TRACE("record " + std::to_string(n));
      const ItemRead straight = readItem(record, texts, true);
      ASSERT_EQ(straight, readItem(record, texts, false));
      failures += !straight.failure.empty();
      ++reads;
    }
  }
  // Both roads were taken: records read whole and records refused.
  EXPECT_GT(failures, reads / 10);
  EXPECT_LT(failures, reads * 9 / 10);
}

TEST_F(NewsRecordTest, SeededObjectsRoundTripThroughTheDatabase) {
  RandomFields r(22);
  std::vector<std::pair<int32_t, Bytes>> stored;
  for (int n = 0; n < 60; ++n) {
    cIndexedObject* object = nullptr;
    switch (n % 4) {
      case 0: {
        auto* root = new newsRoot;
        root->init(db.get());
        root->twitterToken = r.text(), root->twitterTokenSecret = r.text(), root->facebookAccessToken = r.text();
        root->facebookUserID = r.text(), root->rootText5 = r.text(), root->rootValue64 = r.date();
        object = root;
        break;
      }
      case 1: {
        auto* feed = new newsFeed;
        const char* types[] = {"RSS 2.0", "Atom", "Facebook v2.8"};
        feed->type = Str(types[r.pick(3)]);
        feed->setSoup(db.get());
        feed->title = r.text(), feed->url = r.text(), feed->uniqueID = r.text(), feed->updatedText = r.text();
        feed->imageURL = r.text(), feed->language = r.text(), feed->subtitle = r.text(), feed->rights = r.text();
        feed->generator = r.text(), feed->userName = r.text(), feed->tags = r.text(), feed->filter = r.text();
        feed->disabled = r.flag(), feed->selectedInList = r.flag(), feed->noOlderItems = r.flag();
        feed->summaryIsContents = r.flag(), feed->notUpdates = r.flag(), feed->useDownloadDate = r.flag();
        feed->seenUpToTime = r.date(), feed->downloadLength = r.date(), feed->twitterUpdateCredit = r.pick(1000) - 500;
        object = feed;
        break;
      }
      case 2: {
        auto* item = new newsItem;
        r.fill(*item);
        object = item;
        break;
      }
      default: {
        auto* body = new newsItemBody;
        r.fill(*body);
        object = body;
      }
    }
    cRestoreStream_memory first;
    object->restore(first, true);
    stored.push_back({db->createdAndUnloadObject(object), first.infoOutput()});
  }
  // Loaded after a reopen, each object writes its first record again, and
  // so it does after being saved and reopened once more.
  auto load = [&](size_t n) -> cIndexedObject* {
    int32_t index = stored[n].first;
    switch (n % 4) {
      case 0: return loadObject_newsRoot(*db, index);
      case 1: return loadObject_newsFeed(*db, index);
      case 2: return loadObject_newsItem(*db, index);
      default: return loadObject_newsItemBody(*db, index);
    }
  };
  for (int round = 0; round < 2; ++round) {
    reopen();
    for (size_t n = 0; n < stored.size(); ++n) {
      cIndexedObject* o = load(n);
      ASSERT_NE(o, nullptr);
      cRestoreStream_memory again;
      o->restore(again, true);
      EXPECT_EQ(again.infoOutput(), stored[n].second) << "object " << stored[n].first;
      if (auto* root = dynamic_cast<newsRoot*>(o)) {
        EXPECT_TRUE(root->soup == db.get() && root->feedList);
      }
      if (auto* feed = dynamic_cast<newsFeed*>(o)) {
        EXPECT_TRUE(feed->soup == db.get() && feed->itemList);
      }
      db->saveChangesToObject(o);
      db->unloadObject(o);
    }
  }
}

}  // namespace
}  // namespace bw
