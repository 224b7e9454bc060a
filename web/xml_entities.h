// web/xml_entities.h - XML escape decoding: the entity map, the escape
// matcher, the decoding table and the writer's escape table.
//
// Document strings keep their escapes; they are decoded only when a getter
// converts them. The XML decoder runs nine search-and-replace rules through
// the translate engine while the text is converted into the target encoding:
// doubly escaped "&amp;lt;" "&amp;gt;" "&amp;quot;" "&amp;nbsp;", CR LF and a
// lone CR made LF, "&...;" entities and character references (the escape
// matcher), "&amp;amp;", and the CDATA markers dropped.
//
// Invariants:
//   1. The entity map is filled once and only read afterwards; it is shared
//      (shared_ptr) by a reader and every root it built.
//   2. Every replacement the escape matcher hands over is in the encoding the
//      conversion writes: UTF-8 bytes for a UTF-8 target (code points that
//      are negative, surrogates or above 0x10FFFF give "?"), the charset's
//      byte, an ASCII approximation or "?" for a single-byte target. So a
//      decoded UTF-8 string is always well-formed where its source was.
//   3. A matcher's context is only shared, immutable data: the entity map
//      and the target encoding of the conversion in progress.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/charset.h"
#include "core/str.h"
#include "core/translate.h"
#include "web/web_data.h"

namespace bw {

// One known entity: its code point and the whole escape, "&name;".
struct EntityName {
  int32_t code;
  const char* entity;
};

// The 254 entities every XML reader knows (HTML 4.01's 252 plus "&apos;"
// and "&vellip;"), in ascending code-point order.
std::span<const EntityName> xmlEntityNames();

// Entity text ("&eacute;") to code point, keys compared exactly.
class EntityMap {
 public:
  // Stores code under entity, replacing an earlier entry of that key.
  void registerEntity(int32_t code, std::string_view entity);
  // The code point, or -1 when the entity is not known.
  int32_t lookup(std::string_view entity) const;
  // lookup("&" + name + ";") without making that key: the escape decoders
  // look a name up where it stands in the text.
  int32_t lookupName(std::string_view name) const {
    if (const int k = predefinedIndex(name); k >= 0) return predefined_[static_cast<size_t>(k)];
    return lookupHashed(name);
  }
  size_t size() const { return order_.size(); }
  // Keys in the order they were first registered.
  const std::vector<std::string>& keys() const { return order_; }

 private:
  // Open addressing over a power-of-two table at most half full: a getter
  // looks up one key per escape it reads, so a lookup is one multiply, a
  // mask and, mostly, one key compare.
  // A slot's key is pool_'s bytes [offset, offset + length), so a compare
  // reads one pool, and a length that differs rejects without reading it.
  struct Slot {
    int32_t key = -1;  // index into order_, -1 when the slot is free
    int32_t code = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
  };
  // The slot holding the key (a whole key or a bare name, see
  // xml_entities.cpp), or the free slot where it belongs.
  template <class Key>
  size_t slotOf(const Key& key) const;
  void grow();
  // The five entities XML itself defines ("lt" "gt" "amp" "quot" "apos")
  // and "nbsp", which most escapes name, are answered without hashing: their
  // codes as registered (-1 until then) sit at their index (-1 for any
  // other name).
  static int predefinedIndex(std::string_view name) {
    switch (name.size()) {
      case 2:
        return name == "lt" ? 0 : name == "gt" ? 1 : -1;
      case 3:
        return name == "amp" ? 2 : -1;
      case 4:
        return name == "quot" ? 3 : name == "apos" ? 4 : name == "nbsp" ? 5 : -1;
      default:
        return -1;
    }
  }
  // lookupName of a name that is not predefined.
  int32_t lookupHashed(std::string_view name) const;
  std::array<int32_t, 6> predefined_{-1, -1, -1, -1, -1, -1};
  std::vector<Slot> slots_;
  std::vector<std::string> order_;
  std::string pool_;  // every key, one after another
};

// The XML and HTML readers register their entities through one procedure.
inline void registerXmlEntity(EntityMap& map, int32_t code, std::string_view entity) {
  map.registerEntity(code, entity);
}
inline void registerHtmlEntity(EntityMap& map, int32_t code, std::string_view entity) {
  map.registerEntity(code, entity);
}

// A map holding the 254 entities of xmlEntityNames().
std::shared_ptr<const EntityMap> makeXmlEntityMap();
// One such map, made on first use and never changed, that every XML reader
// shares (a reader per feed must not cost a map per feed).
const std::shared_ptr<const EntityMap>& sharedXmlEntityMap();

// What the escape rule's context word points at during one conversion.
struct EscapeContext {
  const EntityMap* entities;
  const cEncoding* target;
};

// Decodes one "&...;" escape at the offered "&" (entry.word6 is an
// EscapeContext). Doubled "amp;" after the "&" are skipped; a usable escape
// is a named entity of the map or a "#" decimal / "#x" hexadecimal
// reference, name and ";" at most 20 bytes. A reference to 80..9F gives the
// Windows-1252 character of that byte where it has one. An escape that
// cannot be decoded matches the "&" and the skipped "amp;" and gives "&".
class fXmlEscCodeTranslateMatcher : public fTranslateMatcher {
  BW_CLASS(fXmlEscCodeTranslateMatcher, fTranslateMatcher)

