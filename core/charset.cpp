// core/charset.cpp - charset loading (table files, built-in tables and the
// system's single-byte charsets through iconv), the reverse map and
// encodingFromName.
#include "core/charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

#include "core/charset_files.h"
#include "core/ascii_case.h"
#include "core/exception.h"

namespace bw {
namespace {

constexpr int32_t kMaxCodePoint = 0x10FFFF;

constexpr int32_t kWindows1252High[32] = {
    0x20AC, -1,     0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, -1,     0x017D, -1,      // 88-8F
    -1,     0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, -1,     0x017E, 0x0178,  // 98-9F
};

struct Difference {
  uint8_t byte;
  int32_t codePoint;
};
constexpr Difference kIso8859_15[] = {{0xA4, 0x20AC}, {0xA6, 0x0160}, {0xA8, 0x0161},
                                      {0xB4, 0x017D}, {0xB8, 0x017E}, {0xBC, 0x0152},
                                      {0xBD, 0x0153}, {0xBE, 0x0178}};

void fillIdentity(std::array<int32_t, 256>& table) {
  for (int32_t i = 0; i < 256; ++i) table[static_cast<size_t>(i)] = i;
}

bool isSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

// Reads "0x" and the hexadecimal number after it at s[i]; false when there
// is no "0x" (lower-case x only), no digit after it, or the number exceeds
// 0x7FFFFFFF. On success i stands after the last digit.
bool readHex(std::string_view s, size_t& i, int64_t& value) {
  if (i + 1 >= s.size() || s[i] != '0' || s[i + 1] != 'x') return false;
  size_t j = i + 2;
  int64_t v = 0;
  bool overflow = false;
  size_t start = j;
  for (; j < s.size(); ++j) {
    char c = s[j];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      break;
    }
    v = v * 16 + digit;
    if (v > 0x7FFFFFFF) {
      overflow = true;
      v = 0x80000000LL;  // keeps the loop from growing; the result is refused
    }
  }
  if (j == start || overflow) return false;
  i = j;
  value = v;
  return true;
}

}  // namespace

int32_t windows1252ToUnicode(uint8_t byte) {
  return byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte;
}

bool isUtf8Encoding(const cEncoding& encoding) {
  return encoding.isOfClass(cEncodingUTF::kClassName) && !encoding.infoName().isNil() &&
         charsetNamesEqual(encoding.infoName().view(), "UTF-8");
}

const cEncoding& sharedUtf8Encoding() {
  static const cEncodingUTF* encoding = [] {
    auto* e = new cEncodingUTF;
    e->load("UTF-8");
    return e;
  }();
  return *encoding;
}

bool charsetNamesEqual(std::string_view a, std::string_view b) {
  return equalsNoCase(a, b);
}

std::unique_ptr<cEncoding> cEncoding::clone() const {
  std::unique_ptr<cEncoding> copy = make();
  copy->name_ = name_;
  return copy;
}

std::unique_ptr<cEncoding> cEncodingUTF::clone() const {
  std::unique_ptr<cEncoding> copy = make();
  static_cast<cEncodingUTF&>(*copy).name_ = name_;
  return copy;
}

bool cEncodingUTF::load(Text name) {
  if (!name_.isNil()) raise("EMU", "cEncodingUTF.load(); already loaded");
  if (name.isNil() || !charsetNamesEqual(name.nulView(), "UTF-8")) return false;
  name_ = Str(name.nulView());
  return true;
}

std::unique_ptr<cCharset> cCharset::cloneCharset() const {
  std::unique_ptr<cCharset> copy = makeCharset();
  copy->name_ = name_;
  copy->table_ = table_;
  return copy;
}

bool isSafeCharsetName(std::string_view name) {
  if (name.empty() || name.size() > 64 || name.front() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '.' || c == '_' || c == '+' || c == '-';
  });
}

