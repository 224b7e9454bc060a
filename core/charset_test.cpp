// Tests of charset loading: built-in tables against the published mapping
// files, binary and text table files, name checks and encodingFromName.
#include "core/charset.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/charset_files.h"
#include "core/exception.h"

namespace bw {
namespace {

namespace fs = std::filesystem;

const std::string kCharsets = std::string(BRINDLEWORK_TESTDATA_DIR) + "/charsets/";

// The mapping a unicode.org table file states, read by a plain sscanf loop
// (-1 for bytes it leaves unmapped).
bool readMappingFile(const std::string& path, std::array<int32_t, 256>& map) {
  FILE* f = std::fopen(path.c_str(), "r");
  if (!f) return false;
  map.fill(-1);
  char line[512];
  while (std::fgets(line, sizeof line, f)) {
    unsigned byte, cp;
    if (std::sscanf(line, "0x%x\t0x%x", &byte, &cp) == 2 && byte < 256) map[byte] = static_cast<int32_t>(cp);
  }
  std::fclose(f);
  return true;
}

std::unique_ptr<cCharset> loaded(Text name, bool fallback = false) {
  auto c = std::make_unique<cCharset>();
  c->newCharset();
  EXPECT_TRUE(c->load(name, fallback));
  return c;
}

// Each test gets an empty PROGDIR with the native reader installed.
class CharsetFilesTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/bw_charsets_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    progdir_ = pattern;
    setCharsetFileReader(makeNativeCharsetFileReader(progdir_));
  }
  void TearDown() override {
    setCharsetFileReader(nullptr);
    fs::remove_all(progdir_);
  }
  void write(const std::string& relative, std::string_view content) {
    fs::path p = fs::path(progdir_) / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }
  std::string progdir_;
};

TEST(CharsetTest, BuiltInsEqualThePublishedTables) {
  struct Case {
    const char* name;
    const char* file;
  };
  for (Case c : {Case{"ISO-8859-1", "8859-1.txt"}, Case{"ISO-8859-15", "8859-15.TXT"},
                 Case{"Windows-1252", "cp1252.txt"}}) {
    std::array<int32_t, 256> want;
    if (!readMappingFile(kCharsets + c.file, want)) GTEST_SKIP() << "test corpus not found: " << kCharsets;
    auto charset = loaded(c.name);
    EXPECT_EQ(charset->table(), want) << c.name;
  }
  auto ascii = loaded("ASCII");
  for (int b = 0; b < 256; ++b) EXPECT_EQ(ascii->charaToUnicode(static_cast<uint8_t>(b), -1), b < 0x80 ? b : -1);
}

TEST(CharsetTest, BuiltInEdgeCases) {
  auto latin9 = loaded("iso-8859-15");
  EXPECT_EQ(latin9->infoName(), "iso-8859-15");
  EXPECT_EQ(latin9->charaToUnicode(0xA4, -1), 0x20AC);
  EXPECT_EQ(latin9->unicodeToChara(0xA4, -1), 255);  // default -1 comes back as 255
  auto cp1252 = loaded("Windows-1252");
  EXPECT_EQ(cp1252->charaToUnicode(0x80, -1), 0x20AC);
  EXPECT_EQ(cp1252->charaToUnicode(0x81, -1), -1);
  EXPECT_EQ(cp1252->charaToUnicode(0x9F, -1), 0x178);
  EXPECT_EQ(cp1252->unicodeToChara(0x2026, 0), 0x85);
  auto ascii = loaded("ASCII");
  EXPECT_EQ(ascii->charaToUnicode(0x41, -1), 0x41);
  EXPECT_EQ(ascii->unicodeToChara(0xE9, 7), 7);
  auto latin1 = loaded("ISO-8859-1");
  EXPECT_EQ(latin9->convertCharaFrom(0xA4, *latin1, '?'), '?');  // U+00A4 is not in Latin-9
  EXPECT_EQ(latin1->convertCharaFrom(0xE9, *latin9, '?'), 0xE9);
  EXPECT_EQ(latin1->convertCharaFrom(0x81, *cp1252, -1), 255);
}

TEST(CharsetTest, UnknownNamesAndFallback) {
  cCharset c;
  c.newCharset();
  EXPECT_FALSE(c.load("No-Such-Charset", false));
  EXPECT_TRUE(c.infoCharsetName().isNil());
  EXPECT_TRUE(c.load("No-Such-Charset", true));
  EXPECT_EQ(c.infoName(), "ISO-8859-1");
  EXPECT_EQ(c.charaToUnicode(0xE9, -1), 0xE9);
  try {
    c.load("ASCII", false);
    FAIL();
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "EMU");
    EXPECT_EQ(e.message(), "cCharset.load(); already loaded");
  }
  auto copy = c.cloneCharset();
  EXPECT_EQ(copy->infoName(), "ISO-8859-1");
  EXPECT_EQ(copy->table(), c.table());
  EXPECT_TRUE(c.make()->infoName().isNil());
  EXPECT_TRUE(copy->isOfClass(cCharset::kClassName));
}

