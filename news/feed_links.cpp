// news/feed_links.cpp - resolveFeedLink and feedLinkBase.
#include "news/feed_links.h"

#include <string_view>
#include <vector>

#include "core/string_procs.h"
#include "web/url.h"

namespace bw {
namespace {

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Whether text starts with a scheme and its ":" (a letter, then letters,
// digits, "+", "-" or ".").
bool hasScheme(std::string_view text) {
  if (text.empty() || !isLetter(text[0])) return false;
  for (char c : text.substr(1)) {
    if (c == ':') return true;
    if (!isLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return false;
}

}  // namespace

Str feedLinkBase(const webDataNode& at, Text documentURL, const cEncoding& utf8) {
  std::vector<Str> bases;
  for (const webDataNode* n = &at; n; n = n->getParent()) {
    Str base = n->getAttribute("xml:base", &utf8, false);
    if (!base.isNil()) bases.push_back(std::move(base));
  }
  Str base = documentURL.isNil() ? Str() : Str(documentURL.view());
  for (auto b = bases.rbegin(); b != bases.rend(); ++b) {
    const std::string_view text = trimmedBlanks(b->view());
    if (hasScheme(text)) {
      base = Str(text);
    } else if (!base.isNil()) {
      Str resolved = resolveReference(base, Text(text));
      if (!resolved.isNil()) base = std::move(resolved);
    }
  }
  return base;
}

Str resolveFeedLink(Str link, const webDataNode& at, Text documentURL, const cEncoding& utf8) {
  if (link.isNil()) return link;
  const std::string_view text = trimmedBlanks(link.view());
  // An absolute link is taken as written, but for the blanks around it,
  // which an indented attribute or element may hold.
  if (text.empty() || hasScheme(text)) {
    if (text.size() == link.view().size()) return link;
    return Str(text);
  }
  Str resolved = resolveReference(feedLinkBase(at, documentURL, utf8), Text(text));
  return resolved.isNil() ? link : resolved;
}

}  // namespace bw
