// web/http_headers.cpp - procedures over a chain of response header lines.
#include <cstdint>
#include <string_view>

#include "core/ascii_case.h"
#include "core/string_procs.h"
#include "web/http.h"

namespace bw {
namespace {

std::string_view prefixOf(Text name, int32_t length) {
  std::string_view p = name.nulView();
  if (length > 0 && static_cast<size_t>(length) < p.size()) p = p.substr(0, static_cast<size_t>(length));
  return p;
}

// The position just after "name:" in line, or npos.
size_t afterColon(const Str& line, std::string_view name) {
  std::string_view text = line.view();
  if (!startsWithNoCase(text, name) || text.size() <= name.size() || text[name.size()] != ':')
    return std::string_view::npos;
  return name.size() + 1;
}

}  // namespace

std::string_view trimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

const Str* findHeaderLine(const StrChain& lines, Text prefix, int32_t length) {
  std::string_view p = prefixOf(prefix, length);
  for (const Str& line : lines)
    if (startsWithNoCase(line.view(), p)) return &line;
  return nullptr;
}

Str getHeaderValue(const StrChain& lines, Text name, int32_t length) {
  std::string_view n = prefixOf(name, length);
  for (const Str& line : lines) {
    size_t pos = afterColon(line, n);
    if (pos == std::string_view::npos) continue;
    std::string_view text = line.view();
    return Str(trimBlanks(text.substr(pos)));
  }
  return Str();
}

HeaderNumber getHeaderNumber(const StrChain& lines, Text name, int32_t length, int32_t defaultValue) {
  std::string_view n = prefixOf(name, length);
  for (const Str& line : lines) {
    size_t pos = afterColon(line, n);
    if (pos == std::string_view::npos) continue;
    if (static_cast<int32_t>(pos) > line.nulLength()) continue;
    ValueAt v = valueAt(line, static_cast<int32_t>(pos), defaultValue);
    if (v.position != static_cast<int32_t>(pos)) return {v.value, true};
  }
  return {defaultValue, false};
}

namespace {

// One stated length from pos in text (after blanks, an optional "+", then
// digits; what follows them is not read): the number, -1 past 2^63 - 1,
// kUnreadableLength when no digit stands there. pos moves past the digits.
int64_t statedLength(std::string_view text, size_t& pos) {
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  if (pos + 1 < text.size() && text[pos] == '+') ++pos;
  if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return kUnreadableLength;
  int64_t value = 0;
  bool overflow = false;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    const int digit = text[pos] - '0';
    overflow = overflow || value > (INT64_MAX - digit) / 10;
    if (!overflow) value = value * 10 + digit;
  }
  return overflow ? -1 : value;
}

}  // namespace

int64_t contentLengthOf(const StrChain& lines) {
  constexpr std::string_view kName = "Content-Length";
  int64_t length = -1;
  bool stated = false;
  for (const Str& line : lines) {
    size_t pos = afterColon(line, kName);
    if (pos == std::string_view::npos) continue;
    const std::string_view text = line.view();
    // "n, n" repeats one length; every value of every line must agree.
    for (;;) {
      const int64_t value = statedLength(text, pos);
      if (value == kUnreadableLength || (stated && value != length)) return kUnreadableLength;
      length = value;
      stated = true;
      while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
      if (pos >= text.size() || text[pos] != ',') break;
      ++pos;
    }
  }
  return length;
}

}  // namespace bw
