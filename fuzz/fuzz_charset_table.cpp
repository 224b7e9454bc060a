// fuzz/fuzz_charset_table.cpp - arbitrary text as a charset table file: it
// loads, every entry is -1 or a code point that UTF-8 can hold, and every
// byte then converts to UTF-8 without raising.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "core/charset.h"
#include "core/charset_files.h"
#include "core/ordering.h"
#include "core/translate.h"
#include "core/unicode.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

std::string gContent;
bool gReady = false;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!gReady) {
    bw::initMegaListModule();
    bw::initTranslateEngine();
    bw::initTranslateModule();
    bw::setCharsetFileReader([](const std::string& path) -> std::optional<std::string> {
      if (path == "Charsets/Fuzzed") return gContent;
      return std::nullopt;
    });
    gReady = true;
  }
  if (size > (1u << 16)) return 0;
  gContent.assign(reinterpret_cast<const char*>(data), size);
  bw::cCharset charset;
  charset.newCharset();
  check(charset.load("Fuzzed", false));
  std::string all;
  for (int b = 0; b < 256; ++b) {
    int32_t cp = charset.charaToUnicode(static_cast<uint8_t>(b), -1);
    check(cp == -1 || (cp >= 0 && cp <= 0x10FFFF));
    if (b != 0) all += static_cast<char>(b);
  }
  bw::Str utf8 = bw::convertCharsetToUTF8(all, charset, 0, '?', false, false, nullptr, 0);
  check(!utf8.isNil());
  return 0;
}
