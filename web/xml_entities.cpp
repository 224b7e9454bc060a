// web/xml_entities.cpp - the entity names, the escape matcher, the XML
// decoding table and the module's globals.
#include "web/xml_entities.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/exception.h"
#include "core/string_procs.h"
#include "core/unicode.h"
#include "core/unicode_to_text.h"
#include "core/utf8.h"
#include "web/byte_scan.h"

namespace bw {

namespace {

constexpr EntityName kEntities[] = {
    {34, "&quot;"}, {38, "&amp;"}, {39, "&apos;"}, {60, "&lt;"}, {62, "&gt;"}, {160, "&nbsp;"},
    {161, "&iexcl;"}, {162, "&cent;"}, {163, "&pound;"}, {164, "&curren;"}, {165, "&yen;"},
    {166, "&brvbar;"}, {167, "&sect;"}, {168, "&uml;"}, {169, "&copy;"}, {170, "&ordf;"},
    {171, "&laquo;"}, {172, "&not;"}, {173, "&shy;"}, {174, "&reg;"}, {175, "&macr;"},
    {176, "&deg;"}, {177, "&plusmn;"}, {178, "&sup2;"}, {179, "&sup3;"}, {180, "&acute;"},
    {181, "&micro;"}, {182, "&para;"}, {183, "&middot;"}, {184, "&cedil;"}, {185, "&sup1;"},
    {186, "&ordm;"}, {187, "&raquo;"}, {188, "&frac14;"}, {189, "&frac12;"}, {190, "&frac34;"},
    {191, "&iquest;"}, {192, "&Agrave;"}, {193, "&Aacute;"}, {194, "&Acirc;"},
    {195, "&Atilde;"}, {196, "&Auml;"}, {197, "&Aring;"}, {198, "&AElig;"}, {199, "&Ccedil;"},
    {200, "&Egrave;"}, {201, "&Eacute;"}, {202, "&Ecirc;"}, {203, "&Euml;"}, {204, "&Igrave;"},
    {205, "&Iacute;"}, {206, "&Icirc;"}, {207, "&Iuml;"}, {208, "&ETH;"}, {209, "&Ntilde;"},
    {210, "&Ograve;"}, {211, "&Oacute;"}, {212, "&Ocirc;"}, {213, "&Otilde;"}, {214, "&Ouml;"},
    {215, "&times;"}, {216, "&Oslash;"}, {217, "&Ugrave;"}, {218, "&Uacute;"}, {219, "&Ucirc;"},
    {220, "&Uuml;"}, {221, "&Yacute;"}, {222, "&THORN;"}, {223, "&szlig;"}, {224, "&agrave;"},
    {225, "&aacute;"}, {226, "&acirc;"}, {227, "&atilde;"}, {228, "&auml;"}, {229, "&aring;"},
    {230, "&aelig;"}, {231, "&ccedil;"}, {232, "&egrave;"}, {233, "&eacute;"}, {234, "&ecirc;"},
    {235, "&euml;"}, {236, "&igrave;"}, {237, "&iacute;"}, {238, "&icirc;"}, {239, "&iuml;"},
    {240, "&eth;"}, {241, "&ntilde;"}, {242, "&ograve;"}, {243, "&oacute;"}, {244, "&ocirc;"},
    {245, "&otilde;"}, {246, "&ouml;"}, {247, "&divide;"}, {248, "&oslash;"}, {249, "&ugrave;"},
    {250, "&uacute;"}, {251, "&ucirc;"}, {252, "&uuml;"}, {253, "&yacute;"}, {254, "&thorn;"},
    {255, "&yuml;"}, {338, "&OElig;"}, {339, "&oelig;"}, {352, "&Scaron;"}, {353, "&scaron;"},
    {376, "&Yuml;"}, {402, "&fnof;"}, {710, "&circ;"}, {732, "&tilde;"}, {913, "&Alpha;"},
    {914, "&Beta;"}, {915, "&Gamma;"}, {916, "&Delta;"}, {917, "&Epsilon;"}, {918, "&Zeta;"},
    {919, "&Eta;"}, {920, "&Theta;"}, {921, "&Iota;"}, {922, "&Kappa;"}, {923, "&Lambda;"},
    {924, "&Mu;"}, {925, "&Nu;"}, {926, "&Xi;"}, {927, "&Omicron;"}, {928, "&Pi;"},
    {929, "&Rho;"}, {931, "&Sigma;"}, {932, "&Tau;"}, {933, "&Upsilon;"}, {934, "&Phi;"},
    {935, "&Chi;"}, {936, "&Psi;"}, {937, "&Omega;"}, {945, "&alpha;"}, {946, "&beta;"},
    {947, "&gamma;"}, {948, "&delta;"}, {949, "&epsilon;"}, {950, "&zeta;"}, {951, "&eta;"},
    {952, "&theta;"}, {953, "&iota;"}, {954, "&kappa;"}, {955, "&lambda;"}, {956, "&mu;"},
    {957, "&nu;"}, {958, "&xi;"}, {959, "&omicron;"}, {960, "&pi;"}, {961, "&rho;"},
    {962, "&sigmaf;"}, {963, "&sigma;"}, {964, "&tau;"}, {965, "&upsilon;"}, {966, "&phi;"},
    {967, "&chi;"}, {968, "&psi;"}, {969, "&omega;"}, {977, "&thetasym;"}, {978, "&upsih;"},
    {982, "&piv;"}, {8194, "&ensp;"}, {8195, "&emsp;"}, {8201, "&thinsp;"}, {8204, "&zwnj;"},
    {8205, "&zwj;"}, {8206, "&lrm;"}, {8207, "&rlm;"}, {8211, "&ndash;"}, {8212, "&mdash;"},
    {8216, "&lsquo;"}, {8217, "&rsquo;"}, {8218, "&sbquo;"}, {8220, "&ldquo;"},
    {8221, "&rdquo;"}, {8222, "&bdquo;"}, {8224, "&dagger;"}, {8225, "&Dagger;"},
    {8226, "&bull;"}, {8230, "&hellip;"}, {8240, "&permil;"}, {8242, "&prime;"},
    {8243, "&Prime;"}, {8249, "&lsaquo;"}, {8250, "&rsaquo;"}, {8254, "&oline;"},
    {8260, "&frasl;"}, {8364, "&euro;"}, {8465, "&image;"}, {8472, "&weierp;"},
    {8476, "&real;"}, {8482, "&trade;"}, {8501, "&alefsym;"}, {8592, "&larr;"},
    {8593, "&uarr;"}, {8594, "&rarr;"}, {8595, "&darr;"}, {8596, "&harr;"}, {8629, "&crarr;"},
    {8656, "&lArr;"}, {8657, "&uArr;"}, {8658, "&rArr;"}, {8659, "&dArr;"}, {8660, "&hArr;"},
    {8704, "&forall;"}, {8706, "&part;"}, {8707, "&exist;"}, {8709, "&empty;"},
    {8711, "&nabla;"}, {8712, "&isin;"}, {8713, "&notin;"}, {8715, "&ni;"}, {8719, "&prod;"},
    {8721, "&sum;"}, {8722, "&minus;"}, {8727, "&lowast;"}, {8730, "&radic;"}, {8733, "&prop;"},
    {8734, "&infin;"}, {8736, "&ang;"}, {8743, "&and;"}, {8744, "&or;"}, {8745, "&cap;"},
    {8746, "&cup;"}, {8747, "&int;"}, {8756, "&there4;"}, {8764, "&sim;"}, {8773, "&cong;"},
    {8776, "&asymp;"}, {8800, "&ne;"}, {8801, "&equiv;"}, {8804, "&le;"}, {8805, "&ge;"},
    {8834, "&sub;"}, {8835, "&sup;"}, {8836, "&nsub;"}, {8838, "&sube;"}, {8839, "&supe;"},
    {8853, "&oplus;"}, {8855, "&otimes;"}, {8869, "&perp;"}, {8901, "&sdot;"},
    {8942, "&vellip;"}, {8968, "&lceil;"}, {8969, "&rceil;"}, {8970, "&lfloor;"},
    {8971, "&rfloor;"}, {9001, "&lang;"}, {9002, "&rang;"}, {9674, "&loz;"}, {9824, "&spades;"},
    {9827, "&clubs;"}, {9829, "&hearts;"}, {9830, "&diams;"},
};
static_assert(std::size(kEntities) == 254);

// An escape's name and ";" may take at most this many bytes.
constexpr int32_t kMaxEscapeName = 20;

constexpr char kWriterEscapes[][7] = {"<", "&lt;", ">", "&gt;", "&", "&amp;", "\"", "&quot;", "'", "&apos;"};
constexpr const char* kEscapeTable[] = {kWriterEscapes[0], kWriterEscapes[1], kWriterEscapes[2],
                                        kWriterEscapes[3], kWriterEscapes[4], kWriterEscapes[5],
                                        kWriterEscapes[6], kWriterEscapes[7], kWriterEscapes[8],
                                        kWriterEscapes[9], nullptr};

std::unique_ptr<fXmlEscCodeTranslateMatcher> gEscCodeMatcher;
const char* const* gEscapeTable = nullptr;

// The code point as text of the target encoding, handed over as a new string.
Str codePointText(int32_t code, const cEncoding& target) {
  return unicodeToEncodingText(code, target, "?", false).toStr();
}

// A key of the map as given ("&eacute;").
struct WholeKey {
  std::string_view text;
  size_t size() const { return text.size(); }
  uint64_t at(size_t i) const { return static_cast<unsigned char>(text[i]); }
  bool equals(const char* key) const { return std::memcmp(key, text.data(), text.size()) == 0; }
};

// A key given by its name alone ("eacute" for "&eacute;"), as it stands in
// the text being decoded.
struct NameKey {
  std::string_view name;
  size_t size() const { return name.size() + 2; }
  uint64_t at(size_t i) const {
    return i == 0 ? '&' : i <= name.size() ? static_cast<unsigned char>(name[i - 1]) : ';';
  }
  bool equals(const char* key) const {
    return key[0] == '&' && key[name.size() + 1] == ';' && std::memcmp(key + 1, name.data(), name.size()) == 0;
  }
};

// Entity names are short and differ mostly in their first and last letters,
// so the length and the three bytes inside each end ("&" and ";" aside) make
// the hash (multiplicative: the table takes its high bits).
template <class Key>
uint64_t entityHash(const Key& key) {
  const size_t n = key.size();
  auto at = [&](size_t i) -> uint64_t { return i < n ? key.at(i) : 0; };
  const uint64_t x = n | at(1) << 8 | at(2) << 16 | at(3) << 24 | (n >= 2 ? at(n - 2) << 32 : 0) |
                     (n >= 3 ? at(n - 3) << 40 : 0) | (n >= 4 ? at(n - 4) << 48 : 0);
  return x * 0x9E3779B97F4A7C15ull;
}

}  // namespace

std::span<const EntityName> xmlEntityNames() { return kEntities; }

template <class Key>
size_t EntityMap::slotOf(const Key& key) const {
  const size_t mask = slots_.size() - 1;
  const int shift = 64 - std::countr_zero(slots_.size());
  for (size_t i = static_cast<size_t>(entityHash(key) >> shift);; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.key < 0 || (slot.length == key.size() && key.equals(pool_.data() + slot.offset))) return i;
  }
}

