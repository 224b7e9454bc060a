// web/web_data.cpp - the web document tree: building, searching, converting
// getters and stack-safe teardown.
#include "web/web_data.h"

#include <cstring>
#include <new>
#include <utility>

#include "core/exception.h"

namespace bw {

// A document's heap is mostly its nodes: keep an eye on their size.
static_assert(sizeof(void*) != 8 || sizeof(webDataNode) == 64, "webDataNode grew");
static_assert(sizeof(void*) != 8 || sizeof(webDataList) == 24, "webDataList grew");

namespace {

// Past this many attributes a node indexes them by folded name, so a tag
// with thousands of attributes is not checked for duplicates in square time.
constexpr size_t kIndexedAttributes = 8;

// Texts after end tags up to this long are shared (storeShortText).
constexpr int32_t kShortText = 32;

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
bool nameMatches(NodeText nodeName, NodeText nodeNs, Text name, Text ns) {
  if (nodeName.isNil() || name.isNil() || nodeName.view() != name.view()) return false;
  if (ns.isNil()) return nodeNs.isNil();
  return !nodeNs.isNil() && nodeNs.view() == ns.view();
}

// A stored copy of text in a block of its own; NIL and "" take none.
const char* storeOwn(Text text) {
  const size_t bytes = NodeText::storedBytes(text);
  return NodeText::store(bytes ? static_cast<char*>(nodeSlab::allocate(bytes)) : nullptr, text);
}

void releaseOwn(const char* stored) { nodeSlab::release(const_cast<char*>(stored) - sizeof(uint32_t)); }

size_t nodeBytes(Text name, Text text, Text ns);

}  // namespace

// ---------------------------------------------------------------------------
// Teardown

void endNodeChain(std::unique_ptr<webDataNode> chain) {
  if (!chain) return;
  nodeSlab::ReleaseBatch batch;
  // Each node's children are spliced in front of its next sibling before the
  // node is deleted, so every node is deleted with nothing left below or
  // after it: the whole forest goes in one loop.
  while (chain) {
    webDataNode* node = chain.get();
    webDataList* kids = node->children_;
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

webDataRoot::~webDataRoot() {
  if (!plain_) {
    endNodeChain(std::move(head_));
    return;
  }
  // A plain tree lives in the arena: it ends with it, unvisited, but for
  // the top-level nodes that joined from elsewhere (addNodes), which end
  // one by one with their subtrees.
  tail_ = nullptr;
  nodeSlab::ReleaseBatch batch;
  for (webDataNode* n = head_.release(); n;) {
    webDataNode* next = n->next_.release();
    if (!n->heldBy(&arena_)) delete n;
    n = next;
  }
}

template <class Visit>
void webDataList::visitSubtrees(webDataNode* first, Visit&& visit) {
  // The lists whose chains are still to be visited from `next` on; the
  // visited ones are dropped now and then, so it holds about the breadth of
  // two levels of the tree (and nothing for a node without children).
  std::vector<const webDataList*> queue;
  size_t next = 0;
  bool top = true;
  for (webDataNode* chain = first; chain; top = false) {
    for (webDataNode* n = chain; n; n = n->next_.get()) {
      visit(n, top);
      if (n->children_ && n->children_->head_) queue.push_back(n->children_);
    }
    if (next == queue.size()) break;
    chain = queue[next++]->head_.get();
    if (next >= 1024 && 2 * next >= queue.size()) {
      queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(next));
      next = 0;
    }
  }
}

// Lets every node of the chain from `first`, their subtrees and children
// lists outlive the arena they were carved from, except those of `keep`'s
// arena.
void adoptChain(webDataNode* first, const nodeSlab::Arena* keep) {
  auto adopt = [keep](void* object) {
    if (!keep || !keep->holds(object)) nodeSlab::adopt(object);
  };
  webDataList::visitSubtrees(first, [&](webDataNode* n, bool) {
    const bool kept = keep && n->heldBy(keep);
    if (!kept) {
      // The strings a node shares in its arena stay there: the node takes
      // copies of its stored name and its short text after the end tag.
      if (n->ownStrings_ & webDataNode::kStoredName) {
        n->name_ = storeOwn(n->getName());
        n->ownStrings_ = static_cast<uint8_t>((n->ownStrings_ & ~webDataNode::kStoredName) | webDataNode::kOwnName);
      }
      if (n->hints_ & webDataNode::kSharedAfter) {
        n->afterField() = storeOwn(n->infoTextAfterEndTag());
        n->hints_ = static_cast<uint8_t>(n->hints_ & ~webDataNode::kSharedAfter);
        n->ownStrings_ |= webDataNode::kOwnAfter;
      }
    }
    if (!kept) nodeSlab::adopt(n);
    // A reader's node keeps its text after the end tag and its attributes
    // in the arena too.
    if (n->ownStrings_ & webDataNode::kOwnAfter) adopt(const_cast<char*>(n->after()) - sizeof(uint32_t));
    if (webDataNode::Extras* extras = n->extrasOrNil()) {
      adopt(extras);
      for (webDataAttribute* a = extras->first; a; a = a->next) adopt(a);
    }
    if (n->children_) adopt(n->children_);
  });
}

webDataNode::~webDataNode() {
  if (children_) {
    endNodeChain(std::move(children_->head_));
    endChildrenList();
  }
  endNodeChain(std::move(next_));
  if (ownStrings_) {
    if (ownStrings_ & kShared) releaseOwn(sharedBlock());
    if (ownStrings_ & kOwnNs) releaseOwn(more_.extras->ns);
    if (ownStrings_ & kOwnName) releaseOwn(name_);
    if (ownStrings_ & kOwnText) releaseOwn(text_);
    if (ownStrings_ & kOwnAfter) releaseOwn(after());
  }
  delete extrasOrNil();
}

void webDataNode::endChildrenList() noexcept {
  webDataList* list = std::exchange(children_, nullptr);
  list->~webDataList();
  nodeSlab::release(list);
}

// ---------------------------------------------------------------------------
// webDataList

std::unique_ptr<webDataNode> webDataList::takeNodes() {
  tail_ = nullptr;
  std::unique_ptr<webDataNode> chain = std::move(head_);
  adoptChain(chain.get(), nullptr);
  return chain;
}

void webDataList::addNodes(std::unique_ptr<webDataNode> first, webDataRoot* root) {
  if (!first) return;
  // Below the top level, nodes of other arenas make the tree end by the
  // walk; at the top level the plain teardown ends them itself.
  if (root && root != this) root->plain_ = false;
  adoptChain(first.get(), root ? &root->arena_ : nullptr);
  webDataNode* last = nullptr;
  visitSubtrees(first.get(), [&](webDataNode* n, bool top) {
    n->root_ = root;
    if (top) {
      n->parent_ = owner_;
      last = n;
    }
  });

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
    if (nameMatches(n->getName(), n->getNamespace(), name, ns)) return n;
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
    // Below a node of this root, nodes of other arenas were adopted as they
    // were added; only a reader's document node of this arena hands over a
    // plain tree.
    if (!list->owner_ || list->owner_->root_ != this) {
      plain_ = false;
      adoptChain(list->head_.get(), &arena_);
    } else if (!list->owner_->heldBy(&arena_)) {
      plain_ = false;
    }
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
  utf8Encoding_ = encoding_ && isUtf8Document(*encoding_);
  utf8Charset_ = charset_ && isUtf8Document(*charset_);
  plainCopies_ = utf8Encoding_ && matcher_ && matcher_->copiesPlainUtf8();
}

Str webDataRoot::convertString(Text text, const cEncoding* charset, bool noDecode, const char* method,
                               bool plainText) const {
  if (text.isNil()) return Str();
  const cEncoding* target = charset ? charset : charset_.get();
  if (!encoding_ || !target) {
    raise("EMU", std::string("webDataNode.") + method + "(); root has no encoding");
  }
  if (!noDecode && matcher_) {
    if (plainText && utf8Encoding_ && (target == charset_.get() ? utf8Charset_ : isUtf8Document(*target))) {
      return matcher_->decodePlainUtf8(text, *encoding_, *target);
    }
    return matcher_->decode(text, *encoding_, *target, false);
  }
  // UTF-8 into UTF-8 is a copy: taken here without the converter's checks,
  // the same bytes and capacity.
  if (utf8Encoding_ && (target == charset_.get() ? utf8Charset_ : isUtf8Document(*target))) return Str(text.view());
  return convertDocumentText(text, *encoding_, *target);
}

// ---------------------------------------------------------------------------
// webDataNode

webDataNode::webDataNode(Str name, Str text, int32_t textValue, webDataRoot* root, Str ns)
    : textValue_(textValue), root_(root) {
  // One block for the three strings.
  const size_t nsBytes = NodeText::storedBytes(ns);
  const size_t nameBytes = NodeText::storedBytes(name);
  const size_t bytes = nsBytes + nameBytes + NodeText::storedBytes(text);
  if (bytes == 0) {
    if (!ns.isNil()) extras().ns = NodeText::store(nullptr, ns);
    name_ = NodeText::store(nullptr, name);
    text_ = NodeText::store(nullptr, text);
    return;
  }
  char* block = static_cast<char*>(nodeSlab::allocate(bytes));
  if (!ns.isNil()) extras().ns = NodeText::store(block, ns);
  name_ = NodeText::store(block + nsBytes, name);
  text_ = NodeText::store(block + nsBytes + nameBytes, text);
  ownStrings_ = static_cast<uint8_t>((nsBytes ? kSharedNs : 0) | (nameBytes ? kSharedName : 0) |
                                     (bytes > nsBytes + nameBytes ? kSharedText : 0));
}

namespace {

size_t nodeBytes(Text name, Text text, Text ns) {
  return sizeof(webDataNode) + NodeText::storedBytes(ns) + NodeText::storedBytes(name) + NodeText::storedBytes(text);
}

}  // namespace

std::unique_ptr<webDataNode> webDataRoot::makeNode(Text name, Text text, int32_t textValue, Text ns) {
  return webDataNode::makeIn(arena_.allocate(nodeBytes(name, text, ns)), name, text, textValue, this, ns);
}

NodeText webDataRoot::storeName(std::string_view name) {
  const size_t bytes = NodeText::storedBytes(name);
  return NodeText(NodeText::store(bytes ? static_cast<char*>(arena_.allocate(bytes)) : nullptr, name));
}

const char* webDataRoot::storeShortText(std::string_view text) {
  const size_t slot = (text.size() * 7 + static_cast<unsigned char>(text.front()) * 3 +
                       static_cast<unsigned char>(text.back())) & (shortTexts_.size() - 1);
  const char*& cached = shortTexts_[slot];
  if (!cached || NodeText(cached).view() != text) {
    cached = NodeText::store(static_cast<char*>(arena_.allocate(NodeText::storedBytes(text))), text);
  }
  return cached;
}

std::unique_ptr<webDataNode> webDataNode::makeIn(void* memory, Text name, Text text, int32_t textValue,
                                                 webDataRoot* root, Text ns) {
  const size_t nsBytes = NodeText::storedBytes(ns);
  const size_t nameBytes = NodeText::storedBytes(name);
  char* strings = static_cast<char*>(memory) + sizeof(webDataNode);
  auto node = std::unique_ptr<webDataNode>(::new (memory) webDataNode(
      Stored{}, NodeText::store(strings + nsBytes, name), NodeText::store(strings + nsBytes + nameBytes, text),
      textValue, root));
  if (!ns.isNil()) node->extras(&root->arena_).ns = NodeText::store(strings, ns);
  return node;
}

webDataNode::Extras::~Extras() {
  for (webDataAttribute* a = first; a;) {
    webDataAttribute* next = a->next;
    nodeSlab::release(a);
    a = next;
  }
}

webDataNode::Extras& webDataNode::extras(nodeSlab::Arena* arena) {
  if (!(hints_ & kExtras)) {
    Extras* made;
    if (arena) {
      made = ::new (arena->allocate(sizeof(Extras))) Extras;
    } else {
      changed();
      made = new Extras;
    }
    made->after = more_.after;
    more_.extras = made;
    hints_ |= kExtras;
  }
  return *more_.extras;
}

void webDataNode::unshareStrings() {
  const char* block = sharedBlock();
  const uint8_t shared = ownStrings_ & kShared;
  if (shared & kSharedNs) more_.extras->ns = storeOwn(getNamespace());
  if (shared & kSharedName) name_ = storeOwn(getName());
  if (shared & kSharedText) text_ = storeOwn(infoText());
  // Shared and own bits stand at the same distance, field by field.
  ownStrings_ = static_cast<uint8_t>((ownStrings_ & ~kShared) | (shared >> 4));
  releaseOwn(block);
}

void webDataNode::replaceString(const char*& field, uint8_t own, Text value) {
  if (ownStrings_ & (own << 4) & kShared) unshareStrings();  // the field is in the shared block
  if (&field == &name_) ownStrings_ &= static_cast<uint8_t>(~kStoredName);
  const char* stored = storeOwn(value);
  if (ownStrings_ & own) releaseOwn(field);
  field = stored;
  if (NodeText::storedBytes(value)) {
    ownStrings_ |= own;
    changed();
  } else {
    ownStrings_ &= static_cast<uint8_t>(~own);
  }
}

void webDataNode::setTextAfterEndTag(Text text) {
  if (after()) raise("EMU", "webDataNode.setTextAfterEndTag(); already exists");
  hints_ &= static_cast<uint8_t>(~kPlainAfter);
  if (nodeSlab::Arena* arena = madeArena()) {
    if (!text.isNil() && text.length() > 0 && text.length() <= kShortText) {
      afterField() = root_->storeShortText(text.view());
      hints_ |= kSharedAfter;
      return;
    }
    // Set once, so the arena spends its bytes on it once.
    const size_t bytes = NodeText::storedBytes(text);
    afterField() = NodeText::store(bytes ? static_cast<char*>(arena->allocate(bytes)) : nullptr, text);
    if (bytes) ownStrings_ |= kOwnAfter;
    return;
  }
  replaceString(afterField(), kOwnAfter, text);
}

void webDataNode::moveTextAfterEndTag() {
  if (after()) raise("EMU", "webDataNode.setTextAfterEndTag(); already exists");
  if (ownStrings_ & (kOwnText | uint8_t{kSharedText})) {
    setTextAfterEndTag(infoText());
    setText(Str(""), 0, false);
    return;
  }
  // The text lives as long as the node (in its allocation, static or the
  // shared empty string): the pointer moves.
  afterField() = text_;
  text_ = NodeText::store(nullptr, std::string_view());
  textValue_ = 0;
  if (hints_ & kPlainText) hints_ = static_cast<uint8_t>((hints_ & ~kPlainText) | kPlainAfter);
}

webOldText webDataNode::setText(Str text, int32_t textValue, bool returnOld) {
  webOldText old;
  if (returnOld) {
    old.text = infoText().toStr();
    old.textValue = textValue_;
  }
  replaceString(text_, kOwnText, text);
  hints_ &= static_cast<uint8_t>(~kPlainText);
  textValue_ = textValue;
  return old;
}

webOldText webDataNode::setName(Str name, Str ns, bool returnOld) {
  webOldText old;
  if (returnOld) {
    old.text = getName().toStr();
    old.ns = getNamespace().toStr();
  }
  if (!(ownStrings_ & (kOwnName | uint8_t{kSharedName} | uint8_t{kStoredName})) && madeArena()) {
    // A reader's node renamed (the downloaders name a document's head): the
    // name is carved from the arena, as stored names are, so the tree stays
    // plain; a second rename takes a block of its own.
    name_ = name.isNil() ? nullptr : root_->storeName(name.view()).stored();
    if (NodeText::storedBytes(Text(name))) ownStrings_ |= kStoredName;
  } else {
    replaceString(name_, kOwnName, name);
  }
  if (!ns.isNil() || (hints_ & kExtras)) replaceString(extras().ns, kOwnNs, ns);
  return old;
}

const webDataAttribute* webDataNode::findAttribute(std::string_view name) const {
  const Extras* e = extrasOrNil();
  if (!e) return nullptr;
  if (e->index) {
    auto it = e->index->find(foldedName(name));
    return it == e->index->end() ? nullptr : it->second;
  }
  for (const webDataAttribute* a = e->first; a; a = a->next) {
    if (equalsIgnoringAsciiCase(a->name.view(), name)) return a;
  }
  return nullptr;
}

bool webDataNode::addAttribute(Text name, Text value) {
  if (findAttribute(name.view())) return true;
  nodeSlab::Arena* arena = madeArena();
  if (!arena) changed();
  Extras& e = extras(arena);
  // The attribute and its two strings in one piece.
  const size_t nameBytes = NodeText::storedBytes(name);
  const size_t bytes = sizeof(webDataAttribute) + nameBytes + NodeText::storedBytes(value);
  char* memory = static_cast<char*>(arena ? arena->allocate(bytes) : nodeSlab::allocate(bytes));
  char* strings = memory + sizeof(webDataAttribute);
  auto* added = ::new (memory) webDataAttribute{NodeText(NodeText::store(strings, name)),
                                                NodeText(NodeText::store(strings + nameBytes, value)), nullptr};
  (e.last ? e.last->next : e.first) = added;
  e.last = added;
  ++e.count;
  if (e.index) {
    e.index->emplace(foldedName(added->name.view()), added);
  } else if (e.count > static_cast<int32_t>(kIndexedAttributes)) {
    changed();  // the index is the heap's: the tree ends by the walk
    e.index = std::make_unique<std::unordered_map<std::string, webDataAttribute*>>();
    for (webDataAttribute* a = e.first; a; a = a->next) e.index->emplace(foldedName(a->name.view()), a);
  }
  return false;
}

Str webDataNode::convert(Text s, const cEncoding* charset, bool noDecode, const char* method, bool plainText) const {
  if (!root_) {
    raise("EMU", std::string("webDataNode.") + method + "(); called before \"root\" was set");
  }
  return root_->convertString(s, charset, noDecode, method, plainText);
}

Str webDataNode::getAttribute(Text name, const cEncoding* charset, bool noDecode) const {
  if (!hasAttributes()) return Str();
  if (!root_) raise("EMU", "webDataNode.getAttribute(); called before \"root\" was set");
  const webDataAttribute* a = findAttribute(name.view());
  if (!a) return Str();
  return convert(a->value, charset, noDecode, "getAttribute");
}

webAttributeText webDataNode::firstAttribute(const cEncoding* charset, bool noDecode) {
  if (!root_) raise("EMU", "webDataNode.getFirstAttribute(); called before \"root\" was set");
  if (!hasAttributes()) return {};
  webDataAttribute*& cursor = more_.extras->cursor;
  cursor = more_.extras->first;
  return {&cursor->name, convert(cursor->value, charset, noDecode, "getFirstAttribute")};
}

webAttributeText webDataNode::getNextAttribute(const cEncoding* charset, bool noDecode) {
  if (!root_) raise("EMU", "webDataNode.getNextAttribute(); called before \"root\" was set");
  if (!hasAttributes()) return {};
  webDataAttribute*& cursor = more_.extras->cursor;
  if (cursor) cursor = cursor->next;
  if (!cursor) return {};
  return {&cursor->name, convert(cursor->value, charset, noDecode, "getNextAttribute")};
}

void webDataNode::addChildNode(std::unique_ptr<webDataNode> node) {
  if (!root_) raise("EMU", "webDataNode.addChildNode(); called before \"root\" was set");
  nodeSlab::Arena& arena = root_->arena_;
  if (!children_) makeChildrenList();
  if (node && !node->next_ && !node->children_) {
    // One node without subtree, as readers add them: the walk of addNodes
    // reduced to its one step. Only a node of this root's arena keeps the
    // tree plain.
    if (!node->heldBy(&arena)) {
      root_->plain_ = false;
      if (node->unadopted()) adoptChain(node.get(), &arena);
    }
    node->parent_ = this;
    node->root_ = root_;
    webDataList& list = *children_;
    webDataNode* added = node.get();
    if (!list.head_) {
      list.head_ = std::move(node);
    } else {
      webDataNode* oldTail = list.tail_;
      while (oldTail->next_) oldTail = oldTail->next_.get();
      oldTail->next_ = std::move(node);
    }
    list.tail_ = added;
    return;
  }
  children_->addNodes(std::move(node), root_);
}

std::unique_ptr<webDataNode> webDataNode::remove() {
  if (!parent_) raise("BUG", "webDataNode.remove(); parent=NIL");
  webDataList* list = parent_->children_;
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
  // The node outlives its tree's arena; the rest of the tree is as it was.
  adoptChain(this, nullptr);
  return self;
}

bool webDataNode::isNamed(Text name, Text ns) const { return nameMatches(getName(), getNamespace(), name, ns); }

Str webDataNode::convertedText(const cEncoding* charset, bool noDecode) const {
  return convert(infoText(), charset, noDecode, "getText", (hints_ & kPlainText) != 0);
}

Str webDataNode::textAfterEndTagConverted(const cEncoding* charset, bool noDecode) const {
  if ((hints_ & kPlainAfter) && !noDecode && root_ && root_->copiesPlainText(charset)) {
    return copiedPlainText(infoTextAfterEndTag());
  }
  return convert(infoTextAfterEndTag(), charset, noDecode, "getTextAfterEndTag", (hints_ & kPlainAfter) != 0);
}

webDataNode* webDataNode::findChild(Text name, Text ns, const webDataNode* after,
                                    const webDataNode* limit) const {
  return children_ ? children_->findNode(name, ns, after, limit) : nullptr;
}

}  // namespace bw
