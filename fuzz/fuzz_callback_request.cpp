// fuzz/fuzz_callback_request.cpp - the sign-in callback's request line
// reader on fuzzer bytes, handed over in a buffer of exactly their length
// (so ASan sees any read past it).
//
// Checks: without a line feed the request is incomplete; a callback's
// query is the text after "GET /callback?" up to the blank before the
// version, and the line holds nothing else.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "social/callback_server.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> exact(new char[size]);
  if (size > 0) std::memcpy(exact.get(), data, size);
  std::string_view all(exact.get(), size);
  bw::CallbackRequest request = bw::parseCallbackRequest(all);
  size_t end = all.find('\n');
  if ((end == std::string_view::npos) != (request.kind == bw::CallbackRequest::Kind::kIncomplete)) std::abort();
  if (request.kind == bw::CallbackRequest::Kind::kCallback) {
    std::string_view line = all.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string rebuilt = "GET /callback?" + request.query + " " + std::string(line.substr(line.size() - 8));
    if (line != rebuilt || line.substr(line.size() - 8, 7) != "HTTP/1.") std::abort();
  }
  return 0;
}