void EntityMap::grow() {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(old.empty() ? 512 : 2 * old.size(), Slot{});
  for (const Slot& slot : old) {
    if (slot.key >= 0) slots_[slotOf(WholeKey{order_[static_cast<size_t>(slot.key)]})] = slot;
  }
}

void EntityMap::registerEntity(int32_t code, std::string_view entity) {
  if (entity.size() > 2 && entity.front() == '&' && entity.back() == ';') {
    if (const int k = predefinedIndex(entity.substr(1, entity.size() - 2)); k >= 0) {
      predefined_[static_cast<size_t>(k)] = code;
    }
  }
  if (2 * (order_.size() + 1) > slots_.size()) grow();
  Slot& slot = slots_[slotOf(WholeKey{entity})];
  if (slot.key < 0) {
    slot.key = static_cast<int32_t>(order_.size());
    slot.offset = static_cast<uint32_t>(pool_.size());
    slot.length = static_cast<uint32_t>(entity.size());
    order_.emplace_back(entity);
    pool_.append(entity);
  }
  slot.code = code;
}

int32_t EntityMap::lookup(std::string_view entity) const {
  if (slots_.empty()) return -1;
  const Slot& slot = slots_[slotOf(WholeKey{entity})];
  return slot.key < 0 ? -1 : slot.code;
}

