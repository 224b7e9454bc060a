// platform/path_extra.h - cExtra, the root of every object that carries extras
// (comment, protection word, link target) beside its bytes.
//
// Extras are addressed by four-character keys (first character in the top
// byte). A value is either a text (COMM, LINK, SLNK, HLNK) or a 32-bit word
// (ATTR, CSiz); ExtraValue holds whichever the key uses.
//
// The four operations are the contract every path object, host file, host
// directory and in-memory extras holder implements:
//   setExtra(other)      copy every extra other knows; TRUE when all were set
//   getExtra()           a new holder with a copy of all extras, or null
//   changeExtra(k, v)    set one extra; unknownKey when the key is not known
//   queryExtra(k)        read one extra; unknownKey (and value 0) when unknown
#pragma once

#include <cstdint>
#include <memory>

#include "core/object.h"
#include "core/str.h"

namespace bw {

using ExtraKey = uint32_t;

constexpr ExtraKey kExtraCOMM = 0x434F4D4D;  // 'COMM' comment text
constexpr ExtraKey kExtraATTR = 0x41545452;  // 'ATTR' protection word AND 0xFFFFFF72
constexpr ExtraKey kExtraLINK = 0x4C494E4B;  // 'LINK' link target of either kind
constexpr ExtraKey kExtraSLNK = 0x534C4E4B;  // 'SLNK' soft-link target
constexpr ExtraKey kExtraHLNK = 0x484C4E4B;  // 'HLNK' hard-link target
constexpr ExtraKey kExtraCSiz = 0x4353697A;  // 'CSiz' chunk size of a buffered file

// One extra's value: text keys use `text`, word keys use `number`.
struct ExtraValue {
  Str text;
  uint32_t number = 0;

  static ExtraValue ofText(Text t) {
    ExtraValue v;
    if (!t.isNil()) v.text = Str(t.view());
    return v;
  }
  static ExtraValue ofNumber(uint32_t n) {
    ExtraValue v;
    v.number = n;
    return v;
  }
};

struct ExtraQuery {
  ExtraValue value;
  bool unknownKey = false;
};

struct ExtraChange {
  bool ok = false;
  bool unknownKey = false;
};

class cExtra : public class_base {
  BW_CLASS(cExtra, class_base)

 public:
  // Copies every extra that `other` knows onto this object; null other is
  // the subclass's to judge.
  virtual bool setExtra(cExtra* other) = 0;
  // A new object holding a copy of all extras; none here.
  virtual std::unique_ptr<cExtra> getExtra() { return nullptr; }
  virtual ExtraChange changeExtra(ExtraKey key, const ExtraValue& value) = 0;
  virtual ExtraQuery queryExtra(ExtraKey key) = 0;
};

}  // namespace bw
