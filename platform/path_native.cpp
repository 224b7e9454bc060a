// platform/path_native.cpp - existence by kind, missing folders, sizes, file
// copy, comments, file parts, the program's path, folder scans and native
// tree deletion, on the DOS layer.
#include "platform/path_native.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/exception.h"
#include "platform/amiga_dos.h"
#include "platform/dos_errors.h"
#include "platform/dos_procs.h"
#include "platform/links.h"

namespace bw {
namespace {

constexpr int64_t kCopyBlock = 64 * 1024;

// A name text with one spare character of capacity, as the listing makes.
Str entryName(std::string_view name, bool dir) {
  std::string text(name);
  if (dir) text.push_back('/');
  return Str::withCapacity(static_cast<int32_t>(text.size()) + 1, text);
}

bool copyContents(dos::FileHandle& from, dos::FileHandle& to) {
  if (!from.setPosition(0)) return false;
  std::vector<char> buffer(static_cast<size_t>(kCopyBlock));
  for (;;) {
    int64_t got = from.read(buffer.data(), kCopyBlock);
    if (got < 0) return false;
    if (got == 0) return true;
    if (to.write(buffer.data(), got) != got) return false;
  }
}

}  // namespace

bool pathOrDeviceExists(Text nativePath, int32_t kinds) {
  if (kinds == 0) return static_cast<bool>(dos::lock(nativePath)) || deviceExists(nativePath);
  PathExamination e = examinePath(nativePath, false);
  if (e.type == 0) return (kinds & 4) ? deviceExists(nativePath) : e.exists;
  int32_t needed = dirEntryTypeIsFile(e.type, nativePath) ? 1 : 2;
  return (kinds & needed) != 0 && e.exists;
}

bool makeMissingDirs(Text nativePath, bool parentsOnly, bool deleteFirst) {
  Str parent = strPathPart(nativePath);
  bool result;
  if (pathOrDeviceExists(parent, 0)) {
    result = parentsOnly ? pathOrDeviceExists(parent, 2) : true;
  } else if (parent.view() == nativePath.view()) {
    return false;  // a device that neither locks nor answers the device test
  } else {
    result = makeMissingDirs(parent, false, false);
  }
  if (!result || parentsOnly) return result;
  if (deleteFirst) dos::deleteFile(nativePath);
  if (dos::createDir(nativePath)) return true;
  return pathOrDeviceExists(nativePath, 2);
}

int64_t fileSizeFromFH(dos::FileHandle& handle, bool restorePosition, bool zeroForLinks) {
  if (zeroForLinks) {
    dos::FileInfo info;
    if (handle.examine(info, dos::Detail::type) && isLinkEntryType(info.entryType)) return 0;
  }
  int64_t size = dosFileSize64(handle, !restorePosition);
  if (size == -1) raise("ERR", "fileSizeFromFH(); failed to obtain size of file (6)");
  return size;
}

int64_t fileSize(Text nativePath, bool noFollow) {
  std::optional<int64_t> size;
  {
    dos::FileHandle h = dos::open(nativePath, dos::kModeOldFile);
    if (h) size = fileSizeFromFH(h, true, false);
  }
  dos::FileInfo info;
  if (!size && !noFollow) {
    dos::Lock l = dos::lock(nativePath);
    if (l && dos::examine(l, info, dos::Detail::full))
      size = info.size;
    else if (examineWithoutFollowingLink(nativePath, info))
      size = info.size;
  } else if (!size && examineWithoutFollowingLink(nativePath, info)) {
    size = isLinkEntryType(info.entryType) ? 0 : info.size;
  }
  if (size) return *size;
  std::string shown(nativePath.view());
  std::printf("WARNING: fileSize(\"%s\", %ld); failed to obtain size of file (3)\n", shown.c_str(),
              noFollow ? -1L : 0L);
  std::fflush(stdout);
  return -1;
}

bool copyNativeFile(Text source, Text destination, bool overwrite) {
  dos::FileHandle from = dos::open(source, dos::kModeOldFile);
  if (!from) return false;
  if (!overwrite && pathOrDeviceExists(destination, 0)) return false;
  if (overwrite) {
    dos::setProtection(destination, 0);
    dos::deleteFile(destination);
  }
  dos::FileHandle to = dos::open(destination, dos::kModeNewFile);
  if (!to) return false;
  if (!copyContents(from, to)) {
    to.close();
    dos::deleteFile(destination);
    return false;
  }
  if (!to.close()) {
    dos::deleteFile(destination);
    return false;
  }
  dos::FileInfo info;
  if (from.examine(info, dos::Detail::comment)) {
    dos::setProtection(destination, info.protection);
    dos::setComment(destination, Text(info.comment));
    dos::setFileDate(destination, info.date, &info);
  }
  return true;
}

Str strFileComment(Text nativePath) {
  dos::Lock l = dos::lock(nativePath);
  dos::FileInfo info;
  if (!l || !dos::examine(l, info, dos::Detail::comment)) return Str();
  return Str(std::string_view(info.comment));
}

FileParts strFilePart(Text nativePath) {
  Str file = strLastComponent(nativePath);
  std::string_view path = nativePath.view();
  std::string_view before = path.substr(0, path.size() - static_cast<size_t>(file.length()));
  return {std::move(file), Str::withCapacity(std::max<int32_t>(static_cast<int32_t>(before.size()), 1), before)};
}

Str strProgramPath() {
  std::optional<std::string> exe = dos::readLink(":proc/self/exe");
  if (!exe) return Str();
  return Str(std::string_view(*exe));
}

DirNameScan scanDirNames(Text dirPath) {
  DirNameScan r;
  dos::setIoErr(0);
  dos::Lock folder = dos::lock(dirPath);
  if (!folder) {
    r.error = dos::ioErr();
    return r;
  }
  dos::DirScan scan(folder, dos::Detail::type);
  if (!scan.ok()) {
    r.error = dos::ioErr();
    return r;
  }
  dos::FileInfo entry;
  while (scan.next(entry)) {
    bool dir;
    if (entry.entryType == dos::kTypeSoftLink)
      dir = !dirEntryTypeIsFile(entry.entryType, strJoinPart(dirPath, Text(entry.name), false));
    else
      dir = entry.entryType >= 1;
    r.names.push_back({entryName(entry.name, dir), entry.entryType});
  }
  r.error = dos::ioErr();
  if (r.error == dos::kErrorNoMoreEntries) r.error = 0;
  r.ok = r.error == 0;
  if (!r.ok) r.names.clear();
  return r;
}

std::unique_ptr<cDirNameList> cDirNameList::make() {
  auto list = std::make_unique<cDirNameList>();
  list->init(false);
  return list;
}

DirNameNode* cDirNameList::add(Str name, int32_t type) {
  auto* node = static_cast<DirNameNode*>(makeFloating(std::move(name)));
  node->type = type;
  return static_cast<DirNameNode*>(infoPastEnd()->beforeInsert(node));
}

void cDirNameList::node_clone(MegaNode* copy, MegaNode* source) {
  cMegaList_STRING::node_clone(copy, source);
  static_cast<DirNameNode*>(copy)->type = typeOf(source);
}

ListedDirNames listDirNames(Text dirPath, fCompareMegaNodes* compareFunction, int32_t* errorOut) {
  DirNameScan scan = scanDirNames(dirPath);
  ListedDirNames r;
  r.error = scan.error;
  if (errorOut) *errorOut = scan.error;
  if (!scan.ok) return r;
  r.list = cDirNameList::make();
  for (DirName& entry : scan.names) r.list->add(std::move(entry.name), entry.type);
  // One stable sort instead of an insertion per name: the same order for
  // every ordering that tells the names apart, in n log n.
  if (compareFunction) r.list->sort(compareFunction);
  return r;
}

bool deleteNativeTree(Text dirPath, bool force) {
  // A link is deleted itself; the folder it points at is not touched.
  dos::FileInfo self;
  if (examineWithoutFollowingLink(dirPath, self) && isLinkEntryType(self.entryType))
    return dos::deleteFile(dirPath);
  if (force) dos::setProtection(dirPath, 0);
  bool ok = true;
  DirNameScan scan = scanDirNames(dirPath);
  for (const DirName& entry : scan.names) {
    std::string_view name = entry.name.view();
    bool dir = !name.empty() && name.back() == '/';
    if (dir) name.remove_suffix(1);
    Str child = strJoinPart(dirPath, name, false);
    if (isLinkEntryType(entry.type)) {
      ok = dos::deleteFile(child) && ok;
    } else if (dir) {
      ok = deleteNativeTree(child, force) && ok;
    } else {
      if (force) dos::setProtection(child, 0);
      ok = dos::deleteFile(child) && ok;
    }
  }
  return dos::deleteFile(dirPath) && ok;
}

}  // namespace bw
