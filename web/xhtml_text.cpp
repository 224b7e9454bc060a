// web/xhtml_text.cpp - xhtmlToString.
#include "web/xhtml_text.h"

#include <string>

#include "core/exception.h"
#include "web/web_walk.h"

namespace bw {

Str xhtmlToString(webDataNode& node) {
  if (!node.getParent()) raise("BUG", "xhtmlToString(); node.parent=NIL");
  cEncodingUTF utf8;
  utf8.load("UTF-8");

  std::string out;
  auto append = [&](std::string_view s) { out.append(s); };
  auto enter = [&](webDataNode* n) -> int {
    out += '<';
    append(n->getName().view());
    for (webAttributeText a = n->getFirstAttribute(&utf8, true); a.name;
         a = n->getNextAttribute(&utf8, true)) {
      out += ' ';
      append(a.name->view());
      out += "=\"";
      append(a.value.view());
      out += '"';
    }
    out += '>';
    append(n->getText(&utf8, true).view());
    return 0;
  };
  auto leave = [&](webDataNode* n, int) {
    out += "</";
    append(n->getName().view());
    out += '>';
    if (n != &node) append(n->getTextAfterEndTag(&utf8, true).view());
  };
  walkNodes<int>(&node, false, enter, leave);

  int32_t length = static_cast<int32_t>(out.size());
  return Str::adopt(std::move(out), length);
}

}  // namespace bw
