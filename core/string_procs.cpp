// core/string_procs.cpp - building, splitting, trimming and shortening
// strings, and reading numbers out of them.
#include "core/string_procs.h"

#include "core/ascii_case.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "core/exception.h"

namespace bw {
namespace {

void requireText(bool nil, const char* procedure, const char* what) {
  if (nil) raise("EPU", std::string(procedure) + "(); " + what + "=NIL");
}

// Capacities are 32-bit; a result that would not fit is an allocation failure.
int32_t checkedCapacity(int64_t capacity, const char* procedure) {
  if (capacity > std::numeric_limits<int32_t>::max()) raise("MEM", std::string(procedure) + "(); too long");
  return static_cast<int32_t>(capacity);
}

// The runtime's copy of a piece of text: capacity max(length, 1).
Str pieceCopy(std::string_view text) { return Str(text); }

}  // namespace

bool isWhiteSpace(int32_t c) {
  switch (c & 0xFF) {
    case ' ':
    case 0xA0:
    case '\t':
    case '\n':
    case '\r':
      return true;
    default:
      return false;
  }
}

Str concatTexts(std::span<const Text> texts) {
  int64_t total = 0;
  for (const Text& t : texts)
    if (!t.isNil()) total += t.nulLength();
  int32_t capacity = checkedCapacity(total, "concatStrings");
  std::string bytes;
  bytes.reserve(static_cast<size_t>(capacity));
  for (const Text& t : texts)
    if (!t.isNil()) bytes.append(t.nulView());
  return Str::adopt(std::move(bytes), capacity);
}

Str joinStrings(const StrChain& chain, Text separator) {
  std::string_view sep = separator.isNil() ? std::string_view() : separator.nulView();
  int64_t total = 0;
  for (const Str& s : chain) total += s.length() + static_cast<int64_t>(sep.size());
  if (!chain.empty()) total -= static_cast<int64_t>(sep.size());
  int32_t capacity = std::max(checkedCapacity(total, "joinStrings"), 1);
  std::string bytes;
  bytes.reserve(static_cast<size_t>(total));
  for (size_t i = 0; i < chain.size(); ++i) {
    if (i > 0) bytes.append(sep);
    bytes.append(chain[i].view());
  }
  return Str::adopt(std::move(bytes), capacity);
}

Str joinLines(const StrChain& chain) { return joinStrings(chain, "\n"); }

Str copyString(Text text) {
  if (text.isNil()) return Str();
  return pieceCopy(text.nulView());
}

Str copyStringKeepSize(const Str& source) {
  if (source.isNil()) return Str();
  return Str::withCapacity(source.capacity(), source.view());
}

Str newStringFromBuffer(const void* buffer, int32_t length, bool noCopy) {
  if (noCopy) return Str();
  if (buffer == nullptr) raise("EPU", "newStringFromBuffer(); buffer=NIL");
  if (length < 0) raise("EPU", "newStringFromBuffer(); length<0");
  const char* bytes = static_cast<const char*>(buffer);
  int32_t capacity = length;
  size_t limit = static_cast<size_t>(length);
  if (length == 0) {
    size_t nul = std::strlen(bytes);
    capacity = checkedCapacity(static_cast<int64_t>(nul) + 1, "newStringFromBuffer");
    limit = nul;
  }
  const void* nul = std::memchr(bytes, '\0', limit);
  size_t used = nul ? static_cast<size_t>(static_cast<const char*>(nul) - bytes) : limit;
  return Str::withCapacity(capacity, std::string_view(bytes, used));
}

SplitResult splitString(Text text, Text separator) {
  requireText(text.isNil(), "splitString", "text");
  requireText(separator.isNil(), "splitString", "separator");
  std::string_view in = text.nulView();
  std::string_view sep = separator.nulView();
  if (sep.empty()) raise("EPU", "splitString(); separator is empty");

  SplitResult result;
  size_t read = 0;
  do {
    size_t at = in.find(sep, read);
    if (at == std::string_view::npos) at = in.size();
    result.chain.push_back(pieceCopy(in.substr(read, at - read)));
    read = at + sep.size();
  } while (read < in.size());
  // A separator at the very end leaves one more, empty, piece.
  if (read == in.size()) result.chain.push_back(pieceCopy({}));
  result.count = static_cast<int32_t>(result.chain.size());
  return result;
}

SplitResult splitLines(Text text) { return splitString(text, "\n"); }

Str trimWhiteSpace(Str s) {
  requireText(s.isNil(), "trimWhiteSpace", "string");
  int32_t length = s.length();
  int32_t start = 0;
  while (start < length && s[start] != '\0' && isWhiteSpace(static_cast<unsigned char>(s[start]))) ++start;
  int32_t end = length - 1;
  while (end > 0 && isWhiteSpace(static_cast<unsigned char>(s[end]))) --end;
  if (start == 0 && end == length - 1) return s;
  int32_t count = end - start + 1;
  if (count <= 0) return Str::withCapacity(1);
  return Str::withCapacity(count, s.view().substr(static_cast<size_t>(start), static_cast<size_t>(count)));
}

std::string_view trimmedBlanks(std::string_view text) {
  // A loop, not find_first_not_of: an update trims every item's date and
  // links, which mostly have no blank at either end.
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

void trimEnd(Str& s) {
  requireText(s.isNil(), "trimEnd", "string");
  int32_t length = s.length();
  while (length > 0 && isWhiteSpace(static_cast<unsigned char>(s[length - 1]))) --length;
  s.setLength(length);
}

void trimStart(Str& s) {
  requireText(s.isNil(), "trimStart", "string");
  int32_t length = s.length();
  int32_t count = 0;
  while (count < length && s[count] != '\0' && isWhiteSpace(static_cast<unsigned char>(s[count]))) ++count;
  if (count == 0) return;
  std::memmove(s.data(), s.data() + count, static_cast<size_t>(length - count));
  s.setLength(length - count);
}

void shortenText(Str& s) {
  if (s.isNil()) return;
  int32_t length = s.length();
  int32_t cut = std::clamp(std::min(length - 3, length / 2), 0, 200);
  for (int32_t p = cut; p >= 1; --p) {
    if (isWhiteSpace(static_cast<unsigned char>(s[p]))) {
      cut = p + 1;
      break;
    }
  }
  s.setLength(cut);
  s.append("...");
}

std::string printableLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c == 0xC2 && next >= 0x80 && next < 0xA0) {
      out += '?';
      ++i;
    } else {
      out += c < 0x20 || c == 0x7F ? '?' : text[i];
    }
  }
  return out;
}

