// social/facebook_address.cpp - the name a typed Facebook address holds.
#include "social/facebook_address.h"

#include <string>

#include "social/service_config.h"

namespace bw {

FacebookAddress facebookAddressName(Text url) {
  if (url.isNil()) return {};
  const std::string_view text = url.view();
  const std::string host = std::string(kFacebookDomain) + "/";
  const size_t at = text.find(host);
  if (at == std::string_view::npos) return {};
  if (at > 0) {
    const char before = text[at - 1];
    if (!(before == '/' || before == '.' || before == ' ' || before == '\t' || before == '\n' || before == '\r')) {
      return {};
    }
  }
  size_t start = at + host.size();
  const bool isGroup = text.substr(start, 7) == "groups/";
  if (isGroup) start += 7;
  size_t end = start + 1 <= text.size() ? text.find('/', start + 1) : std::string_view::npos;
  if (end == std::string_view::npos) end = text.find('?', start);
  if (end == std::string_view::npos) end = text.size();
  std::string name(text.substr(start, end - start));
  for (char& c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (name.empty()) return {};
  if (!isGroup) {
    if (name == "settings" || name == "profile.php") return {};
    for (char c : name) {
      const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
      if (!ok) return {};
    }
  }
  return {Str(name), isGroup};
}

}  // namespace bw
