// web/node_text.h - NodeText, the read-only view through which a document
// tree node hands out its own strings (name, namespace, text and text after
// the end tag), and the stored form those strings take.
//
// Invariants:
//   1. A NodeText is NIL or a text; NIL is not the empty text, as for Str.
//   2. A stored string is its bytes preceded by their 32-bit length and
//      followed by a NUL, so a view is one pointer and c_str() is always a C
//      string ("" for NIL).
//   3. A view stays valid while its node lives and the string is not
//      replaced (setText, setName, setTextAfterEndTag).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/str.h"

namespace bw {

class NodeText {
 public:
  NodeText() = default;  // NIL
  // bytes: a stored string (preceded by its length), or NIL.
  explicit NodeText(const char* bytes) : bytes_(bytes) {}
  // The stored string, for the tree that keeps it.
  const char* stored() const { return bytes_; }

  bool isNil() const { return bytes_ == nullptr; }
  explicit operator bool() const { return bytes_ != nullptr; }
  int32_t length() const {
    if (!bytes_) return 0;
    uint32_t n;
    std::memcpy(&n, bytes_ - sizeof n, sizeof n);
    return static_cast<int32_t>(n);
  }
  bool empty() const { return length() == 0; }
  std::string_view view() const { return std::string_view(c_str(), static_cast<size_t>(length())); }
  std::string str() const { return std::string(view()); }
  const char* c_str() const { return bytes_ ? bytes_ : ""; }
  const char* data() const { return c_str(); }
  char operator[](int32_t i) const { return bytes_[i]; }

  // A new Str of the bytes (capacity as Str(view)), NIL for NIL.
  Str toStr() const { return bytes_ ? Str(view()) : Str(); }
  operator Str() const { return toStr(); }
  operator Text() const { return bytes_ ? Text(view()) : Text(nullptr); }

  friend bool operator==(NodeText a, std::string_view b) { return !a.isNil() && a.view() == b; }
  friend bool operator==(NodeText a, const Str& b) { return a.isNil() == b.isNil() && a.view() == b.view(); }

  // Bytes a stored copy of text takes: none for NIL and for the empty text
  // (they are NIL and a shared empty string).
  static size_t storedBytes(std::string_view bytes) { return bytes.empty() ? 0 : sizeof(uint32_t) + bytes.size() + 1; }
  static size_t storedBytes(Text text) { return text.isNil() ? 0 : storedBytes(text.view()); }
  // Writes bytes at `at` (storedBytes(bytes) bytes) and returns the stored
  // string; the empty text writes nothing.
  static const char* store(char* at, std::string_view bytes) {
    if (bytes.empty()) return kEmpty + sizeof(uint32_t);
    const auto n = static_cast<uint32_t>(bytes.size());
    std::memcpy(at, &n, sizeof n);
    std::memcpy(at + sizeof n, bytes.data(), n);
    at[sizeof n + n] = '\0';
    return at + sizeof n;
  }
  static const char* store(char* at, Text text) { return text.isNil() ? nullptr : store(at, text.view()); }

 private:
  static constexpr char kEmpty[sizeof(uint32_t) + 1] = {};
  const char* bytes_ = nullptr;
};

}  // namespace bw