ValueAt valueAt(Text text, int32_t position, int32_t defaultValue) {
  requireText(text.isNil(), "valueAt", "text");
  std::string_view in = text.nulView();
  if (position < 0 || static_cast<size_t>(position) > in.size())
    raise("EPU", "valueAt(); position out of range");

  RuntimeNumber n = readRuntimeNumber(in, static_cast<size_t>(position), false);
  if (!n.digits) return {defaultValue, position};
  return {n.value, static_cast<int32_t>(n.end)};
}

RuntimeNumber readRuntimeNumber(std::string_view in, size_t i, bool plusSign) {
  while (i < in.size() && (in[i] == ' ' || in[i] == '\t')) ++i;
  bool negative = false;
  if (i < in.size() && (in[i] == '-' || (plusSign && in[i] == '+'))) negative = in[i++] == '-';
  uint32_t base = 10;
  if (i < in.size() && in[i] == '$') {
    base = 16;
    ++i;
  } else if (i < in.size() && in[i] == '%') {
    base = 2;
    ++i;
  }
  // Digits wrap at 32 bits as the runtime's reader does; unsigned arithmetic
  // keeps that well defined.
  uint32_t value = 0;
  size_t firstDigit = i;
  for (; i < in.size(); ++i) {
    char c = in[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    value = value * base + digit;
  }
  if (negative) value = 0u - value;
  return {static_cast<int32_t>(value), i, i != firstDigit};
}

FoundString findStringInList(Text word, KeywordTable table) {
  std::string_view w = word.isNil() ? std::string_view() : word.nulView();
  for (size_t item = 0; item < table.size(); ++item)
    for (const Str& name : table[item])
      if (!word.isNil() && !name.isNil() && equalsNoCase(name.view(), w))
        return {true, static_cast<int32_t>(item)};
  return {false, static_cast<int32_t>(table.size())};
}

}  // namespace bw
