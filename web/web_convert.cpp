// web/web_convert.cpp - plain conversion of document strings (no escape
// decoding), shared by the getters and the decoders.
#include "core/unicode.h"
#include "web/web_data.h"

namespace bw {

Str convertDocumentText(Text text, const cEncoding& from, const cEncoding& to, bool nilIfUnchanged) {
  return convertStringEncoding(text, from, to, text.length(), '?', nilIfUnchanged, false, nullptr, 0);
}

}  // namespace bw
