// fuzz/fuzz_html_text.cpp - HTML-to-text on arbitrary bytes against the
// sequential reference of the rules (texts without pictures), with and
// without styles and in both trim modes; looksLikeHtml on the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_text_modules.h"
#include "news/html_text.h"
#include "news/html_text_reference_test_support.h"

namespace {

struct State {
  bw::fuzzing::TextModules text;
  State() { bw::initNewsTextModule(); }
  ~State() { bw::endNewsTextModule(); }
};

bool holdsPicture(const std::string& s) {
  for (size_t i = 0; i + 3 <= s.size(); ++i) {
    if ((s[i] | 0x20) == 'i' && (s[i + 1] | 0x20) == 'm' && (s[i + 2] | 0x20) == 'g') return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bw::fuzzing::stateForInput<State>(data) || size < 1) return 0;
  const bool styles = (data[0] & 1) != 0;
  const bool utf8 = (data[0] & 2) != 0;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  text = text.substr(0, text.find('\0'));
  bw::Str out = bw::htmlToDisplayText(text, styles, utf8);
  if (!holdsPicture(text) && out.str() != bw::testing_news::referenceDisplayText(text, styles, utf8)) std::abort();
  (void)bw::looksLikeHtml(text);
  return 0;
}
