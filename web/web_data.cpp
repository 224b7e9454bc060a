// web/web_data.cpp - the web document tree: building, searching, converting
// getters and stack-safe teardown.
#include "web/web_data.h"

#include <utility>

#include "core/exception.h"

namespace bw {

namespace {

// Past this many attributes a node indexes them by folded name, so a tag
// with thousands of attributes is not checked for duplicates in square time.
constexpr size_t kIndexedAttributes = 8;

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string foldedName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = foldAscii(c);
  return folded;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  }
  return true;
}

// Name rule of findNode and isNamed: the name exactly, and the namespace
// exactly when one is asked for, else no namespace at all.
bool nameMatches(const Str& nodeName, const Str& nodeNs, Text name, Text ns) {
  if (nodeName.isNil() || name.isNil() || nodeName.view() != name.view()) return false;
  if (ns.isNil()) return nodeNs.isNil();
  return !nodeNs.isNil() && nodeNs.view() == ns.view();
}

}  // namespace

// ---------------------------------------------------------------------------
// Teardown

void endNodeChain(std::unique_ptr<webDataNode> chain) {
  // Each node's children are spliced in front of its next sibling before the
  // node is deleted, so every node is deleted with nothing left below or
  // after it: the whole forest goes in one loop.
  while (chain) {
    webDataNode* node = chain.get();
    webDataList* kids = node->children_.get();
    if (kids && kids->head_) {
      webDataNode* last = kids->tail_ ? kids->tail_ : kids->head_.get();
      while (last->next_) last = last->next_.get();
      last->next_ = std::move(node->next_);
      node->next_ = std::move(kids->head_);
      kids->tail_ = nullptr;
    }
    chain = std::move(node->next_);  // deletes node
  }
}

webDataList::~webDataList() { endNodeChain(std::move(head_)); }

webDataNode::~webDataNode() {
  if (children_) endNodeChain(std::move(children_->head_));
  endNodeChain(std::move(next_));
}

// ---------------------------------------------------------------------------
// webDataList

void webDataList::addNodes(std::unique_ptr<webDataNode> first, webDataRoot* root) {
  if (!first) return;
  webDataList* queueHead = nullptr;
  webDataList* queueTail = nullptr;
  auto enqueue = [&](webDataList* list) {
    list->nextInQueue_ = nullptr;
    if (queueTail) {
      queueTail->nextInQueue_ = list;
    } else {
      queueHead = list;
    }
    queueTail = list;
  };

  webDataNode* last = nullptr;
  for (webDataNode* n = first.get(); n; n = n->next_.get()) {
    n->parent_ = owner_;
    n->root_ = root;
    if (n->children_) enqueue(n->children_.get());
    last = n;
  }
  while (queueHead) {
    webDataList* list = queueHead;
    queueHead = list->nextInQueue_;
    if (!queueHead) queueTail = nullptr;
    list->nextInQueue_ = nullptr;
    for (webDataNode* n = list->head_.get(); n; n = n->next_.get()) {
      n->root_ = root;
      if (n->children_) enqueue(n->children_.get());
    }
  }

  if (!head_) {
    head_ = std::move(first);
  } else {
    webDataNode* oldTail = tail_;
    while (oldTail->next_) oldTail = oldTail->next_.get();
    oldTail->next_ = std::move(first);
  }
  tail_ = last;
}

