// database/journaled_soup_file.cpp - the soup's view of the journaled
// indexed block file.
#include "database/journaled_soup_file.h"

#include "core/exception.h"
#include "database/object_soup.h"
#include "database/soup_database.h"
#include "platform/host_io.h"
#include "platform/links.h"
#include "platform/path.h"

namespace bw {

JournaledSoupBlockFile::JournaledSoupBlockFile(int32_t commitDelay) { file_.newFile(0, commitDelay); }

void JournaledSoupBlockFile::File::changesDiscarded() {
  cJournaledIndexedBlockFile::changesDiscarded();
  if (listener) listener();
}

bool JournaledSoupBlockFile::open(Text path, bool flag) { return file_.open(path, false, flag, false); }

Str JournaledSoupBlockFile::infoErrorSource() { return Str(file_.infoErrorSource()); }
Str JournaledSoupBlockFile::infoError() {
  Text error = file_.infoError();
  return error.isNil() ? Str() : Str(error.view());
}

bool JournaledSoupBlockFile::pathExists(Text path) { return probe_ ? probe_(path) : cPath::ExistsPath(path, false); }
void JournaledSoupBlockFile::deletePath(Text path) { cPath::DeletePath(path, false, false); }

Str JournaledSoupBlockFile::newFilePath(Text path) {
  // A file on a test backend (the path probe) is made where it stands.
  if (probe_) return Str(path.view());
  std::string prefix(cPath::ExtractName(path).view());
  prefix += "_New_";
  return cPath::MakeUniquePath(1, Text(cPath::ExtractSubPath(path)), Text(prefix));
}

bool JournaledSoupBlockFile::renameNewFile(Text from, Text path) {
  if (from.view() == path.view()) return true;
  if (!renamePath(from, path, false)) return false;
  // The new name must survive a power cut before anything relies on it.
  if (defaultIoBackend()->syncFolderOf(Text(cPath::ExportPath(path))) != 0) {
    raise("FILE", "cJournaledIndexedObjectSoup.open(); could not sync the folder of the new file");
  }
  return true;
}

void JournaledSoupBlockFile::readBytes(int64_t position, void* out, int64_t length) {
  file_.setPosition(position);
  file_.read(out, length, 0, -1);
}

void JournaledSoupBlockFile::writeBytes(int64_t position, const void* in, int64_t length) {
  file_.setPosition(position);
  file_.write(in, length, 0, false);
}

SoupIndexedBlock JournaledSoupBlockFile::allocateIndexBlock(int32_t sizeInBytes, bool clear) {
  IndexedBlock b = file_.allocateIndexBlock(sizeInBytes, clear);
  return {b.index, b.dataPosition};
}

SoupIndexedBlock JournaledSoupBlockFile::allocateIndexArray(int32_t count, bool clear) {
  IndexedBlock b = file_.allocateIndexArray(count, clear);
  return {b.index, b.dataPosition};
}

SoupOverhead JournaledSoupBlockFile::infoOverhead() {
  HeapOverhead o = file_.infoOverhead();
  return {o.fixedBytes, o.perBlock};
}

int64_t JournaledSoupBlockFile::getHeaderValue(int32_t entry) {
  if (entry == 6) return file_.getHeaderValue6();
  return file_.index().getHeaderValue(entry);
}

void JournaledSoupBlockFile::setHeaderValue(int32_t entry, int64_t value) {
  if (entry == 6) {
    file_.setHeaderValue6(static_cast<int32_t>(value));
  } else {
    file_.index().setHeaderValue(entry, value);
  }
}

// The soup's `new` (commitDelay).
cJournaledIndexedObjectSoup::cJournaledIndexedObjectSoup(int32_t commitDelay)
    : cJournaledIndexedObjectSoup(std::make_unique<JournaledSoupBlockFile>(commitDelay)) {}

cJournaledIndexedObjectSoupDatabase::cJournaledIndexedObjectSoupDatabase(int32_t commitDelay)
    : cJournaledIndexedObjectSoupDatabase(std::make_unique<JournaledSoupBlockFile>(commitDelay)) {}

}  // namespace bw
