// platform/host_extra.h - cHostExtra, the in-memory holder of extras: the
// cache of a buffered file or directory and the carrier that moves extras
// from one object to another (getExtra, setExtra).
//
// Keys (see path_extra.h): COMM a comment text, ATTR the protection word
// without R, W, D and hold, LINK the link target of either kind (read only),
// SLNK and HLNK the target of a soft or hard link. Inside changeExtra SLNK
// and HLNK are one link slot with a kind; a caller passing the internal key
// 'link' itself is told the key is unknown.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/path_extra.h"

namespace bw {

// The internal key SLNK and HLNK fold to inside changeExtra.
constexpr ExtraKey kExtraLinkSlot = 0x6C696E6B;  // 'link'

// Link types of an object: not read yet, none, soft, hard.
enum : int32_t { kLinkTypeUnknown = 0, kLinkTypeNone = 1, kLinkTypeSoft = 2, kLinkTypeHard = 3 };

// The keys setExtra copies, in this order.
inline constexpr ExtraKey kTransferredExtras[4] = {kExtraCOMM, kExtraATTR, kExtraSLNK, kExtraHLNK};

class cHostExtra : public cExtra {
  BW_CLASS(cHostExtra, cExtra)

 public:
  // Empties the holder (no comment, attributes 0, no link read yet).
  void reset();

  // Copies COMM, ATTR, SLNK, HLNK from other ("" or 0 for a key other does
  // not know); TRUE when all four were set.
  bool setExtra(cExtra* other) override;
  std::unique_ptr<cExtra> getExtra() override;
  ExtraChange changeExtra(ExtraKey key, const ExtraValue& value) override;
  ExtraQuery queryExtra(ExtraKey key) override;

  const Str& comment() const { return comment_; }
  uint32_t attributeBits() const { return attributeBits_; }
  const Str& linkTarget() const { return linkTarget_; }
  int32_t linkType() const { return linkType_; }

 private:
  Str comment_;
  uint32_t attributeBits_ = 0;
  Str linkTarget_;
  int32_t linkType_ = kLinkTypeUnknown;
};

// The link kind (soft or hard) of SLNK and HLNK, 0 for any other key.
int32_t linkKindOfKey(ExtraKey key);
// The answer of a link query (LINK, SLNK or HLNK) on a target and type.
ExtraQuery queryLinkExtra(ExtraKey key, const Str& target, int32_t type);

}  // namespace bw
