// web/web_data.h - the web document tree: webDataRoot, webDataList,
// webDataNode and webDataAttribute.
//
// Every document the program reads (XML, JSON, HTML) ends up in one tree of
// these classes. Node strings keep the document's own encoding and escapes;
// the converting getters decode and convert on the way out, through the
// encoding, default charset and decoder the reader left in the root.
//
// Invariants:
//   1. Every node reachable from a root has root() == that root; a node's
//      parent() is the owner of the list holding it (NIL at top level).
//   2. A list owns its head; a node owns its children list and the sibling
//      that follows it. tail() is the last node reachable from head().
//   3. Teardown never recurses: ending a list or a node flattens the whole
//      subtree and the following siblings into one chain and deletes it in a
//      loop, so trees of any depth or width end in constant stack. A tree a
//      reader built from its root's arena (makeNode) and nobody changed
//      since ends with the arena, without a walk (nodes that joined its top
//      level from elsewhere end on their own).
//   4. Attribute names are unique without regard to ASCII case; iteration
//      follows insertion order.
//   5. A node taken out by remove() has parent() and getNext() NIL and may be
//      added elsewhere.
//   6. A node owns its strings: makeNode() copies them into the node's own
//      allocation, the constructor into one block for the three, later ones
//      (setText, setName, setTextAfterEndTag) get a block of their own, and
//      each attribute is one block with its two strings. A node in its
//      root's arena takes its attributes and its text after the end tag from
//      that arena, so a reader's tree stays plain (invariant 3); a short text
//      after the end tag is stored there once and shared by the nodes that
//      have it, as names are (a node leaving the arena takes a copy). The
//      getters hand the strings out as NodeText views (web/node_text.h).
//   7. A node taken out by remove() or takeNodes(), or added to another
//      root's tree, stays valid after the root it was made for ends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/charset.h"
#include "core/object.h"
#include "core/str.h"
#include "web/node_slab.h"
#include "web/node_text.h"

namespace bw {

class webDataNode;
class webDataRoot;
void endNodeChain(std::unique_ptr<webDataNode> first);
void adoptChain(webDataNode* first, const nodeSlab::Arena* keep);

// Undoes a document format's escapes while converting a document string from
// one encoding into another. Decoders are immutable and shared between the
// reader that made them and every root it built, so a root stays readable
// after its reader ends.
class webDecoder {
 public:
  virtual ~webDecoder() = default;
  // A new string: text converted from `from` into `to` with "?" for what `to`
  // cannot hold, escapes decoded; with nilIfUnchanged NIL when nothing changed.
  virtual Str decode(Text text, const cEncoding& from, const cEncoding& to,
                     bool nilIfUnchanged) const = 0;
  // decode() of a text in which its reader found no escape of the format,
  // where from and to are both UTF-8 encodings (isUtf8Encoding), as the
  // caller made sure.
  virtual Str decodePlainUtf8(Text text, const cEncoding& from, const cEncoding& to) const {
    return decode(text, from, to, false);
  }
  // Whether decodePlainUtf8 gives the text as it is (capacity its length, 0
  // for the empty text): then the getters copy a plain text themselves.
  bool copiesPlainUtf8() const { return copiesPlainUtf8_; }

 protected:
  bool copiesPlainUtf8_ = false;
};

// isUtf8Encoding, with the usual spelling of the name ("UTF-8") tried before
// the compare that ignores case: the decoders ask it for every text read.
inline bool isUtf8Document(const cEncoding& encoding) {
  if (encoding.infoName() == "UTF-8") return encoding.isOfClass(cEncodingUTF::kClassName);
  return isUtf8Encoding(encoding);
}

// Converts text from `from` into `to` with "?" for unmappable characters and
// no escape decoding: what the getters do with noDecode.
Str convertDocumentText(Text text, const cEncoding& from, const cEncoding& to,
                        bool nilIfUnchanged = false);

// One attribute of a node: its name and raw value (escapes not decoded) as
// stored strings (web/node_text.h), carved in one piece with the strings
// behind it: from the root's arena for a node a reader made there (so its
// tree stays plain), else from the node slab. The node owns it.
struct webDataAttribute {
  NodeText name;
  NodeText value;                    // raw, escapes not decoded
  webDataAttribute* next = nullptr;  // next in insertion order
};

// An ordered chain of sibling nodes. A reader makes one for every container,
// so it holds its three links and nothing else (no virtual table): its node
// owns it and ends it (a reader's node's list is an object of the arena, as
// the node is, and adopted with it).
class webDataList {
 public:
  static constexpr char kClassName[] = "webDataList";
  const char* className() const { return kClassName; }
  bool isOfClass(const char* name) const { return name == kClassName; }

