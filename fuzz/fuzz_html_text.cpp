// fuzz/fuzz_html_text.cpp - HTML-to-text on arbitrary bytes, with and
// without styles and in both trim modes: no crash, well-formed UTF-8 in
// gives well-formed UTF-8 out, no white space at either end, no control
// XML forbids without styles; looksLikeHtml on the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_text_modules.h"
#include "news/html_text.h"
#include "web/control_chars.h"
#include "web/xml_reader.h"

namespace {

struct State {
  bw::fuzzing::TextModules text;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!bw::fuzzing::stateForInput<State>(data) || size < 1) return 0;
  const bool styles = (data[0] & 1) != 0;
  const bool utf8 = (data[0] & 2) != 0;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  text = text.substr(0, text.find('\0'));
  const std::string out(bw::htmlToDisplayText(text, styles, utf8).view());
  if (utf8 && bw::isWellFormedUTF8(text) && !bw::isWellFormedUTF8(out)) std::abort();
  // Without styles no ESC, nor any other control XML forbids, is shown.
  if (!styles && bw::holdsForbiddenControl(out)) std::abort();
  if (!out.empty() && (out.front() == ' ' || out.back() == ' ' || out.front() == '\n' || out.back() == '\n'))
    std::abort();
  (void)bw::looksLikeHtml(text);
  return 0;
}
