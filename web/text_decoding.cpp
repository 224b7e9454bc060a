// web/text_decoding.cpp - labels, the Windows-1252 reading of stray bytes,
// single-byte tables and the system's converter for the rest.
#include "web/text_decoding.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>

#include "core/charset.h"
#include "core/utf8.h"

namespace bw {
namespace {

bool isLabelSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool startsNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && charsetNamesEqual(text.substr(0, prefix.size()), prefix);
}

void appendCodePoint(std::string& out, int32_t cp) {
  char buffer[4];
  if (cp < 0) {
    out += '?';
    return;
  }
  out.append(buffer, static_cast<size_t>(convertUnicodeCharaToUTF8(cp, buffer)));
}

bool isUtf8Label(std::string_view label) {
  return label.empty() || charsetNamesEqual(label, "UTF-8") || charsetNamesEqual(label, "UTF8");
}

// How many bytes a code unit of the labelled encoding holds: a byte that
// does not convert is passed over one unit at a time.
size_t unitSize(std::string_view label) {
  if (startsNoCase(label, "UTF-16") || startsNoCase(label, "UCS-2")) return 2;
  if (startsNoCase(label, "UTF-32") || startsNoCase(label, "UCS-4")) return 4;
  return 1;
}

struct IconvHandle {
  iconv_t cd;
  explicit IconvHandle(const std::string& from) : cd(iconv_open("UTF-8", from.c_str())) {}
  ~IconvHandle() {
    if (ok()) iconv_close(cd);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
};

std::optional<std::string> convertByIconv(std::string_view bytes, std::string_view label) {
  const std::string name(label);
  if (!isSafeCharsetName(name)) return std::nullopt;
  IconvHandle h(name);
  if (!h.ok()) return std::nullopt;
  const size_t unit = unitSize(label);
  std::string out(bytes.size() * 2 + 16, '\0');
  size_t written = 0;
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  for (;;) {
    char* to = out.data() + written;
    size_t toLeft = out.size() - written;
    const size_t r = inLeft == 0 ? iconv(h.cd, nullptr, nullptr, &to, &toLeft) : iconv(h.cd, &in, &inLeft, &to, &toLeft);
    const int error = r == static_cast<size_t>(-1) ? errno : 0;
    written = out.size() - toLeft;
    if (error == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    if (error == EILSEQ || error == EINVAL) {
      // A sequence that does not convert, or one the text's end cuts: one
      // replacement character for it, and on from the next unit.
      out.resize(std::max(out.size(), written + 3 + inLeft * 2 + 16));
      out.replace(written, 3, "\xEF\xBF\xBD");
      written += 3;
      const size_t skip = std::min(inLeft, unit);
      in += skip;
      inLeft -= skip;
      iconv(h.cd, nullptr, nullptr, nullptr, nullptr);
      continue;
    }
    if (error != 0) return std::nullopt;
    if (inLeft == 0 && r != static_cast<size_t>(-1)) break;
  }
  out.resize(written);
  return out;
}

}  // namespace

std::string_view trimLabel(std::string_view label) {
  while (!label.empty() && isLabelSpace(label.front())) label.remove_prefix(1);
  while (!label.empty() && isLabelSpace(label.back())) label.remove_suffix(1);
  return label;
}

bool isAsciiLabel(std::string_view label) {
  static constexpr std::array<std::string_view, 6> kLabels = {"us-ascii", "ascii",     "us",
                                                              "ansi_x3.4-1968", "iso646-us", "csascii"};
  label = trimLabel(label);
  return std::any_of(kLabels.begin(), kLabels.end(), [&](std::string_view l) { return charsetNamesEqual(label, l); });
}

bool isLatin1Label(std::string_view label) {
  static constexpr std::array<std::string_view, 11> kLabels = {
      "iso-8859-1", "iso8859-1", "iso88591", "iso_8859-1",  "iso_8859-1:1987", "latin1",
      "l1",         "cp819",     "ibm819",   "iso-ir-100", "csisolatin1"};
  label = trimLabel(label);
  return isAsciiLabel(label) ||
         std::any_of(kLabels.begin(), kLabels.end(), [&](std::string_view l) { return charsetNamesEqual(label, l); });
}

std::string contentTypeCharset(std::string_view contentType) {
  for (size_t semi = contentType.find(';'); semi != std::string_view::npos; semi = contentType.find(';', semi + 1)) {
    std::string_view rest = trimLabel(contentType.substr(semi + 1));
    if (!startsNoCase(rest, "charset")) continue;
    rest = trimLabel(rest.substr(7));
    if (rest.empty() || rest.front() != '=') continue;
    rest = trimLabel(rest.substr(1));
    if (!rest.empty() && (rest.front() == '"' || rest.front() == '\'')) {
      const size_t close = rest.find(rest.front(), 1);
      return std::string(rest.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    }
    return std::string(trimLabel(rest.substr(0, rest.find(';'))));
  }
  return {};
}

size_t utf8SequenceLength(const unsigned char* s, size_t n, size_t i) {
  const unsigned char b = s[i];
  auto continuation = [&](size_t k) { return k < n && (s[k] & 0xC0) == 0x80; };
  if (b < 0x80) return 1;
  if (b < 0xC2) return 0;
  if (b < 0xE0) return continuation(i + 1) ? 2 : 0;
  if (b < 0xF0) {
    if (i + 1 >= n) return 0;
    const unsigned char c = s[i + 1];
    const unsigned char lo = b == 0xE0 ? 0xA0 : 0x80;
    const unsigned char hi = b == 0xED ? 0x9F : 0xBF;
    return c >= lo && c <= hi && continuation(i + 2) ? 3 : 0;
  }
  if (b < 0xF5) {
    if (i + 1 >= n) return 0;
    const unsigned char c = s[i + 1];
    const unsigned char lo = b == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = b == 0xF4 ? 0x8F : 0xBF;
    return c >= lo && c <= hi && continuation(i + 2) && continuation(i + 3) ? 4 : 0;
  }
  return 0;
}

std::string utf8WithWindows1252Bytes(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (size_t i = 0; i < text.size();) {
    const size_t length = utf8SequenceLength(s, text.size(), i);
    if (length > 0) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    appendCodePoint(out, windows1252ToUnicode(s[i++]));
  }
  return out;
}

bool isMultiByteLabel(std::string_view label) {
  label = trimLabel(label);
  if (isUtf8Label(label) || isLatin1Label(label) || !isSafeCharsetName(label)) return false;
  if (encodingFromName(std::string(label), false)) return false;
  return IconvHandle(std::string(label)).ok();
}

std::optional<std::string> decodeToUtf8(std::string_view bytes, std::string_view label) {
  label = trimLabel(label);
  if (isUtf8Label(label)) return utf8WithWindows1252Bytes(bytes);
  std::array<int32_t, 256> table;
  if (isLatin1Label(label)) {
    for (int b = 0; b < 256; ++b) table[static_cast<size_t>(b)] = windows1252ToUnicode(static_cast<uint8_t>(b));
  } else if (std::unique_ptr<cEncoding> e = encodingFromName(std::string(label), false);
             e && e->isOfClass(cCharset::kClassName)) {
    table = static_cast<const cCharset&>(*e).table();
  } else {
    return convertByIconv(bytes, label);
  }
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char c : bytes) appendCodePoint(out, table[static_cast<unsigned char>(c)]);
  return out;
}

}  // namespace bw
