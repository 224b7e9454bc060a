// database/soup_model_test_support.h - for tests: a seeded random workload
// on a cJournaledIndexedObjectSoupDatabase checked against a plain in-memory
// model (records, nodes, lists and arrays by index).
//
// The driver runs over any SoupBlockFile the caller makes, so the same
// workload checks the soup over the in-memory fake and over the journaled
// file on disk. check() compares every stored object, walks every list and
// the chain of lists, and recomputes usedBytes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "database/soup_database.h"
#include "database/soup_fake_block_file_test_support.h"

namespace bw::testing {

class SoupModel {
 public:
  using MakeFile = std::function<std::unique_ptr<SoupBlockFile>()>;

  SoupModel(MakeFile make, uint32_t seed, std::string path = "model.soup")
      : make_(std::move(make)), rng_(seed), holds_(seed), path_(std::move(path)) {
    reopen();
  }

  cJournaledIndexedObjectSoupDatabase& db() { return *db_; }

  void reopen() {
    releaseHeld();
    if (db_) db_->close();
    db_ = std::make_unique<cJournaledIndexedObjectSoupDatabase>(make_());
    ASSERT_TRUE(db_->open(Text(path_), false));
    db_->setAutoCompact(autoCompact_);
  }
  // Compaction after each change, from the next reopen on (off by default).
  void setAutoCompact(bool on) {
    autoCompact_ = on;
    db_->setAutoCompact(on);
  }

  // One random operation.
  void step() {
    int op = pick(100);
    if (op < 14) createRecord();
    else if (op < 28) saveRecord();
    else if (op < 34) destroyRecord();
    else if (op < 44) createNode();
    else if (op < 60) insertNode();
    else if (op < 70) removeNode();
    else if (op < 73) destroyNode();
    else if (op < 76) createList();
    else if (op < 78) destroyList();
    else if (op < 84) arrayWork();
    else if (op < 92) loadAndUnload();
    else if (op < 96) nestedTransaction();
    else if (op < 99) {
      db_->flush();
      walkOneList();  // the links it reads may be answered again later
    }
    else reopen();
  }

  void check() {
    for (auto& [index, values] : records_) {
      auto* r = static_cast<TestRecord*>(db_->loadObject(index, std::make_unique<TestRecord>()));
      EXPECT_EQ(r->values, values) << "record " << index;
      db_->unloadObject(r);
    }
    for (auto& [index, value] : nodes_) {
      auto* n = static_cast<TestNode*>(db_->loadObject(index, std::make_unique<TestNode>()));
      EXPECT_EQ(n->value, value) << "node " << index;
      db_->unloadObject(n);
    }
    checkLists();
    for (auto& [index, elements] : arrays_) {
      for (size_t k = 0; k < elements.size(); ++k) {
        EXPECT_EQ(db_->readArray(index, static_cast<int32_t>(k)), elements[k]) << "array " << index;
      }
    }
    EXPECT_EQ(chainLength(), lists_.size());
    int64_t used = 0;
    SoupBlockFile& file = db_->infoBlockFile();
    auto add = [&](int32_t index) {
      used += file.infoSizeOfIndexBlock(file.infoBlockOfIndex(index, false)) + db_->infoPerBlockOverhead();
    };
    for (auto& e : records_) add(e.first);
    for (auto& e : nodes_) add(e.first);
    for (auto& e : lists_) add(e.first);
    for (auto& e : arrays_) add(e.first);
    EXPECT_EQ(db_->infoUsedBytes(), used);
  }

  // Walks every list through the node headers against the model.
  void checkLists() {
    std::set<int32_t> members;
    for (auto& [index, order] : lists_) checkList(index, order, members);
  }
  // One list a time, in turn (no draw from the seeded sequence).
  void walkOneList() {
    if (lists_.empty()) return;
    auto it = std::next(lists_.begin(), static_cast<long>(walks_++ % lists_.size()));
    std::set<int32_t> members;
    checkList(it->first, it->second, members);
  }
  void checkList(int32_t index, const std::vector<int32_t>& order, std::set<int32_t>& members) {
    cIndexedObjectList* list = loadObject_cIndexedObjectList(*db_, index);
    std::vector<int32_t> walked;
    int32_t prev = 0;
    for (int32_t i = list->infoHeadIndex(); i != 0 && walked.size() <= nodes_.size();) {
      NodeHeader h = db_->readObjectNodeHeader(i);
      EXPECT_EQ(h.prevIndex, prev);
      EXPECT_TRUE(members.insert(i).second) << "node " << i << " in two lists";
      walked.push_back(i);
      prev = i;
      i = h.nextIndex;
    }
    EXPECT_EQ(list->infoTailIndex(), prev);
    EXPECT_EQ(walked, order) << "list " << index;
    db_->unloadObject(list);
  }

