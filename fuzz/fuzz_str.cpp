// fuzz/fuzz_str.cpp - string procedures on arbitrary bytes: splitting,
// joining and trimming must never read or write out of bounds.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/str.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  bw::Str s = bw::Str::withCapacity(static_cast<int32_t>(size / 2), in);
  s.append(in);
  s.setLength(static_cast<int32_t>(size % 7));
  bw::Text t(s);
  (void)t.nulLength();
  return 0;
}