 public:
  TranslateMatch call(Text text, int32_t position, const TranslateEntry& entry) override;
};

// One escape read at the "&" in[s]: the bytes it covers (at least the "&")
// and the code point they stand for ("&" when the escape cannot be decoded).
struct EscapeScan {
  int32_t matchLength;
  int32_t codePoint;
};
EscapeScan scanEscapeAt(std::string_view in, size_t s, const EntityMap& entities);

// Converts text from `from` into `to` while running the entity rules shared
// by the XML and HTML decoders: the doubled escapes "&amp;lt;" "&amp;gt;"
// "&amp;quot;" "&amp;nbsp;" (A0 in the target's encoding), CR LF and a lone
// CR made LF, then "&...;" escapes through `escapes` (its context: entities
// and the target), "&amp;amp;", and with cdataMarkers the markers
// "<![CDATA[" and "]]>" dropped.
// UTF-8 into UTF-8 takes a direct scan (decodeEntityUtf8), every other pair
// the translate engine (decodeEntityTextByEngine); both give the same bytes.
Str decodeEntityText(Text text, const cEncoding& from, const cEncoding& to, bool nilIfUnchanged,
                     fTranslateMatcher& escapes, const EntityMap& entities, bool cdataMarkers);
Str decodeEntityTextByEngine(Text text, const cEncoding& from, const cEncoding& to, bool nilIfUnchanged,
                             fTranslateMatcher& escapes, const EntityMap& entities, bool cdataMarkers);
// The rules over a UTF-8 text (not NIL) into UTF-8 in one pass, without the engine: at each byte the first
// rule of the table that matches there.
Str decodeEntityUtf8(Text text, bool nilIfUnchanged, const EntityMap& entities, bool cdataMarkers);

// The character an XML character reference names ("#65", "#x41"), or -1
// when the name is not one. Numbers past U+10FFFF (however many digits),
// surrogates and the C0 controls XML forbids (0 and all below 20 but tab,
// line feed and carriage return: web/control_chars.h) give U+FFFD; 80..9F
// as scanHtmlReference.
int32_t xmlNumericReference(std::string_view name);

// One HTML character reference read at the "&" in[s] as browsers read it:
// a name of the HTML5 list followed by ";", one of its 106 legacy names
// without ";" (the longest that fits; in an attribute value not when a letter,
// digit or "=" follows it), or "&#" decimal / "&#x" hexadecimal digits with or
// without ";". A surrogate, one past U+10FFFF or a C0 control but tab, line
// feed and carriage return (0 among them) gives U+FFFD; one of 80..9F the
// Windows-1252 character of that byte where it has one.
// length is 0 when no reference starts there: the "&" is text.
struct HtmlReference {
  int32_t length = 0;
  int32_t first = 0;
  int32_t second = 0;  // the few names that stand for two code points; else 0
};
HtmlReference scanHtmlReference(std::string_view in, size_t s, bool inAttribute);
// How many names the HTML5 list holds (with and without ";").
size_t htmlEntityCount();

// The markup an XML element's kept text stands for, in UTF-8 (text is UTF-8,
// as the tree holds it): its escapes decoded once (entities of the map and
// character references; a doubled "&amp;lt;" gives "&lt;"), the contents of
// CDATA sections as they stand but for their line ends: CR LF and a lone CR
// are LF everywhere (a character reference to CR stays CR). So HTML carried
// in either form reaches its reader with its own escapes intact, and reads
// the same in both.
std::string xmlMarkupText(std::string_view text, const EntityMap& entities);

// The XML decoding table's rules, run while converting.
class XmlDecoder : public webDecoder {
 public:
  explicit XmlDecoder(std::shared_ptr<const EntityMap> entities) : entities_(std::move(entities)) {
    copiesPlainUtf8_ = true;
  }
  Str decode(Text text, const cEncoding& from, const cEncoding& to,
             bool nilIfUnchanged) const override;
  // A text without "&", CR or "]" comes back as it stands.
  Str decodePlainUtf8(Text text, const cEncoding& from, const cEncoding& to) const override;
  const EntityMap& entities() const { return *entities_; }

 private:
  std::shared_ptr<const EntityMap> entities_;
};

// Module globals: the shared escape matcher and the writer's escape table
// ("<" "&lt;", ">" "&gt;", "&" "&amp;", "\"" "&quot;", "'" "&apos;", NULL).
// Both are NIL outside initXMLModule .. endXMLModule.
fXmlEscCodeTranslateMatcher* xmlEscCodeMatcher();
const char* const* xmlEscapeTable();
void initXMLModule();
void endXMLModule();

}  // namespace bw