void parseCharsetTextTable(const StrChain& lines, std::array<int32_t, 256>& table) {
  for (const Str& line : lines) {
    std::string_view s = line.view();
    size_t i = 0;
    while (i < s.size() && isSpaceOrTab(s[i])) ++i;
    int64_t byte;
    if (!readHex(s, i, byte) || byte > 255) continue;
    while (i < s.size() && isSpaceOrTab(s[i])) ++i;
    int64_t cp;
    // A code point outside Unicode would make every later conversion of the
    // byte to UTF-8 fail, so such an entry is ignored and the byte keeps
    // what it had.
    if (!readHex(s, i, cp) || cp > kMaxCodePoint) continue;
    table[static_cast<size_t>(byte)] = static_cast<int32_t>(cp);
  }
}

bool cCharset::loadBinaryTable(const std::string& name) {
  const CharsetFileReader& reader = charsetFileReader();
  if (!reader) return false;
  std::optional<std::string> content = reader("L:/Charsets/" + name);
  if (!content || content->size() != 1024) return false;
  const auto* bytes = reinterpret_cast<const unsigned char*>(content->data());
  for (size_t i = 0; i < 256; ++i) {
    uint32_t word = (uint32_t{bytes[4 * i]} << 24) | (uint32_t{bytes[4 * i + 1]} << 16) |
                    (uint32_t{bytes[4 * i + 2]} << 8) | uint32_t{bytes[4 * i + 3]};
    // 0 leaves the entry as it was; words outside Unicode are ignored.
    if (word != 0 && word <= static_cast<uint32_t>(kMaxCodePoint)) table_[i] = static_cast<int32_t>(word);
  }
  return true;
}

bool cCharset::loadTextTable(const std::string& name) {
  std::optional<StrChain> lines = readTextFileLines("Charsets/" + name);
  if (!lines) lines = readTextFileLines("PROGDIR:/Charsets/" + name);
  if (!lines) {
    lines = readTextFileLines("Libs:/Charsets/" + name + ".txt");
    if (lines) {
      // Files there may start with lines of their own: the table begins at
      // the first line that starts with "#"; without one the file is not a
      // table.
      auto first = std::find_if(lines->begin(), lines->end(),
                                [](const Str& l) { return !l.empty() && l[0] == '#'; });
      if (first == lines->end()) {
        lines.reset();
      } else {
        lines->erase(lines->begin(), first);
      }
    }
  }
  if (!lines) return false;
  parseCharsetTextTable(*lines, table_);
  return true;
}

bool cCharset::loadBuiltInTable(const std::string& name) {
  if (charsetNamesEqual(name, "ISO-8859-1")) {
    fillIdentity(table_);
  } else if (charsetNamesEqual(name, "ISO-8859-15")) {
    fillIdentity(table_);
    for (const Difference& d : kIso8859_15) table_[d.byte] = d.codePoint;
  } else if (charsetNamesEqual(name, "Windows-1252")) {
    fillIdentity(table_);
    for (size_t i = 0x80; i < 0xA0; ++i) table_[i] = windows1252ToUnicode(static_cast<uint8_t>(i));
  } else if (charsetNamesEqual(name, "ASCII")) {
    fillIdentity(table_);
    for (size_t i = 0x80; i < 256; ++i) table_[i] = -1;
  } else {
    return false;
  }
  return true;
}

