// database/soup_database.cpp - the database's chain of lists, its header
// values and its refusals.
#include "database/soup_database.h"

#include <string>
#include <utility>

#include "core/exception.h"

namespace bw {

namespace {

[[noreturn]] void unsupported(const char* method) {
  raise("EMU", std::string("cJournaledIndexedObjectSoupDatabase.") + method + "(); unsupported method");
}

const char kStillLoaded[] = "cJournaledIndexedObjectSoup.destroyObject(); specified object is still loaded";

}  // namespace

cJournaledIndexedObjectSoupDatabase::cJournaledIndexedObjectSoupDatabase(std::unique_ptr<SoupBlockFile> file)
    : cJournaledIndexedObjectSoup(std::move(file)) {}

void cJournaledIndexedObjectSoupDatabase::writeExtra1(int64_t) { unsupported("writeExtra1"); }
void cJournaledIndexedObjectSoupDatabase::writeExtra2(int64_t) { unsupported("writeExtra2"); }
void cJournaledIndexedObjectSoupDatabase::writeExtra3(int64_t) { unsupported("writeExtra3"); }
int64_t cJournaledIndexedObjectSoupDatabase::readExtra1() { unsupported("readExtra1"); }
int64_t cJournaledIndexedObjectSoupDatabase::readExtra2() { unsupported("readExtra2"); }
int64_t cJournaledIndexedObjectSoupDatabase::readExtra3() { unsupported("readExtra3"); }

void cJournaledIndexedObjectSoupDatabase::unloadAndDestroyObject(cIndexedObject* object) {
  if (object && object->isOfClass(cIndexedObjectNode::kClassName)) {
    auto* node = static_cast<cIndexedObjectNode*>(object);
    if (node->infoNextIndex() != 0 || node->infoPrevIndex() != 0) {
      raise("BUG",
            "cJournaledIndexedObjectSoupDatabase.unloadAndDestroyObject(); object is an cIndexedObjectNode which is "
            "still in a list");
    }
  }
  if (object && object->isOfClass(cIndexedObjectList::kClassName)) {
    raise("BUG",
          "cJournaledIndexedObjectSoupDatabase.unloadAndDestroyObject(); object is an cIndexedObjectList, for which "
          "you should instead be using the destroyObjectList() method, after unloading it");
  }
  cJournaledIndexedObjectSoup::unloadAndDestroyObject(object);
}

// --- header values ----------------------------------------------------------------------

int32_t cJournaledIndexedObjectSoupDatabase::infoHeadListIndex() {
  return static_cast<int32_t>(cJournaledIndexedObjectSoup::readExtra1());
}

void cJournaledIndexedObjectSoupDatabase::setHeadListIndex(int32_t index) {
  cJournaledIndexedObjectSoup::writeExtra1(index);
}

int64_t cJournaledIndexedObjectSoupDatabase::infoDefragListIndex() { return cJournaledIndexedObjectSoup::readExtra2(); }

void cJournaledIndexedObjectSoupDatabase::setDefragListIndex(int64_t value) {
  cJournaledIndexedObjectSoup::writeExtra2(value);
}

void cJournaledIndexedObjectSoupDatabase::reloadHeaderMirrors() {
  readLinks_ = {};
  walk_ = {};
  try {
    flags_ = static_cast<uint32_t>(cJournaledIndexedObjectSoup::readExtra3());
  } catch (...) {
    // Keeps the last flags; the caller is closing a database it cannot read.
  }
}

void cJournaledIndexedObjectSoupDatabase::setListFlag(bool on) {
  requireChangeable("setListFlag");
  uint32_t flags = on ? (flags_ | 1u) : (flags_ & ~1u);
  if (flags == flags_) return;
  cJournaledIndexedObjectSoup::writeExtra3(flags);
  flags_ = flags;
  compactStep(true);
}

CompactionBlocks cJournaledIndexedObjectSoupDatabase::firstCompactionBlocks() {
  setDefragListIndex(-1);
  return cJournaledIndexedObjectSoup::firstCompactionBlocks();
}

// --- the chain of lists ------------------------------------------------------------------

std::unique_ptr<cIndexedObjectList> cJournaledIndexedObjectSoupDatabase::newObjectList() {
  return std::make_unique<cIndexedObjectList>();
}

CreatedList cJournaledIndexedObjectSoupDatabase::createObjectList() {
  requireChangeable("createObjectList");
  int32_t first = infoHeadListIndex();
  cIndexedObjectList* firstList = nullptr;
  cIndexedObjectList* lastList = nullptr;
  if (first != 0) firstList = loadObject_cIndexedObjectList(*this, first);
  LoadedUse firstUse(*this, firstList);
  if (firstList) lastList = loadObject_cIndexedObjectList(*this, firstList->listPrevIndex_);
  LoadedUse lastUse(*this, lastList);
  if (first != 0 && !lastList) {
    raise("BUG", "cJournaledIndexedObjectSoupDatabase.createObjectList(); prevList=NIL");
  }
  cIndexedObjectList::Links firstLinks{}, lastLinks{};
  if (firstList) {
    firstLinks = firstList->links();
    lastLinks = lastList->links();
  }

  std::unique_ptr<cIndexedObjectList> fresh = newObjectList();
  fresh->init(this);
  cIndexedObjectList* list = fresh.get();
  int32_t index = 0;
  try {
    SoupTransaction transaction(infoBlockFile());
    if (firstList) {
      list->listPrevIndex_ = lastList->soupIndexOrNone();
      list->listNextIndex_ = first;
    }
    index = createdObject(list);
    fresh.release();  // the table holds it now
    if (!firstList) {
      list->listNextIndex_ = index;
      list->listPrevIndex_ = index;
      saveChangesToObject(list);
    }
    setHeadListIndex(index);
    if (firstList) {
      firstList->listPrevIndex_ = index;
      saveChangesToObject(firstList);
      lastList->listNextIndex_ = index;
      saveChangesToObject(lastList);
    }
    transaction.finish();
  } catch (...) {
    if (index != 0) unloadObject(list);  // deletes it
    if (firstList) {
      firstList->setLinks(firstLinks);
      lastList->setLinks(lastLinks);
    }
    throw;
  }
  return {list, index};
}

void cJournaledIndexedObjectSoupDatabase::destroyObjectList(int32_t index) {
  requireChangeable("destroyObjectList");
  cIndexedObjectList* list = loadObject_cIndexedObjectList(*this, index);
  if (!list) return;
  try {
    unloadAndDestroyObjectList(list);
  } catch (...) {
    // The list is still there (nothing was changed, or everything was
    // discarded): give back the use this call took.
    if (findRegisteredObject(index) == list) unloadObject(list);
    throw;
  }
}

void cJournaledIndexedObjectSoupDatabase::unloadAndDestroyObjectList(cIndexedObjectList* list) {
  requireChangeable("unloadAndDestroyObjectList");
  if (!list) return;
  if (list->headIndex_ != 0) {
    raise("EMU", "cJournaledIndexedObjectSoupDatabase.unloadAndDestroyObjectList(); list is not empty");
  }
  // The list must be gone from the table once this call's use is given back.
  if (list->infoUseCount() > 1) raise("EMU", kStillLoaded);
  int32_t index = list->soupIndexOrNone();
  // The only list of the chain is its own neighbour both ways: it has no
  // other list to load or relink.
  bool onlyList = list->listNextIndex_ == index && list->listPrevIndex_ == index;
  cIndexedObjectList* prevList = nullptr;
  cIndexedObjectList* nextList = nullptr;
  if (!onlyList) prevList = loadObject_cIndexedObjectList(*this, list->listPrevIndex_);
  LoadedUse prevUse(*this, prevList);
  if (!onlyList) nextList = loadObject_cIndexedObjectList(*this, list->listNextIndex_);
  LoadedUse nextUse(*this, nextList);
  if (!onlyList && !prevList) {
    raise("BUG", "cJournaledIndexedObjectSoupDatabase.unloadAndDestroyObjectList(); prevList=NIL");
  }
  if (!onlyList && !nextList) {
    raise("BUG", "cJournaledIndexedObjectSoupDatabase.unloadAndDestroyObjectList(); nextList=NIL");
  }
  int32_t headList = infoHeadListIndex();

  SoupTransaction transaction(infoBlockFile());
  int64_t defrag = infoDefragListIndex();
  if (defrag < -1) defrag = ~defrag;
  if (defrag == index) {
    int32_t next = onlyList ? index : list->listNextIndex_;
    if (next == headList) {
      setDefragListIndex(0);
      setAutoDesiredBlock(0);
    } else {
      setDefragListIndex(~static_cast<int64_t>(next));
      int64_t dataPosition = infoBlockFile().infoBlockOfIndex(next, true);
      if (dataPosition == 0) {
        raise("BUG", "cJournaledIndexedObjectSoupDatabase.unloadAndDestroyObjectList(); defragListIndex did not exist");
      }
      setAutoDesiredBlock(dataPosition - 4);
    }
  }
  if (onlyList) {
    setHeadListIndex(0);
  } else {
    if (headList == index) setHeadListIndex(list->listNextIndex_);
    prevList->listNextIndex_ = list->listNextIndex_;
    saveChangesToObject(prevList);
    nextList->listPrevIndex_ = list->listPrevIndex_;
    saveChangesToObject(nextList);
  }
  cJournaledIndexedObjectSoup::unloadAndDestroyObject(list);
  transaction.finish();
}

cIndexedObjectList* loadObject_cIndexedObjectList(cJournaledIndexedObjectSoupDatabase& soup, int32_t index) {
  if (index == 0) return nullptr;
  cIndexedObject* object = soup.findLoadedObject(index, 1);
  if (!object) object = soup.loadObject(index, std::make_unique<cIndexedObjectList>());
  if (!object->isOfClass(cIndexedObjectList::kClassName)) {
    soup.unloadObject(object);
    raise("BUG", "loadObject_cIndexedObjectList(); object is not an cIndexedObjectList");
  }
  return static_cast<cIndexedObjectList*>(object);
}

}  // namespace bw
