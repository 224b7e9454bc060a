// core/str.h - Str, the program's nullable string with a fixed capacity, and
// Text, the read-only view that string procedures take.
//
// Invariants of Str:
//   1. A Str is either NIL or a text; NIL is not the empty text.
//   2. A text has a length and a capacity, 0 <= length <= capacity. The
//      capacity is fixed when the string is made (stored strings write it to
//      disk, so it is observable) and only changes through reserve().
//   3. assign() and append() clip at the capacity; they never grow the string.
//   4. Bytes are arbitrary (NUL included); c_str() adds a terminator beyond
//      the length for code that hands the text to C interfaces.
//
// A string chain (the runtime's strings linked through a next link) is a
// StrChain: a vector of Str in chain order.
//
// Text is what procedures take where the runtime accepted "a text": either a
// Str or a plain literal. NIL Str and nullptr give a NIL Text. nulLength() is
// the number of bytes before the first NUL (a literal's C length); length()
// is the string's own length field.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

class Str {
 public:
  // NIL.
  Str() = default;
  // A text of capacity max(length, 1) holding a copy of text.
  explicit Str(std::string_view text)
      : nil_(false), capacity_(text.empty() ? 1 : static_cast<int32_t>(text.size())), bytes_(text) {}
  // nullptr gives NIL.
  explicit Str(const char* text) : Str(text ? Str(std::string_view(text)) : Str()) {}

  // An empty text with the given capacity (0 allowed).
  static Str withCapacity(int32_t capacity);
  // A copy of text clipped to the given capacity.
  static Str withCapacity(int32_t capacity, std::string_view text);
  // Takes over bytes (clipped to the capacity) without copying them; for
  // builders that size their text once and move it in.
  static Str adopt(std::string bytes, int32_t capacity);

  bool isNil() const { return nil_; }
  explicit operator bool() const { return !nil_; }

  int32_t length() const { return static_cast<int32_t>(bytes_.size()); }
  int32_t capacity() const { return capacity_; }
  bool empty() const { return bytes_.empty(); }
  // Bytes before the first NUL (all of them when there is none).
  int32_t nulLength() const;

  std::string_view view() const { return bytes_; }
  const std::string& str() const { return bytes_; }
  const char* c_str() const { return bytes_.c_str(); }
  const char* data() const { return bytes_.data(); }
  char* data() { return bytes_.data(); }
  char operator[](int32_t i) const { return bytes_[static_cast<size_t>(i)]; }
  char& operator[](int32_t i) { return bytes_[static_cast<size_t>(i)]; }

  // Replaces the text, clipped at the capacity. A NIL string raises "EPU".
  void assign(std::string_view text);
  // Appends, clipped at the capacity. A NIL string raises "EPU".
  void append(std::string_view text);
  void append(char c) { append(std::string_view(&c, 1)); }
  // Cuts or (with `fill`) extends the length, clamped to 0..capacity.
  void setLength(int32_t length, char fill = '\0');
  // Changes the capacity; the text is clipped when it no longer fits.
  void setCapacity(int32_t capacity);

  friend bool operator==(const Str& a, const Str& b) {
    return a.nil_ == b.nil_ && a.bytes_ == b.bytes_;
  }
  friend bool operator==(const Str& a, std::string_view b) { return !a.nil_ && a.bytes_ == b; }

 private:
  void requireText(const char* method) const;

  bool nil_ = true;
  int32_t capacity_ = 0;
  std::string bytes_;
};

using StrChain = std::vector<Str>;

class Text {
 public:
  Text(std::nullptr_t) {}  // NIL
  Text(const char* text) : nil_(text == nullptr), data_(text ? text : ""), size_(text ? std::strlen(text) : 0) {}
  Text(std::string_view text) : nil_(false), data_(text.data()), size_(text.size()) {}
  Text(const std::string& text) : Text(std::string_view(text)) {}
  Text(const Str& s) : nil_(s.isNil()), data_(s.c_str()), size_(static_cast<size_t>(s.length())) {}

  bool isNil() const { return nil_; }
  // Bytes before the first NUL.
  int32_t nulLength() const;
  // The whole text as given (a Str's length field; a literal's C length).
  int32_t length() const { return static_cast<int32_t>(size_); }
  std::string_view view() const { return std::string_view(data_, size_); }
  std::string_view nulView() const { return std::string_view(data_, static_cast<size_t>(nulLength())); }

 private:
  bool nil_ = true;
  const char* data_ = "";
  size_t size_ = 0;
};

}  // namespace bw
