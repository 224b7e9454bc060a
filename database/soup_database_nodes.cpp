// database/soup_database_nodes.cpp - node headers: the first 8 bytes of a
// node's record (nextIndex, prevIndex, big-endian), read and written without
// loading the node, and the unlinking of an inner node. Links read from the
// file are remembered until the file's change count moves on; a walk along a
// list reads the links of a window of indices at a time.
#include <algorithm>
#include <string>

#include "core/exception.h"
#include "database/soup_database.h"

namespace bw {

namespace {

void putBE32(uint8_t* p, int32_t value) {
  auto u = static_cast<uint32_t>(value);
  p[0] = static_cast<uint8_t>(u >> 24);
  p[1] = static_cast<uint8_t>(u >> 16);
  p[2] = static_cast<uint8_t>(u >> 8);
  p[3] = static_cast<uint8_t>(u);
}

int32_t getBE32(const uint8_t* p) {
  return static_cast<int32_t>((uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]);
}

void writeHeaderBytes(SoupBlockFile& file, int64_t dataPosition, int32_t nextIndex, int32_t prevIndex) {
  uint8_t bytes[8];
  putBE32(bytes, nextIndex);
  putBE32(bytes + 4, prevIndex);
  SoupTransaction transaction(file);
  file.writeBytes(dataPosition, bytes, 8);
  transaction.finish();
}

// The loaded node at index whose fields hold its links, or NIL.
cIndexedObjectNode* loadedNode(cJournaledIndexedObjectSoup& soup, int32_t index) {
  cIndexedObject* object = soup.findRegisteredObject(index);
  if (!object || object->infoUseCount() == -1 || !object->infoIsNode()) return nullptr;
  return static_cast<cIndexedObjectNode*>(object);
}

}  // namespace

NodeHeader cJournaledIndexedObjectSoupDatabase::readObjectNodeHeader(int32_t index) {
  requireOpen("readObjectNodeHeader");
  const uint64_t changeCount = infoBlockFile().infoChangeCount();
  // A read of the node the last answer links to, with nothing changed since,
  // is a step of a walk along a list.
  const bool step = walk_.changeCount == changeCount && index != 0 &&
                    (index == walk_.last.nextIndex || index == walk_.last.prevIndex);
  walk_.steps = step ? walk_.steps + 1 : 0;
  walk_.changeCount = changeCount;
  walk_.last = readLinks(index, changeCount);
  return walk_.last;
}

NodeHeader cJournaledIndexedObjectSoupDatabase::readLinks(int32_t index, uint64_t changeCount) {
  if (cIndexedObjectNode* node = loadedNode(*this, index)) return {node->infoNextIndex(), node->infoPrevIndex()};
  auto remembered = [&] {
    const ReadLinks* r = index > 0 ? readLinks_.find(index) : nullptr;
    return r && r->changeCount == changeCount ? r : nullptr;
  };
  if (const ReadLinks* r = remembered()) return r->links;
  // Walking on, the links of the indices around this one are read at once:
  // a list's nodes mostly lie in runs of neighbouring indices.
  if (index > 0 && walk_.steps >= kWalkStepsBeforeWindow) {
    rememberLinksAround(index, changeCount);
    if (const ReadLinks* r = remembered()) return r->links;
  }
  int64_t dataPosition = infoBlockFile().infoBlockOfIndex(index, true);
  if (dataPosition == 0) {
    raise("EMU", "cJournaledIndexedObjectSoupDatabase.readObjectNodeHeader(); no object matches provided index");
  }
  uint8_t bytes[8];
  infoBlockFile().readBytes(dataPosition, bytes, 8);
  NodeHeader links{getBE32(bytes), getBE32(bytes + 4)};
  // The index has a block, so the index array bounds the table.
  readLinks_.put(index, links, changeCount);
  return links;
}

void cJournaledIndexedObjectSoupDatabase::rememberLinksAround(int32_t index, uint64_t changeCount) {
  static_assert(LinksTable::kPieceSize % kLinksWindow == 0, "a window lies within one piece of the table");
  const int32_t first = std::max(1, index - index % kLinksWindow);
  const int32_t count = index - index % kLinksWindow + kLinksWindow - first;
  RecordHead heads[kLinksWindow];
  infoBlockFile().readRecordHeads(first, count, heads);
  // Indices with blocks only: the index array bounds the table.
  ReadLinks* entries = nullptr;
  for (int32_t k = 0; k < count; ++k) {
    if (heads[k].dataPosition == 0) continue;
    if (!entries) entries = readLinks_.entries(first);
    entries[k] = {{getBE32(heads[k].bytes), getBE32(heads[k].bytes + 4)}, changeCount};
  }
}

void cJournaledIndexedObjectSoupDatabase::writeObjectNodeHeader(int32_t index, int32_t nextIndex, int32_t prevIndex) {
  requireChangeable("writeObjectNodeHeader");
  if (cIndexedObjectNode* node = loadedNode(*this, index)) {
    writeHeaderBytes(infoBlockFile(), dataPositionOf(*node), nextIndex, prevIndex);
    node->setNodeHeader(nextIndex, prevIndex);
    return;
  }
  int64_t dataPosition = infoBlockFile().infoBlockOfIndex(index, true);
  if (dataPosition == 0) {
    raise("EMU", "cJournaledIndexedObjectSoupDatabase.writeObjectNodeHeader(); no object matches provided index");
  }
  writeHeaderBytes(infoBlockFile(), dataPosition, nextIndex, prevIndex);
}

void cJournaledIndexedObjectSoupDatabase::writeLoadedObjectNodeHeader(cIndexedObjectNode* node) {
  requireChangeable("writeLoadedObjectNodeHeader");
  if (!node) raise("EMU", "cJournaledIndexedObjectSoupDatabase.writeLoadedObjectNodeHeader(); node=NIL");
  int64_t dataPosition = dataPositionOf(*node);
  writeHeaderBytes(infoBlockFile(), dataPosition, node->infoNextIndex(), node->infoPrevIndex());
}

void cJournaledIndexedObjectSoupDatabase::saveListRecord(cIndexedObjectList& list) {
  requireChangeable("saveChangesToObject");
  int64_t dataPosition = dataPositionOf(list);
  uint8_t bytes[16];
  putBE32(bytes, list.headIndex_);
  putBE32(bytes + 4, list.tailIndex_);
  putBE32(bytes + 8, list.listNextIndex_);
  putBE32(bytes + 12, list.listPrevIndex_);
  SoupTransaction transaction(infoBlockFile());
  infoBlockFile().writeBytes(dataPosition, bytes, 16);
  transaction.finish();
}

void cJournaledIndexedObjectSoupDatabase::moveDesiredBlockOff(int32_t index, const char* message) {
  if (infoAutoDesiredBlock() == 0) return;
  int64_t dataPosition = infoBlockFile().infoBlockOfIndex(index, true);
  if (dataPosition == 0) raise("EMU", message);
  if (dataPosition - 4 == infoAutoDesiredBlock()) setAutoDesiredBlock(decideNextDesiredBlock(dataPosition - 4));
}

void cJournaledIndexedObjectSoupDatabase::removeObjectNode(int32_t index) {
  requireChangeable("removeObjectNode");
  NodeHeader n = readObjectNodeHeader(index);
  if (n.prevIndex != 0 && readObjectNodeHeader(n.prevIndex).nextIndex != index) {
    raise("BUG", "cJournaledIndexedObjectSoupDatabase.removeObjectNode(); previous node does not point to (next) object");
  }
  if (n.nextIndex != 0 && readObjectNodeHeader(n.nextIndex).prevIndex != index) {
    raise("BUG", "cJournaledIndexedObjectSoupDatabase.removeObjectNode(); next node does not point to (previous) object");
  }
  if (n.prevIndex == 0) raise("EMU", "cJournaledIndexedObjectSoupDatabase.removeObjectNode(); attempting to remove head node");
  if (n.nextIndex == 0) raise("EMU", "cJournaledIndexedObjectSoupDatabase.removeObjectNode(); attempting to remove tail node");
  SoupTransaction transaction(infoBlockFile());
  moveDesiredBlockOff(index, "cJournaledIndexedObjectSoupself.remove(); nodeIndex did not exist");
  writeObjectNodeHeader(n.prevIndex, n.nextIndex, readObjectNodeHeader(n.prevIndex).prevIndex);
  writeObjectNodeHeader(n.nextIndex, readObjectNodeHeader(n.nextIndex).nextIndex, n.prevIndex);
  writeObjectNodeHeader(index, 0, 0);
  transaction.finish();
}

}  // namespace bw
