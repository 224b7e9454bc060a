// news/feed_element_text.cpp - feedElementText and feedElementPlainText.
#include "news/feed_element_text.h"

#include <string>
#include <string_view>

#include "web/web_walk.h"
#include "web/xhtml_text.h"

namespace bw {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Appends text to out with one space between words of two pieces.
void appendWords(std::string& out, std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  if (text.empty()) return;
  if (!out.empty()) out += ' ';
  out.append(text);
}

}  // namespace

bool isCommentOrInstruction(const webDataNode& node) {
  const NodeText name = node.getName();
  return !name.isNil() && (name.view().starts_with("!--") || name.view().starts_with("?"));
}

FeedElementText feedElementText(webDataNode* node, const cEncoding& utf8) {
  if (!node) return {};
  webDataNode* child = node->getFirstChild();
  if (!child) return {node->getText(&utf8, true), false};
  for (webDataNode* c = child; c; c = c->getNext()) {
    if (!isCommentOrInstruction(*c) || c->getFirstChild()) return {xhtmlContentToString(*node), true};
  }
  // Only comments: the text around them, as written.
  std::string text(node->getText(&utf8, true).view());
  for (webDataNode* c = child; c; c = c->getNext()) text.append(c->getText(&utf8, true).view());
  return {Str(text), false};
}

Str feedElementPlainText(webDataNode* node, const cEncoding& utf8) {
  if (!node) return Str();
  if (!node->getFirstChild()) return node->getText(&utf8, true);
  std::string out;
  walkNodes<bool>(
      node, false,
      [&](webDataNode* n) {
        appendWords(out, n->getText(&utf8, true).view());
        return true;
      },
      [&](webDataNode* n, bool) {
        if (n != node) appendWords(out, n->getTextAfterEndTag(&utf8, true).view());
      });
  return Str(out);
}

}  // namespace bw
