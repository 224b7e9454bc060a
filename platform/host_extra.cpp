// platform/host_extra.cpp - cHostExtra, extras held in memory.
#include "platform/host_extra.h"

namespace bw {

int32_t linkKindOfKey(ExtraKey key) {
  if (key == kExtraSLNK) return kLinkTypeSoft;
  if (key == kExtraHLNK) return kLinkTypeHard;
  return 0;
}

ExtraQuery queryLinkExtra(ExtraKey key, const Str& target, int32_t type) {
  ExtraQuery q;
  bool wanted = key == kExtraLINK || linkKindOfKey(key) == type;
  if (wanted && !target.isNil()) q.value.text = target;
  return q;
}

void cHostExtra::reset() {
  comment_ = Str();
  attributeBits_ = 0;
  linkTarget_ = Str();
  linkType_ = kLinkTypeUnknown;
}

bool cHostExtra::setExtra(cExtra* other) {
  bool ok = true;
  for (ExtraKey key : kTransferredExtras) {
    ExtraQuery q;
    if (other) q = other->queryExtra(key);
    if (q.unknownKey || !other) q.value = key == kExtraCOMM ? ExtraValue::ofText("") : ExtraValue();
    ok = changeExtra(key, q.value).ok && ok;
  }
  return ok;
}

std::unique_ptr<cExtra> cHostExtra::getExtra() {
  auto copy = std::make_unique<cHostExtra>();
  copy->setExtra(this);
  return copy;
}

ExtraChange cHostExtra::changeExtra(ExtraKey key, const ExtraValue& value) {
  int32_t kind = linkKindOfKey(key);
  if (key == kExtraCOMM) {
    comment_ = value.text.isNil() ? Str("") : value.text;
    return {true, false};
  }
  if (key == kExtraATTR) {
    attributeBits_ = value.number;
    return {true, false};
  }
  if (kind == 0) return {false, true};
  if (value.text.isNil()) {
    if (linkType_ == kind || linkType_ == kLinkTypeUnknown) {
      linkTarget_ = Str();
      linkType_ = kLinkTypeNone;
    }
    return {true, false};
  }
  linkTarget_ = value.text;
  linkType_ = kind;
  return {true, false};
}

ExtraQuery cHostExtra::queryExtra(ExtraKey key) {
  ExtraQuery q;
  if (key == kExtraCOMM) {
    q.value.text = comment_;
  } else if (key == kExtraATTR) {
    q.value.number = attributeBits_;
  } else if (key == kExtraLINK || linkKindOfKey(key) != 0) {
    q = queryLinkExtra(key, linkTarget_, linkType_);
  } else {
    q.unknownKey = true;
  }
  return q;
}

}  // namespace bw
