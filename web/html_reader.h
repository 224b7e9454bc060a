// web/html_reader.h - pHTML, the tolerant HTML reader of feed discovery, and
// htmlDataRoot, the root its nodes refer to.
//
// Web pages are rarely well-formed, so they are not parsed as a whole: the
// caller picks a position (at a "<"), html_nextTagAndText reads that one tag
// and the text after it, and html_parseTag turns the tag into a single
// webDataNode with its attributes. The nodes are not linked to each other
// nor to the root's list; they refer to an htmlDataRoot, whose decoder
// decodes the HTML entities (the 254 names of the XML reader, "&#65;" and
// "&#x41;") and doubly escaped forms when a getter reads a value.
//
// Invariants:
//   1. Every position handed in is checked against the text: nothing before
//      its start or past its first NUL is read.
//   2. In quiet mode a malformed tag yields NIL (and, for
//      html_nextTagAndText, the next position to try, -1 when there is
//      none); without it the "HTML" error is raised. "BUG" and "EMU" always
//      pass.
//   3. An "HTML" error passing tagNextToken first prints
//      "pHTML; tagNextToken(); tag=\"%s\", pos=%ld\n" on the standard output,
//      quiet mode or not.
//   4. The root's decoder is shared, immutable data; replacements are written
//      in the encoding the getter converts into (UTF-8 bytes for a UTF-8
//      target, so "&amp;nbsp;" gives C2 A0 there and the byte A0 in a
//      single-byte charset).
//   5. A node holds no C0 control XML 1.0 forbids: each one of the tag or
//      the text after it reads as U+FFFD, and a character reference to one
//      decodes to U+FFFD (web/control_chars.h).
#pragma once

#include <cstdint>
#include <memory>

#include "core/charset.h"
#include "core/str.h"
#include "core/translate.h"
#include "web/web_data.h"
#include "web/xml_entities.h"

namespace bw {

// Decodes one "&...;" escape as the XML escape matcher does; entry.word6 is
// an EscapeContext holding the root's entities and the conversion's target.
class fHtmlEscCodeTranslateMatcher : public fTranslateMatcher {
  BW_CLASS(fHtmlEscCodeTranslateMatcher, fTranslateMatcher)

 public:
  TranslateMatch call(Text text, int32_t position, const TranslateEntry& entry) override;

 private:
  fXmlEscCodeTranslateMatcher escapes_;
};

// The HTML decoding table: the XML rules (decodeEntityText) without the
// CDATA markers.
class HtmlDecoder : public webDecoder {
 public:
  explicit HtmlDecoder(std::shared_ptr<const EntityMap> entities) : entities_(std::move(entities)) {}
  Str decode(Text text, const cEncoding& from, const cEncoding& to, bool nilIfUnchanged) const override;
  const EntityMap& entities() const { return *entities_; }

 private:
  std::shared_ptr<const EntityMap> entities_;
};

class htmlDataRoot : public webDataRoot {
  BW_CLASS(htmlDataRoot, webDataRoot)

 public:
  // Registers the 254 entities and builds the decoding table; the encoding
  // and charset come with setContents (createHTMLroot).
  htmlDataRoot();

  const EntityMap& infoEntities() const { return *entities_; }
  const std::shared_ptr<const HtmlDecoder>& infoDecodeTable() const { return decodeTable_; }

 private:
  std::shared_ptr<EntityMap> entities_;
  std::shared_ptr<const HtmlDecoder> decodeTable_;
};

// A new root reading UTF-8 documents into systemCharset (a loaded encoding)
// by default. Raises "BUG" "createHTMLroot(); failed to create
// systemCharset" when systemCharset is not loaded.
std::unique_ptr<htmlDataRoot> createHTMLroot(Str encodingName, Str declaredEncodingName,
                                             const cEncoding& systemCharset);
// The same with the system encoding (newSystemEncoding()).
std::unique_ptr<htmlDataRoot> createHTMLroot(Str encodingName, Str declaredEncodingName);

struct HtmlTagAndText {
  Str tag;               // between "<" and ">"; "" at the end of the text; NIL: no tag
  Str text;              // up to the next "<" or the end; NIL when there is no tag
  int64_t position = 0;  // the next position; -1 when there is none
};

struct HtmlToken {
  Str token;             // NIL at the end of the tag
  int32_t position = 0;  // after the token and the white space behind it
};

struct HtmlAttribute {
  Str name;   // "" at the end of the tag
  Str value;  // without its quotes; NIL when the token has no "="
  int32_t position = 0;
};

struct HtmlParsedTag {
  std::unique_ptr<webDataNode> node;  // NIL for a closing tag, an empty tag or a quiet failure
  bool closes = false;                // a closing tag, a self-closing element or a comment
};

void initHTMLModule();
void endHTMLModule();
// NIL outside initHTMLModule .. endHTMLModule.
fHtmlEscCodeTranslateMatcher* htmlEscCodeMatcher();

namespace pHTML {

// Reads the tag at position (a "<" or the end of html) and the text after
// it. A position outside 0 .. the text's length raises "EMU"
// "pHTML; html_nextTagAndText(); position out of range". At offset 0 any
// other byte gives no tag, the next position being the next "<" (or the
// end); beyond offset 0 it raises "BUG".
HtmlTagAndText html_nextTagAndText(Text html, int64_t position, bool quiet);

// Turns a tag's inside into a node referring to root; the node takes over
// textAfter (freed when no node is made). tagText stays the caller's.
HtmlParsedTag html_parseTag(Text tagText, htmlDataRoot* root, Str textAfter, bool quiet);

// The next attribute of a tag (the tag name at position 0).
HtmlAttribute html_tagNextAttribute(Text tagText, int32_t position, bool quiet);

// The next token of a tag: "=", a quoted string with its quotes, or a word.
HtmlToken tagNextToken(Text tagText, int32_t position);

}  // namespace pHTML

}  // namespace bw
