// database/indexed_block_file.cpp - cJournaledIndexedBlockFile.
#include "database/indexed_block_file.h"

#include <cstdio>

#include "core/exception.h"
#include "database/block_open.h"

namespace bw {

bool cJournaledIndexedBlockFile::open(Text path, bool readOnly, bool force, bool atEnd) {
  JournalOpen j = openJournal(path, readOnly, force, atEnd);
  if (!j.opened) return false;
  bool admitted = false;
  try {
    admitted = openIndexedHeap(heap_, index_, j.isNew, std::string(path.nulView()));
  } catch (...) {
    closeDiscarding();
    throw;
  }
  if (!admitted) close();
  return admitted;
}

void cJournaledIndexedBlockFile::reloadAfterCopy() {
  cJournaledBlockFile::reloadAfterCopy();
  index_.openIndex();
}

void cJournaledIndexedBlockFile::changesDiscarded() {
  if (!isOpen()) return;
  cJournaledBlockFile::changesDiscarded();
  try {
    index_.reloadMirrors();
  } catch (const std::exception& e) {
    // The hook must not throw; the next operation meets the damage itself.
    std::printf("WARNING: %s\n", e.what());
  }
}

}  // namespace bw
