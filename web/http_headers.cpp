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

int64_t contentLengthOf(const StrChain& lines) {
  constexpr std::string_view kName = "Content-Length";
  for (const Str& line : lines) {
    size_t pos = afterColon(line, kName);
    if (pos == std::string_view::npos) continue;
    std::string_view text = line.view();
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') continue;  // no number here
    int64_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      const int digit = text[pos++] - '0';
      if (value > (INT64_MAX - digit) / 10) return -1;
      value = value * 10 + digit;
    }
    return value;
  }
  return -1;
}

}  // namespace bw
