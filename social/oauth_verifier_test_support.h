// social/oauth_verifier_test_support.h - test side: an OAuth 1.0a verifier
// written straight from RFC 5849, sharing nothing with social/ but
// hmacSha1, for the fakes of the social services to check what reaches
// them.
//
// From a request as the server saw it (method, URL as addressed,
// Authorization line, body) and the two secrets it decodes the parameters,
// re-encodes them by RFC 3986, sorts them with std::sort, rebuilds the
// base string and the signature, and names the first thing that does not
// match. It also carries its own base64, decoder included.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "social/sha1.h"

namespace bw::test {

inline std::string rfc3986Encode(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// application/x-www-form-urlencoded decoding: "+" is a blank, %XX a byte.
inline std::string formDecode(const std::string& text) {
  auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(digit(text[i + 1]) * 16 + digit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

inline std::string base64Encode(const std::string& bytes) {
  static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (unsigned char c : bytes) {
    bits = bits << 8 | c;
    for (count += 8; count >= 6; count -= 6) out += abc[(bits >> (count - 6)) & 63];
  }
  if (count > 0) out += abc[(bits << (6 - count)) & 63];
  while (out.size() % 4) out += '=';
  return out;
}

// The bytes of a base64 text; false when it is not canonical base64.
inline bool base64Decode(const std::string& text, std::string* bytes) {
  static const std::string abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4) return false;
  size_t pad = text.size() - text.find_last_not_of('=') - 1;
  if (text.empty()) pad = 0;
  if (pad > 2) return false;
  bytes->clear();
  uint32_t bits = 0;
  int count = 0;
  for (size_t i = 0; i < text.size() - pad; ++i) {
    size_t v = abc.find(text[i]);
    if (v == std::string::npos) return false;
    bits = bits << 6 | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      *bytes += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return (bits & ((1u << count) - 1)) == 0;  // the fill bits are zero
}

struct SignedRequest {
  std::string method;         // "GET" or "POST"
  std::string url;            // as addressed, query included
  std::string authorization;  // the whole line, "Authorization: OAuth ..."
  std::string body;           // as sent (form-encoded)
};

// The request that a loopback server captured, addressed at origin
// ("http://127.0.0.1:port").
inline SignedRequest signedRequestFromWire(const std::string& raw, const std::string& origin) {
  SignedRequest r;
  size_t blank = raw.find(' ');
  size_t second = raw.find(' ', blank + 1);
  r.method = raw.substr(0, blank);
  r.url = origin + raw.substr(blank + 1, second - blank - 1);
  size_t headerEnd = raw.find("\r\n\r\n");
  size_t at = raw.find("\r\nAuthorization: ");
  if (at != std::string::npos && at < headerEnd) r.authorization = raw.substr(at + 2, raw.find("\r\n", at + 2) - at - 2);
  if (headerEnd != std::string::npos) r.body = raw.substr(headerEnd + 4);
  return r;
}

struct OauthVerdict {
  std::string mismatch;  // empty when the request verifies
  std::string baseString;
  std::vector<std::pair<std::string, std::string>> header;  // decoded, in header order
  std::string get(const std::string& key) const {
    for (const auto& [k, v] : header)
      if (k == key) return v;
    return {};
  }
};

inline void addFormPairs(const std::string& text, std::vector<std::pair<std::string, std::string>>& into) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t amp = text.find('&', pos);
    if (amp == std::string::npos) amp = text.size();
    std::string part = text.substr(pos, amp - pos);
    size_t eq = part.find('=');
    if (!part.empty()) {
      into.emplace_back(formDecode(part.substr(0, eq)), eq == std::string::npos ? "" : formDecode(part.substr(eq + 1)));
    }
    pos = amp + 1;
  }
}

inline OauthVerdict verifyOauthRequest(const SignedRequest& r, const std::string& consumerSecret,
                                       const std::string& tokenSecret) {
  OauthVerdict v;
  const std::string lead = "Authorization: OAuth ";
  if (r.authorization.compare(0, lead.size(), lead) != 0) {
    v.mismatch = "no \"Authorization: OAuth \" line";
    return v;
  }
  // key="value" pairs separated by ", ".
  std::string rest = r.authorization.substr(lead.size());
  std::vector<std::string> rawKeys;
  for (size_t pos = 0; pos < rest.size();) {
    size_t eq = rest.find("=\"", pos);
    size_t close = eq == std::string::npos ? eq : rest.find('"', eq + 2);
    if (close == std::string::npos) {
      v.mismatch = "malformed header parameter at " + rest.substr(pos);
      return v;
    }
    rawKeys.push_back(rest.substr(pos, eq - pos));
    v.header.emplace_back(formDecode(rawKeys.back()), formDecode(rest.substr(eq + 2, close - eq - 2)));
    pos = close + 1;
    if (pos < rest.size()) {
      if (rest.compare(pos, 2, ", ") != 0) {
        v.mismatch = "header parameters not separated by \", \"";
        return v;
      }
      pos += 2;
    }
  }
  if (!std::is_sorted(rawKeys.begin(), rawKeys.end())) {
    v.mismatch = "header parameters out of order";
    return v;
  }
  for (const char* key : {"oauth_consumer_key", "oauth_nonce", "oauth_signature", "oauth_timestamp"}) {
    if (v.get(key).empty()) {
      v.mismatch = std::string("missing ") + key;
      return v;
    }
  }
  if (v.get("oauth_signature_method") != "HMAC-SHA1") v.mismatch = "oauth_signature_method is not HMAC-SHA1";
  std::string version = v.get("oauth_version");  // optional, but then "1.0"
  bool hasVersion = std::any_of(v.header.begin(), v.header.end(), [](const auto& kv) { return kv.first == "oauth_version"; });
  if (hasVersion && version != "1.0") v.mismatch = "oauth_version is not 1.0";
  std::string stamp = v.get("oauth_timestamp");
  if (stamp.find_first_not_of("0123456789") != std::string::npos || stamp[0] == '0')
    v.mismatch = "oauth_timestamp is not a plain number";
  if (!v.mismatch.empty()) return v;

  // Base URL: scheme and host in lower case, the default port left out.
  size_t question = r.url.find('?');
  std::string base = r.url.substr(0, question);
  size_t hostStart = base.find("://") + 3;
  size_t pathStart = base.find('/', hostStart);
  std::string authority = base.substr(0, pathStart);
  std::transform(authority.begin(), authority.end(), authority.begin(), [](char c) { return std::tolower(c); });
  for (const char* port : {"http://", "https://"}) {
    std::string suffix = std::string(":") + (port[4] == 's' ? "443" : "80");
    if (authority.rfind(port, 0) == 0 && authority.size() > suffix.size() &&
        authority.compare(authority.size() - suffix.size(), suffix.size(), suffix) == 0)
      authority.resize(authority.size() - suffix.size());
  }
  base = authority + (pathStart == std::string::npos ? "/" : base.substr(pathStart));

  std::vector<std::pair<std::string, std::string>> params;
  for (const auto& kv : v.header)
    if (kv.first != "oauth_signature") params.push_back(kv);
  if (question != std::string::npos) addFormPairs(r.url.substr(question + 1), params);
  if (r.method == "POST") addFormPairs(r.body, params);
  for (auto& [k, val] : params) {
    k = rfc3986Encode(k);
    val = rfc3986Encode(val);
  }
  std::sort(params.begin(), params.end());
  std::string joined;
  for (const auto& [k, val] : params) joined += (joined.empty() ? "" : "&") + k + "=" + val;
  v.baseString = r.method + "&" + rfc3986Encode(base) + "&" + rfc3986Encode(joined);
  std::string key = rfc3986Encode(consumerSecret) + "&" + rfc3986Encode(tokenSecret);
  uint8_t digest[20];
  hmacSha1(key.data(), static_cast<int32_t>(key.size()), v.baseString.data(),
           static_cast<int32_t>(v.baseString.size()), digest);
  std::string want = base64Encode(std::string(reinterpret_cast<char*>(digest), 20));
  if (v.get("oauth_signature") != want) v.mismatch = "oauth_signature is " + v.get("oauth_signature") + ", want " + want;
  return v;
}

}  // namespace bw::test
