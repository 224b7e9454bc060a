// web/json_printer.cpp - the JSON printer: an iterative walk over the tree.
#include "web/json_printer.h"

#include <vector>

#include "core/exception.h"
#include "web/json_reader.h"

namespace bw {

namespace {

void write(std::FILE* out, std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), out); }

// A container whose children are being printed.
struct OpenContainer {
  const webDataNode* node;
  const webDataNode* nextChild;
  int32_t depth;
};

void printEnd(const webDataNode& node, std::FILE* out) { write(out, node.getNext() ? ",\n" : "\n"); }

void printClose(const webDataNode& node, int32_t depth, std::FILE* out) {
  printIndent(2 * depth, out);
  write(out, (node.getTextValue() & kJsonObject) ? "}" : "]");
  printEnd(node, out);
}

}  // namespace

void printIndent(int32_t count, std::FILE* out) {
  static constexpr char kSpaces[] = "                                                                ";
  constexpr int32_t kChunk = sizeof(kSpaces) - 1;
  while (count > 0) {
    int32_t n = count < kChunk ? count : kChunk;
    std::fwrite(kSpaces, 1, static_cast<size_t>(n), out);
    count -= n;
  }
}

void printJSONnode(const webDataNode& top, int32_t depth, std::FILE* out) {
  std::vector<OpenContainer> open;
  const webDataNode* node = &top;
  int32_t d = depth;
  for (;;) {
    const int32_t value = node->getTextValue();
    const NodeText name = node->getName();
    Str text = node->getText(nullptr, true);
    printIndent(2 * d, out);
    // A member of an object is printed with its name even when that is
    // empty, so that the output stays JSON; array elements have none.
    const webDataNode* parent = node->getParent();
    const bool member = parent && (parent->getTextValue() & kJsonObject);
    if (!name.isNil() && (!name.empty() || member)) {
      write(out, "\"");
      write(out, name.view());
      write(out, "\": ");
    }
    bool descended = false;
    if (value & kJsonString) {
      write(out, "\"");
      write(out, text.view());
      write(out, "\"");
      printEnd(*node, out);
    } else if (value & (kJsonInteger | kJsonReal | kJsonLiteral)) {
      write(out, text.view());
      printEnd(*node, out);
    } else if (value & (kJsonObject | kJsonArray)) {
      write(out, (value & kJsonObject) ? "{" : "[");
      if (node->hasChildrenList()) {
        write(out, "\n");
        if (const webDataNode* child = node->getFirstChild()) {
          open.push_back({node, child->getNext(), d});
          node = child;
          ++d;
          descended = true;
        } else {
          printIndent(2 * d, out);
        }
      }
      if (!descended) {
        write(out, (value & kJsonObject) ? "}" : "]");
        printEnd(*node, out);
      }
    } else {
      raise("BUG", "cJSON; printJSONnode(); unexpected node type");
    }
    if (descended) continue;

    // Go on with the next child of the innermost open container, closing
    // the containers whose children are all printed.
    for (;;) {
      if (open.empty()) return;
      OpenContainer& c = open.back();
      if (c.nextChild) {
        node = c.nextChild;
        c.nextChild = node->getNext();
        d = c.depth + 1;
        break;
      }
      printClose(*c.node, c.depth, out);
      open.pop_back();
    }
  }
}

void printJSONroot(const webDataRoot& root, std::FILE* out) {
  for (const webDataNode* node = root.head(); node; node = node->getNext()) {
    // After a comma at the top level the reader takes only a named value, so
    // a later top-level value keeps its name even when that is empty.
    if (node != root.head() && node->getName().empty()) write(out, "\"\": ");
    printJSONnode(*node, 0, out);
  }
  write(out, "\n");
}

}  // namespace bw