TEST(CharsetTest, TextTableLineRules) {
  std::array<int32_t, 256> t;
  t.fill(-1);
  parseCharsetTextTable({Str("   0x41  0x0391  # ALPHA"), Str("0x100 0x0041"), Str("0x42"),
                         Str("0X43 0x0043"), Str("0x44 0X0044"), Str("# 0x45 0x45"), Str(""),
                         Str("\t0x46\t0x46\r"), Str("0x 0x47"), Str("0x48 0x"), Str("0x49 0x10FFFF"),
                         Str("0x4A 0x110000"), Str("0x4B 0xFFFFFFFF"), Str("0x4C 0x123456789"),
                         Str("0x0000004D 0x4D"), Str("0x4E 0x1"), Str("0x4E 0x2")},
                        t);
  EXPECT_EQ(t[0x41], 0x391);
  EXPECT_EQ(t[0x42], -1);
  EXPECT_EQ(t[0x43], -1);   // "0X" is not read
  EXPECT_EQ(t[0x44], -1);
  EXPECT_EQ(t[0x45], -1);
  EXPECT_EQ(t[0x46], 0x46);
  EXPECT_EQ(t[0x48], -1);   // "0x" without digits carries no mapping
  EXPECT_EQ(t[0x49], 0x10FFFF);
  EXPECT_EQ(t[0x4A], -1);   // outside Unicode: ignored
  EXPECT_EQ(t[0x4B], -1);
  EXPECT_EQ(t[0x4C], -1);   // overflowing number: ignored
  EXPECT_EQ(t[0x4D], 0x4D);
  EXPECT_EQ(t[0x4E], 2);    // later lines win
  EXPECT_EQ(t[0], -1);
}

TEST(CharsetTest, SplitLines) {
  EXPECT_EQ(splitTextFileLines("a\nb"), (StrChain{Str("a"), Str("b")}));
  EXPECT_EQ(splitTextFileLines("a\n"), (StrChain{Str("a"), Str("")}));
  EXPECT_EQ(splitTextFileLines(""), (StrChain{Str("")}));
  EXPECT_EQ(splitTextFileLines("a\r\nb\r"), (StrChain{Str("a"), Str("b")}));
  EXPECT_EQ(splitTextFileLines("a\nb")[0].capacity(), 1);
}

TEST(CharsetTest, UnsafeNamesNeverReachTheFileSearch) {
  std::vector<std::string> asked;
  setCharsetFileReader([&](const std::string& path) -> std::optional<std::string> {
    asked.push_back(path);
    return std::nullopt;
  });
  for (const char* name : {"../x", "/etc/passwd", "a/b", "RAM:x", ".hidden", "", "a b", "a\\b",
                           "ISO-8859-1\n", "x%2F"}) {
    cCharset c;
    c.newCharset();
    EXPECT_FALSE(c.load(name, false)) << name;
  }
  cCharset nil;
  nil.newCharset();
  EXPECT_TRUE(nil.load(nullptr, true));
  EXPECT_EQ(nil.infoName(), "ISO-8859-1");
  std::string longName(65, 'a');
  cCharset c;
  c.newCharset();
  EXPECT_FALSE(c.load(longName, false));
  EXPECT_TRUE(asked.empty());
  EXPECT_TRUE(loaded(std::string(64, 'a'), true)->infoName() == "ISO-8859-1");
  EXPECT_EQ(asked.size(), 4u);  // the four places of the search
  EXPECT_TRUE(isSafeCharsetName("ISO-8859-2"));
  EXPECT_TRUE(isSafeCharsetName("x.y+z_1"));
  setCharsetFileReader(nullptr);
}

TEST_F(CharsetFilesTest, EveryPublishedTableLoadsFromCharsets) {
  std::error_code ec;
  fs::directory_iterator it(kCharsets, ec);
  if (ec) GTEST_SKIP() << "test corpus not found: " << kCharsets;
  int tables = 0;
  for (const auto& entry : it) {
    std::string file = entry.path().filename().string();
    if (file.rfind("8859-", 0) != 0 && file.rfind("cp125", 0) != 0) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string name = "T-" + file;
    write("Charsets/" + name, content);
    std::array<int32_t, 256> want;
    ASSERT_TRUE(readMappingFile(entry.path().string(), want));
    auto c = loaded(name);
    EXPECT_EQ(c->table(), want) << file;
    EXPECT_EQ(c->infoName(), name);
    for (int b = 0; b < 256; ++b) {
      int32_t cp = want[static_cast<size_t>(b)];
      if (cp >= 0) {
        EXPECT_EQ(c->unicodeToChara(cp, -1), b) << file << " byte " << b;
      }
    }
    ++tables;
  }
  EXPECT_EQ(tables, 24);
}