  explicit webDataList(webDataNode* owner) : owner_(owner) {}
  ~webDataList();
  // Tree objects are carved from the node slab (web/node_slab.h).
  static void* operator new(std::size_t size) { return nodeSlab::allocate(size); }
  static void operator delete(void* object) noexcept { nodeSlab::release(object); }
  webDataList(const webDataList&) = delete;
  webDataList& operator=(const webDataList&) = delete;

  // Appends `first` and all its following siblings at the tail. Every node of
  // the chain gets parent = owner() and root = root; every node of their
  // subtrees gets root. Breadth-first, without recursion.
  void addNodes(std::unique_ptr<webDataNode> first, webDataRoot* root);

  // The first node after `after` (from head() when NIL) named `name` exactly
  // whose namespace equals `ns` exactly (NIL ns: a node without namespace).
  // `limit`, when given, is the last node examined.
  webDataNode* findNode(Text name, Text ns, const webDataNode* after,
                        const webDataNode* limit) const;

  // Detaches the whole chain (the list is empty afterwards); parents and
  // roots of the nodes are left as they are.
  std::unique_ptr<webDataNode> takeNodes();

  webDataNode* head() const { return head_.get(); }
  webDataNode* tail() const { return tail_; }
  webDataNode* owner() const { return owner_; }

 protected:
  friend class webDataNode;
  friend class webDataRoot;
  friend void endNodeChain(std::unique_ptr<webDataNode> first);
  friend void adoptChain(webDataNode* first, const nodeSlab::Arena* keep);
  std::unique_ptr<webDataNode> head_;
  webDataNode* tail_ = nullptr;
  webDataNode* owner_ = nullptr;

 private:
  // Calls visit(node, top) for every node of the chain from first and of
  // their subtrees, breadth-first, without recursion; top for the nodes of
  // the chain itself.
  template <class Visit>
  static void visitSubtrees(webDataNode* first, Visit&& visit);
};

// The document: its list holds the top-level nodes.
class webDataRoot : public class_base, public webDataList {
 public:
  static constexpr char kClassName[] = "webDataRoot";
  const char* className() const override { return kClassName; }
  bool isOfClass(const char* name) const override {
    return name == kClassName || webDataList::isOfClass(name) || class_base::isOfClass(name);
  }
  using webDataList::operator new;
  using webDataList::operator delete;

  webDataRoot() : webDataList(nullptr) {}
  ~webDataRoot() override;

  // A node whose root is this one, carved with its strings from this root's
  // arena: the way a reader makes the nodes of the tree it builds. It must
  // become part of this tree, or end, before the root ends. While every node
  // of the tree is such a node, unchanged since it was added, the tree ends
  // with the arena in one step per chunk, its nodes unvisited.
  std::unique_ptr<webDataNode> makeNode(Text name, Text text, int32_t textValue, Text ns);
  // The same for a name and a text that are not NIL, without namespace.
  std::unique_ptr<webDataNode> makeNode(std::string_view name, std::string_view text, int32_t textValue);
  // The same with a name from storeName(): many nodes share one copy.
  std::unique_ptr<webDataNode> makeNode(NodeText storedName, std::string_view text, int32_t textValue);
  // The same with a text in static storage (a reader's fixed words), shared
  // by every node that has it.
  std::unique_ptr<webDataNode> makeNode(NodeText storedName, NodeText staticText, int32_t textValue);
  // A copy of name in this root's arena, for makeNode; lives as the arena.
  NodeText storeName(std::string_view name);
  // A stored copy of a short text after an end tag in this root's arena,
  // the same copy as for the last few equal texts; lives as the arena.
  const char* storeShortText(std::string_view text);

