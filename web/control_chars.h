// web/control_chars.h - the C0 control characters XML 1.0 forbids: every
// one but tab, line feed and carriage return. The XML and HTML readers hand
// none on as text: one written as it is, or named by a character reference,
// reads as U+FFFD ("?" in a text of a single-byte charset), as other
// references to no character do. The JSON reader keeps JSON's strings
// exact (they carry tokens and addresses too); what it reads reaches a
// window only as display text (news/html_text.h, convertFeedText), which
// shows them as U+FFFD. Among them is ESC (1B), which marks the styles of
// the windows' texts, so no feed can restyle a window.
//
// Invariants:
//   1. A byte 00..1F is such a character in UTF-8 and in every charset the
//      program reads or shows (all keep ASCII where it stands), never a
//      piece of a longer one; the scans go byte by byte.
//   2. withoutForbiddenControls gives its text back untouched (capacity
//      kept) when it holds none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/str.h"
#include "web/byte_scan.h"

namespace bw {

inline constexpr int32_t kReplacementCharacter = 0xFFFD;

constexpr bool isForbiddenControl(int32_t c) { return c >= 0 && c < 0x20 && c != '\t' && c != '\n' && c != '\r'; }

inline bool holdsForbiddenControl(std::string_view text) {
  return findForbiddenControl(text.data(), text.data() + text.size()) != text.data() + text.size();
}

// text with every forbidden control replaced: by U+FFFD in UTF-8 (utf8),
// by "?" in a single-byte charset.
inline std::string withoutForbiddenControls(std::string_view text, bool utf8) {
  std::string out;
  const char* const end = text.data() + text.size();
  const char* copied = text.data();
  for (const char* c = findForbiddenControl(copied, end); c != end; c = findForbiddenControl(c + 1, end)) {
    if (out.empty()) out.reserve(text.size() + 16);
    out.append(copied, c);
    out += utf8 ? "\xEF\xBF\xBD" : "?";
    copied = c + 1;
  }
  if (copied == text.data()) return std::string(text);
  out.append(copied, end);
  return out;
}

inline Str withoutForbiddenControls(Str text, bool utf8) {
  if (text.isNil() || !holdsForbiddenControl(text.view())) return text;
  std::string out = withoutForbiddenControls(text.view(), utf8);
  const auto size = static_cast<int32_t>(out.size());
  return Str::adopt(std::move(out), size);
}

}  // namespace bw
