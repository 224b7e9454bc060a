// database/object_soup.cpp - the soup's life cycle: open with the open mark,
// close with the needs-repair flag and the file time kept, transactions, the
// must-close state after a discard, header values and compaction hooks.
#include "database/object_soup.h"

#include <string>
#include <utility>

#include "core/exception.h"

namespace bw {

cJournaledIndexedObjectSoup::cJournaledIndexedObjectSoup(std::unique_ptr<SoupBlockFile> file)
    : file_(std::move(file)) {
  stream_.setSoup(this);
  file_->setDiscardListener([this] { changesDiscarded(); });
}

cJournaledIndexedObjectSoup::~cJournaledIndexedObjectSoup() {
  try {
    if (file_->isOpen()) {
      if (mustClose_ || file_->infoTransactionDepth() > 0) {
        closeQuickly();
      } else {
        close();
      }
    }
  } catch (...) {
    try {
      if (file_->isOpen()) file_->closeDiscarding();
    } catch (...) {
    }
  }
  file_->setDiscardListener(nullptr);
  table_.reset();
}

void cJournaledIndexedObjectSoup::raiseUnchangeable(const char* method) const {
  if (!table_) raise("EMU", std::string("cJournaledIndexedObjectSoup.") + method + "(); the soup is not open");
  raise("TRAN", std::string("cJournaledIndexedObjectSoup.") + method +
                    "(); changes were discarded, close the database");
}

// --- opening and closing ---------------------------------------------------------------

bool cJournaledIndexedObjectSoup::openNew(Text path, bool failIfExists, bool flag) {
  if (!failIfExists) {
    file_->deletePath(path);
    return open(path, flag);
  }
  if (file_->pathExists(path)) return false;
  bool opened = open(path, flag);
  if (!opened) file_->deletePath(path);
  return opened;
}

bool cJournaledIndexedObjectSoup::open(Text path, bool flag) {
  if (!file_->pathExists(path) && !createFile(path, flag)) return false;
  return openFile(path, flag, false);
}

// A new database is made complete under a name of its own in the same folder
// (every creation commit done), closed and synced, and only then renamed into
// place: a run killed while creating leaves no file at path, or a whole one.
bool cJournaledIndexedObjectSoup::createFile(Text path, bool flag) {
  Str fresh = file_->newFilePath(path);
  const bool inPlace = fresh.view() == path.view();
  try {
    if (!openFile(Text(fresh), flag, true)) {
      if (!inPlace) file_->deletePath(Text(fresh));
      return false;
    }
    close();
  } catch (...) {
    try {
      if (file_->isOpen()) file_->closeDiscarding();
    } catch (...) {
    }
    finishClose();
    file_->deletePath(Text(fresh));
    throw;
  }
  if (inPlace || file_->renameNewFile(Text(fresh), path)) return true;
  // Another run made the database meanwhile: this one goes, that one opens.
  file_->deletePath(Text(fresh));
  return file_->pathExists(path);
}

bool cJournaledIndexedObjectSoup::openForReading(Text path) { return openFile(path, false, false, true); }

bool cJournaledIndexedObjectSoup::openFile(Text path, bool flag, bool isNew, bool forReading) {
  if (!(forReading ? file_->openForReading(path) : file_->open(path, flag))) return false;
  try {
    openSteps(isNew);
  } catch (...) {
    // Leave nothing half-open: the file is closed without committing the
    // open's own changes, and the soup is closed again.
    try {
      file_->closeDiscarding();
    } catch (...) {
    }
    table_.reset();
    mustClose_ = false;
    throw;
  }
  return true;
}

void cJournaledIndexedObjectSoup::openSteps(bool isNew) {
  forgetPlacements();
  autoCompact_ = true;
  mustClose_ = false;
  SoupTransaction transaction(*file_);
  table_ = std::make_unique<cNumberSpace_cnumberspace>(true);
  everRegistered_.clear();
  if (isNew) {
    usedBytes_ = 0;
    file_->setHeaderValue(kSoupUsedBytes, 0);
  } else {
    usedBytes_ = file_->getHeaderValue(kSoupUsedBytes);
  }
  perBlockOverhead_ = file_->infoOverhead().perBlock;
  if (isNew) {
    CompactionBlocks first = firstCompactionBlocks();
    setAutoBlockToCompact(first.blockToCompact);
    setAutoDesiredBlock(first.desiredBlock);
  } else {
    autoBlockToCompact_ = file_->getHeaderValue(kSoupAutoBlockToCompact);
    autoDesiredBlock_ = file_->getHeaderValue(kSoupAutoDesiredBlock);
  }
  needsRepair_ = file_->getHeaderValue(kSoupOpenMark) != 0;
  int64_t time = isNew ? 0 : file_->getTime();
  file_->setHeaderValue(kSoupOpenMark, -1);
  transaction.finish();
  file_->flush();
  if (!isNew) file_->setTime(time);
  reloadHeaderMirrors();
}

void cJournaledIndexedObjectSoup::close() {
  if (!file_->isOpen()) {
    table_.reset();
    return;
  }
  if (mustClose_ || file_->infoFailed()) {
    closeQuickly();
    return;
  }
  file_->flush();
  int64_t time = file_->getTime();
  {
    SoupTransaction transaction(*file_);
    file_->setHeaderValue(kSoupOpenMark, needsRepair_ ? -1 : 0);
    transaction.finish();
  }
  file_->flush();
  file_->setTime(time);
  // With a caller's transaction still open this raises "TRAN" after the file
  // discarded everything; the soup then stays open in the must-close state.
  file_->close();
  finishClose();
}

void cJournaledIndexedObjectSoup::closeQuickly() {
  if (file_->isOpen()) {
    if (!mustClose_ && !file_->infoFailed()) file_->flush();
    file_->closeDiscarding();
  }
  finishClose();
}

void cJournaledIndexedObjectSoup::finishClose() noexcept {
  forgetPlacements();
  table_.reset();
  mustClose_ = false;
}

Str cJournaledIndexedObjectSoup::infoErrorSource() { return file_->infoErrorSource(); }
Str cJournaledIndexedObjectSoup::infoError() { return file_->infoError(); }

// --- transactions and the must-close state ------------------------------------------------

int32_t cJournaledIndexedObjectSoup::beginTransaction() {
  requireChangeable("beginTransaction");
  return file_->beginTransaction();
}

void cJournaledIndexedObjectSoup::finishTransaction(int32_t id) {
  requireChangeable("finishTransaction");
  file_->finishTransaction(id);
}

void cJournaledIndexedObjectSoup::flush() {
  requireOpen("flush");
  if (mustClose_) return;
  file_->flush();
}

void cJournaledIndexedObjectSoup::changesDiscarded() noexcept {
  forgetPlacements();
  if (!table_) return;  // the open's own failure, or closing
  mustClose_ = true;
  try {
    usedBytes_ = file_->getHeaderValue(kSoupUsedBytes);
    autoBlockToCompact_ = file_->getHeaderValue(kSoupAutoBlockToCompact);
    autoDesiredBlock_ = file_->getHeaderValue(kSoupAutoDesiredBlock);
  } catch (...) {
    // A file that cannot even be read keeps the old mirrors; nothing can be
    // written in this state anyway.
  }
  reloadHeaderMirrors();
}

// --- header values --------------------------------------------------------------------------

void cJournaledIndexedObjectSoup::setRootValue(int32_t value) {
  requireChangeable("setRootValue");
  file_->setHeaderValue(kSoupRootValue, value);
}

int32_t cJournaledIndexedObjectSoup::infoRootValue() {
  requireOpen("infoRootValue");
  return static_cast<int32_t>(file_->getHeaderValue(kSoupRootValue));
}

void cJournaledIndexedObjectSoup::writeExtra1(int64_t value) {
  requireChangeable("writeExtra1");
  file_->setHeaderValue(kSoupExtra1, value);
}
void cJournaledIndexedObjectSoup::writeExtra2(int64_t value) {
  requireChangeable("writeExtra2");
  file_->setHeaderValue(kSoupExtra2, value);
}
void cJournaledIndexedObjectSoup::writeExtra3(int64_t value) {
  requireChangeable("writeExtra3");
  file_->setHeaderValue(kSoupExtra3, value);
}
int64_t cJournaledIndexedObjectSoup::readExtra1() {
  requireOpen("readExtra1");
  return file_->getHeaderValue(kSoupExtra1);
}
int64_t cJournaledIndexedObjectSoup::readExtra2() {
  requireOpen("readExtra2");
  return file_->getHeaderValue(kSoupExtra2);
}
int64_t cJournaledIndexedObjectSoup::readExtra3() {
  requireOpen("readExtra3");
  return file_->getHeaderValue(kSoupExtra3);
}

void cJournaledIndexedObjectSoup::setUsedBytes(int64_t value) {
  usedBytes_ = value;
  file_->setHeaderValue(kSoupUsedBytes, value);
}

// --- compaction positions (the walk itself is in soup_compact.cpp) ----------------------------

CompactionBlocks cJournaledIndexedObjectSoup::firstCompactionBlocks() {
  return {file_->infoFirstBlock(), file_->infoDummyBlock()};
}

void cJournaledIndexedObjectSoup::setAutoBlockToCompact(int64_t block) {
  requireChangeable("setAutoBlockToCompact");
  autoBlockToCompact_ = block;
  file_->setHeaderValue(kSoupAutoBlockToCompact, block);
}

void cJournaledIndexedObjectSoup::setAutoDesiredBlock(int64_t block) {
  requireChangeable("setAutoDesiredBlock");
  autoDesiredBlock_ = block;
  file_->setHeaderValue(kSoupAutoDesiredBlock, block);
}

void cJournaledIndexedObjectSoup::moveCompactionPositionsOff(int64_t block) {
  if (block == autoBlockToCompact_) setAutoBlockToCompact(decideNextBlockToCompact(block));
  if (block == autoDesiredBlock_) setAutoDesiredBlock(decideNextDesiredBlock(block));
}

// --- file time ----------------------------------------------------------------------------------

int64_t cJournaledIndexedObjectSoup::getTime() { return file_->getTime(); }
void cJournaledIndexedObjectSoup::setTime(int64_t time) { file_->setTime(time); }

}  // namespace bw