// The system converter supplies every single-byte charset the built-in
// tables lack; the spellings here ("ISO8859-2", "CP1251") are none of the
// built-in names, so every table below comes from it.
TEST(CharsetTest, SystemTablesEqualThePublishedTables) {
  std::error_code ec;
  fs::directory_iterator it(kCharsets, ec);
  if (ec) GTEST_SKIP() << "test corpus not found: " << kCharsets;
  int tables = 0;
  for (const auto& entry : it) {
    std::string file = entry.path().stem().string();
    std::string name;
    if (file.rfind("8859-", 0) == 0) name = "ISO" + file;
    if (file.rfind("cp125", 0) == 0) name = "CP" + file.substr(2);
    if (name.empty()) continue;
    std::array<int32_t, 256> want;
    ASSERT_TRUE(readMappingFile(entry.path().string(), want));
    auto c = loaded(name);
    EXPECT_EQ(c->table(), want) << name;
    EXPECT_EQ(c->infoName(), name);
    ++tables;
  }
  EXPECT_EQ(tables, 24);
}

TEST(CharsetTest, SystemCharsetNames) {
  struct Case {
    const char* name;
    int32_t byte;
    int32_t codePoint;  // -2: the charset does not load
  };
  const Case cases[] = {
      {"latin1", 0xE9, 0xE9},        {"US-ASCII", 0x80, -1},     {"cp1252", 0x80, 0x20AC},
      {"ISO8859-1", 0x00, 0x00},     {"KOI8-R", 0xC1, 0x430},    {"windows-1251", 0xE0, 0x430},
      {"Shift_JIS", 0x41, -2},       {"GB18030", 0x41, -2},      {"ISO-2022-JP", 0x41, -2},
      {"UTF-16", 0x41, -2},          {"UTF-8", 0x41, -2},        {"No-Such-Charset", 0x41, -2},
      {"ISO-8859-2//TRANSLIT", 0x41, -2},  // not a safe name: never reaches the converter
  };
  for (const Case& c : cases) {
    cCharset charset;
    charset.newCharset();
    bool ok = charset.load(c.name, false);
    EXPECT_EQ(ok, c.codePoint != -2) << c.name;
    if (ok) {
      EXPECT_EQ(charset.charaToUnicode(static_cast<uint8_t>(c.byte), -1), c.codePoint) << c.name;
      EXPECT_EQ(charset.infoName(), c.name);
    }
  }
}

TEST_F(CharsetFilesTest, SearchOrderAndPlaces) {
  // A text table hides the system converter's table of the same name.
  write("Charsets/ISO-8859-2", "0x41 0x0391\n");
  auto latin2 = loaded("ISO-8859-2");
  EXPECT_EQ(latin2->charaToUnicode(0x41, -1), 0x391);
  EXPECT_EQ(latin2->charaToUnicode(0xB1, -1), -1);
  // A text table hides the built-in table of the same name.
  write("Charsets/ASCII", "0x41 0x0391\n");
  auto ascii = loaded("ASCII");
  EXPECT_EQ(ascii->charaToUnicode(0x41, -1), 0x391);
  EXPECT_EQ(ascii->charaToUnicode(0x42, -1), -1);
  // An empty table loads a charset without characters.
  write("Charsets/Empty", "");
  EXPECT_EQ(loaded("Empty")->charaToUnicode(0x41, -1), -1);
  // A binary table of exactly 1024 bytes wins over the text table.
  std::string binary(1024, '\0');
  auto put = [&](int byte, uint32_t word) {
    for (int k = 0; k < 4; ++k) binary[static_cast<size_t>(4 * byte + k)] = static_cast<char>(word >> (24 - 8 * k));
  };
  put(0x41, 0x20AC);
  put(0x42, 0x80000041);  // negative as a signed word: ignored
  put(0x43, 0x00110000);  // beyond Unicode: ignored
  put(0x44, 0x0010FFFF);
  write("L/Charsets/ASCII", binary);
  auto bin = loaded("ASCII");
  EXPECT_EQ(bin->charaToUnicode(0x41, -1), 0x20AC);
  EXPECT_EQ(bin->charaToUnicode(0x42, -1), -1);
  EXPECT_EQ(bin->charaToUnicode(0x43, -1), -1);
  EXPECT_EQ(bin->charaToUnicode(0x44, -1), 0x10FFFF);
  EXPECT_EQ(bin->charaToUnicode(0x45, -1), -1);
  // 1023 and 1025 bytes are passed over.
  write("L/Charsets/Short", binary.substr(0, 1023));
  write("L/Charsets/Long", binary + "x");
  EXPECT_FALSE(cCharset().load("Short", false));
  EXPECT_FALSE(cCharset().load("Long", false));
  // PROGDIR:/Charsets/ is the same folder as Charsets/ here; Libs:/Charsets/
  // needs ".txt" and a "#" line, from which the table starts.
  write("Libs/Charsets/Lib1.txt", "Title line 0x41 0x42\n# table\n0x41 0x0042\n");
  EXPECT_EQ(loaded("Lib1")->charaToUnicode(0x41, -1), 0x42);
  write("Libs/Charsets/Lib2.txt", "0x41 0x0042\n");
  EXPECT_FALSE(cCharset().load("Lib2", false));
  write("Libs/Charsets/Lib3.txt", "");
  EXPECT_FALSE(cCharset().load("Lib3", false));
  write("Libs/Charsets/Lib4", "# x\n0x41 0x0042\n");
  EXPECT_FALSE(cCharset().load("Lib4", false));
}