  // Takes over the chain of `list` (may be NIL; its head and tail are
  // cleared), clears the parent of every top-level node and stores the rest.
  // Earlier contents of this root stay in front.
  void setContents(webDataList* list, Str encodingName, Str declaredEncodingName,
                   std::unique_ptr<cEncoding> encoding, std::unique_ptr<cEncoding> charset,
                   std::shared_ptr<const webDecoder> matcher);

  const cEncoding* getEncoding() const { return encoding_.get(); }
  const cEncoding* getCharset() const { return charset_.get(); }
  const Str& infoEncodingName() const { return encodingName_; }
  const Str& infoDeclaredEncodingName() const { return declaredEncodingName_; }
  const std::shared_ptr<const webDecoder>& infoMatcher() const { return matcher_; }
  // Whether the document's strings are UTF-8 (isUtf8Encoding of its
  // encoding): then a string read raw into UTF-8 is a copy of its bytes.
  bool holdsUtf8() const { return utf8Encoding_; }

  // Converts a string of this document into charset (NIL: getCharset()),
  // decoding escapes unless noDecode. NIL gives NIL. `method` names the
  // caller for the "EMU" raised when the root lacks its encoding or charset.
  // plainText: the reader found no escape in the text.
  Str convertString(Text text, const cEncoding* charset, bool noDecode, const char* method,
                    bool plainText = false) const;
  // Whether convertString of a plain text into charset, decoding, is a copy
  // of the text (copiedPlainText): a UTF-8 document, a UTF-8 target and a
  // decoder that copies plain texts.
  bool copiesPlainText(const cEncoding* charset) const {
    if (!plainCopies_) return false;
    if (!charset || charset == charset_.get()) return utf8Charset_;
    return isUtf8Document(*charset);
  }

 private:
  Str encodingName_;
  Str declaredEncodingName_;
  std::unique_ptr<cEncoding> encoding_;
  std::unique_ptr<cEncoding> charset_;
  std::shared_ptr<const webDecoder> matcher_;
  // Whether encoding_ and charset_ are UTF-8 (isUtf8Encoding).
  bool utf8Encoding_ = false;
  bool utf8Charset_ = false;
  // utf8Encoding_ and the decoder copies plain UTF-8 texts.
  bool plainCopies_ = false;
  friend class webDataNode;
  friend class webDataList;
  nodeSlab::Arena arena_;
  // Every node of the tree (and its children list) is an unadopted object of
  // arena_ with nothing of its own outside it, but for top-level nodes that
  // joined by addNodes (with their subtrees); cleared by any other change.
  bool plain_ = true;
  // The short texts storeShortText stored last, by a hash of their bytes:
  // most texts after end tags are the indentation before the next tag, so
  // the nodes of a document share a few copies, which reading them finds in
  // the cache.
  std::array<const char*, 8> shortTexts_{};
};

// Result of the attribute iteration: the attribute's own name (NIL pointer
// when there is none) and its converted value.
struct webAttributeText {
  const NodeText* name = nullptr;
  Str value;
};

// Result of setText/setName with returnOld.
struct webOldText {
  Str text;
  int32_t textValue = 0;
  Str ns;
};

// One element, JSON member or HTML tag. A reader makes one for every value,
// so it has no virtual table: 64 bytes, one cache line's worth.
class webDataNode {
 public:
  static constexpr char kClassName[] = "webDataNode";
  const char* className() const { return kClassName; }
  bool isOfClass(const char* name) const { return name == kClassName; }

  webDataNode(Str name, Str text, int32_t textValue, webDataRoot* root, Str ns);
  ~webDataNode();
  // Tree objects are carved from the node slab (web/node_slab.h); a
  // reader's node (makeNode) is an object of its root's arena.
  static void* operator new(std::size_t size) { return nodeSlab::allocate(size); }
  static void operator delete(void* object) noexcept { nodeSlab::release(object); }
  webDataNode(const webDataNode&) = delete;
  webDataNode& operator=(const webDataNode&) = delete;

  // Raises "EMU" when the text after the end tag is already set.
  void setTextAfterEndTag(Text text);
  // An empty element: setTextAfterEndTag(infoText()), then the text and
  // textValue are "" and 0, without copying the text.
  void moveTextAfterEndTag();
  // Replaces text and textValue; with returnOld the old ones are returned.
  webOldText setText(Str text, int32_t textValue, bool returnOld);
  // Replaces name and namespace; with returnOld the old ones are returned
  // (old name in .text, old namespace in .ns).
  webOldText setName(Str name, Str ns, bool returnOld);

