// core/system_charset.cpp - the system charset choice, its language table
// and the POSIX locale provider.
#include "core/system_charset.h"

#include <langinfo.h>

#include <clocale>
#include <cstdlib>
#include <string>

namespace bw {
namespace {

struct LanguageRow {
  const char* language;  // ISO-8859-1 bytes (czech's own name: ISO-8859-2)
  int32_t length;        // bytes compared
  const char* charset;
  uint32_t country1;
  uint32_t country2;
};

constexpr LanguageRow kLanguageCharsetTable[] = {
    {"bosanski", 8, "ISO-8859-2", packCountryCode("BA"), packCountryCode("BIH")},
    {"catal\xE0", 6, "ISO-8859-15", packCountryCode("E"), packCountryCode("ESP")},
    {"czech", 5, "ISO-8859-2", packCountryCode("CZ"), packCountryCode("CZE")},
    {"dansk", 5, "ISO-8859-15", packCountryCode("DK"), packCountryCode("DNK")},
    {"deutsch", 7, "ISO-8859-15", packCountryCode("D"), packCountryCode("DEU")},
    {"english", 7, "ISO-8859-15", packCountryCode("GB"), packCountryCode("GBR")},
    {"esperanto", 9, "ISO-8859-3", 0, 0},
    {"eesti", 5, "ISO-8859-15", packCountryCode("EE"), packCountryCode("EST")},
    {"\xE8" "e\xB9tina", 7, "ISO-8859-2", packCountryCode("CZ"), packCountryCode("CZE")},
    {"espa\xF1ol", 7, "ISO-8859-15", packCountryCode("E"), packCountryCode("ESP")},
    {"fran\xE7" "ais", 8, "ISO-8859-15", packCountryCode("F"), packCountryCode("FRA")},
    {"gaeilge", 7, "ISO-8859-15", 0, 0},
    {"galego", 6, "ISO-8859-15", packCountryCode("E"), packCountryCode("ESP")},
    {"greek", 5, "ISO-8859-7", packCountryCode("GR"), packCountryCode("GRC")},
    {"hrvatski", 8, "ISO-8859-2", packCountryCode("HR"), packCountryCode("HRV")},
    {"italiano", 8, "ISO-8859-15", packCountryCode("I"), packCountryCode("ITA")},
    {"lietuvi", 7, "ISO-8859-13", packCountryCode("LT"), packCountryCode("LTU")},
    {"magyar", 6, "ISO-8859-2", packCountryCode("HU"), packCountryCode("HUN")},
    {"nederlands", 10, "ISO-8859-15", packCountryCode("NL"), packCountryCode("NLD")},
    {"norsk", 5, "ISO-8859-15", packCountryCode("N"), packCountryCode("NOR")},
    {"polski", 6, "ISO-8859-2", packCountryCode("PL"), packCountryCode("POL")},
    {"portugu\xEAs", 9, "ISO-8859-15", packCountryCode("PT"), packCountryCode("PRT")},
    {"russian", 7, "Amiga-1251", packCountryCode("RU"), packCountryCode("RUS")},
    {"slovak", 6, "ISO-8859-2", packCountryCode("SK"), packCountryCode("SVK")},
    {"slovensko", 9, "ISO-8859-2", packCountryCode("SI"), packCountryCode("SVN")},
    {"srpski", 6, "ISO-8859-2", packCountryCode("RS"), packCountryCode("SRB")},
    {"suomi", 5, "ISO-8859-1", packCountryCode("FIN"), packCountryCode("FIN")},
    {"svenska", 7, "ISO-8859-15", packCountryCode("S"), packCountryCode("SWE")},
    {"t\xFCrk\xE7" "e", 6, "ISO-8859-9", packCountryCode("TR"), packCountryCode("TUR")},
};

// Lower case for ASCII and ISO-8859-1 letters.
unsigned char foldCase(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<unsigned char>(c + 32);
  return c;
}

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (foldCase(static_cast<unsigned char>(a[i])) != foldCase(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// The locale's name parts: language_TERRITORY.codeset@modifier.
struct LocaleName {
  std::string language;
  std::string territory;
  std::string codeSet;
};

LocaleName userLocaleName() {
  const char* name = nullptr;
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) {
      name = v;
      break;
    }
  }
  LocaleName parts;
  if (!name) return parts;
  std::string_view s(name);
  s = s.substr(0, s.find('@'));
  if (size_t dot = s.find('.'); dot != std::string_view::npos) {
    parts.codeSet = s.substr(dot + 1);
    s = s.substr(0, dot);
  }
  if (size_t underscore = s.find('_'); underscore != std::string_view::npos) {
    parts.territory = s.substr(underscore + 1);
    s = s.substr(0, underscore);
  }
  parts.language = s;
  return parts;
}

struct CodePair {
  const char* from;
  const char* to;
};

// ISO 3166 alpha-2 to the alpha-3 codes of the language table.
constexpr CodePair kTerritories[] = {
    {"BA", "BIH"}, {"ES", "ESP"}, {"CZ", "CZE"}, {"DK", "DNK"}, {"DE", "DEU"}, {"GB", "GBR"},
    {"EE", "EST"}, {"FR", "FRA"}, {"GR", "GRC"}, {"HR", "HRV"}, {"IT", "ITA"}, {"LT", "LTU"},
    {"HU", "HUN"}, {"NL", "NLD"}, {"NO", "NOR"}, {"PL", "POL"}, {"PT", "PRT"}, {"RU", "RUS"},
    {"SK", "SVK"}, {"SI", "SVN"}, {"RS", "SRB"}, {"FI", "FIN"}, {"SE", "SWE"}, {"TR", "TUR"},
};

// ISO 639-1 to the language table's row names.
constexpr CodePair kLanguages[] = {
    {"bs", "bosanski"}, {"ca", "catal\xE0"}, {"cs", "czech"}, {"da", "dansk"}, {"de", "deutsch"},
    {"en", "english"}, {"eo", "esperanto"}, {"et", "eesti"}, {"es", "espa\xF1ol"}, {"fr", "fran\xE7" "ais"},
    {"ga", "gaeilge"}, {"gl", "galego"}, {"el", "greek"}, {"hr", "hrvatski"}, {"it", "italiano"},
    {"lt", "lietuvi"}, {"hu", "magyar"}, {"nl", "nederlands"}, {"nb", "norsk"}, {"nn", "norsk"},
    {"no", "norsk"}, {"pl", "polski"}, {"pt", "portugu\xEAs"}, {"ru", "russian"}, {"sk", "slovak"},
    {"sl", "slovensko"}, {"sr", "srpski"}, {"fi", "suomi"}, {"sv", "svenska"}, {"tr", "t\xFCrk\xE7" "e"},
};

const char* lookUp(const CodePair* table, size_t count, std::string_view key) {
  for (size_t i = 0; i < count; ++i) {
    if (equalNoCase(table[i].from, key)) return table[i].to;
  }
  return nullptr;
}

Str gSystemCharsetName;

}  // namespace

Str charsetNameOfCodeSet(std::string_view codeSet) {
  if (codeSet.empty() || codeSet == "ANSI_X3.4-1968") return Str();
  std::string key;
  for (char c : codeSet) {
    if (c != '-' && c != '_') key += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  }
  if (key == "UTF8") return Str("UTF-8");
  if (key.rfind("ISO8859", 0) == 0 && key.size() > 7 &&
      key.find_first_not_of("0123456789", 7) == std::string::npos) {
    return Str("ISO-8859-" + key.substr(7));
  }
  for (const char* prefix : {"CP", "WINDOWS"}) {
    std::string_view p(prefix);
    if (key.size() == p.size() + 4 && key.rfind(p, 0) == 0 && key.compare(p.size(), 3, "125") == 0 &&
        key[p.size() + 3] >= '0' && key[p.size() + 3] <= '9') {
      return Str("Windows-" + key.substr(p.size()));
    }
  }
  return Str(codeSet);
}

Str PosixSystemCharsetFacts::localeCodeSet() {
  Str name;
  if (std::setlocale(LC_ALL, "")) {
    name = charsetNameOfCodeSet(nl_langinfo(CODESET));
  } else {
    // The named locale is not installed: the code set its name states counts.
    name = charsetNameOfCodeSet(userLocaleName().codeSet);
  }
  std::setlocale(LC_NUMERIC, "C");
  return name;
}

Str PosixSystemCharsetFacts::variable(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return Str();
  return Str::withCapacity(100, value);
}

std::optional<uint32_t> PosixSystemCharsetFacts::countryCode() {
  const char* alpha3 = lookUp(kTerritories, std::size(kTerritories), userLocaleName().territory);
  if (!alpha3) return std::nullopt;
  return packCountryCode(alpha3);
}

Str PosixSystemCharsetFacts::languageName() {
  return Str(lookUp(kLanguages, std::size(kLanguages), userLocaleName().language));
}

Str chooseSystemCharset(SystemCharsetFacts& facts) {
  if (Str name = facts.localeCodeSet(); !name.isNil()) return name;
  if (Str name = facts.fontDefaultCharset(); !name.isNil()) return name;
  if (Str name = facts.variable("CodePage"); !name.isNil()) return name;
  if (Str name = facts.variable("Charset"); !name.isNil()) return name;
  if (std::optional<uint32_t> country = facts.countryCode()) {
    for (const LanguageRow& row : kLanguageCharsetTable) {
      if (row.country1 == *country || row.country2 == *country) return Str(row.charset);
    }
  }
  if (Str language = facts.languageName(); !language.isNil()) {
    for (const LanguageRow& row : kLanguageCharsetTable) {
      if (language.length() >= row.length &&
          equalNoCase(language.view().substr(0, static_cast<size_t>(row.length)), row.language)) {
        return Str(row.charset);
      }
    }
  }
  if (Str language = facts.variable("Language"); !language.isNil()) {
    for (const LanguageRow& row : kLanguageCharsetTable) {
      if (equalNoCase(language.view(), row.language)) return Str(row.charset);
    }
  }
  return Str("ISO-8859-1");
}

const Str& initSystemCharset(SystemCharsetFacts& facts) {
  gSystemCharsetName = chooseSystemCharset(facts);
  return gSystemCharsetName;
}

const Str& initSystemCharset() {
  PosixSystemCharsetFacts facts;
  return initSystemCharset(facts);
}

void endSystemCharset() { gSystemCharsetName = Str(); }

const Str& systemCharsetName() { return gSystemCharsetName; }

std::unique_ptr<cEncoding> newSystemEncoding() {
  const Str& name = gSystemCharsetName;
  if (!name.isNil() && charsetNamesEqual(name.view(), "UTF-8")) {
    auto utf = std::make_unique<cEncodingUTF>();
    utf->newEncoding();
    utf->load(name);
    return utf;
  }
  auto charset = std::make_unique<cCharset>();
  charset->newCharset();
  charset->load(name, true);
  return charset;
}

}  // namespace bw
