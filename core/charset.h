// core/charset.h - text encodings: cEncoding, cCharset, cEncodingUTF.
//
// An encoding object names the byte encoding of a text. cCharset is a
// single-byte charset with a 256-entry table from byte to code point, loaded
// from a binary table file, a text table file, one of four built-in tables
// ("ASCII", "ISO-8859-1", "ISO-8859-15", "Windows-1252") or the system's
// converter (iconv) for a single-byte charset; cEncodingUTF is UTF-8. encodingFromName turns a name a document declares into a loaded
// object.
//
// Invariants:
//   1. An object is loaded exactly when its name is not NIL; load() on a
//      loaded object raises "EMU".
//   2. A table entry is -1 (the byte has no character) or a code point in
//      0..0x10FFFF: table files cannot put anything else in, so every mapped
//      byte can be written as UTF-8.
//   3. Only names of 1..64 letters, digits, ".", "_", "+" and "-" that do not
//      start with "." reach the table file search; any other name (from a
//      document or an HTTP header) is an unknown name and never opens a file.
//   4. The reverse map (code point to byte) is built once, at the first
//      unicodeToChara(); when several bytes share a code point the highest
//      byte wins.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/object.h"
#include "core/str.h"

namespace bw {

class cEncoding : public class_base {
  BW_CLASS(cEncoding, class_base)

 public:
  // The name, or NIL while not loaded.
  const Str& infoName() const { return name_; }
  // A new object of the same class (made by make()) holding a copy of the
  // name of the same capacity.
  virtual std::unique_ptr<cEncoding> clone() const;
  // A new, unloaded object of the same class.
  virtual std::unique_ptr<cEncoding> make() const { return std::make_unique<cEncoding>(); }

 protected:
  Str name_;
};

class cCharset : public cEncoding {
  BW_CLASS(cCharset, cEncoding)

 public:
  // An unloaded charset maps no byte.
  cCharset() { table_.fill(-1); }

  std::unique_ptr<cEncoding> clone() const override { return cloneCharset(); }
  std::unique_ptr<cEncoding> make() const override { return makeCharset(); }
  // Typed forms: clone() also copies the table (not the reverse map).
  std::unique_ptr<cCharset> cloneCharset() const;
  std::unique_ptr<cCharset> makeCharset() const { return std::make_unique<cCharset>(); }

  // Sets every entry to -1; run before load().
  void newCharset() { table_.fill(-1); }
  // Loads the named charset: a binary table file, else a text table file,
  // else a built-in table, else the system converter's table when the
  // charset is single-byte (a multi-byte or stateful one is unknown here);
  // an unknown name loads ISO-8859-1 (named so) when fallback is set and
  // fails otherwise. The object keeps the name asked for. Raises "EMU" when
  // already loaded.
  bool load(Text name, bool fallback);

  const Str& infoCharsetName() const { return name_; }
  // The byte's code point, or dflt when the byte has none.
  int32_t charaToUnicode(uint8_t byte, int32_t dflt) const {
    int32_t cp = table_[byte];
    return cp == -1 ? dflt : cp;
  }
  // The byte for the code point, or dflt; the answer's low 8 bits.
  int32_t unicodeToChara(int32_t codePoint, int32_t dflt) const {
    if (codePoint >= 0 && codePoint < 256 && reverseBuilt_) {
      int16_t b = reverseLow_[static_cast<size_t>(codePoint)];
      return (b >= 0 ? b : dflt) & 0xFF;
    }
    return unicodeToCharaSlow(codePoint, dflt);
  }
  // This charset's byte for byte of fromCharset, replacement when there is
  // none (low 8 bits).
  int32_t convertCharaFrom(uint8_t byte, const cCharset& fromCharset, int32_t replacement) const;

  const std::array<int32_t, 256>& table() const { return table_; }

 private:
  bool loadBinaryTable(const std::string& name);
  bool loadTextTable(const std::string& name);
  bool loadBuiltInTable(const std::string& name);
  bool loadSystemTable(const std::string& name);
  void buildReverseMap() const;
  int32_t unicodeToCharaSlow(int32_t codePoint, int32_t dflt) const;

  std::array<int32_t, 256> table_;
  // Reverse map: direct for code points below 256, sorted pairs above.
  mutable bool reverseBuilt_ = false;
  mutable std::array<int16_t, 256> reverseLow_{};
  mutable std::vector<std::pair<int32_t, uint8_t>> reverseHigh_;
};

class cEncodingUTF : public cEncoding {
  BW_CLASS(cEncodingUTF, cEncoding)

 public:
  std::unique_ptr<cEncoding> clone() const override;
  std::unique_ptr<cEncoding> make() const override { return std::make_unique<cEncodingUTF>(); }

  // Does nothing (the UTF-8 encoding has no table).
  void newEncoding() {}
  // Loads when name is "UTF-8" in any case, keeping the name as given.
  // Raises "EMU" when already loaded.
  bool load(Text name);
};

// The Windows-1252 character of a byte; -1 for the five bytes it leaves
// undefined (81, 8D, 8F, 90, 9D).
int32_t windows1252ToUnicode(uint8_t byte);

// True for a loaded cEncodingUTF named "UTF-8" in any case: text in it needs
// no conversion to or from UTF-8.
bool isUtf8Encoding(const cEncoding& encoding);

// One loaded UTF-8 encoding for the whole process, made at its first use
// and never ended: the target of readers that take every text into UTF-8.
const cEncoding& sharedUtf8Encoding();

// True when two charset names are equal ignoring ASCII case.
bool charsetNamesEqual(std::string_view a, std::string_view b);

// True for names that may reach the table file search (invariant 3).
bool isSafeCharsetName(std::string_view name);

// A loaded encoding for a declared name: "UTF-..." gives a cEncodingUTF
// (with fallback, "UTF-8" when the name is another UTF), "UTF8" in any case
// one named "UTF-8", anything else a cCharset. NIL (nullptr) when nothing loads.
std::unique_ptr<cEncoding> encodingFromName(Text name, bool fallback);

// Reads one text table's lines into table (see the .cpp for the line rules).
void parseCharsetTextTable(const StrChain& lines, std::array<int32_t, 256>& table);

}  // namespace bw
