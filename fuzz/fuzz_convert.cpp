// fuzz/fuzz_convert.cpp - convertStringEncoding between the four built-in
// charsets and UTF-8 with arbitrary flags: it never raises, never writes a
// NUL that was not in the text, and its direct loops give the same bytes and
// capacity as the translate engine's road.
//
// Input: byte 0 picks the two encodings, byte 1 the flags and the
// replacement, byte 2 the start; the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/charset.h"
#include "core/ordering.h"
#include "core/translate.h"
#include "core/unicode.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

std::unique_ptr<bw::cEncoding> gEncodings[5];
bw::TranslateEntry gNever[2];

void setUp() {
  bw::initMegaListModule();
  bw::initTranslateEngine();
  bw::initTranslateModule();
  const char* names[] = {"ISO-8859-1", "ISO-8859-15", "Windows-1252", "ASCII", "UTF-8"};
  for (int i = 0; i < 5; ++i) gEncodings[i] = bw::encodingFromName(names[i], false);
  gNever[0] = {&bw::sharedDummyTranslateMatcher(), nullptr, nullptr, 0, nullptr, nullptr};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!gEncodings[0]) setUp();
  if (size < 3 || size > (1u << 16)) return 0;
  const bw::cEncoding& from = *gEncodings[(data[0] & 0x0F) % 5];
  const bw::cEncoding& to = *gEncodings[(data[0] >> 4) % 5];
  const bool nilIfUnchanged = data[1] & 1;
  const bool skip = data[1] & 2;
  const uint8_t replacement = (data[1] & 4) ? 0 : (data[1] & 8) ? '#' : '?';
  std::string text(reinterpret_cast<const char*>(data) + 3, size - 3);
  if (text.empty()) return 0;
  const auto length = static_cast<int32_t>(text.size());
  const int32_t start = data[2] % (length + 1);
  bw::Str s = bw::Str::withCapacity(length, text);
  bw::Str direct = bw::convertStringEncoding(s, from, to, length, replacement, nilIfUnchanged, skip, nullptr, start);
  bw::Str engine = bw::convertStringEncoding(s, from, to, length, replacement, nilIfUnchanged, skip, gNever, start);
  check(direct.isNil() == engine.isNil());
  check(direct.str() == engine.str());
  check(direct.capacity() == engine.capacity());
  if (!direct.isNil()) {
    size_t nulsIn = 0, nulsOut = 0;
    for (char c : text.substr(static_cast<size_t>(start))) nulsIn += c == '\0';
    for (char c : direct.str()) nulsOut += c == '\0';
    check(nulsOut <= nulsIn || direct.str() == text);
  }
  return 0;
}
