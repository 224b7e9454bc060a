// fuzz/fuzz_native_path.cpp - native and host path conversion on arbitrary
// text: no crash, and an absolute host path of plain names comes back as
// itself through its native form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/native_path.h"

namespace {

// "/a//b/" -> "/a/b"; false when a component is "." or "..".
bool normalise(std::string_view host, std::string& out) {
  out.clear();
  size_t i = 0;
  while (i < host.size()) {
    if (host[i] == '/') {
      ++i;
      continue;
    }
    size_t end = host.find('/', i);
    if (end == std::string_view::npos) end = host.size();
    std::string_view name = host.substr(i, end - i);
    if (name == "." || name == "..") return false;
    out += '/';
    out.append(name);
    i = end;
  }
  if (out.empty()) out = "/";
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string cstr(text.c_str());  // native paths end at a NUL

  // Native text of any form: translation never crashes.
  bw::dos::HostPaths all = bw::dos::nativeToHostAll(cstr);
  (void)all;
  std::string rest;
  bw::dos::appendHostRest(text, rest);
  (void)bw::dos::filePartIndex(text);
  (void)bw::dos::pathPartIndex(text);
  size_t half = text.size() / 2;
  std::string path = text.substr(0, half);
  bw::dos::addPart(path, std::string_view(text).substr(half), size % 64);

  // Host text: the native form names the same path again.
  if (!cstr.empty() && cstr[0] == '/') {
    std::string expected;
    if (normalise(cstr, expected)) {
      std::string native = bw::dos::hostToNative(cstr);
      std::string back;
      if (!bw::dos::nativeToHost(native.c_str(), back)) std::abort();
      std::string again;
      if (!normalise(back, again) || again != expected) std::abort();
    }
  }
  return 0;
}
