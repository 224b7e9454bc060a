// web/web_format.h - webDataFormat, the base of the document readers.
#pragma once

#include <cstdint>

#include "core/charset.h"
#include "core/object.h"
#include "core/str.h"

namespace bw {

class webDataFormat : public class_base {
  BW_CLASS(webDataFormat, class_base)

 public:
  // Converts a string of the document being read into charset (NIL: the
  // reader's default), decoding escapes unless noDecode; with
  // nilIfUnchanged, NIL when the text would come back unchanged.
  virtual Str convertText(Text text, const cEncoding* charset, bool noDecode, bool nilIfUnchanged) {
    (void)text, (void)charset, (void)noDecode, (void)nilIfUnchanged;
    return Str();
  }
  // The line of the document the reader is at, for messages.
  virtual int32_t infoLineNumber() { return 0; }
  // The encoding convertText writes into for a NIL charset; NIL when the
  // reader converts nothing.
  virtual const cEncoding* infoDefaultCharset() const { return nullptr; }
};

}  // namespace bw