  // Adds an attribute, copying its strings; TRUE (and nothing added) when one
  // of that name (ignoring ASCII case) is already there.
  bool addAttribute(Text name, Text value);
  // The converted value of the named attribute (ASCII case ignored), or NIL.
  Str getAttribute(Text name, const cEncoding* charset, bool noDecode) const;
  webAttributeText getFirstAttribute(const cEncoding* charset, bool noDecode) {
    if (root_ && !hasAttributes()) return {};  // most nodes: without a call
    return firstAttribute(charset, noDecode);
  }
  // NIL once past the last attribute, until getFirstAttribute.
  webAttributeText getNextAttribute(const cEncoding* charset, bool noDecode);
  int32_t infoAttributeCount() const { return (hints_ & kExtras) ? more_.extras->count : 0; }

  // Appends node and its following siblings as children. Raises "EMU" when
  // this node has no root.
  void addChildNode(std::unique_ptr<webDataNode> node);
  // The reader's word that this node's text holds no escape of its format,
  // so decoding it into UTF-8 copies it; until the text is replaced.
  void markPlainText() { hints_ |= kPlainText; }
  // The same for the text after the end tag.
  void markPlainTextAfterEndTag() { hints_ |= kPlainAfter; }
  // The reader's word that this element was written as an empty-element
  // tag, "<x/>", or "<x />" with a blank before the slash.
  void markEmptyTag(bool blankBeforeSlash) {
    hints_ |= static_cast<uint8_t>(blankBeforeSlash ? kEmptyTag | kEmptyTagBlank : kEmptyTag);
  }
  bool writtenAsEmptyTag() const { return (hints_ & kEmptyTag) != 0; }
  bool emptyTagHasBlank() const { return (hints_ & kEmptyTagBlank) != 0; }
  // addChildNode for a reader building its tree: node was made by makeNode
  // of this node's root, has no siblings or children and was changed since
  // only by addAttribute, setTextAfterEndTag, moveTextAfterEndTag and the
  // marks, and this node too was made by that makeNode. Returns the node.
  webDataNode* addMadeChild(std::unique_ptr<webDataNode> node);
  // Takes this node out of its parent's children; the caller owns it.
  std::unique_ptr<webDataNode> remove();

  bool isNamed(Text name, Text ns) const;
  webDataNode* getNext() const { return next_.get(); }
  webDataNode* getParent() const { return parent_; }
  webDataRoot* getRoot() const { return root_; }
  NodeText getName() const { return NodeText(name_); }
  NodeText getNamespace() const { return NodeText((hints_ & kExtras) ? more_.extras->ns : nullptr); }
  int32_t getTextValue() const { return textValue_; }
  // The stored strings, unconverted.
  NodeText infoText() const { return NodeText(text_); }
  NodeText infoTextAfterEndTag() const { return NodeText(after()); }
  bool hasChildrenList() const { return children_ != nullptr; }
  // The children list, NIL before the first addChildNode.
  webDataList* infoChildren() const { return children_; }

  Str getText(const cEncoding* charset, bool noDecode) const {
    // What convert gives, without its steps, for most texts a reader
    // marked: inline, as a walk reads every node's text.
    if ((hints_ & kPlainText) && text_ && !noDecode && root_ && root_->copiesPlainText(charset)) {
      return copiedPlainText(infoText());
    }
    return convertedText(charset, noDecode);
  }
  // NIL when there is no text after the end tag.
  Str getTextAfterEndTag(const cEncoding* charset, bool noDecode) const {
    return after() ? textAfterEndTagConverted(charset, noDecode) : Str();
  }

  webDataNode* findChild(Text name, Text ns, const webDataNode* after,
                         const webDataNode* limit) const;
  webDataNode* getFirstChild() const { return children_ ? children_->head() : nullptr; }
  webDataNode* getLastChild() const { return children_ ? children_->tail() : nullptr; }

 private:
  friend class webDataList;
  friend class webDataRoot;
  friend void endNodeChain(std::unique_ptr<webDataNode> first);
  friend void adoptChain(webDataNode* first, const nodeSlab::Arena* keep);

