// web/xml_writer.cpp - the XML writer.
#include "web/xml_writer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/exception.h"
#include "core/string_procs.h"
#include "core/translate.h"
#include "web/web_walk.h"
#include "web/xml_entities.h"

namespace bw {

namespace {

// Comments and processing instructions are named by their whole tag and
// have no end tag.
bool isComment(const webDataNode& node) {
  std::string_view name = node.getName().view();
  return name.starts_with("!--") || name.starts_with("?");
}

void link(StrChain& chain, std::string_view piece) { chain.emplace_back(piece); }

// The qualified name: "ns:name" or "name".
void linkQualifiedName(StrChain& chain, const webDataNode& node) {
  if (!node.getNamespace().isNil()) linkStringF(chain, "%s:", node.getNamespace().c_str());
  if (!node.getName().isNil()) chain.emplace_back(node.getName().view());
}

Str escapeMarkup(Str text) {
  std::string_view v = text.view();
  if (v.find_first_of("<>") == std::string_view::npos) return text;
  const char* const* table = xmlEscapeTable();
  if (!table) raise("BUG", "createXMLnodeIntoLinkedStrings(); XML module not initialised");
  return translateStr(text, table, text.length(), false, 0);
}

}  // namespace

void linkStringF(StrChain& chain, const char* format, ...) {
  int32_t capacity = 2 * (static_cast<int32_t>(std::strlen(format)) + 50);
  for (;;) {
    Str piece = Str::withCapacity(capacity);
    std::string buffer(static_cast<size_t>(capacity) + 1, '\0');
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    if (written < 0) raise("EPU", "linkStringF(); bad format");
    if (written < capacity) {
      buffer.resize(static_cast<size_t>(written));
      chain.push_back(Str::adopt(std::move(buffer), capacity));
      return;
    }
    capacity *= 2;
  }
}

void createXMLnodeIntoLinkedStrings(webDataNode& node, StrChain& chain,
                                    const cEncoding& useEncoding, bool noDecode) {
  // State per open node: whether it was written self-closing ("/>").
  auto enter = [&](webDataNode* n) -> bool {
    link(chain, "<");
    linkQualifiedName(chain, *n);
    for (webAttributeText a = n->getFirstAttribute(&useEncoding, noDecode); a.name;
         a = n->getNextAttribute(&useEncoding, noDecode)) {
      linkStringF(chain, " %s=\"%s\"", a.name->c_str(), a.value.isNil() ? "" : a.value.c_str());
    }
    Str text = n->getText(&useEncoding, noDecode);
    if (!n->hasChildrenList() && (text.isNil() || text.empty()) && !isComment(*n)) {
      link(chain, "/>");
      return true;
    }
    link(chain, ">");
    if (!text.isNil()) chain.push_back(escapeMarkup(std::move(text)));
    return false;
  };
  auto leave = [&](webDataNode* n, bool selfClosed) {
    if (!selfClosed && !isComment(*n)) {
      link(chain, "</");
      linkQualifiedName(chain, *n);
      link(chain, ">");
    }
    Str after = n->getTextAfterEndTag(&useEncoding, noDecode);
    if (!after.isNil()) chain.push_back(std::move(after));
  };
  walkNodes<bool>(&node, false, enter, leave);
}

StrChain createXMLintoLinkedStrings(webDataRoot& root, const cEncoding* useEncoding, bool noDecode) {
  if (!useEncoding) raise("EPU", "createXMLintoLinkedStrings(); useEncoding=NIL");
  StrChain chain;
  chain.push_back(Str(""));
  linkStringF(chain, "<?xml version=\"1.0\" encoding=\"%s\"?>\n", useEncoding->infoName().c_str());
  for (webDataNode* n = root.head(); n; n = n->getNext()) {
    createXMLnodeIntoLinkedStrings(*n, chain, *useEncoding, noDecode);
  }
  return chain;
}

Str createXMLintoString(webDataRoot& root, const cEncoding* useEncoding, bool noDecode) {
  StrChain chain = createXMLintoLinkedStrings(root, useEncoding ? useEncoding : root.getCharset(),
                                              noDecode);
  return joinStrings(chain, nullptr);
}

void printXMLdocument(webDataRoot& root, const cEncoding* useEncoding, bool noDecode) {
  StrChain chain = createXMLintoLinkedStrings(root, useEncoding ? useEncoding : root.getCharset(),
                                              noDecode);
  for (const Str& piece : chain) std::fwrite(piece.data(), 1, static_cast<size_t>(piece.length()), stdout);
}

}  // namespace bw