webDataNode* webDataList::findNode(Text name, Text ns, const webDataNode* after,
                                   const webDataNode* limit) const {
  webDataNode* n = after ? after->next_.get() : head_.get();
  for (; n; n = n->next_.get()) {
    if (nameMatches(n->name_, n->ns_, name, ns)) return n;
    if (n == limit) break;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// webDataRoot

void webDataRoot::setContents(webDataList* list, Str encodingName, Str declaredEncodingName,
                              std::unique_ptr<cEncoding> encoding,
                              std::unique_ptr<cEncoding> charset,
                              std::shared_ptr<const webDecoder> matcher) {
  if (list && list->head_) {
    for (webDataNode* n = list->head_.get(); n; n = n->next_.get()) n->parent_ = nullptr;
    webDataNode* listTail = list->tail_;
    if (!head_) {
      head_ = std::move(list->head_);
    } else {
      webDataNode* oldTail = tail_;
      while (oldTail->next_) oldTail = oldTail->next_.get();
      oldTail->next_ = std::move(list->head_);
    }
    tail_ = listTail;
    list->tail_ = nullptr;
  }
  encodingName_ = std::move(encodingName);
  declaredEncodingName_ = std::move(declaredEncodingName);
  encoding_ = std::move(encoding);
  charset_ = std::move(charset);
  matcher_ = std::move(matcher);
}

Str webDataRoot::convertString(const Str& text, const cEncoding* charset, bool noDecode,
                               const char* method) const {
  if (text.isNil()) return Str();
  const cEncoding* target = charset ? charset : charset_.get();
  if (!encoding_ || !target) {
    raise("EMU", std::string("webDataNode.") + method + "(); root has no encoding");
  }
  if (!noDecode && matcher_) return matcher_->decode(text, *encoding_, *target, false);
  return convertDocumentText(text, *encoding_, *target);
}

// ---------------------------------------------------------------------------
// webDataNode

webDataNode::webDataNode(Str name, Str text, int32_t textValue, webDataRoot* root, Str ns)
    : textValue_(textValue), ns_(std::move(ns)), name_(std::move(name)), text_(std::move(text)), root_(root) {}

void webDataNode::setTextAfterEndTag(Str text) {
  if (!textAfterEndTag_.isNil()) {
    raise("EMU", "webDataNode.setTextAfterEndTag(); already exists");
  }
  textAfterEndTag_ = std::move(text);
}

webOldText webDataNode::setText(Str text, int32_t textValue, bool returnOld) {
  webOldText old;
  if (returnOld) {
    old.text = std::move(text_);
    old.textValue = textValue_;
  }
  text_ = std::move(text);
  textValue_ = textValue;
  return old;
}

webOldText webDataNode::setName(Str name, Str ns, bool returnOld) {
  webOldText old;
  if (returnOld) {
    old.text = std::move(name_);
    old.ns = std::move(ns_);
  }
  name_ = std::move(name);
  ns_ = std::move(ns);
  return old;
}

const webDataAttribute* webDataNode::findAttribute(std::string_view name) const {
  if (!attributes_) return nullptr;
  if (attributes_->index) {
    auto it = attributes_->index->find(foldedName(name));
    return it == attributes_->index->end() ? nullptr : it->second;
  }
  for (const auto& a : attributes_->list) {
    if (equalsIgnoringAsciiCase(a->name.view(), name)) return a.get();
  }
  return nullptr;
}

bool webDataNode::addAttribute(Str name, Str value) {
  if (findAttribute(name.view())) return true;
  if (!attributes_) attributes_ = std::make_unique<Attributes>();
  auto& list = attributes_->list;
  auto& index = attributes_->index;
  auto attribute = std::make_unique<webDataAttribute>(std::move(name), std::move(value));
  webDataAttribute* added = attribute.get();
  if (!list.empty()) list.back()->next = added;
  list.push_back(std::move(attribute));
  if (index) {
    index->emplace(foldedName(added->name.view()), added);
  } else if (list.size() > kIndexedAttributes) {
    index = std::make_unique<std::unordered_map<std::string, webDataAttribute*>>();
    for (const auto& a : list) index->emplace(foldedName(a->name.view()), a.get());
  }
  return false;
}

Str webDataNode::convert(const Str& s, const cEncoding* charset, bool noDecode,
                         const char* method) const {
  if (!root_) {
    raise("EMU", std::string("webDataNode.") + method + "(); called before \"root\" was set");
  }
  return root_->convertString(s, charset, noDecode, method);
}

Str webDataNode::getAttribute(Text name, const cEncoding* charset, bool noDecode) const {
  if (!attributes_) return Str();
  if (!root_) raise("EMU", "webDataNode.getAttribute(); called before \"root\" was set");
  const webDataAttribute* a = findAttribute(name.view());
  if (!a) return Str();
  return convert(a->value, charset, noDecode, "getAttribute");
}

webAttributeText webDataNode::getFirstAttribute(const cEncoding* charset, bool noDecode) {
  if (!root_) raise("EMU", "webDataNode.getFirstAttribute(); called before \"root\" was set");
  if (!attributes_) return {};
  webDataAttribute*& cursor = attributes_->cursor;
  cursor = attributes_->list.front().get();
  return {&cursor->name, convert(cursor->value, charset, noDecode, "getFirstAttribute")};
}

webAttributeText webDataNode::getNextAttribute(const cEncoding* charset, bool noDecode) {
  if (!root_) raise("EMU", "webDataNode.getNextAttribute(); called before \"root\" was set");
  if (!attributes_) return {};
  webDataAttribute*& cursor = attributes_->cursor;
  if (cursor) cursor = cursor->next;
  if (!cursor) return {};
  return {&cursor->name, convert(cursor->value, charset, noDecode, "getNextAttribute")};
}

void webDataNode::addChildNode(std::unique_ptr<webDataNode> node) {
  if (!root_) raise("EMU", "webDataNode.addChildNode(); called before \"root\" was set");
  if (!children_) children_ = std::make_unique<webDataList>(this);
  children_->addNodes(std::move(node), root_);
}

std::unique_ptr<webDataNode> webDataNode::remove() {
  if (!parent_) raise("BUG", "webDataNode.remove(); parent=NIL");
  webDataList* list = parent_->children_.get();
  if (!list) raise("BUG", "webDataNode.remove(); parentList=NIL");
  if (!list->head_) raise("BUG", "webDataNode.remove(); parentList.head=NIL");

  webDataNode* previous = nullptr;
  webDataNode* n = list->head_.get();
  while (n && n != this) {
    previous = n;
    n = n->next_.get();
  }
  if (!n) raise("BUG", "webDataNode.remove(); failed to find node");

  std::unique_ptr<webDataNode>& link = previous ? previous->next_ : list->head_;
  std::unique_ptr<webDataNode> self = std::move(link);
  link = std::move(self->next_);
  if (self.get() != this) raise("BUG", "webDataNode.remove(); expect node to be head of list");

  parent_ = nullptr;
  if (list->tail_ == this) list->tail_ = previous;
  return self;
}

bool webDataNode::isNamed(Text name, Text ns) const { return nameMatches(name_, ns_, name, ns); }

Str webDataNode::getText(const cEncoding* charset, bool noDecode) const {
  return convert(text_, charset, noDecode, "getText");
}

Str webDataNode::getTextAfterEndTag(const cEncoding* charset, bool noDecode) const {
  if (textAfterEndTag_.isNil()) return Str();
  return convert(textAfterEndTag_, charset, noDecode, "getTextAfterEndTag");
}

webDataNode* webDataNode::findChild(Text name, Text ns, const webDataNode* after,
                                    const webDataNode* limit) const {
  return children_ ? children_->findNode(name, ns, after, limit) : nullptr;
}

}  // namespace bw
