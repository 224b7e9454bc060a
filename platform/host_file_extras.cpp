// platform/host_file_extras.cpp - the extras of a host file on the disk: its
// comment, its protection word and whether it is a link.
//
// A link change never deletes the file before the link exists: the link is
// made under a unique name in the same folder and renamed over the file in
// one step, so a link that cannot be made (another file system, no
// permission, a missing hard-link target) leaves the file as it was.
#include "core/exception.h"
#include "platform/disk_extras.h"
#include "platform/dos_errors.h"
#include "platform/dos_procs.h"
#include "platform/host_extra.h"
#include "platform/host_file.h"
#include "platform/links.h"

namespace bw {
namespace {

constexpr DiskExtraTexts kTexts{"cHostFile.changeExtra()", "error setting file comment",
                                "error setting file protection bits"};
constexpr const char* kChangeSource = kTexts.changeSource;

}  // namespace

bool cHostFile::setExtra(cExtra* other) {
  requireOpen("cHostFile.setExtra(); file not open");
  if (infoReadOnly()) raise("EMU", "cHostFile.setExtra(); file opened in read only mode");
  return DiskExtras::copyFrom(*this, other);
}

std::unique_ptr<cExtra> cHostFile::getExtra() {
  requireOpen("cHostFile.getExtra(); file not open");
  return DiskExtras::held(*this);
}

void cHostFile::readLinkInfo() {
  if (linkType_ != kLinkTypeUnknown) return;
  SoftLinkText link = readSoftLink(Text(nativePath_), false);
  linkTarget_ = link.target.isNil() ? Str() : cPath::ImportFilePath(link.target);
  linkType_ = link.target.isNil() ? kLinkTypeNone : link.kind;
}

ExtraQuery cHostFile::queryExtra(ExtraKey key) {
  requireOpen("cHostFile.queryExtra(); file not open");
  return DiskExtras::query(*this, key);
}

ExtraChange cHostFile::changeExtra(ExtraKey key, const ExtraValue& value) {
  requireOpen("cHostFile.changeExtra(); file not open");
  if (infoReadOnly()) raise("EMU", "cHostFile.changeExtra(); file opened in read only mode");
  return DiskExtras::change(*this, key, value, kTexts);
}

bool cHostFile::changeLink(int32_t kind, const Str& target) {
  if (DiskExtras::linkAlreadyIs(*this, kind, target)) return true;
  bool changed = false;
  if (target.isNil()) {
    if (linkType_ != kind) return true;
    openKludgeBegin();
    if (cPath::DeletePath(internalPath_, true, true)) {
      linkTarget_ = Str();
      linkType_ = kLinkTypeNone;
      changed = true;
      reopenAtFinish_ = true;
    } else {
      setError(kChangeSource, ioErrText("error deleting link"));
    }
    openKludgeFinish();
  } else {
    if (kind == kLinkTypeHard && !cPath::ExistsPath(target, false)) {
      setError(kChangeSource, ioErrText("link target does not exist"));
      return false;
    }
    // Make the link beside the file, then put it in the file's place.
    Str unique = cPath::MakeUniquePath(1, cPath::ExtractSubPath(internalPath_), "BWlink");
    if (unique.isNil()) {
      setError(kChangeSource, ioErrText("error making link"));
      return false;
    }
    openKludgeBegin();
    LinkMade made = makeLink(unique, target, kind == kLinkTypeSoft ? kExtraSLNK : kExtraHLNK);
    if (!made.made) {
      setError(kChangeSource, ioErrText("error making link"));
    } else if (!dos::renameReplacing(cPath::ExportPath(unique), Text(infoNativePath()))) {
      setError(kChangeSource, ioErrText("error making link"));
      dos::deleteFile(cPath::ExportPath(unique));
    } else {
      linkTarget_ = target;
      linkType_ = kind;
      changed = true;
      reopenAtFinish_ = true;
    }
    openKludgeFinish();
  }
  if (!changed) return false;
  reexamine("cHostFile.changeExtra(); ExamineFH() failed", true);
  if (!examineFailed_) hostSize_ = fileInfo_.size;
  return true;
}

}  // namespace bw
