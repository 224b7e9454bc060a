// fuzz/fuzz_oauth.cpp - query splitting in both forms, search, the OAuth
// order, joining and signing on fuzzer text.
//
// Checks: OAuth pairs hold only letters, digits, "_.-~" and "%XX"; both
// forms find the same pairs; a search finds the first pair of its key;
// sorting gives ascending order, keeps the pairs, and a second sort changes
// nothing; a signature is always 28 base64 characters ending in "=".
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "social/key_value_pairs.h"
#include "social/oauth1.h"

namespace {

bool isEncoded(std::string_view s) {
  auto hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '%') {
      if (i + 2 >= s.size() || !hex(s[i + 1]) || !hex(s[i + 2])) return false;
      i += 2;
    } else if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                 std::string_view("_.-~").find(c) != std::string_view::npos)) {
      return false;
    }
  }
  return true;
}

std::string joined(const bw::OauthKeyValuePairs& list) {
  return bw::oauth1_joinParameters(list, false, "\n", nullptr, nullptr).str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  bw::OauthKeyValuePairs oauth = bw::splitQueryString(text);
  bw::KeyValuePairs plain = bw::splitQueryString_facebook(text);
  if (oauth.size() != plain.size()) std::abort();
  for (size_t i = 0; i < oauth.size(); ++i) {
    if (!isEncoded(oauth[i].key.view()) || !isEncoded(oauth[i].value.view())) std::abort();
    if (bw::oauthEncode(plain[i].key) != oauth[i].key || bw::oauthEncode(plain[i].value) != oauth[i].value)
      std::abort();
    const bw::oauthKeyValuePair* found = bw::findKeyValuePair(oauth, oauth[i].key);
    if (!found || found > &oauth[i] || found->key != oauth[i].key) std::abort();
    if (bw::findKeyValuePair(plain, plain[i].key)->key != plain[i].key) std::abort();
  }

  bw::OauthKeyValuePairs sorted = oauth;
  bw::sortOauthKeyValuePairs(sorted);
  for (size_t i = 1; i < sorted.size(); ++i) {
    if (bw::compareOauthKeyValuePairs(sorted[i - 1], sorted[i]) < 0) std::abort();
  }
  bw::OauthKeyValuePairs again = sorted;
  bw::sortOauthKeyValuePairs(again);
  if (joined(again) != joined(sorted)) std::abort();

  bw::Str header = bw::oauth1_joinParameters(sorted, true, ", ", "Authorization: OAuth ", "\n");
  if (header.view().substr(0, 21) != "Authorization: OAuth " || header.view().back() != '\n') std::abort();
  bw::Str signature = bw::oauth1_makeSignature(text, text, oauth, "http://h/p?" + text, text);
  if (signature.length() != 28 || signature.view().back() != '=') std::abort();
  return 0;
}
