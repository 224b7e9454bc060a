// web/xhtml_text.cpp - xhtmlToString.
#include "web/xhtml_text.h"

#include <string>

#include "core/exception.h"
#include "web/web_walk.h"

namespace bw {
namespace {

enum Written { kElement, kSelfClosed, kDropped, kContentOnly };

// HTML's void elements: written "<br />", never with an end tag.
bool isVoidElement(std::string_view name) {
  for (std::string_view v : {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param",
                             "source", "track", "wbr"}) {
    if (name == v) return true;
  }
  return false;
}

// An attribute value as written, in the quotes it can stand in: a value
// holding a double quote was written in apostrophes, and is again.
void appendAttributeValue(std::string& out, std::string_view value) {
  const bool hasQuote = value.find('"') != std::string_view::npos;
  if (hasQuote && value.find('\'') == std::string_view::npos) {
    out += '\'';
    out.append(value);
    out += '\'';
    return;
  }
  out += '"';
  for (char c : value) {
    if (c == '"') {
      out += "&quot;";
    } else {
      out += c;
    }
  }
  out += '"';
}

Str writeMarkup(webDataNode& node, bool withOwnTags) {
  cEncodingUTF utf8;
  utf8.load("UTF-8");

  std::string out;
  auto enter = [&](webDataNode* n) -> Written {
    const std::string_view name = n->getName().isNil() ? std::string_view() : n->getName().view();
    // Comments and processing instructions are nodes named by their whole
    // tag, holding the text that follows them: the text alone is kept.
    if (name.starts_with("!--") || name.starts_with("?")) {
      out.append(n->getText(&utf8, true).view());
      return kDropped;
    }
    if (n == &node && !withOwnTags) {
      out.append(n->getText(&utf8, true).view());
      return kContentOnly;
    }
    out += '<';
    out.append(name);
    for (webAttributeText a = n->getFirstAttribute(&utf8, true); a.name; a = n->getNextAttribute(&utf8, true)) {
      out += ' ';
      out.append(a.name->view());
      out += '=';
      appendAttributeValue(out, a.value.view());
    }
    const Str text = n->getText(&utf8, true);
    if (!n->getFirstChild() && text.view().empty() && (n->writtenAsEmptyTag() || isVoidElement(name))) {
      out += n->writtenAsEmptyTag() && !n->emptyTagHasBlank() ? "/>" : " />";
      return kSelfClosed;
    }
    out += '>';
    out.append(text.view());
    return kElement;
  };
  auto leave = [&](webDataNode* n, Written written) {
    if (written == kElement) {
      out += "</";
      out.append(n->getName().view());
      out += '>';
    }
    if (n != &node) out.append(n->getTextAfterEndTag(&utf8, true).view());
  };
  walkNodes<Written>(&node, false, enter, leave);

  int32_t length = static_cast<int32_t>(out.size());
  return Str::adopt(std::move(out), length);
}

}  // namespace

Str xhtmlToString(webDataNode& node) {
  if (!node.getParent()) raise("BUG", "xhtmlToString(); node.parent=NIL");
  return writeMarkup(node, true);
}

Str xhtmlContentToString(webDataNode& node) { return writeMarkup(node, false); }

}  // namespace bw
