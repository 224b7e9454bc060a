// platform/dir_extras.cpp - the extras of a host directory on the disk: its
// comment, its protection word and whether it is a link.
//
// A link change never removes the directory before the link exists: the
// link is made under a unique name beside it, the (empty) directory is
// removed, and the link is renamed into its place. When the directory
// cannot be removed the temporary link goes and the directory stays as it
// was.
#include <algorithm>
#include <string>

#include "core/exception.h"
#include "platform/dir.h"
#include "platform/dos_errors.h"
#include "platform/dos_procs.h"
#include "platform/host_extra.h"
#include "platform/host_file.h"
#include "platform/links.h"

namespace bw {
namespace {

constexpr const char kChangeSource[] = "cHostDir.changeExtra()";
constexpr uint32_t kExtraAttrMask = 0xFFFFFF72;

bool equalNoCase(const Str& a, const Str& b) {
  if (a.isNil() || b.isNil()) return a.isNil() && b.isNil();
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return a.length() == b.length() &&
         std::equal(a.view().begin(), a.view().end(), b.view().begin(),
                    [&](char x, char y) { return lower(x) == lower(y); });
}

}  // namespace

bool cHostDir::setExtra(cExtra* other) {
  if (!isOpen()) raise("EMU", "cHostDir.setExtra(); dir not open");
  if (infoReadOnly()) raise("EMU", "cHostDir.setExtra(); dir opened in read only mode");
  if (!other) return true;
  bool ok = true;
  for (ExtraKey key : kTransferredExtras) {
    ExtraQuery q = other->queryExtra(key);
    if (q.unknownKey) continue;  // what other does not know stays as it is
    ok = changeExtra(key, q.value).ok && ok;
  }
  return ok;
}

std::unique_ptr<cExtra> cHostDir::getExtra() {
  if (!isOpen()) raise("EMU", "cHostDir.getExtra(); dir not open");
  auto extras = std::make_unique<cHostExtra>();
  if (!extras->setExtra(this)) return nullptr;
  return extras;
}

void cHostDir::readLinkInfo() {
  if (linkType_ != kLinkTypeUnknown) return;
  SoftLinkText link = readSoftLink(Text(nativePath_), false);
  linkTarget_ = link.target.isNil() ? Str() : ImportDirPath(link.target);
  linkType_ = link.target.isNil() ? kLinkTypeNone : link.kind;
}

ExtraQuery cHostDir::queryExtra(ExtraKey key) {
  if (!isOpen()) raise("EMU", "cHostDir.queryExtra(); dir not open");
  ExtraQuery q;
  if (key == kExtraCOMM) {
    q.value.text = Str(std::string_view(fileInfo_.comment));
  } else if (key == kExtraATTR) {
    q.value.number = fileInfo_.protection & kExtraAttrMask;
  } else if (key == kExtraLINK || linkKindOfKey(key) != 0) {
    readLinkInfo();
    q = queryLinkExtra(key, linkTarget_, linkType_);
  } else {
    q.unknownKey = true;
  }
  return q;
}

ExtraChange cHostDir::changeExtra(ExtraKey key, const ExtraValue& value) {
  if (!isOpen()) raise("EMU", "cHostDir.changeExtra(); dir not open");
  if (infoReadOnly()) raise("EMU", "cHostDir.changeExtra(); dir opened in read only mode");
  ExtraChange r;
  int32_t kind = linkKindOfKey(key);
  if (key == kExtraCOMM) {
    std::string text(value.text.isNil() ? std::string_view() : value.text.view());
    if (text.size() > dos::kMaxCommentLength) text.resize(dos::kMaxCommentLength);
    openKludgeBegin();
    r.ok = dos::setComment(Text(nativePath_), Text(text));
    if (r.ok) fileInfo_.comment = text;
    else setError(kChangeSource, ioErrText("error setting dir comment"));
    openKludgeFinish();
  } else if (key == kExtraATTR) {
    uint32_t word = (fileInfo_.protection & kAttributeProtectionBits) | (value.number & kExtraAttrMask);
    openKludgeBegin();
    r.ok = writeProtection(word);
    if (r.ok) fileInfo_.protection = word;
    else setError(kChangeSource, ioErrText("error setting dir protection bits"));
    openKludgeFinish();
  } else if (kind != 0) {
    r.ok = changeLink(kind, value.text);
    if (!r.ok) setErrorSource(kChangeSource);
  } else {
    r.unknownKey = true;
    setErrorSource(kChangeSource);
  }
  return r;
}

bool cHostDir::changeLink(int32_t kind, const Str& target) {
  readLinkInfo();
  if (linkType_ == kind && equalNoCase(linkTarget_, target)) return true;
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
