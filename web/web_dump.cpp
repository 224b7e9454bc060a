// web/web_dump.cpp - dumpWebTree.
#include "web/web_dump.h"

#include "web/web_walk.h"

namespace bw {

namespace {

void appendEscaped(std::string& out, const Str& s) {
  for (char c : s.view()) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
}

}  // namespace

std::string dumpWebTree(webDataRoot& root, const cEncoding& target, bool noDecode) {
  std::string out;
  int depth = 0;
  auto enter = [&](webDataNode* n) -> int {
    out += std::to_string(depth++);
    out += ' ';
    if (!n->getNamespace().isNil()) {
      out.append(n->getNamespace().view());
      out += ':';
    }
    out.append(n->getName().view());
    for (webAttributeText a = n->getFirstAttribute(&target, noDecode); a.name;
         a = n->getNextAttribute(&target, noDecode)) {
      out += ' ';
      appendEscaped(out, *a.name);
      out += "=\"";
      appendEscaped(out, a.value);
      out += '"';
    }
    out += " | ";
    appendEscaped(out, n->getText(&target, noDecode));
    Str after = n->getTextAfterEndTag(&target, noDecode);
    if (!after.isNil() && !after.empty()) {
      out += " || ";
      appendEscaped(out, after);
    }
    out += '\n';
    return 0;
  };
  auto leave = [&](webDataNode*, int) { --depth; };
  walkNodes<int>(root.head(), true, enter, leave);
  return out;
}

}  // namespace bw