int32_t EntityMap::lookupHashed(std::string_view name) const {
  if (slots_.empty()) return -1;
  const Slot& slot = slots_[slotOf(NameKey{name})];
  return slot.key < 0 ? -1 : slot.code;
}

std::shared_ptr<const EntityMap> makeXmlEntityMap() {
  auto map = std::make_shared<EntityMap>();
  for (const EntityName& e : kEntities) registerXmlEntity(*map, e.code, e.entity);
  return map;
}

const std::shared_ptr<const EntityMap>& sharedXmlEntityMap() {
  static const std::shared_ptr<const EntityMap> shared = makeXmlEntityMap();
  return shared;
}

EscapeScan scanEscapeAt(std::string_view in, size_t s, const EntityMap& entities) {
  // Only the bytes near the "&" are looked at, so no measuring of the whole
  // text per escape.
  // Doubled escapes: "&amp;amp;lt;" names lt.
  size_t nameStart = s + 1;
  auto ampAt = [&](size_t k) {
    return k + 4 <= in.size() && in[k] == 'a' && in[k + 1] == 'm' && in[k + 2] == 'p' && in[k + 3] == ';';
  };
  while (ampAt(nameStart)) nameStart += 4;

  // An escape that cannot be decoded: the "&" with any "amp;" after it
  // becomes "&" and the rest stays. The "&" alone matches too, so the escapes
  // after it in the string still decode.
  auto ampersandOnly = [&]() -> EscapeScan { return {static_cast<int32_t>(nameStart - s), '&'}; };

  std::string_view window = in.substr(nameStart, kMaxEscapeName);
  // The first ";" within the window and before any NUL.
  size_t semi = std::string_view::npos;
  for (size_t k = 0; k < window.size() && window[k] != '\0'; ++k) {
    if (window[k] == ';') {
      semi = k;
      break;
    }
  }
  if (semi == std::string_view::npos) return ampersandOnly();
  std::string_view name = window.substr(0, semi);

  int32_t code = -1;
  if (!name.empty() && name[0] == '#') {
    code = xmlNumericReference(name);
    if (code == -1) return ampersandOnly();
  } else {
    code = entities.lookupName(name);
    if (code == -1) return ampersandOnly();
  }
  return {static_cast<int32_t>(nameStart + semi + 1 - s), code};
}

