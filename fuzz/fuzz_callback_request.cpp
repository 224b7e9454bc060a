// fuzz/fuzz_callback_request.cpp - the sign-in callback's request
// extractor on fuzzer bytes, handed over in a buffer of exactly their
// length (so ASan sees any read past it).
//
// Checks: the result is NIL, or the text between the first "GET /?" and
// the first " HTTP/1." after it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "social/callback_server.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> exact(new char[size]);
  if (size > 0) std::memcpy(exact.get(), data, size);
  bw::Str query = bw::extractCallbackQuery(exact.get(), static_cast<int32_t>(size));
  std::string_view all(exact.get(), size);
  size_t get = all.find("GET /?");
  size_t end = get == std::string_view::npos ? get : all.find(" HTTP/1.", get + 6);
  if (end == std::string_view::npos) {
    if (!query.isNil()) std::abort();
  } else if (query.isNil() || query.view() != all.substr(get + 6, end - get - 6)) {
    std::abort();
  }
  return 0;
}
