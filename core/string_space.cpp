// core/string_space.cpp - the string space: hash chains of items over a
// number space index, and the SuperFastHash variant the index is keyed by.
#include "core/string_space.h"

#include <bit>
#include <cstring>

#include "core/exception.h"

namespace bw {
namespace {

inline unsigned char foldCase(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

// Arithmetic right shift of a 32-bit word (the sign bit is copied in).
inline uint32_t asr(uint32_t x, int n) { return static_cast<uint32_t>(static_cast<int32_t>(x) >> n); }

template <bool kFold>
inline uint32_t byteAt(const unsigned char* p) {
  return kFold ? foldCase(*p) : *p;
}
// Sign-extended byte and big-endian halfword.
template <bool kFold>
inline uint32_t signedByte(const unsigned char* p) {
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byteAt<kFold>(p))));
}
template <bool kFold>
inline uint32_t halfword(const unsigned char* p) {
  uint16_t h;
  if constexpr (kFold) {
    h = static_cast<uint16_t>(byteAt<kFold>(p) << 8 | byteAt<kFold>(p + 1));
  } else {
    std::memcpy(&h, p, 2);
    if constexpr (std::endian::native == std::endian::little) h = __builtin_bswap16(h);
  }
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(h)));
}

template <bool kFold>
uint32_t hashBytes(const unsigned char* p, size_t length) {
  uint32_t hash = static_cast<uint32_t>(length);
  for (const unsigned char* end = p + (length & ~size_t{3}); p != end; p += 4) {
    hash += halfword<kFold>(p);
    uint32_t tmp = (halfword<kFold>(p + 2) << 11) ^ hash;
    hash = (hash << 16) ^ tmp;
    hash += asr(hash, 11);
  }
  switch (length & 3) {
    case 3:
      hash += halfword<kFold>(p);
      hash ^= hash << 16;
      hash ^= signedByte<kFold>(p + 2) << 18;
      hash += asr(hash, 11);
      break;
    case 2:
      hash += halfword<kFold>(p);
      hash ^= hash << 11;
      hash += asr(hash, 17);
      break;
    case 1:
      hash += signedByte<kFold>(p);
      hash ^= hash << 10;
      hash += asr(hash, 1);
      break;
    default:
      break;
  }
  hash ^= hash << 3;
  hash += asr(hash, 5);
  hash ^= hash << 4;
  hash += asr(hash, 17);
  hash ^= hash << 25;
  hash += asr(hash, 6);
  return hash;
}

uint32_t hashKey(std::string_view key, bool caseSensitive) {
  const auto* p = reinterpret_cast<const unsigned char*>(key.data());
  return caseSensitive ? hashBytes<false>(p, key.size()) : hashBytes<true>(p, key.size());
}

// The index key of a hash: the hash as a signed 32-bit number.
inline intptr_t indexKey(uint32_t hash) { return static_cast<int32_t>(hash); }

}  // namespace

uint32_t superFastHash(Text text, bool caseSensitive) { return hashKey(text.nulView(), caseSensitive); }

itemNode_cstringspace::~itemNode_cstringspace() {
  // Followers end one after another, so a long chain cannot exhaust the stack.
  for (itemNode_cstringspace* follower = next; follower;) {
    itemNode_cstringspace* after = follower->next;
    follower->next = nullptr;
    delete follower;
    follower = after;
  }
  if (ownsData) delete data;
}

cStringSpace::cStringSpace(bool autoDealloc, int32_t caseMode) : caseMode_(caseMode), autoDealloc_(autoDealloc) {}

bool cStringSpace::keysMatch(std::string_view stored, std::string_view key, bool exact) const {
  if (exact) return stored == key;
  if (stored.size() != key.size()) return false;
  for (size_t i = 0; i < key.size(); ++i) {
    if (foldCase(static_cast<unsigned char>(stored[i])) != foldCase(static_cast<unsigned char>(key[i])))
      return false;
  }
  return true;
}

StringSpaceSet cStringSpace::set(Text key, class_base* data, bool keepOld) {
  if (!data) raise("EMU", "cStringSpace.set(); data=NIL");
  if (key.isNil()) raise("EMU", "cStringSpace.set(); key=NIL");
  std::string_view k = key.nulView();
  intptr_t h = indexKey(hashKey(k, hashesCaseSensitive()));
  itemNode_cstringspace* first = chain(h);
  itemNode_cstringspace* item = first;
  while (item && !keysMatch(item->key.view(), k, hashesCaseSensitive())) item = item->next;

  if (!item) {
    // A new key goes to the front of its chain, and its hash to the front of
    // its bucket in the index (removed, then set again).
    auto* fresh = new itemNode_cstringspace(data, k, autoDealloc_, first);
    if (index_.get(h, true) != first) {
      fresh->next = nullptr;
      fresh->data = nullptr;
      delete fresh;
      raise("BUG", "cStringSpace.set(); removed node is not firstNode");
    }
    index_.set(h, fresh);
    return {nullptr, false};
  }

  class_base* result = data;
  bool replace = !keepOld;
  // Without case for lookup but chosen per call: only the exact spelling
  // replaces; the first spelling stays stored.
  if (caseMode_ == kCaseChosenPerCall && item->key.view() != k) replace = false;
  if (replace) {
    result = item->data;
    item->data = data;
  }
  // Handing back the very object that stays stored (set of the same object
  // again) must not delete it.
  if (autoDealloc_) {
    if (result != item->data) delete result;
    return {nullptr, true};
  }
  return {result, true};
}

StringSpaceEntry cStringSpace::get(Text key, bool remove, bool ignoreCase) {
  if (key.isNil()) return {nullptr, nullptr};
  std::string_view k = key.nulView();
  bool exact = caseMode_ == kCaseSensitive || (caseMode_ == kCaseChosenPerCall && !ignoreCase);
  intptr_t h = indexKey(hashKey(k, hashesCaseSensitive()));
  itemNode_cstringspace* prev = nullptr;
  itemNode_cstringspace* item = chain(h);
  while (item && !keysMatch(item->key.view(), k, exact)) {
    prev = item;
    item = item->next;
  }
  if (!item) return {nullptr, nullptr};
  if (!remove) return {item->data, &item->key};

  if (current_ == item) gotoNext();
  class_base* data = item->data;
  item->data = nullptr;
  itemNode_cstringspace* follower = item->next;
  item->next = nullptr;
  if (prev) {
    prev->next = follower;
    delete item;
  } else if (!follower) {
    index_.remove(h);  // the index owns the item and ends it
  } else if (index_.set(h, follower).data) {
    raise("BUG", "cStringSpace.get(); head node was unexpectedly returned, rather than being auto-deallocated");
  }
  return {data, nullptr};
}

bool cStringSpace::remove(Text key, bool ignoreCase) {
  class_base* data = get(key, true, ignoreCase).data;
  if (!data) return false;
  if (autoDealloc_) delete data;
  return true;
}

bool cStringSpace::gotoFirst() {
  index_.gotoFirst();
  current_ = static_cast<itemNode_cstringspace*>(index_.infoCurrent().data);
  return current_ != nullptr;
}

bool cStringSpace::gotoNext() {
  if (!current_) return false;
  current_ = current_->next;
  if (!current_) {
    index_.gotoNext();
    current_ = static_cast<itemNode_cstringspace*>(index_.infoCurrent().data);
  }
  return current_ != nullptr;
}

StringSpaceEntry cStringSpace::infoCurrent() const {
  if (!current_) return {nullptr, nullptr};
  return {current_->data, &current_->key};
}

}  // namespace bw
