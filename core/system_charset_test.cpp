// Tests of the system charset choice: every step through an injected
// provider, and the POSIX provider under chosen locale variables.
#include "core/system_charset.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <map>
#include <string>

namespace bw {
namespace {

struct FakeFacts : SystemCharsetFacts {
  Str codeSet, font, language;
  std::optional<uint32_t> country;
  std::map<std::string, std::string> variables;

  Str localeCodeSet() override { return codeSet; }
  Str fontDefaultCharset() override { return font; }
  Str variable(const char* name) override {
    auto it = variables.find(name);
    return it == variables.end() ? Str() : Str::withCapacity(100, it->second);
  }
  std::optional<uint32_t> countryCode() override { return country; }
  Str languageName() override { return language; }
};

std::string choose(FakeFacts facts) { return chooseSystemCharset(facts).str(); }

TEST(SystemCharsetTest, StepsInOrder) {
  FakeFacts f;
  EXPECT_EQ(choose(f), "ISO-8859-1");  // nothing known at all
  f.variables["Language"] = "Polski";
  EXPECT_EQ(choose(f), "ISO-8859-2");
  f.variables["Language"] = "POLSKI";
  EXPECT_EQ(choose(f), "ISO-8859-2");
  f.variables["Language"] = "FRAN\xC7" "AIS";  // ISO-8859-1 letters fold too
  EXPECT_EQ(choose(f), "ISO-8859-15");
  f.variables["Language"] = "polskie";         // the whole value must match
  EXPECT_EQ(choose(f), "ISO-8859-1");
  f.language = Str("deutsch-schweiz");        // a prefix of the locale's name
  EXPECT_EQ(choose(f), "ISO-8859-15");
  f.language = Str("greek");
  EXPECT_EQ(choose(f), "ISO-8859-7");
  f.language = Str("\xE8" "e\xB9tina");
  EXPECT_EQ(choose(f), "ISO-8859-2");
  f.country = packCountryCode("RUS");
  EXPECT_EQ(choose(f), "Amiga-1251");
  f.country = 0;                              // matches esperanto's empty codes
  EXPECT_EQ(choose(f), "ISO-8859-3");
  f.country = packCountryCode("E");
  EXPECT_EQ(choose(f), "ISO-8859-15");
  f.country = packCountryCode("TUR");
  EXPECT_EQ(choose(f), "ISO-8859-9");
  f.variables["Charset"] = "KOI8-R";
  EXPECT_EQ(choose(f), "KOI8-R");
  f.variables["CodePage"] = "ISO-8859-2";
  EXPECT_EQ(choose(f), "ISO-8859-2");
  f.variables["CodePage"] = "";               // set but empty still counts
  EXPECT_EQ(choose(f), "");
  f.variables["CodePage"] = std::string(150, 'x');
  EXPECT_EQ(choose(f), std::string(100, 'x'));
  f.font = Str("ISO-8859-5");
  EXPECT_EQ(choose(f), "ISO-8859-5");
  f.codeSet = Str("ISO-8859-1");              // the locale wins over everything
  EXPECT_EQ(choose(f), "ISO-8859-1");
  EXPECT_EQ(packCountryCode("BA"), 0x42410000u);
  EXPECT_EQ(packCountryCode("BIH"), 0x42494800u);
}

TEST(SystemCharsetTest, CodeSetNames) {
  EXPECT_EQ(charsetNameOfCodeSet("UTF-8"), "UTF-8");
  EXPECT_EQ(charsetNameOfCodeSet("utf8"), "UTF-8");
  EXPECT_EQ(charsetNameOfCodeSet("ISO-8859-2"), "ISO-8859-2");
  EXPECT_EQ(charsetNameOfCodeSet("iso885915"), "ISO-8859-15");
  EXPECT_EQ(charsetNameOfCodeSet("CP1251"), "Windows-1251");
  EXPECT_EQ(charsetNameOfCodeSet("KOI8-R"), "KOI8-R");
  EXPECT_EQ(charsetNameOfCodeSet("CP12510"), "CP12510");
  EXPECT_TRUE(charsetNameOfCodeSet("ANSI_X3.4-1968").isNil());
  EXPECT_TRUE(charsetNameOfCodeSet("").isNil());
}

// Sets the locale variables for one test and restores them afterwards.
class PosixFactsTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : kVariables) {
      const char* value = std::getenv(v);
      if (value) saved_[v] = value;
      unsetenv(v);
    }
  }
  void TearDown() override {
    for (const char* v : kVariables) {
      unsetenv(v);
      if (saved_.count(v)) setenv(v, saved_[v].c_str(), 1);
    }
    std::setlocale(LC_ALL, "C");
    endSystemCharset();
  }
  static constexpr const char* kVariables[] = {"LC_ALL", "LC_CTYPE", "LANG", "CodePage", "Charset", "Language"};
  std::map<std::string, std::string> saved_;
};

TEST_F(PosixFactsTest, CLocaleGivesNothingSoCodePageWins) {
  setenv("LC_ALL", "C", 1);
  setenv("CodePage", "ISO-8859-2", 1);
  EXPECT_EQ(initSystemCharset(), "ISO-8859-2");
  EXPECT_EQ(systemCharsetName(), "ISO-8859-2");
  auto encoding = newSystemEncoding();
  EXPECT_TRUE(encoding->isSameClass(cCharset::kClassName));
  // The system converter's table, not the ISO-8859-1 fallback.
  EXPECT_EQ(encoding->infoName(), "ISO-8859-2");
  EXPECT_EQ(static_cast<const cCharset&>(*encoding).charaToUnicode(0xB1, -1), 0x105);
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
}

TEST_F(PosixFactsTest, Utf8LocaleGivesTheUtf8Encoding) {
  setenv("LC_ALL", "C.UTF-8", 1);
  setenv("CodePage", "ISO-8859-2", 1);
  EXPECT_EQ(initSystemCharset(), "UTF-8");
  auto encoding = newSystemEncoding();
  EXPECT_TRUE(encoding->isSameClass(cEncodingUTF::kClassName));
  EXPECT_EQ(encoding->infoName(), "UTF-8");
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
}

TEST_F(PosixFactsTest, UninstalledLocalesStillCount) {
  setenv("LANG", "pl_PL", 1);  // through the territory
  EXPECT_EQ(initSystemCharset(), "ISO-8859-2");
  setenv("LANG", "xx_YY.UTF-8", 1);  // through the code set in its name
  EXPECT_EQ(initSystemCharset(), "UTF-8");
  setenv("LANG", "fr", 1);  // through the language
  EXPECT_EQ(initSystemCharset(), "ISO-8859-15");
  setenv("LC_CTYPE", "xx_DE@euro", 1);  // LC_CTYPE before LANG; DE is DEU
  EXPECT_EQ(initSystemCharset(), "ISO-8859-15");
  setenv("LANG", "xx_US", 1);
  unsetenv("LC_CTYPE");
  EXPECT_EQ(initSystemCharset(), "ISO-8859-1");
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
}

TEST(SystemEncodingTest, BeforeInitialisationFallsBack) {
  endSystemCharset();
  EXPECT_TRUE(systemCharsetName().isNil());
  EXPECT_EQ(newSystemEncoding()->infoName(), "ISO-8859-1");
  FakeFacts f;
  f.codeSet = Str("utf-8");
  initSystemCharset(f);
  auto utf = newSystemEncoding();
  EXPECT_TRUE(utf->isSameClass(cEncodingUTF::kClassName));
  EXPECT_EQ(utf->infoName(), "utf-8");
  endSystemCharset();
}

}  // namespace
}  // namespace bw
