// web/url.cpp - the URL procedures (see url.h).
#include "web/url.h"

#include <idn2.h>

#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ascii_case.h"
#include "core/exception.h"
#include "core/string_procs.h"

namespace bw {
namespace {

constexpr std::string_view kDefaultSafe = "_.-/";

bool needsNoEscape(unsigned char c, std::string_view safe) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         safe.find(static_cast<char>(c)) != std::string_view::npos;
}

// True when the number the runtime reader takes from text at position
// does not fit 32 bits (the reader would wrap it, so that a port of
// 2^32 + 80 would read as 80).
bool numberOverflows(std::string_view text, size_t position) {
  size_t i = position;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i < text.size() && text[i] == '-') ++i;
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == '%')) base = text[i++] == '$' ? 16 : 2;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    int digit = (c >= '0' && c <= '9') ? c - '0'
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : 99;
    if (digit >= base) break;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > 0x7FFFFFFFu) return true;
  }
  return false;
}

// RFC 3986's remove_dot_segments over a path without its leading "/":
// "a/./b/../c" gives "a/c"; ".." never climbs above the root.
std::string removeDotSegments(std::string_view path) {
  std::vector<std::string_view> kept;
  size_t start = 0;
  bool endsInFolder = false;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view segment = path.substr(start, end - start);
    const bool last = end == path.size();
    endsInFolder = false;
    if (segment == ".") {
      endsInFolder = last;
    } else if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
      endsInFolder = last;
    } else {
      kept.push_back(segment);
    }
    start = end + 1;
  }
  std::string out;
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) out += '/';
    out += kept[i];
  }
  if (endsInFolder && !out.empty()) out += '/';
  return out;
}

// A URI reference split as RFC 3986 appendix B does, with the scheme held
// to its grammar; each optional part remembers whether it was present, so
// that "s://h/p?" keeps its empty query.
struct Reference {
  std::optional<std::string_view> scheme;
  std::optional<std::string_view> authority;
  std::string_view path;
  std::optional<std::string_view> query;
  std::optional<std::string_view> fragment;
};

bool isAsciiLetter(char c) { return foldAscii(c) >= 'a' && foldAscii(c) <= 'z'; }

