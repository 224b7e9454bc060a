// platform/links.cpp - devices, canonical names, soft links, entries and
// renaming by internal path, on the DOS layer.
#include "platform/links.h"

#include <string>
#include <string_view>
#include <vector>

#include "platform/amiga_dos.h"
#include "platform/assigns.h"
#include "platform/dos_errors.h"
#include "platform/dos_procs.h"
#include "platform/native_path.h"
#include "platform/path.h"

namespace bw {
namespace {

// The native name of each place a path may stand for: one per folder of a
// multi-folder assign, the path itself otherwise. Empty when the device is
// unknown or has no folders.
std::vector<std::string> placesOf(std::string_view native) {
  std::vector<std::string> places;
  if (native.find(':') == std::string_view::npos) {
    places.emplace_back(native);
    return places;
  }
  dos::HostPaths hosts = dos::nativeToHostAll(Text(native));
  if (!hosts.ok) return places;
  for (const std::string& host : hosts.paths) places.push_back(dos::hostToNative(host));
  return places;
}

// The full name of whatever a lock on `native` reaches, or NIL.
Str fullNameOf(Text native) {
  dos::Lock l = dos::lock(native);
  return l ? strNameFromLock(l) : Str();
}

// The full name of the path's folder joined with its last name, or NIL.
Str fullFolderAndName(Text native) {
  Str folder = fullNameOf(strPathPart(native));
  if (folder.isNil()) return folder;
  return strJoinPart(folder, strLastComponent(native), false);
}

bool entryExists(std::string_view native) {
  dos::FileInfo info;
  return dos::examinePath(Text(native), false, info, dos::Detail::type);
}

}  // namespace

LinkMade makeLink(Text linkPath, Text targetPath, uint32_t linkType) {
  if (linkType != kExtraHLNK && linkType != kExtraSLNK) return {false, true};
  Str link = cPath::ExportPath(linkPath);
  Str target = cPath::ExportPath(targetPath);
  return {makeDosLink(link, target, linkType == kExtraSLNK), false};
}

bool renamePath(Text oldPath, Text newPath, bool evenIfProtected) {
  Str from = cPath::ExportPath(oldPath);
  Str to = cPath::ExportPath(newPath);
  {
    dos::Lock l = dos::lock(from);
    if (!l) return false;
    dos::FileInfo info;
    if (dos::examine(l, info, dos::Detail::full) && !evenIfProtected &&
        (info.protection & (dos::kProtRead | dos::kProtWrite)) != 0)
      return false;
  }
  return dos::rename(from, to);
}

bool deviceExists(Text nativePath) {
  std::string_view native = nativePath.view();
  size_t colon = native.find(':');
  std::string_view rest = colon == std::string_view::npos ? native : native.substr(colon + 1);
  if (colon != std::string_view::npos) {
    dos::DeviceLookup device = dos::lookupDevice(native.substr(0, colon));
    if (device.kind == dos::DeviceKind::unknown) {
      dos::setIoErr(device.error ? device.error : dos::kErrorDeviceNotMounted);
      return false;
    }
    // Handler devices (PIPE:, ENV:) exist but hold no paths.
    if (device.kind == dos::DeviceKind::virtual_) return rest.empty();
  }
  if (rest.empty()) return true;
  for (const std::string& place : placesOf(native))
    if (dos::lock(Text(place))) return true;
  return false;
}

Str absoluteNativePath(Text nativePath) {
  std::string_view native = nativePath.view();
  size_t colon = native.find(':');
  if (colon == std::string_view::npos) {
    Str cwd = strSafeGetNameOfCurrentDir();
    return cwd.isNil() ? cwd : strJoinPart(cwd, nativePath, false);
  }
  Str device = fullNameOf(native.substr(0, colon + 1));
  return device.isNil() ? device : strJoinPart(device, native.substr(colon + 1), false);
}

Str canonicalPath(Text nativePath, bool keepLink) {
  if (keepLink && readSoftLink(nativePath, true).target.isNil()) keepLink = false;
  Str name;
  if (!keepLink) name = fullNameOf(nativePath);
  if (name.isNil() && keepLink) {
    for (const std::string& place : placesOf(nativePath.view())) {
      if (!entryExists(place)) continue;
      name = fullFolderAndName(Text(place));
      break;
    }
  }
  if (name.isNil()) name = fullFolderAndName(nativePath);
  if (name.isNil()) {
    Str cwd = strSafeGetNameOfCurrentDir();
    if (!cwd.isNil()) name = strJoinPart(cwd, nativePath, false);
  }
  return name.isNil() ? Str(nativePath.view()) : name;
}

dos::Lock parentDirLock(Text nativePath) {
  Str canonical = canonicalPath(nativePath, true);
  return dos::lock(strPathPart(canonical));
}

bool findNameInDir(Text nativePath, dos::FileInfo& info) {
  dos::Lock parent = parentDirLock(nativePath);
  if (!parent) return false;
  Str name = strLastComponent(nativePath);
  dos::DirScan scan(parent, dos::Detail::comment);
  if (!scan.ok()) return false;
  dos::FileInfo entry;
  while (scan.next(entry)) {
    if (entry.name == name.view()) {
      info = std::move(entry);
      return true;
    }
  }
  return false;
}

bool examineWithoutFollowingLink(Text nativePath, dos::FileInfo& info) {
  // The exact name, never a pattern: lstat through the layer. Of a
  // multi-folder assign, the first folder holding the name answers.
  for (const std::string& place : placesOf(nativePath.view()))
    if (dos::examinePath(Text(place), false, info, dos::Detail::comment)) return true;
  return false;
}

SoftLinkText readSoftLink(Text nativePath, bool noCheck) {
  SoftLinkText r;
  std::string native(nativePath.view());
  for (const std::string& place : placesOf(native)) {
    if (entryExists(place)) {
      native = place;
      break;
    }
  }
  std::optional<std::string> target = dos::readLink(Text(native));
  if (!target) return r;
  r.target = Str(std::string_view(*target));
  r.kind = 0;
  if (!noCheck) {
    dos::FileInfo info;
    r.kind = 2;
    if (dos::examinePath(Text(native), false, info, dos::Detail::type))
      r.kind = info.entryType == dos::kTypeSoftLink ? 2 : 3;
  }
  return r;
}

int32_t entryTypeOf(const dos::Lock& lock, Text nativePath, bool noFollow) {
  dos::FileInfo info;
  if (noFollow) return examineWithoutFollowingLink(nativePath, info) ? info.entryType : 0;
  if (!lock) return 0;
  return dos::examine(lock, info, dos::Detail::type) ? info.entryType : 0;
}

PathExamination examinePath(Text nativePath, bool noFollow) {
  dos::Lock l = dos::lock(nativePath);
  PathExamination r;
  r.type = entryTypeOf(l, nativePath, noFollow);
  r.exists = static_cast<bool>(l);
  return r;
}

bool isLinkPath(Text nativePath) {
  dos::FileInfo info;
  return examineWithoutFollowingLink(nativePath, info) && isLinkEntryType(info.entryType);
}

bool dirEntryTypeIsFile(int32_t type, Text path) {
  if (type != dos::kTypeSoftLink) return type < 1;
  // Examine through the link's own name: the host resolves a relative target
  // against the link's folder and follows chains of links. A link that
  // cannot be followed (dangling, looping) is listed as a file.
  dos::FileInfo target;
  if (!dos::examinePath(path, true, target, dos::Detail::type)) return true;
  return target.entryType < 1;
}

}  // namespace bw
