// database/block_file.cpp - cJournaledBlockFile over its journaled file.
#include "database/block_file.h"

#include <cstdio>

#include "core/exception.h"
#include "database/block_open.h"
#include "platform/path.h"

namespace bw {

void BlockStore::refuseNegative(const char* message) { raise("EMU", message); }

cJournaledBlockFile::JournalOpen cJournaledBlockFile::openJournal(Text path, bool readOnly, bool force, bool atEnd) {
  JournalOpen result;
  result.opened = cJournaledFile::open(path, readOnly, force, atEnd);
  // A path that did not exist opens with an empty data area, and an empty
  // data area is initialised as a new file in any case.
  result.isNew = result.opened && getSize() == 0;
  return result;
}

bool cJournaledBlockFile::open(Text path, bool readOnly, bool force, bool atEnd) {
  JournalOpen j = openJournal(path, readOnly, force, atEnd);
  if (!j.opened) return false;
  try {
    openBlockHeap(heap_, j.isNew);
  } catch (...) {
    // A refused file is closed untouched, so that it can be moved aside.
    closeDiscarding();
    throw;
  }
  return true;
}

bool cJournaledBlockFile::create(Text path, bool failIfExists, bool force) {
  if (failIfExists) {
    if (cPath::ExistsPath(path, false)) return false;
    bool opened = open(path, false, force, false);
    if (!opened) cPath::DeletePath(path, force, force);
    return opened;
  }
  cPath::DeletePath(path, force, force);
  bool opened = open(path, false, force, false);
  if (opened && getSize() > infoHeaderSize()) {
    JournalTransaction tx(*this);
    setSize(infoHeaderSize());
    tx.finish();
  }
  return opened;
}

std::unique_ptr<cBaseFile> cJournaledBlockFile::makeCopy(Text path) {
  std::unique_ptr<cBaseFile> copy = cJournaledFile::makeCopy(path);
  if (auto* typed = dynamic_cast<cJournaledBlockFile*>(copy.get())) typed->reloadAfterCopy();
  return copy;
}

void cJournaledBlockFile::changesDiscarded() {
  if (!isOpen()) return;
  try {
    heap_.reloadMirrors();
  } catch (const std::exception& e) {
    // The hook must not throw; the next operation meets the damage itself.
    std::printf("WARNING: %s\n", e.what());
  }
}

}  // namespace bw
