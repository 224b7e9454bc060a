// web/xml_reader.h - cXML, the tolerant XML reader (RSS, Atom, OPML).
//
// A reader is made once and reused: open() checks the prolog, settles the
// encoding (a document labelled Latin-1 holding bytes 80..9F, or US-ASCII
// holding any byte above 7F, or a "UTF-8" one without a single multi-byte
// sequence that is not well-formed UTF-8, is read as "Windows-1252"; in a
// UTF-8 one with multi-byte sequences only the stray bytes are; UTF-16 and
// UTF-32, by byte-order mark or by the zero bytes of their first character,
// and multi-byte encodings such as Shift_JIS or GBK go through the system's
// converter first; a label nothing here knows fails with "the feed's
// encoding X is not supported"), converts the whole text to UTF-8 once
// when needed and stands at the first element;
// parseDocument() builds the tree; close() forgets the document. No DTDs, no
// namespace resolution (prefixes stay as written), no escape decoding while
// parsing: the tree's getters decode through the reader's decoder.
//
// Invariants:
//   1. Reading is bounded by the first NUL and by the length given to
//      open(), whichever comes first; a NUL followed by anything but NULs
//      within the length refuses the document ("NUL byte at line L"), as
//      does a document of nothing but white space ("the document is empty").
//      White space and comments may stand before the declaration or root.
//   2. Between steps `position` stands at a "<" or at the end of the text.
//   3. "XML" exceptions never leave open() or parseDocument(): they become
//      FALSE / a NIL root with lastError() holding the message. Every other
//      code passes through after the partial tree has been freed.
//   4. A byte-order mark is never converted: the text behind it is, and the
//      mark's three bytes stay in front so every offset stays valid. The
//      position just behind the mark counts as the start of the text.
//   5. Roots share the reader's decoder (and with it the entity map), so
//      they stay readable after the reader ends.
//   6. No string of the tree holds a C0 control XML 1.0 forbids (all but
//      tab, line feed and carriage return): each one the document holds
//      reads as U+FFFD, and a character reference to one decodes to U+FFFD
//      (web/control_chars.h). The document is not refused for them.
//   7. The document is read with its line ends normalised, as XML reads
//      them: each CR LF and each lone CR is a LF before anything is parsed,
//      so no tag, text, CDATA section or attribute of the tree holds a CR
//      of the document (a character reference "&#13;" still decodes to CR).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/charset.h"
#include "core/str.h"
#include "web/web_data.h"
#include "web/web_format.h"
#include "web/xml_entities.h"

namespace bw {

struct XmlTagAndText {
  Str tag;   // NIL when there was no tag; "" at the end of the text
  Str text;
};

struct XmlToken {
  Str token;  // NIL at the end of the tag
  int32_t position = 0;
};

struct XmlAttribute {
  Str name;   // "" at the end of the tag
  Str value;  // NIL for a bare name
  int32_t position = 0;
};

struct XmlParseResult {
  std::unique_ptr<webDataRoot> root;  // NIL on malformed XML
  Str message;                        // NIL on success
};

class cXML : public webDataFormat {
  BW_CLASS(cXML, webDataFormat)

 public:
  // Default target of conversions: a clone of systemCharset. Raises "BUG"
  // "cXML.new(); failed to create systemCharset" when it is not a loaded
  // encoding.
  explicit cXML(const cEncoding& systemCharset);
  // The same with the system encoding (newSystemEncoding()).
  cXML();
  ~cXML() override;
  cXML(const cXML&) = delete;
  cXML& operator=(const cXML&) = delete;

  // TRUE when the prolog was accepted and the reader stands at the first
  // element; FALSE on malformed XML (reader closed, line recorded). The
  // buffer must stay unchanged until close().
  bool open(const char* buffer, int32_t length);
  XmlParseResult parseDocument();
  void close();

  // The next tag's inside and the text after it (see the .cpp for the rules).
  XmlTagAndText nextTagAndText(bool mayFail);
  const Str& infoVersion() const { return version_; }
  const Str& infoEncodingName() const { return encodingName_; }
  const Str& infoDeclaredEncodingName() const { return declaredEncodingName_; }
  int32_t infoLineNumber() override;
  Str convertText(Text text, const cEncoding* charset, bool noDecode, bool nilIfUnchanged) override;
  // The charset the server named in its Content-Type ("" for none): a
  // document without a byte-order mark or an encoding declaration that is
  // not well-formed UTF-8 is read in it. Holds for every later open().
  void setTransportCharset(std::string_view charset) { transportCharset_ = charset; }
  // The message of the last "XML" failure of open() or parseDocument().
  const std::string& lastError() const { return lastError_; }
  bool isOpen() const { return text_ != nullptr; }
  const cEncoding& infoSystemCharset() const { return *systemCharset_; }
  const cEncoding* infoDefaultCharset() const override { return systemCharset_.get(); }
  const std::shared_ptr<const XmlDecoder>& infoDecoder() const { return decodeTable_; }

