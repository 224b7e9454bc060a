// web/url.h - the URL procedures: split, join, resolve, percent-encode and
// compare hosts.
//
// Plain procedures on URL text with no knowledge of particular schemes: no
// default ports, no query parsing, no user information. Every string result
// is a new string owned by the caller.
//
// Invariants:
//   1. A URL is absolute when it holds "://" anywhere; everything before the
//      first "://" is its scheme (so "/go?u=s://h" counts as absolute).
//   2. The path never holds its leading "/"; the query stays in the path;
//      the fragment is what follows the first "#" after the host start.
//   3. A port is read with the runtime's number reader after the host's
//      first ":" ("$50" is 80); when nothing is read the host keeps its ":".
//      A host that begins with "[" (an IPv6 literal) runs to its "]" and
//      keeps its brackets; its port follows "]:".
//   4. Malformed URLs are not errors: they split into nothing (all NIL,
//      port -1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/str.h"

namespace bw {

// Which parts splitURL makes; 0 means all four.
inline constexpr int32_t kURLScheme = 1;
inline constexpr int32_t kURLHost = 2;
inline constexpr int32_t kURLPath = 4;
inline constexpr int32_t kURLFragment = 8;

struct URLParts {
  Str scheme;
  Str host;
  int32_t port = -1;  // -1 when the URL gives none
  Str path;
  Str fragment;
};

// Where the host of a url that starts at hostStart ends: `end` is the first
// "/" after it, else its "#", else the url's end; `hash` is the "#" (else
// the end). An IPv6 literal ("[::1]") runs to its "]", whose colons are no
// port: a port's ":" lies at or after `scan`.
struct URLHostSpan {
  size_t end;
  size_t scan;
  size_t hash;
};
URLHostSpan findURLHost(std::string_view url, size_t hostStart);

// Takes url apart. Parts not asked for by mask come back NIL; the port is
// worked out whenever the host is. A root-relative url ("/...") takes
// scheme, host and port from baseURL (NIL: none); a network-path url
// ("//host/...") takes only the scheme.
URLParts splitURL(Text url, int32_t mask, Text baseURL);

// scheme + "://" + host + ":port" (port not -1; the ":port" text is held to
// at most 6 characters) + "/" + path + "#fragment" (fragment not empty).
// NIL parts are left out, "://" and "/" never are.
Str joinURL(Text scheme, Text host, int32_t port, Text path, Text fragment);

// The absolute form of link against baseURL; NIL when keepAbsolute and link
// holds "://". A link relative to the page's folder ("feed.xml", "../x") is
// joined to the folder of the base's path with "." and ".." segments
// removed; absolute and root-relative links keep their path as it is.
Str resolveRelativeURL(Text link, Text baseURL, bool keepAbsolute);

// text with every byte that is not an ASCII letter, an ASCII digit or in
// safe (NIL: "_.-/") written as "%XX" (upper-case hex). With nilIfUnchanged
// the result is NIL when nothing needed an escape, else a copy.
Str encodeRawURL(Text text, Text safe, bool nilIfUnchanged);

// True when c occurs in safe.
bool isSafeChar(char c, Text safe);

// True when both URLs have a host and the hosts are equal ignoring case.
bool isSameHost(Text url1, Text url2);

}  // namespace bw
