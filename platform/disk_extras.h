// platform/disk_extras.h - DiskExtras, the one way a host file and a host
// directory copy, answer and change their extras on the disk.
//
// Host (cHostFile or cHostDir, which befriend DiskExtras) provides info(),
// the examined facts; writeProtection(word) on its own name; readLinkInfo()
// and changeLink(kind, target) for the link slot; the openKludgeBegin/Finish
// bracket; setError; and the members fileInfo_, nativePath_, linkTarget_ and
// linkType_.
#pragma once

#include <memory>
#include <string>

#include "core/ascii_case.h"
#include "platform/dos.h"
#include "platform/dos_procs.h"
#include "platform/host_extra.h"
#include "platform/host_file.h"

namespace bw {

// The error texts of one kind of object.
struct DiskExtraTexts {
  const char* changeSource;     // "cHostFile.changeExtra()"
  const char* commentError;     // "error setting file comment"
  const char* protectionError;  // "error setting file protection bits"
};

struct DiskExtras {
  // setExtra: changes on host each transferred key that other knows (what
  // other does not know stays as it is); TRUE when every change took.
  static bool copyFrom(cExtra& host, cExtra* other) {
    if (!other) return true;
    bool ok = true;
    for (ExtraKey key : kTransferredExtras) {
      ExtraQuery q = other->queryExtra(key);
      if (q.unknownKey) continue;
      ok = host.changeExtra(key, q.value).ok && ok;
    }
    return ok;
  }

  // getExtra: a holder with host's extras; null when they cannot all be
  // read.
  static std::unique_ptr<cExtra> held(cExtra& host) {
    auto extras = std::make_unique<cHostExtra>();
    if (!extras->setExtra(&host)) return nullptr;
    return extras;
  }

  // COMM is the examined comment, ATTR the protection word without R, W, D
  // and hold, LINK, SLNK and HLNK the link as read once; any other key is
  // unknown.
  template <class Host>
  static ExtraQuery query(Host& host, ExtraKey key) {
    ExtraQuery q;
    if (key == kExtraCOMM) {
      q.value.text = Str(std::string_view(host.info().comment));
    } else if (key == kExtraATTR) {
      q.value.number = host.info().protection & ~kAttributeProtectionBits;
    } else if (key == kExtraLINK || linkKindOfKey(key) != 0) {
      host.readLinkInfo();
      q = queryLinkExtra(key, host.linkTarget_, host.linkType_);
    } else {
      q.unknownKey = true;
    }
    return q;
  }

  // COMM writes the comment cut to the longest DOS keeps; ATTR writes the
  // word with the object's own R, W, D and hold bits kept; SLNK and HLNK
  // go to the object's changeLink. A failure or an unknown key leaves the
  // last error under texts.changeSource.
  template <class Host>
  static ExtraChange change(Host& host, ExtraKey key, const ExtraValue& value, const DiskExtraTexts& texts) {
    ExtraChange r{false, false};
    int32_t kind = linkKindOfKey(key);
    if (key == kExtraCOMM) {
      std::string text(value.text.isNil() ? std::string_view() : value.text.view());
      if (text.size() > dos::kMaxCommentLength) text.resize(dos::kMaxCommentLength);
      host.openKludgeBegin();
      r.ok = dos::setComment(Text(host.nativePath_), Text(text));
      if (r.ok)
        host.fileInfo_.comment = text;
      else
        host.setError(texts.changeSource, ioErrText(texts.commentError));
      host.openKludgeFinish();
    } else if (key == kExtraATTR) {
      uint32_t word =
          (host.info().protection & kAttributeProtectionBits) | (value.number & ~kAttributeProtectionBits);
      host.openKludgeBegin();
      r.ok = host.writeProtection(word);
      if (r.ok)
        host.fileInfo_.protection = word;
      else
        host.setError(texts.changeSource, ioErrText(texts.protectionError));
      host.openKludgeFinish();
    } else if (kind != 0) {
      r.ok = host.changeLink(kind, value.text);
      if (!r.ok) host.setErrorSource(texts.changeSource);
    } else {
      r.unknownKey = true;
      host.setErrorSource(texts.changeSource);
    }
    return r;
  }

  // Reads host's link once; TRUE when it already is a link of kind to
  // target (two NIL targets alike, others compared without regard to ASCII
  // case), so that changeLink has nothing to do.
  template <class Host>
  static bool linkAlreadyIs(Host& host, int32_t kind, const Str& target) {
    host.readLinkInfo();
    if (host.linkType_ != kind) return false;
    if (host.linkTarget_.isNil() || target.isNil()) return host.linkTarget_.isNil() && target.isNil();
    return equalsNoCase(host.linkTarget_.view(), target.view());
  }
};

}  // namespace bw
