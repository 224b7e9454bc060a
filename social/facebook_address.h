// social/facebook_address.h - what a typed Facebook address names: a user
// or page by its lower-cased name, or a group by its name or number. The
// group lookup asks the service from here on.
//
// Invariants:
//   1. The address must hold "facebook.com/" at its start or after "/", "."
//      or white space; anything else is no Facebook address (NIL).
//   2. A name goes into Graph paths as it stands, so an empty name, and a
//      user or page name with a byte outside [A-Za-z0-9._-], give NIL.
//   3. Nothing is asked and nothing raises.
#pragma once

#include "core/str.h"

namespace bw {

struct FacebookAddress {
  Str name;  // lower-cased (A to Z); NIL: not a usable Facebook address
  bool isGroup = false;
};

FacebookAddress facebookAddressName(Text url);

}  // namespace bw
