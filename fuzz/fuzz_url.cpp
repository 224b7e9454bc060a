// fuzz/fuzz_url.cpp - the URL procedures on fuzzer text; encodeRawURL must
// write only letters, digits, characters of the safe set and "%XX"; no
// host split off holds user information ("@"), and every host that
// asciiHostName accepts is ASCII and may be connected to and named on a
// Host line.
//
// Input: up to the first NUL the safe set, the rest the URL text (also used
// as a base for the next split).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "web/http.h"
#include "web/url.h"

namespace {

bool isHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

bool isPlain(char c, std::string_view safe) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         safe.find(c) != std::string_view::npos;
}

// The host of parts as the client would take it: never with "@", and
// ASCII and usable once converted.
void checkHost(const bw::URLParts& parts) {
  if (parts.host.isNil()) return;
  const std::string_view host = parts.host.view();
  if (host.find('@') != std::string_view::npos) std::abort();
  std::optional<std::string> ascii = bw::asciiHostName(host);
  if (!ascii) return;
  if (!bw::isUsableHost(*ascii) || ascii->find('@') != std::string::npos) std::abort();
  if (std::any_of(ascii->begin(), ascii->end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  size_t nul = all.find('\0');
  std::string safe(nul == std::string_view::npos ? std::string_view() : all.substr(0, nul));
  std::string text(nul == std::string_view::npos ? all : all.substr(nul + 1));
  text.erase(std::find(text.begin(), text.end(), '\0'), text.end());

  bw::Str encoded = bw::encodeRawURL(text, safe, false);
  std::string_view out = encoded.view();
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '%' && safe.find('%') == std::string::npos) {
      if (i + 2 >= out.size()) std::abort();
      if (!isHex(out[i + 1]) || !isHex(out[i + 2])) std::abort();
      i += 2;
    } else if (!isPlain(out[i], safe)) {
      std::abort();
    }
  }
  if (bw::encodeRawURL(text, nullptr, true).isNil() != (bw::encodeRawURL(text, nullptr, false).view() == text))
    std::abort();

  bw::URLParts parts = bw::splitURL(text, 0, safe);
  checkHost(parts);
  checkHost(bw::splitURL(text, bw::kURLHost, nullptr));
  bw::joinURL(parts.scheme, parts.host, parts.port, parts.path, parts.fragment);
  bw::resolveRelativeURL(text, safe, false);
  bw::resolveRelativeURL(safe, text, true);
  bw::isSameHost(text, safe);
  // Any reference resolves against an absolute base, keeping a scheme.
  bw::Str target = bw::resolveReference("http://h/a/b?q", text);
  if (target.isNil() || target.view().find(':') == std::string_view::npos) std::abort();
  checkHost(bw::splitURL(target, bw::kURLHost, nullptr));
  bw::resolveReference(text, safe);
  return 0;
}
