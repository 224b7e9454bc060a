// fuzz/fuzz_gui_text.cpp - the GUI host's text procedures on fuzzer bytes:
// the escape parser, prepareText, firstLineOf and the conversions through a
// Latin-1 and a UTF-8 system encoding.
//
// Checks: the parsed text never holds an ESC; a first line holds no line
// feed; every Latin-1 text survives the round trip through UTF-8.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "core/charset.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "gui/host/core/gui_text.h"

namespace {

struct Codecs {
  Codecs() {
    bw::initTranslateEngine();
    bw::initTranslateModule();
    latin = std::make_unique<bw::GuiTextCodec>(bw::encodingFromName("ISO-8859-1", true));
    auto utf = std::make_unique<bw::cEncodingUTF>();
    utf->load("UTF-8");
    utf8 = std::make_unique<bw::GuiTextCodec>(std::move(utf));
  }
  std::unique_ptr<bw::GuiTextCodec> latin, utf8;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Codecs codecs;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (bw::parseGuiText(text).plain().find('\x1b') != std::string_view::npos) std::abort();
  for (char align : {'L', 'C', 'R', 'x'}) {
    bw::Str prepared = bw::prepareText(text, align);
    if (prepared.isNil()) continue;
    bw::Str first = bw::firstLineOf(prepared);
    if (!first.isNil() && first.view().find('\n') != std::string_view::npos) std::abort();
  }
  std::string_view plain = text.substr(0, text.find('\0'));
  if (!plain.empty() && codecs.latin->fromUtf8(codecs.latin->toUtf8(plain)).view() != plain) std::abort();
  codecs.utf8->fromUtf8(codecs.utf8->toUtf8(text));
  return 0;
}