TranslateMatch fXmlEscCodeTranslateMatcher::call(Text text, int32_t position,
                                                 const TranslateEntry& entry) {
  const auto* context = static_cast<const EscapeContext*>(entry.word6);
  std::string_view in = text.view();
  const size_t s = static_cast<size_t>(position);
  if (!context || s >= in.size() || in[s] != '&') return {};
  EscapeScan e = scanEscapeAt(in, s, *context->entities);
  Str replacement = codePointText(e.codePoint, *context->target);
  int32_t length = replacement.length();
  return {position, e.matchLength, length, std::move(replacement)};
}

Str decodeEntityText(Text text, const cEncoding& from, const cEncoding& to, bool nilIfUnchanged,
                     fTranslateMatcher& escapes, const EntityMap& entities, bool cdataMarkers) {
  if (!text.isNil() && isUtf8Document(from) && isUtf8Document(to)) {
    return decodeEntityUtf8(text, nilIfUnchanged, entities, cdataMarkers);
  }
  return decodeEntityTextByEngine(text, from, to, nilIfUnchanged, escapes, entities, cdataMarkers);
}

Str decodeEntityUtf8(Text text, bool nilIfUnchanged, const EntityMap& entities, bool cdataMarkers) {
  const std::string_view all = text.view();
  // No rule makes its text longer, so the output fits in the input's size;
  // kSlack more let a short run be copied as one block of that size.
  constexpr size_t kSlack = 16;
  std::string out;
  char* w = nullptr;
  const char* const end = all.data() + all.size();
  auto copyRun = [&](const char* from, size_t n) {
    if (n <= kSlack && from + kSlack <= end) {
      std::memcpy(w, from, kSlack);  // one fixed-size copy, no call
    } else {
      std::memcpy(w, from, n);
    }
    w += n;
  };
  // On to the next byte that may start a rule: "&", CR, "]" of "]]>" and
  // the "!" of "<![CDATA[" (markup in a CDATA section has many "<" but few
  // "!"); or the NUL that ends the search (no rule spans one).
  auto nextStop = [&](size_t i) {
    return static_cast<size_t>(findAnyOf<'&', '\r', '!', ']', '\0'>(all.data() + i, end) - all.data());
  };
  size_t copied = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    i = nextStop(i);
    if (i == all.size() || all[i] == '\0') break;
    // No match covers a "<" (an escape that decodes holds none), so the "<"
    // in front of a "!" is still to be read.
    if (all[i] == '!') {
      if (!cdataMarkers || i == copied || all.compare(i - 1, 9, "<![CDATA[") != 0) continue;
      --i;
    }
    // The rules in table order; the first that matches here wins. The
    // replacement is a code point or a few fixed bytes, written straight
    // into the output (a byte buffer read back as one word would wait for
    // its byte stores at every escape).
    std::string_view rest = all.substr(i);
    size_t length = 0;
    int32_t code = -1;
    std::string_view bytes = "";
    if (rest[0] == '&') {
      // The doubled escapes all start "&amp;".
      const std::string_view doubled = rest.size() > 5 && rest.compare(1, 4, "amp;") == 0 ? rest.substr(5) : "";
      if (doubled.starts_with("lt;")) {
        length = 8, bytes = "<";
      } else if (doubled.starts_with("gt;")) {
        length = 8, bytes = ">";
      } else if (doubled.starts_with("quot;")) {
        length = 10, bytes = "\"";
      } else if (doubled.starts_with("nbsp;")) {
        length = 10, bytes = "\xC2\xA0";
      } else {
        // "&lt;" "&gt;" "&quot;" "&apos;" "&nbsp;", most of a text's escapes, as
        // scanEscapeAt reads them (their name is the whole window up to the
        // ";"), without its window; anything else, and a map without them,
        // through it.
        EscapeScan e{0, -1};
        if (rest.size() >= 4 && rest[3] == ';' && rest[2] == 't' && (rest[1] == 'l' || rest[1] == 'g')) {
          e = {4, entities.lookupName(rest.substr(1, 2))};
        } else if (rest.size() >= 6 && rest[5] == ';' &&
                   (rest.compare(1, 4, "quot") == 0 || rest.compare(1, 4, "apos") == 0 || rest.compare(1, 4, "nbsp") == 0)) {
          e = {6, entities.lookupName(rest.substr(1, 4))};
        }
        if (e.codePoint < 0) e = scanEscapeAt(all, i, entities);
        length = static_cast<size_t>(e.matchLength);
        // As unicodeToUTF8Text with "?": no NUL, surrogate or value beyond
        // Unicode is written.
        code = e.codePoint;
        if (code < 1 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = '?';
      }
    } else if (rest[0] == '\r') {
      length = rest.starts_with("\r\n") ? 2 : 1, bytes = "\n";
    } else if (cdataMarkers && (rest.starts_with("<![CDATA[") || rest.starts_with("]]>"))) {
      length = rest[0] == '<' ? 9 : 3;
    }
    if (length == 0) continue;
    const size_t replacementSize =
        code < 0 ? bytes.size() : code < 0x80 ? 1 : code < 0x800 ? 2 : code < 0x10000 ? 3 : 4;
    if (replacementSize > length) raise("BUG", "decodeEntityUtf8(); replacement longer than its escape");
    if (!w) {
      out.resize(all.size() + kSlack);
      w = out.data();
    }
    copyRun(all.data() + copied, i - copied);
    if (code < 0) {
      std::memcpy(w, bytes.data(), bytes.size());
    } else if (code < 0x80) {
      *w = static_cast<char>(code);  // "&lt;" "&amp;" "&quot;" ...
    } else {
      convertUnicodeCharaToUTF8(code, w);
    }
    w += replacementSize;
    copied = i + length;
    i = copied - 1;
  }
  if (!w) return nilIfUnchanged ? Str() : all.empty() ? Str::withCapacity(0) : Str(all);
  copyRun(all.data() + copied, all.size() - copied);
  out.resize(static_cast<size_t>(w - out.data()));
  const auto size = static_cast<int32_t>(out.size());
  return Str::adopt(std::move(out), size);
}

