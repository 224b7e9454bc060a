// fuzz/fuzz_iso8601.cpp - the ISO 8601 reader on arbitrary text, lengths,
// starts and strictness: it never reads outside [start, start + length),
// so the same bytes alone in a buffer of their own give the same answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/time.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  int32_t strictness = data[0] % 4;
  int32_t start = data[1] % 40;
  int32_t length = data[2] % 48;
  std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3);
  const bw::bigTime fallback = -2147483647;
  bw::bigTime whole = bw::pTime::parseDateTimeISO8601(text, fallback, length, strictness, start);

  // The window the reader may see, copied into a buffer of exactly its size
  // (no terminator), so that reading beyond it is caught by the sanitizer.
  size_t from = static_cast<size_t>(start);
  if (from > text.size()) return 0;
  size_t n = text.size() - from;
  if (length > 0 && static_cast<size_t>(length) < n) n = static_cast<size_t>(length);
  std::unique_ptr<char[]> window(new char[n ? n : 1]);
  for (size_t i = 0; i < n; ++i) window[i] = text[from + i];
  bw::bigTime alone = bw::pTime::parseDateTimeISO8601(std::string_view(window.get(), n), fallback, 0,
                                                      strictness, 0);
  if (whole != alone) std::abort();
  return 0;
}
