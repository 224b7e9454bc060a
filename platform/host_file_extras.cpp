// platform/host_file_extras.cpp - the extras of a host file on the disk: its
// comment, its protection word and whether it is a link.
//
// A link change never deletes the file before the link exists: the link is
// made under a unique name in the same folder and renamed over the file in
// one step, so a link that cannot be made (another file system, no
// permission, a missing hard-link target) leaves the file as it was.
#include <algorithm>
#include <cctype>

#include "core/exception.h"
#include "platform/dos_errors.h"
#include "platform/dos_procs.h"
#include "platform/host_extra.h"
#include "platform/host_file.h"
#include "platform/links.h"

namespace bw {
namespace {

constexpr const char kChangeSource[] = "cHostFile.changeExtra()";
constexpr uint32_t kExtraAttrMask = 0xFFFFFF72;

}  // namespace

bool cHostFile::setExtra(cExtra* other) {
  requireOpen("cHostFile.setExtra(); file not open");
  if (infoReadOnly()) raise("EMU", "cHostFile.setExtra(); file opened in read only mode");
  if (!other) return true;
  bool ok = true;
  for (ExtraKey key : kTransferredExtras) {
    ExtraQuery q = other->queryExtra(key);
    if (q.unknownKey) continue;
    ok = changeExtra(key, q.value).ok && ok;
  }
  return ok;
}

std::unique_ptr<cExtra> cHostFile::getExtra() {
  requireOpen("cHostFile.getExtra(); file not open");
  auto extras = std::make_unique<cHostExtra>();
  if (!extras->setExtra(this)) return nullptr;
  return extras;
}

void cHostFile::readLinkInfo() {
  if (linkType_ != kLinkTypeUnknown) return;
  SoftLinkText link = readSoftLink(Text(nativePath_), false);
  linkTarget_ = link.target.isNil() ? Str() : cPath::ImportFilePath(link.target);
  linkType_ = link.target.isNil() ? kLinkTypeNone : link.kind;
}

ExtraQuery cHostFile::queryExtra(ExtraKey key) {
  requireOpen("cHostFile.queryExtra(); file not open");
  ExtraQuery q;
  if (key == kExtraCOMM) {
    q.value.text = Str(std::string_view(info().comment));
  } else if (key == kExtraATTR) {
    q.value.number = info().protection & kExtraAttrMask;
  } else if (key == kExtraLINK || linkKindOfKey(key) != 0) {
    readLinkInfo();
    q = queryLinkExtra(key, linkTarget_, linkType_);
  } else {
    q.unknownKey = true;
  }
  return q;
}

ExtraChange cHostFile::changeExtra(ExtraKey key, const ExtraValue& value) {
  requireOpen("cHostFile.changeExtra(); file not open");
  if (infoReadOnly()) raise("EMU", "cHostFile.changeExtra(); file opened in read only mode");
  ExtraChange r{false, false};
  int32_t kind = linkKindOfKey(key);
  if (key == kExtraCOMM) {
    std::string text(value.text.isNil() ? std::string_view() : value.text.view());
    if (text.size() > dos::kMaxCommentLength) text.resize(dos::kMaxCommentLength);
    openKludgeBegin();
    bool ok = dos::setComment(Text(infoNativePath()), Text(text));
    Str error = ok ? Str() : ioErrText("error setting file comment");
    openKludgeFinish();
    if (ok) fileInfo_.comment = text;
    else setError(kChangeSource, error);
    r.ok = ok;
  } else if (key == kExtraATTR) {
    uint32_t word = (info().protection & kAttributeProtectionBits) | (value.number & kExtraAttrMask);
    openKludgeBegin();
    bool ok = dos::setProtection(Text(infoNativePath()), word);
    Str error = ok ? Str() : ioErrText("error setting file protection bits");
    openKludgeFinish();
    if (ok) fileInfo_.protection = word;
    else setError(kChangeSource, error);
    r.ok = ok;
  } else if (kind != 0) {
    r.ok = changeLink(kind, value.text);
    if (!r.ok) setErrorSource(kChangeSource);
  } else {
    r.unknownKey = true;
    setErrorSource(kChangeSource);
  }
  return r;
}

bool cHostFile::changeLink(int32_t kind, const Str& target) {
  readLinkInfo();
  if (linkType_ == kind) {
    bool bothNil = linkTarget_.isNil() && target.isNil();
    bool equal = !linkTarget_.isNil() && !target.isNil() && linkTarget_.length() == target.length() &&
                 std::equal(target.view().begin(), target.view().end(), linkTarget_.view().begin(),
                            [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                        std::tolower(static_cast<unsigned char>(b)); });
    if (bothNil || equal) return true;
  }
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
