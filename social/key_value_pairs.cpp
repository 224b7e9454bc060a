// social/key_value_pairs.cpp - the pair procedures, written once for both
// kinds of pair.
#include "social/key_value_pairs.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/exception.h"
#include "web/url.h"

namespace bw {
namespace {

template <class Pair>
void append(std::vector<Pair>& list, Str key, Str value) {
  if constexpr (std::is_same_v<Pair, oauthKeyValuePair>) {
    list.emplace_back(std::move(key), std::move(value));
  } else {
    list.push_back({std::move(key), std::move(value)});
  }
}

template <class Pair>
std::vector<Pair> split(Text text) {
  std::vector<Pair> list;
  std::string_view s = text.view();
  size_t pos = 0;
  while (pos < s.size()) {
    size_t amp = s.find('&', pos);
    if (amp == std::string_view::npos) amp = s.size();
    std::string_view part = s.substr(pos, amp - pos);
    if (!part.empty()) {
      size_t equals = part.find('=');
      std::string_view value = equals == std::string_view::npos ? std::string_view() : part.substr(equals + 1);
      append(list, Str(part.substr(0, equals)), Str(value));
    }
    pos = amp + 1;
  }
  return list;
}

template <class Pair>
const Pair* find(const std::vector<Pair>& list, Text key) {
  if (key.isNil()) return nullptr;
  for (const Pair& pair : list) {
    if (!pair.key.isNil() && pair.key.view() == key.view()) return &pair;
  }
  return nullptr;
}

// Unsigned byte order, a prefix first: negative, 0 or positive
// (char_traits<char> compares as unsigned char).
int compareBytes(const Str& a, const Str& b) { return a.view().compare(b.view()); }

void printPair(const char* bullet, long number, const Str& key, const Str& value) {
  if (number > 0) {
    std::printf("%ld. \"%s\"=\"%s\"\n", number, key.c_str(), value.c_str());
  } else {
    std::printf("%s \"%s\"=\"%s\"\n", bullet, key.c_str(), value.c_str());
  }
}

}  // namespace

Str oauthEncode(Text text) {
  if (text.isNil()) return Str();
  return encodeRawURL(text.nulView(), oauthUnreservedChars, false);
}

oauthKeyValuePair::oauthKeyValuePair(Str keyText, Str valueText)
    : key(oauthEncode(keyText)), value(oauthEncode(valueText)) {}

void newKeyValuePair(KeyValuePairs& list, Str key, Str value) { append(list, std::move(key), std::move(value)); }
void newOauthKeyValuePair(OauthKeyValuePairs& list, Str key, Str value) {
  append(list, std::move(key), std::move(value));
}

OauthKeyValuePairs splitQueryString(Text text) { return split<oauthKeyValuePair>(text); }
KeyValuePairs splitQueryString_facebook(Text text) { return split<keyValuePair>(text); }

Str formDecode(std::string_view text) {
  auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return Str(out);
}

KeyValuePairs splitFormAnswer(Text text) {
  KeyValuePairs pairs = splitQueryString_facebook(text);
  for (keyValuePair& pair : pairs) {
    pair.key = formDecode(pair.key.view());
    pair.value = formDecode(pair.value.view());
  }
  return pairs;
}

const oauthKeyValuePair* findKeyValuePair(const OauthKeyValuePairs& list, Text key) { return find(list, key); }
const keyValuePair* findKeyValuePair(const KeyValuePairs& list, Text key) { return find(list, key); }

Text findKeyValue(const OauthKeyValuePairs& list, Text key) {
  const oauthKeyValuePair* pair = find(list, key);
  return pair ? Text(pair->value) : Text(nullptr);
}
Text findKeyValue(const KeyValuePairs& list, Text key) {
  const keyValuePair* pair = find(list, key);
  return pair ? Text(pair->value) : Text(nullptr);
}

int32_t compareOauthKeyValuePairs(const oauthKeyValuePair& a, const oauthKeyValuePair& b) {
  int c = compareBytes(a.key, b.key);
  if (c == 0) c = compareBytes(a.value, b.value);
  return c < 0 ? 1 : (c > 0 ? -1 : 0);
}

void sortOauthKeyValuePairs(OauthKeyValuePairs& list) {
  std::stable_sort(list.begin(), list.end(), [](const oauthKeyValuePair& a, const oauthKeyValuePair& b) {
    return compareOauthKeyValuePairs(a, b) > 0;
  });
}

void printListOfKeyValuePairs(const OauthKeyValuePairs* list, bool numbered) {
  if (!list) raise("NIL", "printListOfKeyValuePairs(); list=NIL");
  long number = 0;
  for (const oauthKeyValuePair& pair : *list) printPair("*", numbered ? ++number : 0, pair.key, pair.value);
}

void printListOfKeyValuePairs_facebook(const KeyValuePairs* list) {
  if (!list) raise("NIL", "printListOfKeyValuePairs(); list=NIL");
  for (const keyValuePair& pair : *list) printPair("*", 0, pair.key, pair.value);
}

}  // namespace bw
