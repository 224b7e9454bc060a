// web/text_decoding_test.cpp - labels, and every byte of the unicode.org
// single-byte tables through decodeToUtf8; the multi-byte encodings through
// the system's converter.
#include "web/text_decoding.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "core/utf8.h"
#include "web/web_corpus_test_support.h"

namespace bw {
namespace {

std::string utf8Of(int32_t cp) {
  char buffer[4];
  return std::string(buffer, static_cast<size_t>(convertUnicodeCharaToUTF8(cp, buffer)));
}

// byte -> code point of a unicode.org table; -1 where the table has none.
std::array<int32_t, 256> readTable(const std::string& text) {
  std::array<int32_t, 256> table;
  table.fill(-1);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string byte, cp;
    fields >> byte >> cp;
    if (cp.rfind("0x", 0) != 0) continue;
    table[std::stoul(byte, nullptr, 16)] = static_cast<int32_t>(std::stoul(cp, nullptr, 16));
  }
  return table;
}

TEST(TextDecoding, EveryByteOfTheSingleByteTables) {
  const std::filesystem::path dir = std::filesystem::path(BRINDLEWORK_TESTDATA_DIR) / "charsets";
  if (!std::filesystem::exists(dir)) GTEST_SKIP() << "no corpus at " << dir;
  const std::array<int32_t, 256> cp1252 = readTable(*readCorpusFile(dir / "cp1252.txt"));
  const struct {
    const char* file;
    const char* label;
  } tables[] = {
      {"8859-2.txt", "ISO-8859-2"},    {"8859-3.txt", "ISO-8859-3"},    {"8859-4.txt", "iso-8859-4"},
      {"8859-5.txt", "ISO-8859-5"},    {"8859-7.txt", "ISO-8859-7"},    {"8859-9.txt", "ISO-8859-9"},
      {"8859-10.TXT", "ISO-8859-10"},  {"8859-13.TXT", "ISO-8859-13"},  {"8859-14.TXT", "ISO-8859-14"},
      {"8859-15.TXT", " iso-8859-15"}, {"8859-16.TXT", "ISO-8859-16"},  {"cp1250.txt", "windows-1250"},
      {"cp1251.txt", "windows-1251"},  {"cp1252.txt", "windows-1252"},  {"cp1253.txt", "windows-1253"},
      {"cp1257.txt", "windows-1257"},  {"CP874.TXT", "windows-874"},
      // Latin-1 under any of its names is read as Windows-1252.
      {"8859-1.txt", "ISO-8859-1"},    {"8859-1.txt", "latin1"},        {"8859-1.txt", "ISO_8859-1:1987"},
      {"8859-1.txt", "csISOLatin1"},   {"8859-1.txt", "US-ASCII"},
  };
  for (const auto& t : tables) {
    SCOPED_TRACE(t.label);
    std::array<int32_t, 256> table = readTable(*readCorpusFile(dir / t.file));
    if (std::string(t.file) == "8859-1.txt") std::copy(cp1252.begin() + 0x80, cp1252.begin() + 0xA0, table.begin() + 0x80);
    for (int b = 1; b < 256; ++b) {
      if (table[static_cast<size_t>(b)] < 0) continue;
      const std::optional<std::string> got = decodeToUtf8(std::string(1, static_cast<char>(b)), t.label);
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(*got, utf8Of(table[static_cast<size_t>(b)])) << "byte " << b;
    }
  }
}

TEST(TextDecoding, MultiByteEncodingsAndUnknownLabels) {
  const struct {
    std::string bytes, label;
    std::optional<std::string> want;
  } cases[] = {
      {"\x83\x65\x83\x58\x83\x67", "Shift_JIS", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88"},
      {"\xA5\xC6\xA5\xB9\xA5\xC8", "EUC-JP", "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88"},
      {"\xD6\xD0\xCE\xC4", "GB2312", "\xE4\xB8\xAD\xE6\x96\x87"},
      {"\xD6\xD0\xCE\xC4", "GBK", "\xE4\xB8\xAD\xE6\x96\x87"},
      {"\x81\x30\x81\x30", "GB18030", "\xC2\x80"},
      {"\xA4\xA4\xA4\xE5", "Big5", "\xE4\xB8\xAD\xE6\x96\x87"},
      {"\xC7\xD1\xB1\xDB", "EUC-KR", "\xED\x95\x9C\xEA\xB8\x80"},
      {std::string("a\0\xE9\0", 4), "UTF-16LE", "a\xC3\xA9"},
      {std::string("\0a\0\xE9", 4), "UTF-16BE", "a\xC3\xA9"},
      {std::string("a\0\0\0", 4), "UTF-32LE", "a"},
      // A byte that does not convert is one replacement character; the rest
      // goes on.
      {"a\xFFz", "Shift_JIS", "a\xEF\xBF\xBDz"},
      {"a\x83", "Shift_JIS", "a\xEF\xBF\xBD"},
      {std::string("a\0\x00\xD8", 4), "UTF-16LE", "a\xEF\xBF\xBD"},
      {"caf\xE9 \xC3\xA9", "UTF-8", "caf\xC3\xA9 \xC3\xA9"},
      {"x", "no-such-charset", std::nullopt},
      {"x", "../../etc/passwd", std::nullopt},
      {"x", "UTF-8//TRANSLIT", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(decodeToUtf8(c.bytes, c.label), c.want) << c.label;
  EXPECT_TRUE(isMultiByteLabel("shift_jis") && isMultiByteLabel("UTF-16") && isMultiByteLabel(" Big5 "));
  EXPECT_FALSE(isMultiByteLabel("ISO-8859-2") || isMultiByteLabel("utf-8") || isMultiByteLabel("l1") ||
               isMultiByteLabel("bogus"));
}

TEST(TextDecoding, ContentTypeCharsets) {
  const struct {
    const char *contentType, *want;
  } cases[] = {
      {"text/xml; charset=utf-8", "utf-8"},
      {"text/html;charset=\"Shift_JIS\"", "Shift_JIS"},
      {"application/rss+xml; q=1; CHARSET = 'koi8-r' ; x=y", "koi8-r"},
      {"text/xml", ""},
      {"text/xml; charset=", ""},
      {"text/xml; charsetx=utf-8", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(contentTypeCharset(c.contentType), c.want) << c.contentType;
}

}  // namespace
}  // namespace bw
