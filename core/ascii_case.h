// core/ascii_case.h - comparisons of names without regard to ASCII case, as
// the program compares keywords, device, assign, library and charset names.
// Only A-Z fold; bytes above 0x7F compare as they are.
#pragma once

#include <string_view>

namespace bw {

constexpr char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// The exact compare goes first: names and links mostly match as they stand.
inline bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;
  for (size_t i = 0; i < a.size(); ++i)
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  return true;
}

inline bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace bw
