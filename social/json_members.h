// social/json_members.h - the members a social reader takes from a JSON
// object, found in one walk over its children, and texts joined from parts
// with one allocation.
//
// Invariants:
//   1. findMembers gives for each name what findChild(name, NIL, NIL, NIL)
//      gives: the first child of exactly that name and no namespace, or NIL.
//   2. joinedText has the capacity Str(text) gives the joined text.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

#include "core/str.h"
#include "web/web_data.h"

namespace bw {

template <size_t N>
std::array<const webDataNode*, N> findMembers(const webDataNode* object, const std::array<std::string_view, N>& names) {
  std::array<const webDataNode*, N> found{};
  size_t missing = N;
  for (const webDataNode* m = object ? object->getFirstChild() : nullptr; m && missing; m = m->getNext()) {
    const NodeText name = m->getName();
    if (name.isNil() || !m->getNamespace().isNil()) continue;
    for (size_t i = 0; i < N; ++i) {
      if (!found[i] && name.view() == names[i]) {
        found[i] = m;
        --missing;
        break;
      }
    }
  }
  return found;
}

inline Str joinedText(std::initializer_list<std::string_view> parts) {
  size_t size = 0;
  for (std::string_view part : parts) size += part.size();
  // Sized once, then filled: no append's bookkeeping per part.
  std::string text(size, '\0');
  char* at = text.data();
  for (std::string_view part : parts) {
    if (!part.empty()) std::memcpy(at, part.data(), part.size());
    at += part.size();
  }
  return Str::adopt(std::move(text), static_cast<int32_t>(std::max<size_t>(size, 1)));
}

}  // namespace bw
