// web/xml_entities_html.cpp - HTML character references by the HTML5 list,
// and the one-level decoding of XML text that carries markup.
#include <algorithm>
#include <cstring>

#include "core/charset.h"
#include "core/utf8.h"
#include "web/control_chars.h"
#include "web/xml_entities.h"

namespace bw {
namespace {

struct Html5Entity {
  const char* name;
  int32_t first;
  int32_t second;
};

constexpr Html5Entity kHtml5Entities[] = {
#include "web/xml_entities_html5.inc"
};
static_assert(std::size(kHtml5Entities) == 2231);

// The longest name with its ";" ("CounterClockwiseContourIntegral;").
constexpr size_t kLongestName = 32;
// The longest legacy name ("frac12", "middot" ...).
constexpr size_t kLongestLegacyName = 6;

const Html5Entity* findEntity(std::string_view name) {
  const auto* end = std::end(kHtml5Entities);
  const auto* at = std::lower_bound(std::begin(kHtml5Entities), end, name,
                                    [](const Html5Entity& e, std::string_view n) { return std::string_view(e.name) < n; });
  return at != end && std::string_view(at->name) == name ? at : nullptr;
}

bool isAsciiAlnum(char c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

int digitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (hex && (c | 0x20) >= 'a' && (c | 0x20) <= 'f') return (c | 0x20) - 'a' + 10;
  return -1;
}

// A referenced number as the character it gives.
int32_t referencedCharacter(uint32_t value) {
  if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF) || isForbiddenControl(static_cast<int32_t>(value))) {
    return kReplacementCharacter;
  }
  if (value >= 0x80 && value < 0xA0) {
    const int32_t mapped = windows1252ToUnicode(static_cast<uint8_t>(value));
    if (mapped != -1) return mapped;
  }
  return static_cast<int32_t>(value);
}

// The digits at in[p] in the base: their value (held at 0x110000 once past
// Unicode, so no length of digits wraps) and the position after them.
struct Digits {
  uint32_t value = 0;
  size_t end = 0;
};
Digits readDigits(std::string_view in, size_t p, bool hex) {
  Digits d{0, p};
  for (int v; d.end < in.size() && (v = digitValue(in[d.end], hex)) >= 0; ++d.end) {
    d.value = std::min<uint32_t>(d.value * (hex ? 16 : 10) + static_cast<uint32_t>(v), 0x110000);
  }
  return d;
}

void appendUtf8(std::string& out, int32_t code) {
  char bytes[4];
  out.append(bytes, static_cast<size_t>(convertUnicodeCharaToUTF8(code, bytes)));
}

}  // namespace

size_t htmlEntityCount() { return std::size(kHtml5Entities); }

int32_t xmlNumericReference(std::string_view name) {
  if (name.size() < 2 || name[0] != '#') return -1;
  const bool hex = name[1] == 'x';
  const size_t start = hex ? 2 : 1;
  Digits d = readDigits(name, start, hex);
  if (d.end == start || d.end != name.size()) return -1;
  return referencedCharacter(d.value);
}

HtmlReference scanHtmlReference(std::string_view in, size_t s, bool inAttribute) {
  if (s >= in.size() || in[s] != '&') return {};
  size_t p = s + 1;
  if (p < in.size() && in[p] == '#') {
    const bool hex = p + 1 < in.size() && (in[p + 1] | 0x20) == 'x';
    const size_t start = p + (hex ? 2 : 1);
    Digits d = readDigits(in, start, hex);
    if (d.end == start) return {};
    const size_t end = d.end < in.size() && in[d.end] == ';' ? d.end + 1 : d.end;
    return {static_cast<int32_t>(end - s), referencedCharacter(d.value), 0};
  }
  size_t q = p;
  while (q < in.size() && q - p < kLongestName && isAsciiAlnum(in[q])) ++q;
  if (q == p) return {};
  if (q < in.size() && in[q] == ';') {
    if (const Html5Entity* e = findEntity(in.substr(p, q + 1 - p)))
      return {static_cast<int32_t>(q + 1 - s), e->first, e->second};
  }
  for (size_t n = std::min(q - p, kLongestLegacyName); n >= 2; --n) {
    const Html5Entity* e = findEntity(in.substr(p, n));
    if (!e) continue;
    const size_t after = p + n;
    if (inAttribute && after < in.size() && (isAsciiAlnum(in[after]) || in[after] == '=')) return {};
    return {static_cast<int32_t>(after - s), e->first, e->second};
  }
  return {};
}

namespace {

// text with each CR LF and each lone CR written as LF.
void appendWithLineFeeds(std::string& out, std::string_view text) {
  for (size_t i = 0;;) {
    const size_t cr = text.find('\r', i);
    out.append(text.substr(i, cr == std::string_view::npos ? cr : cr - i));
    if (cr == std::string_view::npos) return;
    out += '\n';
    i = cr + (text.compare(cr, 2, "\r\n") == 0 ? 2 : 1);
  }
}

}  // namespace

std::string xmlMarkupText(std::string_view text, const EntityMap& entities) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const size_t stop = text.find_first_of("&\r<", i);
    if (stop == std::string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    out.append(text.substr(i, stop - i));
    i = stop;
    if (text[i] == '<') {
      if (text.compare(i, 9, "<![CDATA[") != 0) {
        out += '<';
        ++i;
        continue;
      }
      const size_t close = text.find("]]>", i + 9);
      const size_t end = close == std::string_view::npos ? text.size() : close;
      // A text stored before the reader made every line end a LF may
      // still hold CRs here.
      appendWithLineFeeds(out, text.substr(i + 9, end - i - 9));
      i = close == std::string_view::npos ? text.size() : close + 3;
    } else if (text[i] == '\r') {
      out += '\n';
      i += text.compare(i, 2, "\r\n") == 0 ? 2 : 1;
    } else {
      // "&name;" with the name and ";" in at most 20 bytes, as the XML getters read it.
      const size_t semi = text.substr(i + 1, 20).find(';');
      int32_t code = -1;
      if (semi != std::string_view::npos) {
        const std::string_view name = text.substr(i + 1, semi);
        code = name.starts_with('#') ? xmlNumericReference(name) : entities.lookupName(name);
      }
      if (code <= 0) {
        out += '&';
        ++i;
      } else {
        appendUtf8(out, code);
        i += semi + 2;
      }
    }
  }
  return out;
}

}  // namespace bw