bool isSchemeText(std::string_view text) {
  if (text.empty() || !isAsciiLetter(text[0])) return false;
  for (char c : text)
    if (!isAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  return true;
}

Reference splitReference(std::string_view text) {
  Reference r;
  const size_t colon = text.find_first_of(":/?#");
  if (colon != std::string_view::npos && text[colon] == ':' && isSchemeText(text.substr(0, colon))) {
    r.scheme = text.substr(0, colon);
    text.remove_prefix(colon + 1);
  }
  if (text.starts_with("//")) {
    const size_t end = std::min(text.find_first_of("/?#", 2), text.size());
    r.authority = text.substr(2, end - 2);
    text.remove_prefix(end);
  }
  const size_t hash = text.find('#');
  if (hash != std::string_view::npos) {
    r.fragment = text.substr(hash + 1);
    text = text.substr(0, hash);
  }
  const size_t question = text.find('?');
  if (question != std::string_view::npos) {
    r.query = text.substr(question + 1);
    text = text.substr(0, question);
  }
  r.path = text;
  return r;
}

// RFC 3986's remove_dot_segments over a whole path (leading "/" included),
// step by step as section 5.2.4 gives it.
std::string removeDotSegmentsStrict(std::string_view in) {
  std::string out;
  auto dropLastSegment = [&out] {
    const size_t slash = out.rfind('/');
    out.resize(slash == std::string::npos ? 0 : slash);
  };
  while (!in.empty()) {
    if (in.starts_with("../")) {
      in.remove_prefix(3);
    } else if (in.starts_with("./")) {
      in.remove_prefix(2);
    } else if (in.starts_with("/./")) {
      in.remove_prefix(2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.starts_with("/../")) {
      in.remove_prefix(3);
      dropLastSegment();
    } else if (in == "/..") {
      in = "/";
      dropLastSegment();
    } else if (in == "." || in == "..") {
      in = {};
    } else {
      const size_t next = in.find('/', 1);
      const size_t length = next == std::string_view::npos ? in.size() : next;
      out += in.substr(0, length);
      in.remove_prefix(length);
    }
  }
  return out;
}

}  // namespace

Str resolveReference(Text baseText, Text refText) {
  if (baseText.isNil() || refText.isNil()) return Str();
  const Reference ref = splitReference(refText.nulView());
  const Reference base = splitReference(baseText.nulView());
  if (!ref.scheme && !base.scheme) return Str();

  // The target's parts as section 5.2.2 chooses them.
  Reference target;
  std::string path;
  if (ref.scheme) {
    target = ref;
    path = removeDotSegmentsStrict(ref.path);
  } else {
    target.scheme = base.scheme;
    if (ref.authority) {
      target.authority = ref.authority;
      target.query = ref.query;
      path = removeDotSegmentsStrict(ref.path);
    } else {
      target.authority = base.authority;
      if (ref.path.empty()) {
        path = base.path;
        target.query = ref.query ? ref.query : base.query;
      } else {
        target.query = ref.query;
        if (ref.path.starts_with('/')) {
          path = removeDotSegmentsStrict(ref.path);
        } else {
          // Merged with the base's folder; a base with an authority and no
          // path counts as "/".
          std::string merged;
          if (base.authority && base.path.empty()) {
            merged = "/";
          } else {
            const size_t slash = base.path.rfind('/');
            if (slash != std::string_view::npos) merged = base.path.substr(0, slash + 1);
          }
          merged += ref.path;
          path = removeDotSegmentsStrict(merged);
        }
      }
    }
  }
  target.fragment = ref.fragment;

  std::string out;
  out += *target.scheme;
  out += ':';
  if (target.authority) {
    out += "//";
    out += *target.authority;
  }
  out += path;
  if (target.query) {
    out += '?';
    out += *target.query;
  }
  if (target.fragment) {
    out += '#';
    out += *target.fragment;
  }
  return Str(out);
}

URLHostSpan findURLHost(std::string_view url, size_t hostStart) {
  URLHostSpan span{};
  span.hash = url.find('#', hostStart);
  if (span.hash == std::string_view::npos) span.hash = url.size();
  span.end = std::min(url.find_first_of("/?", hostStart), span.hash);
  const size_t at = url.substr(0, span.end).rfind('@');
  span.start = at != std::string_view::npos && at >= hostStart ? at + 1 : hostStart;
  span.scan = span.start;
  if (span.start < span.end && url[span.start] == '[') {
    const size_t close = url.find(']', span.start);
    if (close != std::string_view::npos && close < span.end) span.scan = close;
  }
  return span;
}

URLParts splitURL(Text urlText, int32_t mask, Text baseURL) {
  URLParts parts;
  const std::string_view url = urlText.nulView();
  const size_t len = url.size();
  size_t hostStart = 0;
  bool ownHost = true;

  size_t sep = urlText.isNil() ? std::string_view::npos : url.find("://");
  if (sep == std::string_view::npos) {
    if (urlText.isNil() || url.empty() || url[0] != '/' || baseURL.isNil()) return parts;
    URLParts base = splitURL(baseURL, mask, nullptr);
    if (baseURL.nulView().find("://") == std::string_view::npos) return URLParts{};
    if (mask == 0) mask = kURLScheme | kURLHost | kURLPath | kURLFragment;
    parts.scheme = std::move(base.scheme);
    if (url.size() >= 2 && url[1] == '/') {
      // A network-path reference ("//host/p"): the base's scheme, its own
      // host and port.
      hostStart = 2;
    } else {
      parts.userInfo = std::move(base.userInfo);
      parts.host = std::move(base.host);
      parts.port = base.port;
      mask &= ~kURLHost;
      ownHost = false;
    }
    mask &= ~kURLScheme;
  } else {
    if (mask == 0) mask = kURLScheme | kURLHost | kURLPath | kURLFragment;
    if (mask & kURLScheme) parts.scheme = Str(url.substr(0, sep));
    hostStart = sep + 3;
  }

  // A root-relative url starts with its "/" at position 0: no "[" to skip.
  const URLHostSpan span = findURLHost(url, hostStart);
  const size_t hash = span.hash;
  const size_t slash = ownHost ? span.end : hostStart;
  size_t pathStart = slash < hash && url[slash] == '/' ? slash + 1 : slash;
  size_t fragmentStart = hash < len ? hash + 1 : len;

  if (ownHost && (mask & kURLHost)) {
    if (span.start > hostStart) parts.userInfo = Str(url.substr(hostStart, span.start - 1 - hostStart));
    std::string_view host = url.substr(span.start, slash - span.start);
    size_t colon = host.find(':', span.scan - span.start);
    if (colon != std::string_view::npos) {
      Str hostStr(host);
      ValueAt v = valueAt(hostStr, static_cast<int32_t>(colon + 1), -1);
      if (v.position > static_cast<int32_t>(colon + 1)) {
        // A port too large to read is kept out of range rather than wrapped.
        parts.port = numberOverflows(host, colon + 1) ? INT32_MAX : v.value;
        host = host.substr(0, colon);
      }
    }
    parts.host = Str(host);
  }
  if (mask & kURLPath) parts.path = Str(url.substr(pathStart, hash - pathStart));
  if (mask & kURLFragment) parts.fragment = Str(url.substr(fragmentStart));
  return parts;
}

Str joinURL(Text scheme, Text host, int32_t port, Text path, Text fragment) {
  std::string out;
  if (!scheme.isNil()) out += scheme.nulView();
  out += "://";
  if (!host.isNil()) out += host.nulView();
  if (port != -1) {
    char text[16];
    std::snprintf(text, sizeof text, ":%ld", static_cast<long>(port));
    out += std::string_view(text).substr(0, 6);
  }
  out += '/';
  if (!path.isNil()) out += path.nulView();
  if (!fragment.isNil() && fragment.nulLength() > 0) {
    out += '#';
    out += fragment.nulView();
  }
  return Str(out);
}

Str resolveRelativeURL(Text link, Text baseURL, bool keepAbsolute) {
  std::string_view text = link.nulView();
  bool absolute = !link.isNil() && text.find("://") != std::string_view::npos;
  if (keepAbsolute && absolute) return Str();
  if (!link.isNil() && !absolute && !baseURL.isNil() && (text.empty() || text[0] != '/')) {
    // Relative to the folder of the base: the base's path up to its last
    // "/" (a fragment-only link keeps the whole path, a query-only link
    // the path without its query), then "." and ".." segments removed.
    URLParts base = splitURL(baseURL, 0, nullptr);
    if (!base.scheme.isNil()) {
      std::string path(base.path.view());
      if (!text.empty() && text[0] == '#') {
        return joinURL(base.scheme, base.host, base.port, Str(path), Str(text.substr(1)));
      }
      if (!text.empty() && text[0] == '?') {
        size_t q = path.find('?');
        if (q != std::string::npos) path.resize(q);
        path += text.substr(0, text.find('#'));
      } else {
        size_t cut = path.rfind('/', path.find('?'));
        path.resize(cut == std::string::npos ? 0 : cut + 1);
        path += text.substr(0, text.find('#'));
        size_t query = path.find('?');
        path = removeDotSegments(path.substr(0, query)) + (query == std::string::npos ? "" : path.substr(query));
      }
      size_t hash = text.find('#');
      Str fragment = hash == std::string_view::npos ? Str("") : Str(text.substr(hash + 1));
      return joinURL(base.scheme, base.host, base.port, Str(path), fragment);
    }
  }
  URLParts p = splitURL(link, 0, baseURL);
  return joinURL(p.scheme, p.host, p.port, p.path, p.fragment);
}

bool isSafeChar(char c, Text safe) {
  return !safe.isNil() && safe.nulView().find(c) != std::string_view::npos;
}

Str encodeRawURL(Text text, Text safe, bool nilIfUnchanged) {
  std::string_view in = text.nulView();
  std::string_view safeSet = safe.isNil() ? kDefaultSafe : safe.nulView();
  size_t escapes = 0;
  for (char c : in) escapes += needsNoEscape(static_cast<unsigned char>(c), safeSet) ? 0 : 1;
  if (escapes == 0) return nilIfUnchanged ? Str() : copyString(text);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  const size_t length = in.size() + 2 * escapes;
  out.reserve(length);
  for (char ch : in) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (needsNoEscape(c, safeSet)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  if (out.size() != length) raise("BUG", "cAmiga_HTTP; encodeRawURL(); wrote wrong number of characters");
  return Str(out);
}

namespace {

int hexDigit(char c) {
  return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// False for the bytes no host name holds: controls, blanks, DEL, and
// "/?#@\%", which would end or re-route the host or be decoded once more.
bool isHostByte(char ch) {
  const unsigned char c = static_cast<unsigned char>(ch);
  return c > 0x20 && c != 0x7F && std::string_view("/?#@\\%").find(ch) == std::string_view::npos;
}

// A host as a URL writes it with its "%XX" escapes decoded; nullopt for a
// "%" without two hex digits or a decoded byte that is no host byte.
std::optional<std::string> decodedHost(std::string_view host) {
  std::string name;
  name.reserve(host.size());
  for (size_t i = 0; i < host.size(); ++i) {
    char ch = host[i];
    if (ch == '%') {
      const int high = i + 2 < host.size() ? hexDigit(host[i + 1]) : -1;
      const int low = high >= 0 ? hexDigit(host[i + 2]) : -1;
      if (low < 0) return std::nullopt;
      ch = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (!isHostByte(ch)) return std::nullopt;
    name += ch;
  }
  return name;
}

}  // namespace

std::optional<std::string> asciiHostName(std::string_view host) {
  // An IPv6 literal ("[::1]", "[fe80::1%25eth0]") is no name: it stays as
  // written, when it is ASCII and holds no byte a host may not.
  if (host.starts_with('[')) {
    auto literal = [](char c) { return static_cast<unsigned char>(c) < 0x80 && (c == '%' || isHostByte(c)); };
    if (!std::all_of(host.begin(), host.end(), literal)) return std::nullopt;
    return std::string(host);
  }
  std::optional<std::string> name = decodedHost(host);
  if (!name) return std::nullopt;
  if (std::all_of(name->begin(), name->end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return name;
  // Non-transitional first, as browsers read names today; transitional for
  // names only the older rules take. Bytes that are not UTF-8 convert with
  // neither. A letter that maps to a byte no host holds (the full-width
  // "／" is "/") refuses the name.
  for (int flags : {IDN2_NFC_INPUT | IDN2_NONTRANSITIONAL, IDN2_NFC_INPUT | IDN2_TRANSITIONAL}) {
    char* out = nullptr;
    if (idn2_to_ascii_8z(name->c_str(), &out, flags) == IDN2_OK) {
      std::string ascii(out);
      idn2_free(out);
      if (!std::all_of(ascii.begin(), ascii.end(), isHostByte)) return std::nullopt;
      return ascii;
    }
  }
  return std::nullopt;
}

bool isSameHost(Text url1, Text url2) {
  URLParts a = splitURL(url1, kURLHost, nullptr);
  URLParts b = splitURL(url2, kURLHost, nullptr);
  if (a.host.isNil() || b.host.isNil()) return false;
  return equalsNoCase(a.host.view(), b.host.view());
}

}  // namespace bw
