// social/json_members.h - the members a social reader takes from a JSON
// object, found in one walk over its children, and texts joined from parts
// with one allocation.
//
// Invariants:
//   1. findMembers gives for each name what findChild(name, NIL, NIL, NIL)
//      gives: the first child of exactly that name and no namespace, or NIL;
//      a member whose value is the JSON literal null counts as absent (NIL).
//      jsonMember does the same for one name.
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
#include "web/json_reader.h"
#include "web/web_data.h"

namespace bw {

// Whether node holds the JSON literal null: the services send it for a
// value they do not have, so the readers take it for an absent one.
inline bool isJsonNull(const webDataNode* node) {
  return node && node->getTextValue() == kJsonLiteral && node->infoText().view() == "null";
}

// parent's first member of exactly name, NIL when it has none or it is null.
inline webDataNode* jsonMember(const webDataNode* parent, Text name) {
  webDataNode* found = parent ? parent->findChild(name, nullptr, nullptr, nullptr) : nullptr;
  return isJsonNull(found) ? nullptr : found;
}

template <size_t N>
std::array<const webDataNode*, N> findMembers(const webDataNode* object, const std::array<std::string_view, N>& names) {
  std::array<const webDataNode*, N> found{};
  std::array<bool, N> met{};
  size_t missing = N;
  for (const webDataNode* m = object ? object->getFirstChild() : nullptr; m && missing; m = m->getNext()) {
    const NodeText name = m->getName();
    if (name.isNil() || !m->getNamespace().isNil()) continue;
    for (size_t i = 0; i < N; ++i) {
      if (!met[i] && name.view() == names[i]) {
        // A null member stays NIL, and no later member of its name counts.
        met[i] = true;
        found[i] = isJsonNull(m) ? nullptr : m;
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
