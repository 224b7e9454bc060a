// fuzz/fuzz_strings.cpp - the string procedures on arbitrary bytes: split
// then join gives the text back, trimming leaves no white space at the ends,
// shortening keeps a prefix, and nothing reads or writes out of bounds.
//
// Input: byte 0 picks the separator length (1..4), the next bytes are the
// separator, the rest is the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/exception.h"
#include "core/string_procs.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void splitJoin(std::string_view text, std::string_view separator) {
  try {
    bw::SplitResult r = bw::splitString(text, separator);
    check(r.count == static_cast<int32_t>(r.chain.size()) && r.count >= 1);
    bw::Str joined = bw::joinStrings(r.chain, separator);
    check(joined.view() == bw::Text(text).nulView());
  } catch (const bw::eException& e) {
    // Only an empty separator (before its first NUL) is refused.
    check(e.code() == "EPU" && bw::Text(separator).nulLength() == 0);
  }
}

bool hasNul(std::string_view s) { return s.find('\0') != std::string_view::npos; }

void trim(std::string_view text) {
  bw::Str trimmed = bw::trimWhiteSpace(bw::Str::withCapacity(static_cast<int32_t>(text.size()), text));
  check(text.find(trimmed.view()) != std::string_view::npos);
  if (hasNul(text)) return;
  if (!trimmed.empty()) {
    check(!bw::isWhiteSpace(static_cast<unsigned char>(trimmed.view().front())));
    check(!bw::isWhiteSpace(static_cast<unsigned char>(trimmed.view().back())));
  }
  // Trimming in place gives the same text.
  bw::Str inPlace = bw::Str::withCapacity(static_cast<int32_t>(text.size()), text);
  bw::trimEnd(inPlace);
  bw::trimStart(inPlace);
  check(inPlace.view() == trimmed.view());
}

void shorten(std::string_view text, int32_t capacity) {
  bw::Str s = bw::Str::withCapacity(capacity, text);
  std::string before = s.str();
  bw::shortenText(s);
  size_t n = static_cast<size_t>(s.length());
  check(n <= before.size() && n <= 204);  // a cut of 200 moves to 201 past white space
  // The result is a prefix of the text followed by "...", clipped at the
  // capacity; some cut must explain it.
  bool explained = false;
  for (size_t cut = n < 3 ? 0 : n - 3; cut <= std::min(n, before.size()) && !explained; ++cut)
    explained = (before.substr(0, cut) + "...").substr(0, static_cast<size_t>(capacity)) == s.view();
  check(explained);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  size_t sepLength = std::min<size_t>(1 + data[0] % 4, size - 1);
  std::string_view separator = in.substr(1, sepLength);
  std::string_view text = in.substr(1 + sepLength);

  splitJoin(text, separator);
  trim(text);
  shorten(text, static_cast<int32_t>(text.size()));
  shorten(text, static_cast<int32_t>(text.size() / 3));
  (void)bw::valueAt(text, static_cast<int32_t>(data[0] % (bw::Text(text).nulLength() + 1)), -1);
  return 0;
}
