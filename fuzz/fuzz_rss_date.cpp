// fuzz/fuzz_rss_date.cpp - the RSS date reader and the feed address
// normalisation on arbitrary bytes and lengths: the reader never looks past
// the length it is given, or past the first NUL without one (the same bytes
// alone in a buffer of exactly their size give the same answer), answers
// unset, invalid or a date, and the normalisation only ever removes bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "news/rss_date.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!data || size < 1) return 0;
  const auto length = static_cast<int32_t>(data[0] % 64);
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const bw::bigTime whole = bw::parseRssDate(text, length);

  // The text read: the given length (a NUL inside it is a byte like any
  // other), else up to the first NUL.
  size_t n = length > 0 ? std::min(text.size(), static_cast<size_t>(length)) : text.find('\0');
  if (n == std::string_view::npos) n = text.size();
  std::unique_ptr<char[]> window(new char[n ? n : 1]);
  for (size_t i = 0; i < n; ++i) window[i] = text[i];
  const bw::bigTime alone = bw::parseRssDate(std::string_view(window.get(), n), static_cast<int32_t>(n));
  if (n >= 1 && whole != alone) std::abort();
  if (whole == bw::kDateUnset) std::abort();

  bw::Str url(text);
  const int32_t before = url.length();
  bw::normaliseFeedURL(url);
  if (url.length() > before || before - url.length() > 4) std::abort();
  return 0;
}