bool cCharset::loadSystemTable(const std::string& name) {
  iconv_t cd = iconv_open("UTF-32LE", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::array<int32_t, 256> table;
  bool singleByte = true;
  for (size_t b = 0; b < 256 && singleByte; ++b) {
    // Each byte alone from the initial state, then the state flushed: one
    // code point is the entry; none, several or an invalid byte give -1.
    char in = static_cast<char>(b);
    char* inPtr = &in;
    size_t inLeft = 1;
    unsigned char out[64];
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    int error = r == static_cast<size_t>(-1) ? errno : 0;
    if (error == 0) iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    // An incomplete sequence: a multi-byte or stateful charset.
    if (error == EINVAL) singleByte = false;
    size_t produced = sizeof out - outLeft;
    uint32_t cp = 0;
    if (error == 0 && produced == 4) {
      cp = uint32_t{out[0]} | (uint32_t{out[1]} << 8) | (uint32_t{out[2]} << 16) | (uint32_t{out[3]} << 24);
    }
    table[b] = error == 0 && produced == 4 && cp <= static_cast<uint32_t>(kMaxCodePoint)
                   ? static_cast<int32_t>(cp)
                   : -1;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  iconv_close(cd);
  if (!singleByte) return false;
  table_ = table;
  return true;
}

bool cCharset::load(Text name, bool fallback) {
  if (!name_.isNil()) raise("EMU", "cCharset.load(); already loaded");
  std::string asked(name.isNil() ? std::string_view() : name.nulView());
  bool loaded = false;
  if (!name.isNil() && isSafeCharsetName(asked)) {
    loaded = loadBinaryTable(asked) || loadTextTable(asked);
  }
  if (!loaded && !name.isNil()) loaded = loadBuiltInTable(asked);
  if (!loaded && !name.isNil() && isSafeCharsetName(asked)) loaded = loadSystemTable(asked);
  if (!loaded) {
    if (!fallback) return false;
    fillIdentity(table_);
    asked = "ISO-8859-1";
  }
  name_ = Str(asked);
  reverseBuilt_ = false;
  return true;
}

void cCharset::buildReverseMap() const {
  reverseLow_.fill(-1);
  reverseHigh_.clear();
  for (int32_t b = 0; b < 256; ++b) {
    int32_t cp = table_[static_cast<size_t>(b)];
    if (cp == -1) continue;
    if (cp >= 0 && cp < 256) {
      reverseLow_[static_cast<size_t>(cp)] = static_cast<int16_t>(b);
    } else {
      reverseHigh_.emplace_back(cp, static_cast<uint8_t>(b));
    }
  }
  // Stable sort keeps byte order within a code point; the last (highest)
  // byte of a run is the one looked up.
  std::stable_sort(reverseHigh_.begin(), reverseHigh_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  reverseBuilt_ = true;
}

int32_t cCharset::unicodeToCharaSlow(int32_t codePoint, int32_t dflt) const {
  if (!reverseBuilt_) buildReverseMap();
  int32_t answer = dflt;
  if (codePoint >= 0 && codePoint < 256) {
    int16_t b = reverseLow_[static_cast<size_t>(codePoint)];
    if (b >= 0) answer = b;
  } else {
    auto it = std::upper_bound(reverseHigh_.begin(), reverseHigh_.end(), codePoint,
                               [](int32_t cp, const auto& p) { return cp < p.first; });
    if (it != reverseHigh_.begin() && std::prev(it)->first == codePoint) answer = std::prev(it)->second;
  }
  return answer & 0xFF;
}

int32_t cCharset::convertCharaFrom(uint8_t byte, const cCharset& fromCharset, int32_t replacement) const {
  int32_t cp = fromCharset.charaToUnicode(byte, -1);
  if (cp == -1) return replacement & 0xFF;
  return unicodeToChara(cp, replacement);
}

std::unique_ptr<cEncoding> encodingFromName(Text name, bool fallback) {
  std::string_view n = name.isNil() ? std::string_view() : name.nulView();
  // "UTF8" is a common spelling of "UTF-8"; the object takes the standard
  // name.
  const bool utf8Alias = charsetNamesEqual(n, "UTF8");
  if (utf8Alias || (n.size() >= 4 && charsetNamesEqual(n.substr(0, 4), "UTF-"))) {
    auto utf = std::make_unique<cEncodingUTF>();
    utf->newEncoding();
    if (utf->load(utf8Alias ? Text("UTF-8") : name) || (fallback && utf->load("UTF-8"))) return utf;
    return nullptr;
  }
  auto charset = std::make_unique<cCharset>();
  charset->newCharset();
  if (charset->load(name, fallback)) return charset;
  return nullptr;
}

}  // namespace bw