 private:
  struct TagView {
    bool found = false;
    std::string_view tag;
    std::string_view text;
    // The text holds no "&", CR or "]" (so no CDATA section either): the
    // decoder has nothing to do in it.
    bool plainText = false;
  };
  TagView nextTag(bool mayFail);
  // A failed tag's reason in a message: "where(); malformed XML, " and the
  // words of the last failure nextTag met, else fallback as it stands.
  std::string tagFailureMessage(const char* where, const char* fallback) const;
  // A tag's first name: "!--" for every comment, whatever it holds.
  std::string_view firstTagName(std::string_view tag) const;
  char at(int32_t i) const { return i < length_ ? text_[i] : '\0'; }
  void openSteps();
  // Makes each CR LF and each lone CR of the text a LF (invariant 7); the
  // text is copied only when it holds a CR.
  void normaliseLineEnds();
  void replaceByWindows1252();
  // Settles the encoding the text is read in once the prolog is read:
  // Latin-1 labels, labels of wide or multi-byte encodings (the text then
  // converted as a whole: start moves with it, and true asks the caller to
  // read the first tag again) and the server's charset.
  bool settleEncoding(bool declared, int32_t& start);
  // The text becomes the byte-order mark (if any) followed by converted.
  void adoptConvertedText(std::string_view converted);
  // In a UTF-8 text, every C0 control XML forbids becomes U+FFFD; start
  // and the position move with the text.
  void replaceForbiddenControls(int32_t& start);
  void convertDocument();
  // The end of the text: tag scanning may read up to here.
  const char* textEnd() const { return text_ + length_; }
  // A string of the document as the tree holds it: in a single-byte
  // document read where it stands, the bytes above 7F converted to UTF-8.
  Str documentStr(std::string_view raw) const;
  // The same as a view: raw itself, or its conversion written into scratch.
  std::string_view documentView(std::string_view raw, std::string& scratch) const;
  size_t expandInto(std::string& out, std::string_view raw, const char* high) const;
  // True when the tag's first name, converted, starts with "?".
  bool opensInstruction(std::string_view name) const;
  // The UTF-8 text of each byte of a single-byte charset (sizes[b] bytes
  // of bytes[b]).
  struct ByteExpansion {
    std::array<std::array<char, 4>, 256> bytes{};
    std::array<uint8_t, 256> sizes{};
  };
  static std::unique_ptr<ByteExpansion> byteExpansion(const cEncoding& from, const cEncoding& utf8);

  const char* text_ = nullptr;
  int32_t length_ = 0;  // bytes before the NUL / the given length
  int32_t position_ = 0;
  int32_t lineNumber_ = -1;
  int32_t markLength_ = 0;  // 3 after a byte-order mark
  // Whether the buffer open() was given is well-formed UTF-8 up to its end
  // (found while its NUL was searched).
  bool wellFormedUtf8_ = false;
  std::string convertedText_;
  // A UTF-16 or UTF-32 document (known by its byte-order mark or by the
  // zero bytes around its first "<") converted to UTF-8 before it is read,
  // and the encoding it was in.
  std::string wideText_;
  std::string wideEncoding_;
  // The charset the server named for the next documents ("" for none).
  std::string transportCharset_;
  // Set while a single-byte document is read where it stands: its strings
  // are converted one by one as the tree takes them, not the whole text
  // first (no second copy of the document).
  std::unique_ptr<ByteExpansion> expansion_;
  Str version_;
  Str encodingName_;
  Str declaredEncodingName_;
  std::unique_ptr<cEncoding> encoding_;
  std::unique_ptr<cEncoding> systemCharset_;
  std::unique_ptr<cEncoding> utf8Encoding_;
  std::shared_ptr<const XmlDecoder> decodeTable_;
  std::string lastError_;
  // Why the last tag nextTag could not read failed (NIL when it was read).
  const char* tagFailure_ = nullptr;
};

// The next token of a tag's inside at position and the position after it
// and the white space that follows.
XmlToken tagNextToken(Text tag, int32_t position);
// The next attribute: name, value (without quotes) and the position after.
XmlAttribute tagNextAttribute(Text tag, int32_t position);

// True when text is well-formed UTF-8 (Unicode Table 3-7).
bool isWellFormedUTF8(std::string_view text);

}  // namespace bw