  struct Stored {};  // the constructor of make(): strings already in place
  webDataNode(Stored, const char* name, const char* text, int32_t textValue, webDataRoot* root)
      : textValue_(textValue), name_(name), text_(text), root_(root) {}

  // Which strings are blocks of their own (set after the node was made),
  // released with the node; the others live in the node's allocation or are
  // the shared empty string. A block of a node of its root's arena may be
  // an object of that arena (adopted with the node).
  enum : uint8_t { kOwnNs = 1, kOwnName = 2, kOwnText = 4, kOwnAfter = 8 };
  // The constructor's strings share one block: these mark the fields in it.
  enum : uint8_t { kSharedNs = 16, kSharedName = 32, kSharedText = 64, kShared = 16 | 32 | 64 };
  // The name is one of the root's stored names (storeName).
  enum : uint8_t { kStoredName = 128 };
  void replaceString(const char*& field, uint8_t own, Text value);
  // The first string of the shared block, whose block it is.
  const char* sharedBlock() const {
    return (ownStrings_ & kSharedNs) ? more_.extras->ns : (ownStrings_ & kSharedName) ? name_ : text_;
  }
  // Gives each string of the shared block a block of its own.
  void unshareStrings();
  // Any change but a reader's own: the root's tree is no longer plain.
  void changed() {
    if (root_) root_->plain_ = false;
  }
  // The arena of this node's root when this node is one of its unadopted
  // objects (a reader's node), else NIL: what it adds may be carved there.
  nodeSlab::Arena* madeArena() const { return unadopted() ? &root_->arena_ : nullptr; }
  // Whether this node is an unadopted object of arena.
  bool heldBy(const nodeSlab::Arena* arena) const { return arena->holds(this); }
  // Whether this node is an arena's object not adopted since (its root's).
  bool unadopted() const { return nodeSlab::isUncounted(this); }
  // A children list for this node: an object of its root's arena while the
  // node is one.
  void makeChildrenList() {
    void* memory = unadopted() ? root_->arena_.allocate(sizeof(webDataList)) : nodeSlab::allocate(sizeof(webDataList));
    children_ = ::new (memory) webDataList(this);
  }
  // Ends the children list, whose chain has ended.
  void endChildrenList() noexcept;
  static std::unique_ptr<webDataNode> makeIn(void* memory, Text name, Text text, int32_t textValue,
                                             webDataRoot* root, Text ns);
  struct Extras;
  // The extras, made when missing: carved from `arena`, else from the slab
  // (which makes the tree end by the walk). The text after the end tag
  // moves into them.
  Extras& extras(nodeSlab::Arena* arena = nullptr);
  Extras* extrasOrNil() const { return (hints_ & kExtras) ? more_.extras : nullptr; }
  // The text after the end tag, where it is kept (more_).
  const char* after() const { return (hints_ & kExtras) ? more_.extras->after : more_.after; }
  const char*& afterField() { return (hints_ & kExtras) ? more_.extras->after : more_.after; }

  const webDataAttribute* findAttribute(std::string_view name) const;
  webAttributeText firstAttribute(const cEncoding* charset, bool noDecode);
  Str textAfterEndTagConverted(const cEncoding* charset, bool noDecode) const;
  // getText through convert.
  Str convertedText(const cEncoding* charset, bool noDecode) const;
  // A plain string read decoded through a root that copiesPlainText.
  static Str copiedPlainText(NodeText text) { return text.empty() ? Str::withCapacity(0) : Str(text.view()); }
  Str convert(Text s, const cEncoding* charset, bool noDecode, const char* method, bool plainText = false) const;

  // A node's namespace and attributes, kept apart since most nodes have
  // neither: a smaller node is less memory to write while reading and to
  // walk while ending. With them, the text after the end tag.
  struct Extras {
    static void* operator new(std::size_t size) { return nodeSlab::allocate(size); }
    static void operator delete(void* object) noexcept { nodeSlab::release(object); }
    Extras() = default;
    Extras(const Extras&) = delete;
    Extras& operator=(const Extras&) = delete;
    ~Extras();
    const char* ns = nullptr;  // a stored string (web/node_text.h) or NIL
    const char* after = nullptr;  // the node's text after the end tag
    // The attributes in insertion order, chained through their next.
    webDataAttribute* first = nullptr;
    webDataAttribute* last = nullptr;
    webDataAttribute* cursor = nullptr;
    int32_t count = 0;
    // Folded name -> attribute, built once a node has many attributes.
    std::unique_ptr<std::unordered_map<std::string, webDataAttribute*>> index;
  };
  bool hasAttributes() const { return (hints_ & kExtras) && more_.extras->first; }

