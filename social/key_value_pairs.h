// social/key_value_pairs.h - key/value pairs of query strings, callback
// addresses and OAuth parameters: making, splitting, searching, the OAuth
// byte order and the debugging print.
//
// Two kinds of pair, one implementation:
//   - keyValuePair keeps key and value as given (the Facebook sign-in, the
//     friends list);
//   - oauthKeyValuePair keeps both percent-encoded: every byte that is not
//     an ASCII letter, a digit or one of oauthUnreservedChars ("_.-~") is
//     "%" and two upper-case hex digits. A NUL byte ends a text.
// A list of pairs is a std::vector owned by whoever holds it; the pairs are
// values, so a list and its pairs always go together.
//
// Invariants:
//   1. Splitting never decodes: "%" and "+" stay as they are (and an OAuth
//      pair then encodes the "%" once more, as %25); splitFormAnswer alone
//      decodes, once.
//   2. The text splits at every "&"; only the first "=" of a part splits
//      it; a part without "=" is a key with an empty value; empty parts
//      make no pair.
//   3. Searching compares whole keys, letter case counting; the first
//      match wins.
//   4. The OAuth order compares keys, then values, byte by byte as unsigned
//      values, a prefix first; sorting is stable and ascending.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/str.h"

namespace bw {

// The bytes besides ASCII letters and digits that OAuth leaves unencoded.
inline constexpr char oauthUnreservedChars[] = "_.-~";

// text percent-encoded with oauthUnreservedChars as the safe set (up to its
// first NUL); NIL stays NIL.
Str oauthEncode(Text text);

struct keyValuePair {
  Str key;
  Str value;
};

struct oauthKeyValuePair {
  oauthKeyValuePair() = default;
  // Stores both percent-encoded.
  oauthKeyValuePair(Str key, Str value);
  Str key;
  Str value;
};

using KeyValuePairs = std::vector<keyValuePair>;
using OauthKeyValuePairs = std::vector<oauthKeyValuePair>;

// Appends a pair made from key and value (the OAuth form encodes them).
void newKeyValuePair(KeyValuePairs& list, Str key, Str value);
void newOauthKeyValuePair(OauthKeyValuePairs& list, Str key, Str value);

// The pairs of a query string "k=v&k=v..." in order (see invariant 2).
OauthKeyValuePairs splitQueryString(Text text);
KeyValuePairs splitQueryString_facebook(Text text);

// The pairs of a form-encoded answer ("k=v&k=v..."), keys and values
// form-decoded once: "%XX" is the byte, "+" a blank; a "%" without two hex
// digits stays as it is.
KeyValuePairs splitFormAnswer(Text text);
Str formDecode(std::string_view text);

// The first pair whose key is key, or nullptr; the pair stays in the list.
const oauthKeyValuePair* findKeyValuePair(const OauthKeyValuePairs& list, Text key);
const keyValuePair* findKeyValuePair(const KeyValuePairs& list, Text key);
// That pair's value (a view of the pair's own string), or NIL when no pair
// has the key.
Text findKeyValue(const OauthKeyValuePairs& list, Text key);
Text findKeyValue(const KeyValuePairs& list, Text key);

// The OAuth parameter order in the list sort's convention: 1 when a goes
// before b, -1 when b goes first, 0 when both are equal.
int32_t compareOauthKeyValuePairs(const oauthKeyValuePair& a, const oauthKeyValuePair& b);
// Sorts the list ascending by that order, keeping equal pairs in order.
void sortOauthKeyValuePairs(OauthKeyValuePairs& list);

// Debugging aids: print each pair to standard output as
// "%ld. \"%s\"=\"%s\"\n" (numbered from 1) or "* \"%s\"=\"%s\"\n".
// A null list raises "NIL" "printListOfKeyValuePairs(); list=NIL".
void printListOfKeyValuePairs(const OauthKeyValuePairs* list, bool numbered);
void printListOfKeyValuePairs_facebook(const KeyValuePairs* list);

}  // namespace bw
