// web/url.h - the URL procedures: split, join, resolve, percent-encode and
// compare hosts.
//
// Plain procedures on URL text with no knowledge of particular schemes: no
// default ports, no query parsing. Every string result is a new string
// owned by the caller.
//
// Invariants:
//   1. A URL is absolute when it holds "://" anywhere; everything before the
//      first "://" is its scheme (so "/go?u=s://h" counts as absolute).
//      resolveReference alone reads schemes by their grammar.
//   2. The authority after "://" ends at the first "/", "?" or "#". User
//      information is everything before its last "@", split off before the
//      host and port are read: it is never a host or a port.
//   3. The path never holds its leading "/"; the query stays in the path (a
//      query straight after the authority is the whole path, "?q"); the
//      fragment is what follows the first "#" after the host start.
//   4. A port is read with the runtime's number reader after the host's
//      first ":" ("$50" is 80); when nothing is read the host keeps its ":".
//      A host that begins with "[" (an IPv6 literal) runs to its "]" and
//      keeps its brackets; its port follows "]:".
//   5. Malformed URLs are not errors: they split into nothing (all NIL,
//      port -1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
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
  Str userInfo;  // NIL when the authority has no "@"; made with the host
  Str host;
  int32_t port = -1;  // -1 when the URL gives none
  Str path;
  Str fragment;
};

// Where the host of a url whose authority starts at hostStart lies: it
// starts at `start` (after the user information's "@", else hostStart) and
// ends at `end`, the first "/" or "?" after it, else its "#", else the url's
// end; `hash` is the "#" (else the end). An IPv6 literal ("[::1]") runs to
// its "]", whose colons are no port: a port's ":" lies at or after `scan`.
struct URLHostSpan {
  size_t start;
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

// The target of the reference ref read against base, as RFC 3986 section 5
// resolves it (strict): a reference with a scheme ("name:") is absolute,
// "//" starts a network path, "/" an absolute path, anything else is merged
// with the folder of the base's path; dot segments are removed; the query
// and fragment come from the reference as it gives them. A scheme is a
// letter followed by letters, digits, "+", "-" or "."; so "/go?u=s://h" is
// a path with a query. NIL when either is NIL, or when ref has no scheme
// and base has none either. No text is trimmed, escaped or lower-cased.
Str resolveReference(Text base, Text ref);

// text with every byte that is not an ASCII letter, an ASCII digit or in
// safe (NIL: "_.-/") written as "%XX" (upper-case hex). With nilIfUnchanged
// the result is NIL when nothing needed an escape, else a copy.
Str encodeRawURL(Text text, Text safe, bool nilIfUnchanged);

// True when c occurs in safe.
bool isSafeChar(char c, Text safe);

// The ASCII form of a host as a URL writes it: its "%XX" escapes decoded
// ("%65xample.com" is "example.com"), then a name beyond ASCII as IDNA 2008
// writes it ("b%C3%BCcher.example" and "bücher.example" give
// "xn--bcher-kva.example"); an ASCII name comes back as it stands, an IPv6
// literal ("[::1]") as written. nullopt when the host is no name: a broken
// escape, a decoded control byte, blank, DEL or one of "/?#@\%", bytes
// beyond ASCII that do not convert (not UTF-8, or not a valid name), or a
// literal holding a byte beyond ASCII, a control byte, blank, DEL or one of
// "/?#@\".
std::optional<std::string> asciiHostName(std::string_view host);

// True when both URLs have a host and the hosts are equal ignoring case.
bool isSameHost(Text url1, Text url2);

}  // namespace bw