  // The three bytes and textValue_ share the first eight bytes.
  uint8_t ownStrings_ = 0;  // kOwnNs ... kOwnAfter, kSharedNs ... kSharedText
  // kSharedAfter: the text after the end tag is one of the root's short
  // texts (storeShortText). kExtras: more_ holds the extras.
  enum : uint8_t { kPlainText = 1, kPlainAfter = 2, kSharedAfter = 4, kExtras = 8, kEmptyTag = 16, kEmptyTagBlank = 32 };
  uint8_t hints_ = 0;  // kPlainText ... kEmptyTagBlank
  int32_t textValue_ = 0;
  // What a walk along siblings reads of each (the name, the namespace in
  // the extras, the next sibling) lies together, mostly in one cache line:
  // the nodes of a large document are read from memory.
  // Stored strings (web/node_text.h) or NIL.
  const char* name_ = nullptr;
  std::unique_ptr<webDataNode> next_;
  // The text after the end tag (a stored string or NIL) until the node has
  // a namespace or an attribute; from then on the extras (kExtras), which
  // keep that text: one field for two that a JSON node never sets.
  union More {
    const char* after;
    Extras* extras;
  } more_{nullptr};
  webDataList* children_ = nullptr;  // owned: endChildrenList
  const char* text_ = nullptr;
  webDataRoot* root_ = nullptr;
  webDataNode* parent_ = nullptr;
};

// Ends a chain of nodes, their subtrees and following siblings, in constant
// stack depth.
void endNodeChain(std::unique_ptr<webDataNode> first);

// The readers' node makers, inline: a reader calls them for every element
// or value it reads.
inline std::unique_ptr<webDataNode> webDataRoot::makeNode(std::string_view name, std::string_view text,
                                                          int32_t textValue) {
  const size_t nameBytes = NodeText::storedBytes(name);
  char* memory =
      static_cast<char*>(arena_.allocate(sizeof(webDataNode) + nameBytes + NodeText::storedBytes(text)));
  char* strings = memory + sizeof(webDataNode);
  return std::unique_ptr<webDataNode>(::new (memory) webDataNode(webDataNode::Stored{}, NodeText::store(strings, name),
                                                                NodeText::store(strings + nameBytes, text), textValue, this));
}

inline std::unique_ptr<webDataNode> webDataRoot::makeNode(NodeText storedName, std::string_view text,
                                                          int32_t textValue) {
  char* memory = static_cast<char*>(arena_.allocate(sizeof(webDataNode) + NodeText::storedBytes(text)));
  auto node = std::unique_ptr<webDataNode>(::new (memory) webDataNode(
      webDataNode::Stored{}, storedName.stored(), NodeText::store(memory + sizeof(webDataNode), text),
      textValue, this));
  if (!storedName.empty()) node->ownStrings_ = webDataNode::kStoredName;
  return node;
}

inline std::unique_ptr<webDataNode> webDataRoot::makeNode(NodeText storedName, NodeText staticText,
                                                          int32_t textValue) {
  auto node = std::unique_ptr<webDataNode>(::new (arena_.allocate(sizeof(webDataNode))) webDataNode(
      webDataNode::Stored{}, storedName.stored(), staticText.stored(), textValue, this));
  if (!storedName.empty()) node->ownStrings_ = webDataNode::kStoredName;
  return node;
}

inline webDataNode* webDataNode::addMadeChild(std::unique_ptr<webDataNode> node) {
  if (!children_) makeChildrenList();
  node->parent_ = this;
  webDataList& list = *children_;
  webDataNode* added = node.get();
  (list.tail_ ? list.tail_->next_ : list.head_) = std::move(node);
  list.tail_ = added;
  return added;
}

}  // namespace bw
