// database/soup_crash_workload_test_support.h - for the crash tests: a soup
// workload whose state after commit n follows from n alone, so a reopened
// file can be compared with commit n or n + 1.
//
// Set-up (commit 0): a list (index 1) and a root record (index 2). Commit n:
// a node of value n goes to the list's tail; every third commit the head node
// leaves the list and is destroyed; the root record becomes rootValues(n),
// whose size changes with n (so it moves between blocks).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "database/soup_database.h"
#include "database/soup_fake_block_file_test_support.h"

namespace bw::testing {

inline constexpr int32_t kCrashListIndex = 1;
inline constexpr int32_t kCrashRootIndex = 2;

inline std::vector<int32_t> rootValues(int64_t n) {
  std::vector<int32_t> v(static_cast<size_t>(1 + (n * 7) % 30), static_cast<int32_t>(n));
  v[0] = static_cast<int32_t>(n);
  return v;
}

inline void setUpCrashWorkload(cJournaledIndexedObjectSoupDatabase& db) {
  CreatedList list = db.createObjectList();
  db.unloadObject(list.list);
  db.setRootValue(db.createdAndUnloadObject(new TestRecord(rootValues(0))));
}

inline void crashTransaction(cJournaledIndexedObjectSoupDatabase& db, int64_t n) {
  int32_t t = db.beginTransaction();
  cIndexedObjectList* list = loadObject_cIndexedObjectList(db, kCrashListIndex);
  LoadedUse listUse(db, list);
  list->insertAtTail(db.createdAndUnloadObject(new TestNode(static_cast<int32_t>(n))));
  if (n % 3 == 0) {
    int32_t head = list->infoHeadIndex();
    list->remove(head);
    db.destroyObject(head);
  }
  auto* root = static_cast<TestRecord*>(db.loadObject(kCrashRootIndex, std::make_unique<TestRecord>()));
  LoadedUse rootUse(db, root);
  root->values = rootValues(n);
  db.saveChangesToObject(root);
  db.finishTransaction(t);
}

// The commit the database shows (its root's first value), after checking
// that the list holds exactly what that commit leaves.
inline int64_t shownCommit(cJournaledIndexedObjectSoupDatabase& db) {
  auto* root = static_cast<TestRecord*>(db.loadObject(kCrashRootIndex, std::make_unique<TestRecord>()));
  int64_t n = root->values.at(0);
  EXPECT_EQ(root->values, rootValues(n));
  db.unloadObject(root);
  std::vector<int32_t> want;
  for (int64_t v = n / 3 + 1; v <= n; ++v) want.push_back(static_cast<int32_t>(v));
  std::vector<int32_t> got;
  cIndexedObjectList* list = loadObject_cIndexedObjectList(db, kCrashListIndex);
  for (int32_t i = list->infoHeadIndex(); i != 0 && got.size() <= want.size();) {
    auto* node = static_cast<TestNode*>(db.loadObject(i, std::make_unique<TestNode>()));
    got.push_back(node->value);
    i = node->infoNextIndex();
    db.unloadObject(node);
  }
  db.unloadObject(list);
  EXPECT_EQ(got, want) << "commit " << n;
  return n;
}

}  // namespace bw::testing
