// database/journaled_soup_file.cpp - the soup's view of the journaled
// indexed block file.
#include "database/journaled_soup_file.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/exception.h"
#include "database/block_format.h"
#include "database/object_soup.h"
#include "database/soup_database.h"
#include "platform/host_io.h"
#include "platform/links.h"
#include "platform/owned_names.h"
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
  // A run killed while it made the database leaves its "<name>_New_" file
  // behind: one whose process is gone and that no run holds open goes.
  const std::string prefix = std::string(cPath::ExtractName(path).view()) + "_New_";
  const Str folder = cPath::ExtractSubPath(path);
  removeLeftOwnedNames(folder.view(), prefix);
  return newOwnedName(folder.view(), prefix);
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

void JournaledSoupBlockFile::readRecordHeads(int32_t first, int32_t count, RecordHead* out) {
  if (count <= 0) return;
  heads_.positions.resize(static_cast<size_t>(count));
  file_.infoBlocksOfIndices(first, count, heads_.positions.data());
  std::vector<int32_t>& order = heads_.order;
  order.resize(static_cast<size_t>(count));
  size_t used = 0;
  bool sorted = true;
  int64_t last = 0;
  for (int32_t k = 0; k < count; ++k) {
    const int64_t position = heads_.positions[static_cast<size_t>(k)];
    out[k] = RecordHead{};
    out[k].dataPosition = position;
    if (position == 0) continue;
    sorted = sorted && position > last;
    last = position;
    order[used++] = k;
  }
  order.resize(used);
  if (!sorted) {
    std::sort(order.begin(), order.end(),
              [&](int32_t a, int32_t b) { return out[a].dataPosition < out[b].dataPosition; });
  }
  heads_.pieces.resize(used);
  // Records that lie close together are read with one read from the first
  // one's start to the last one's head; a record far from the one before it
  // starts a read of its own.
  constexpr int64_t kHead = sizeof(RecordHead::bytes);
  constexpr int64_t kNearBytes = 1024;
  constexpr int64_t kRunBytes = 32 * 1024;
  for (size_t i = 0; i < order.size();) {
    const int64_t start = out[order[i]].dataPosition;
    size_t j = i + 1;
    while (j < order.size() && out[order[j]].dataPosition - out[order[j - 1]].dataPosition <= kNearBytes &&
           out[order[j]].dataPosition + kHead - start <= kRunBytes) {
      ++j;
    }
    const int64_t length = out[order[j - 1]].dataPosition + kHead - start;
    // Committed bytes straight from the file come head by head; any other
    // run is read whole and its heads copied out.
    IoPiece* pieces = heads_.pieces.data() + i;
    for (size_t k = i; k < j; ++k) {
      RecordHead& head = out[order[k]];
      pieces[k - i] = {head.dataPosition - start, kHead, head.bytes};
    }
    const auto pieceCount = static_cast<int32_t>(j - i);
    if (!file_.readCommittedPieces(start, length, pieces, pieceCount)) {
      if (static_cast<int64_t>(heads_.run.size()) < length) heads_.run.resize(static_cast<size_t>(length));
      readBytes(start, heads_.run.data(), length);
      copyPieces(heads_.run.data(), length, pieces, pieceCount);
    }
    i = j;
  }
}

int32_t JournaledSoupBlockFile::readIndexBlockStart(int64_t dataPosition, uint8_t* out, int32_t least, int32_t most) {
  // The block's header and index word lie just before its data; the header
  // is read with the two free links behind it (a damaged one may say free).
  constexpr int64_t kBefore = kBlockHeaderBytes + 4;
  constexpr int64_t kHeader = kBlockHeaderBytes + kFreeLinkBytes;
  constexpr int32_t kMost = 1024;
  const int32_t wanted = std::max(least, most);
  const int64_t from = dataPosition - kBefore;
  const int64_t end = std::min(file_.getSize(), dataPosition + wanted);
  // A position from a damaged entry may lie anywhere, and a block near the
  // end may hold less than is asked: the plain road answers those.
  if (from < 0 || wanted > kMost || end < from + kHeader || end < dataPosition + least) {
    return SoupBlockFile::readIndexBlockStart(dataPosition, out, least, most);
  }
  uint8_t bytes[kBefore + kMost];
  file_.readAt(from, bytes, end - from);
  const int32_t n = std::clamp(file_.infoSizeOfIndexBlock(dataPosition, bytes), least, most);
  if (n > end - dataPosition) return SoupBlockFile::readIndexBlockStart(dataPosition, out, least, most);
  std::memcpy(out, bytes + kBefore, static_cast<size_t>(n));
  return n;
}

SoupIndexedBlock JournaledSoupBlockFile::allocateIndexBlock(int32_t sizeInBytes, bool clear) {
  IndexedBlock b = file_.allocateIndexBlock(sizeInBytes, clear);
  return {b.index, b.dataPosition, b.capacity};
}

SoupIndexedBlock JournaledSoupBlockFile::allocateIndexArray(int32_t count, bool clear) {
  IndexedBlock b = file_.allocateIndexArray(count, clear);
  return {b.index, b.dataPosition, b.capacity};
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
