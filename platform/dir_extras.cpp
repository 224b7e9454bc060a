// platform/dir_extras.cpp - the extras of a host directory on the disk: its
// comment, its protection word and whether it is a link.
//
// A link change never removes the directory before the link exists: the
// link is made under a unique name beside it, the (empty) directory is
// removed, and the link is renamed into its place. When the directory
// cannot be removed the temporary link goes and the directory stays as it
// was.
#include "core/exception.h"
#include "platform/dir.h"
#include "platform/disk_extras.h"
#include "platform/dos_errors.h"
#include "platform/dos_procs.h"
#include "platform/host_extra.h"
#include "platform/host_file.h"
#include "platform/links.h"

namespace bw {
namespace {

constexpr DiskExtraTexts kTexts{"cHostDir.changeExtra()", "error setting dir comment",
                                "error setting dir protection bits"};
constexpr const char* kChangeSource = kTexts.changeSource;

}  // namespace

bool cHostDir::setExtra(cExtra* other) {
  if (!isOpen()) raise("EMU", "cHostDir.setExtra(); dir not open");
  if (infoReadOnly()) raise("EMU", "cHostDir.setExtra(); dir opened in read only mode");
  return DiskExtras::copyFrom(*this, other);
}

std::unique_ptr<cExtra> cHostDir::getExtra() {
  if (!isOpen()) raise("EMU", "cHostDir.getExtra(); dir not open");
  return DiskExtras::held(*this);
}

void cHostDir::readLinkInfo() {
  if (linkType_ != kLinkTypeUnknown) return;
  SoftLinkText link = readSoftLink(Text(nativePath_), false);
  linkTarget_ = link.target.isNil() ? Str() : ImportDirPath(link.target);
  linkType_ = link.target.isNil() ? kLinkTypeNone : link.kind;
}

ExtraQuery cHostDir::queryExtra(ExtraKey key) {
  if (!isOpen()) raise("EMU", "cHostDir.queryExtra(); dir not open");
  return DiskExtras::query(*this, key);
}

ExtraChange cHostDir::changeExtra(ExtraKey key, const ExtraValue& value) {
  if (!isOpen()) raise("EMU", "cHostDir.changeExtra(); dir not open");
  if (infoReadOnly()) raise("EMU", "cHostDir.changeExtra(); dir opened in read only mode");
  return DiskExtras::change(*this, key, value, kTexts);
}

bool cHostDir::changeLink(int32_t kind, const Str& target) {
  if (DiskExtras::linkAlreadyIs(*this, kind, target)) return true;
  if (target.isNil()) {
    if (linkType_ != kind) return true;
    // The link itself goes; a writable directory object stands for a
    // directory, so an empty one takes its place.
    openKludgeBegin();
    dropLock();
    relockAtFinish_ = true;
    bool ok = dos::deleteFile(nativePath_) && static_cast<bool>(dos::createDir(nativePath_));
    if (ok) {
      linkTarget_ = Str();
      linkType_ = kLinkTypeNone;
    } else {
      setError(kChangeSource, ioErrText("error deleting link"));
    }
    openKludgeFinish();
    if (!ok) return false;
  } else {
    if (kind == kLinkTypeHard && !ExistsPath(target, false)) {
      setError(kChangeSource, ioErrText("link target does not exist"));
      return false;
    }
    // Make the link beside the directory first: if that fails, nothing
    // has changed.
    Str unique = MakeUniquePath(1, ExtractSubPath(internalPath_), "BWlink");
    Str uniqueNative = ExportPath(unique);
    LinkMade made = makeLink(unique, target, kind == kLinkTypeSoft ? kExtraSLNK : kExtraHLNK);
    if (!made.made) {
      setError(kChangeSource, ioErrText("error making link"));
      return false;
    }
    openKludgeBegin();
    dropLock();
    relockAtFinish_ = true;
    bool ok = false;
    if (!DeletePath(internalPath_, true, true)) {
      setError(kChangeSource, ioErrText("error deleting dir"));
      // DeletePath with force may have cleared the protection: put it back.
      writeProtection(fileInfo_.protection);
    } else if (!dos::rename(uniqueNative, nativePath_)) {
      setError(kChangeSource, ioErrText("error making link"));
      dos::createDir(nativePath_);
    } else {
      linkTarget_ = target;
      linkType_ = kind;
      ok = true;
    }
    if (!ok) dos::deleteFile(uniqueNative);
    openKludgeFinish();
    if (!ok) return false;
  }
  examineOrRaise("cHostDir.changeExtra(); failed to examine directory");
  return true;
}

}  // namespace bw