Str decodeEntityTextByEngine(Text text, const cEncoding& from, const cEncoding& to, bool nilIfUnchanged,
                             fTranslateMatcher& escapes, const EntityMap& entities, bool cdataMarkers) {
  fTranslateMatcher* simple = &sharedSimpleTranslateMatcher();
  const bool utf8 = to.isOfClass(cEncodingUTF::kClassName);
  EscapeContext context{&entities, &to};
  const TranslateEntry table[] = {
      {simple, "&amp;lt;", nullptr, 0, "<", nullptr},
      {simple, "&amp;gt;", nullptr, 0, ">", nullptr},
      {simple, "&amp;quot;", nullptr, 0, "\"", nullptr},
      {simple, "&amp;nbsp;", nullptr, 0, utf8 ? "\xC2\xA0" : "\xA0", nullptr},
      {simple, "\r\n", nullptr, 0, "\n", nullptr},
      {simple, "\r", nullptr, 0, "\n", nullptr},
      {&escapes, "&", nullptr, 0, nullptr, &context},
      // Behind the escape matcher, which wins the tie at the same "&": so
      // "&amp;amp;lt;" is "<" while "&amp;amp;" alone is still "&".
      {simple, "&amp;amp;", nullptr, 0, "&", nullptr},
      // A NIL matcher ends the table: without cdataMarkers both marker
      // rules are left out.
      {cdataMarkers ? simple : nullptr, "<![CDATA[", nullptr, 0, "", nullptr},
      {simple, "]]>", nullptr, 0, "", nullptr},
      {},
  };
  return convertStringEncoding(text, from, to, text.length(), '?', nilIfUnchanged, false, table, 0);
}

Str XmlDecoder::decode(Text text, const cEncoding& from, const cEncoding& to,
                       bool nilIfUnchanged) const {
  fXmlEscCodeTranslateMatcher* escapes = xmlEscCodeMatcher();
  if (!escapes) raise("BUG", "XmlDecoder.decode(); XML module not initialised");
  return decodeEntityText(text, from, to, nilIfUnchanged, *escapes, *entities_, true);
}

Str XmlDecoder::decodePlainUtf8(Text text, const cEncoding&, const cEncoding&) const {
  // What decodeEntityUtf8 gives for a text in which no rule matches.
  return text.view().empty() ? Str::withCapacity(0) : Str(text.view());
}

fXmlEscCodeTranslateMatcher* xmlEscCodeMatcher() { return gEscCodeMatcher.get(); }
const char* const* xmlEscapeTable() { return gEscapeTable; }

void initXMLModule() {
  gEscCodeMatcher = std::make_unique<fXmlEscCodeTranslateMatcher>();
  gEscapeTable = kEscapeTable;
}

void endXMLModule() {
  gEscapeTable = nullptr;
  gEscCodeMatcher.reset();
}

}  // namespace bw
