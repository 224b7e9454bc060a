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

void appendEscaped(std::string& out, std::string_view text) {
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
}

// A text as written (its references stay references), with each CDATA
// section given as escaped text.
void appendText(std::string& out, std::string_view text) {
  for (;;) {
    const size_t open = text.find("<![CDATA[");
    if (open == std::string_view::npos) break;
    out.append(text.substr(0, open));
    text.remove_prefix(open + 9);
    const size_t close = text.find("]]>");
    appendEscaped(out, text.substr(0, close));
    if (close == std::string_view::npos) return;
    text.remove_prefix(close + 3);
  }
  out.append(text);
}

// An attribute value as written, in double quotes: the quotes and "<" it
// holds are escaped.
void appendAttributeValue(std::string& out, std::string_view value) {
  for (char c : value) {
    if (c == '"') {
      out += "&quot;";
    } else if (c == '<') {
      out += "&lt;";
    } else {
      out += c;
    }
  }
}

}  // namespace

namespace {

Str writeMarkup(webDataNode& node, bool withOwnTags) {
  cEncodingUTF utf8;
  utf8.load("UTF-8");

  std::string out;
  auto enter = [&](webDataNode* n) -> Written {
    const std::string_view name = n->getName().isNil() ? std::string_view() : n->getName().view();
    // Comments and processing instructions are nodes named by their whole
    // tag, holding the text that follows them: the text alone is kept.
    if (name.starts_with("!--") || name.starts_with("?")) {
      appendText(out, n->getText(&utf8, true).view());
      return kDropped;
    }
    if (n == &node && !withOwnTags) {
      appendText(out, n->getText(&utf8, true).view());
      return kContentOnly;
    }
    out += '<';
    out.append(name);
    for (webAttributeText a = n->getFirstAttribute(&utf8, true); a.name; a = n->getNextAttribute(&utf8, true)) {
      out += ' ';
      out.append(a.name->view());
      out += "=\"";
      appendAttributeValue(out, a.value.view());
      out += '"';
    }
    const Str text = n->getText(&utf8, true);
    if (isVoidElement(name) && !n->getFirstChild() && text.view().empty()) {
      out += " />";
      return kSelfClosed;
    }
    out += '>';
    appendText(out, text.view());
    return kElement;
  };
  auto leave = [&](webDataNode* n, Written written) {
    if (written == kElement) {
      out += "</";
      out.append(n->getName().view());
      out += '>';
    }
    if (n != &node) appendText(out, n->getTextAfterEndTag(&utf8, true).view());
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
