// social/json_members.h - the members a social reader takes from a JSON
// object, found in one walk over its children, and texts joined from parts
// with one allocation.
//
// Invariants:
//   1. findMembers and findMembersOfEach give for each name what
//      findChild(name, NIL, NIL, NIL) gives: the first child of exactly that
//      name and no namespace, or NIL.
//   2. joinedText has the capacity Str(text) gives the joined text.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "core/str.h"
#include "web/web_data.h"

namespace bw {

// Notes member m of an object in found when it is the first of one of the
// names: findMembers' step.
template <size_t N>
void noteMember(const webDataNode* m, const std::array<std::string_view, N>& names,
                std::array<const webDataNode*, N>& found, size_t& missing) {
  const NodeText name = m->getName();
  if (name.isNil() || !m->getNamespace().isNil()) return;
  const std::string_view text = name.view();
  for (size_t i = 0; i < N; ++i) {
    if (!found[i] && text == names[i]) {
      found[i] = m;
      --missing;
      return;
    }
  }
}

template <size_t N>
std::array<const webDataNode*, N> findMembers(const webDataNode* object, const std::array<std::string_view, N>& names) {
  std::array<const webDataNode*, N> found{};
  size_t missing = N;
  for (const webDataNode* m = object ? object->getFirstChild() : nullptr; m && missing; m = m->getNext()) {
    noteMember(m, names, found, missing);
  }
  return found;
}

// findMembers of each object (NIL allowed) into found, which has room for
// as many. The walks of up to kMembersSideBySide objects advance side by
// side, one member of each in turn: the members of a large document are
// mostly not in the cache, and the reads of several walks overlap.
inline constexpr size_t kMembersSideBySide = 8;
template <size_t N>
void findMembersOfEach(std::span<const webDataNode* const> objects, const std::array<std::string_view, N>& names,
                       std::span<std::array<const webDataNode*, N>> found) {
  for (size_t base = 0; base < objects.size(); base += kMembersSideBySide) {
    const size_t width = std::min(kMembersSideBySide, objects.size() - base);
    std::array<const webDataNode*, kMembersSideBySide> at{};
    std::array<size_t, kMembersSideBySide> missing{};
    for (size_t i = 0; i < width; ++i) {
      found[base + i] = {};
      at[i] = objects[base + i] ? objects[base + i]->getFirstChild() : nullptr;
      missing[i] = N;
    }
    for (bool busy = true; busy;) {
      busy = false;
      for (size_t i = 0; i < width; ++i) {
        if (!at[i] || !missing[i]) continue;
        busy = true;
        noteMember(at[i], names, found[base + i], missing[i]);
        at[i] = at[i]->getNext();
      }
    }
  }
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