TEST_F(CharsetFilesTest, ReverseMapHighestByteWins) {
  write("Charsets/Dup", "0x41 0x0391\n0x42 0x0391\n0x43 0x00E9\n0x44 0x0000\n");
  auto c = loaded("Dup");
  EXPECT_EQ(c->unicodeToChara(0x391, -1), 0x42);
  EXPECT_EQ(c->unicodeToChara(0xE9, -1), 0x43);
  EXPECT_EQ(c->unicodeToChara(0, -1), 0x44);
  EXPECT_EQ(c->unicodeToChara(0x392, 0x141), 0x41);  // low 8 bits of the default
}

TEST_F(CharsetFilesTest, OnlyRegularFilesInTheTableFoldersAreRead) {
  write("Secret", "0x41 0x0391\n");
  cCharset c;
  c.newCharset();
  EXPECT_FALSE(c.load("../Secret", false));
  fs::create_directories(fs::path(progdir_) / "Charsets");
  ASSERT_EQ(mkfifo((progdir_ + "/Charsets/Fifo").c_str(), 0600), 0);
  fs::create_directories(fs::path(progdir_) / "Charsets" / "Dir");
  EXPECT_FALSE(cCharset().load("Fifo", false));  // would block for ever if opened
  EXPECT_FALSE(cCharset().load("Dir", false));
  fs::create_symlink(progdir_ + "/Secret", progdir_ + "/Charsets/Link");
  EXPECT_EQ(loaded("Link")->charaToUnicode(0x41, -1), 0x391);  // a link to a regular file is fine
}

TEST(EncodingTest, Utf8AndEncodingFromName) {
  auto utf = encodingFromName("utf-8", false);
  ASSERT_TRUE(utf);
  EXPECT_TRUE(utf->isSameClass(cEncodingUTF::kClassName));
  EXPECT_EQ(utf->infoName(), "utf-8");
  EXPECT_EQ(utf->infoName().capacity(), 5);
  auto utf16 = encodingFromName("UTF-16", true);
  ASSERT_TRUE(utf16);
  EXPECT_TRUE(utf16->isSameClass(cEncodingUTF::kClassName));
  EXPECT_EQ(utf16->infoName(), "UTF-8");
  EXPECT_FALSE(encodingFromName("UTF-16", false));
  auto latin = encodingFromName("windows-1252", false);
  ASSERT_TRUE(latin);
  EXPECT_TRUE(latin->isSameClass(cCharset::kClassName));
  EXPECT_FALSE(encodingFromName("x-unknown", false));
  EXPECT_EQ(encodingFromName("x-unknown", true)->infoName(), "ISO-8859-1");
  EXPECT_EQ(encodingFromName("../../etc/passwd", true)->infoName(), "ISO-8859-1");
  auto copy = utf->clone();
  EXPECT_TRUE(copy->isSameClass(cEncodingUTF::kClassName));
  EXPECT_EQ(copy->infoName(), "utf-8");
  cEncodingUTF u;
  EXPECT_FALSE(u.load("UTF8"));
  for (const char* alias : {"UTF8", "utf8"}) {
    auto named = encodingFromName(alias, false);
    ASSERT_TRUE(named) << alias;
    EXPECT_TRUE(named->isSameClass(cEncodingUTF::kClassName));
    EXPECT_EQ(named->infoName(), "UTF-8");
  }
  EXPECT_TRUE(u.load("UTF-8"));
  try {
    u.load("UTF-8");
    FAIL();
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "EMU");
    EXPECT_EQ(e.message(), "cEncodingUTF.load(); already loaded");
  }
}

}  // namespace
}  // namespace bw