  size_t objectCount() const { return records_.size() + nodes_.size() + lists_.size() + arrays_.size(); }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  bool autoCompact_ = false;
  size_t walks_ = 0;
  template <class Map>
  int32_t anyKey(const Map& m) {
    auto it = m.begin();
    std::advance(it, pick(static_cast<int>(m.size())));
    return it->first;
  }
  std::vector<int32_t> randomValues() {
    // Sizes from 4 bytes to about 1 KiB, mostly small.
    int n = pick(4) == 0 ? pick(250) : pick(12);
    std::vector<int32_t> v(static_cast<size_t>(n));
    for (auto& x : v) x = static_cast<int32_t>(rng_());
    return v;
  }

  void createRecord() {
    std::vector<int32_t> v = randomValues();
    records_[db_->createdAndUnloadObject(new TestRecord(v))] = v;
  }
  // A record saved while loaded may stay loaded over the following steps,
  // to be saved again after compaction and other saves moved blocks. These
  // choices draw from a sequence of their own: the operations stay those
  // the seed gave before.
  int pickHold(int n) { return std::uniform_int_distribution<int>(0, n - 1)(holds_); }
  void saveRecord() {
    if (records_.empty()) return;
    int32_t index = anyKey(records_);
    if (!held_.empty() && pickHold(2)) index = std::next(held_.begin(), pickHold(static_cast<int>(held_.size())))->first;
    auto* r = static_cast<TestRecord*>(db_->loadObject(index, std::make_unique<TestRecord>()));
    r->values = randomValues();
    db_->saveChangesToObject(r);
    records_[index] = r->values;
    if (!held_.count(index) && pickHold(3) == 0) {
      held_[index] = r;
      return;
    }
    db_->unloadObject(r);
    if (pickHold(4) == 0) releaseHeld(index);
  }
  void releaseHeld(int32_t index) {
    auto it = held_.find(index);
    if (it == held_.end()) return;
    db_->unloadObject(it->second);
    held_.erase(it);
  }
  void releaseHeld() {
    while (!held_.empty()) releaseHeld(held_.begin()->first);
  }
  void destroyRecord() {
    if (records_.empty()) return;
    int32_t index = anyKey(records_);
    releaseHeld(index);
    if (pick(2)) {
      db_->destroyObject(index);
    } else {
      db_->unloadAndDestroyObject(db_->loadObject(index, std::make_unique<TestRecord>()));
    }
    records_.erase(index);
  }
  void createNode() {
    int32_t value = static_cast<int32_t>(rng_());
    int32_t index = db_->createdAndUnloadObject(new TestNode(value));
    nodes_[index] = value;
    free_.insert(index);
  }
  std::vector<int32_t>& listOf(int32_t listIndex) { return lists_[listIndex]; }
  void insertNode() {
    if (free_.empty() || lists_.empty()) return;
    int32_t n = *std::next(free_.begin(), pick(static_cast<int>(free_.size())));
    int32_t l = anyKey(lists_);
    std::vector<int32_t>& order = listOf(l);
    cIndexedObjectList* list = loadObject_cIndexedObjectList(*db_, l);
    int how = pick(3);
    if (how == 0 || order.empty()) {
      list->insertAtHead(n);
      order.insert(order.begin(), n);
    } else if (how == 1) {
      list->insertAtTail(n);
      order.push_back(n);
    } else {
      size_t at = static_cast<size_t>(pick(static_cast<int>(order.size())));
      list->insertAfter(n, order[at]);
      order.insert(order.begin() + static_cast<long>(at) + 1, n);
    }
    db_->unloadObject(list);
    free_.erase(n);
  }
  void removeNode() {
    if (lists_.empty()) return;
    int32_t l = anyKey(lists_);
    std::vector<int32_t>& order = listOf(l);
    if (order.empty()) return;
    size_t at = static_cast<size_t>(pick(static_cast<int>(order.size())));
    int32_t n = order[at];
    if (at > 0 && at + 1 < order.size() && pick(2)) {
      db_->removeObjectNode(n);
    } else {
      cIndexedObjectList* list = loadObject_cIndexedObjectList(*db_, l);
      list->remove(n);
      db_->unloadObject(list);
    }
    order.erase(order.begin() + static_cast<long>(at));
    free_.insert(n);
  }
  void destroyNode() {
    if (free_.empty()) return;
    int32_t n = *std::next(free_.begin(), pick(static_cast<int>(free_.size())));
    db_->unloadAndDestroyObject(db_->loadObject(n, std::make_unique<TestNode>()));
    free_.erase(n);
    nodes_.erase(n);
  }
  void createList() {
    CreatedList c = db_->createObjectList();
    lists_[c.index] = {};
    db_->unloadObject(c.list);
  }
  void destroyList() {
    for (auto& [index, order] : lists_) {
      if (!order.empty()) continue;
      db_->destroyObjectList(index);
      lists_.erase(index);
      return;
    }
  }
  void arrayWork() {
    int what = pick(4);
    if (what == 0 || arrays_.empty()) {
      int32_t count = 1 + pick(40);
      arrays_[db_->allocArray(count, true)] = std::vector<int32_t>(static_cast<size_t>(count), 0);
    } else if (what == 1) {
      int32_t a = anyKey(arrays_);
      auto& e = arrays_[a];
      int32_t k = pick(static_cast<int>(e.size()));
      e[static_cast<size_t>(k)] = static_cast<int32_t>(rng_());
      db_->writeArray(a, k, e[static_cast<size_t>(k)]);
    } else if (what == 2) {
      int32_t a = anyKey(arrays_);
      auto& e = arrays_[a];
      int32_t newCount = 1 + pick(60);
      db_->resizeArray(a, newCount, static_cast<int32_t>(e.size()), true);
      e.resize(static_cast<size_t>(newCount), 0);
    } else {
      int32_t a = anyKey(arrays_);
      db_->deallocArray(a);
      arrays_.erase(a);
    }
  }
  void loadAndUnload() {
    if (records_.empty()) return;
    int32_t index = anyKey(records_);
    if (held_.count(index)) return;
    cIndexedObject* a = db_->loadObject(index, std::make_unique<TestRecord>());
    cIndexedObject* b = db_->loadObject(index, std::make_unique<TestRecord>());
    EXPECT_EQ(a, b);
    EXPECT_EQ(db_->findLoadedObject(index, 0), a);
    db_->unloadObject(a);
    db_->unloadObject(b);
    EXPECT_EQ(db_->findRegisteredObject(index), nullptr);
  }
  void nestedTransaction() {
    int32_t outer = db_->beginTransaction();
    createRecord();
    int32_t inner = db_->beginTransaction();
    saveRecord();
    createNode();
    db_->finishTransaction(inner);
    insertNode();
    db_->finishTransaction(outer);
  }
  size_t chainLength() {
    size_t n = 0;
    int32_t first = db_->infoHeadListIndex();
    for (int32_t i = first; i != 0 && n <= lists_.size();) {
      cIndexedObjectList* l = loadObject_cIndexedObjectList(*db_, i);
      EXPECT_TRUE(lists_.count(i)) << "list " << i << " not in the model";
      int32_t next = l->infoListNextIndex();
      db_->unloadObject(l);
      ++n;
      i = next == first ? 0 : next;
    }
    return n;
  }

  MakeFile make_;
  std::mt19937 rng_;
  std::mt19937 holds_;
  std::string path_;
  std::unique_ptr<cJournaledIndexedObjectSoupDatabase> db_;
  std::map<int32_t, std::vector<int32_t>> records_;
  std::map<int32_t, TestRecord*> held_;  // loaded records, one use each
  std::map<int32_t, int32_t> nodes_;
  std::set<int32_t> free_;  // nodes in no list
  std::map<int32_t, std::vector<int32_t>> lists_;
  std::map<int32_t, std::vector<int32_t>> arrays_;
};

}  // namespace bw::testing
