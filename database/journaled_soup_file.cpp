// database/journaled_soup_file.cpp - the soup's view of the journaled
// indexed block file.
#include "database/journaled_soup_file.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/exception.h"
#include "database/object_soup.h"
#include "database/soup_database.h"
#include "platform/dir.h"
#include "platform/dir_entry_list.h"
#include "platform/host_file.h"
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

namespace {

// A new file's name after its prefix: the creating process's id in eight hex
// digits, then a number of its own, so that no two processes (nor two
// creations of one) ever pick the same name.
constexpr size_t kPidDigits = 8;

// True for "<prefix><hex digits>": the names new files are given (and that
// earlier versions gave).
bool isNewFileName(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// Whether the new file named by suffix (the hex digits after the prefix)
// belongs to another process that still runs: it may have closed the file
// and be about to rename it.
bool ownedByAnotherLiveProcess(std::string_view suffix) {
  if (suffix.size() <= kPidDigits) return false;  // an earlier version's name
  const unsigned long pid = std::stoul(std::string(suffix.substr(0, kPidDigits)), nullptr, 16);
  if (pid == 0 || pid > 0x7fffffff || static_cast<pid_t>(pid) == ::getpid()) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// A run killed while it made the database leaves its "<name>_New_<hex>" file
// behind. One that no run holds open for writing (the one-writer guard of a
// creating run refuses the probe's open) and whose process is gone goes; the
// rest stay. Best effort: a folder that cannot be listed leaves everything
// as it is.
void removeStaleNewFiles(const Str& folder, const std::string& prefix) {
  std::unique_ptr<cDirEntryList> entries;
  try {
    cHostDir dir;
    if (!dir.open(Text(folder), true, false)) return;
    entries = dir.makeEntryList();
    dir.close();
  } catch (const eException&) {
    return;
  }
  if (!entries) return;
  for (bool more = entries->gotoFirst(1); more; more = entries->gotoNext(1)) {
    const std::string_view name = entries->infoName().view();
    if (!isNewFileName(name, prefix) || ownedByAnotherLiveProcess(name.substr(prefix.size()))) continue;
    std::string candidate = std::string(folder.view()) + std::string(entries->infoName().view());
    cHostFile probe;
    probe.initialise(0);
    if (!probe.open(Text(candidate), false, false, false)) continue;
    probe.close();
    cPath::DeletePath(Text(candidate), false, false);
  }
}

}  // namespace

Str JournaledSoupBlockFile::newFilePath(Text path) {
  // A file on a test backend (the path probe) is made where it stands.
  if (probe_) return Str(path.view());
  std::string prefix(cPath::ExtractName(path).view());
  prefix += "_New_";
  Str folder = cPath::ExtractSubPath(path);
  removeStaleNewFiles(folder, prefix);
  static std::atomic<uint32_t> creations{0};
  for (;;) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%08x%x", static_cast<unsigned>(::getpid()),
                  static_cast<unsigned>(creations.fetch_add(1)));
    Str fresh(std::string(folder.view()) + prefix + suffix);
    if (!cPath::ExistsPath(fresh, true)) return fresh;
  }
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
