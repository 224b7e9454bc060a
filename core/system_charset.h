// core/system_charset.h - the system charset, chosen once at start-up.
//
// Text shown in windows, written to the shell or compared with user input is
// held in the system encoding. initSystemCharset picks its name, first of:
// the locale's code set, the font library's default charset (none here),
// the variables "CodePage" and "Charset", the locale's country and then its
// language against the language table, the variable "Language", else
// "ISO-8859-1". On a UTF-8 locale the name is "UTF-8" and the system encoding
// is a cEncodingUTF.
//
// Invariants:
//   1. Every fact comes through a SystemCharsetFacts provider, so the choice
//      can be run against any locale; the POSIX provider is the real one.
//   2. A fact that is missing skips its step; a variable that is set but
//      empty counts as set. The last step always yields a name.
//   3. The POSIX provider leaves LC_NUMERIC at "C": numbers stay
//      locale-free whatever the user's locale.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "core/charset.h"
#include "core/str.h"

namespace bw {

// What the choice asks of the platform.
class SystemCharsetFacts {
 public:
  virtual ~SystemCharsetFacts() = default;
  // The locale's code set as a charset name; NIL when it gives none.
  virtual Str localeCodeSet() = 0;
  // The font library's default charset; NIL (there is none on this platform).
  virtual Str fontDefaultCharset() { return Str(); }
  // An environment variable's value, clipped at 100 bytes; NIL when unset.
  virtual Str variable(const char* name) = 0;
  // The locale's country, its letters packed from the most significant byte
  // on ("DEU" is 0x44455500); nullopt when the locale names none.
  virtual std::optional<uint32_t> countryCode() = 0;
  // The locale's language name as the language table writes it; NIL when
  // unknown.
  virtual Str languageName() = 0;
};

// The provider over setlocale, nl_langinfo and the environment.
class PosixSystemCharsetFacts : public SystemCharsetFacts {
 public:
  Str localeCodeSet() override;
  Str variable(const char* name) override;
  std::optional<uint32_t> countryCode() override;
  Str languageName() override;
};

// Packs up to four letters as the language table's country codes do.
constexpr uint32_t packCountryCode(const char* letters) {
  uint32_t code = 0;
  for (int i = 0; i < 4; ++i) {
    code <<= 8;
    if (letters[0] != '\0') code |= static_cast<uint8_t>(*letters++);
  }
  return code;
}

// A locale name's code set written as a charset name: "UTF-8", "ISO-8859-n",
// "Windows-125x", NIL for the C locale's "ANSI_X3.4-1968", else the name.
Str charsetNameOfCodeSet(std::string_view codeSet);

// Runs the choice against the facts; never NIL.
Str chooseSystemCharset(SystemCharsetFacts& facts);

// Chooses the system charset (with the POSIX provider, or the one given),
// keeps it as systemCharsetName and returns it.
const Str& initSystemCharset();
const Str& initSystemCharset(SystemCharsetFacts& facts);
void endSystemCharset();
// The chosen name; NIL before initSystemCharset.
const Str& systemCharsetName();

// A loaded system encoding the caller owns: a cEncodingUTF for "UTF-8" (any
// case), else the cCharset of that name with the ISO-8859-1 fallback.
std::unique_ptr<cEncoding> newSystemEncoding();

}  // namespace bw
