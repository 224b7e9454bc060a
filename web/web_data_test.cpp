// web/web_data_test.cpp - the document tree: attributes, search, removal,
// root propagation, getters and deep/wide teardown.
#include "web/web_data.h"

#include <gtest/gtest.h>

#include "web/node_slab.h"
#include "web/web_test_support.h"
#include "web/xml_writer.h"

namespace bw {
namespace {

class WebDataTest : public WebTest {
 protected:
  // A root with UTF-8 strings, ISO-8859-1 default charset and the XML decoder.
  std::unique_ptr<webDataRoot> makeRoot() {
    auto root = std::make_unique<webDataRoot>();
    root->setContents(nullptr, Str("UTF-8"), Str(), utf8_.clone(), latin1_.clone(),
                      std::make_shared<XmlDecoder>(makeXmlEntityMap()));
    return root;
  }
  std::unique_ptr<webDataNode> node(webDataRoot* root, const char* name, const char* text = "",
                                    const char* ns = nullptr) {
    return std::make_unique<webDataNode>(Str(name), Str(text), 0, root, Str(ns));
  }
  // A top-level node with a children list, as readers make them.
  webDataNode* topLevel(webDataRoot& root, const char* name) {
    webDataList holder(nullptr);
    holder.addNodes(node(&root, name), &root);
    root.setContents(&holder, Str("UTF-8"), Str(), utf8_.clone(), latin1_.clone(),
                     std::make_shared<XmlDecoder>(makeXmlEntityMap()));
    return root.tail();
  }
};

TEST_F(WebDataTest, AttributesAreUniqueIgnoringCaseAndIterateInOrder) {
  auto root = makeRoot();
  auto n = node(root.get(), "a");
  EXPECT_FALSE(n->addAttribute(Str("href"), Str("first")));
  EXPECT_TRUE(n->addAttribute(Str("HREF"), Str("second")));
  EXPECT_FALSE(n->addAttribute(Str("rel"), Str("x &amp; y")));
  EXPECT_EQ(n->infoAttributeCount(), 2);
  EXPECT_EQ(str(n->getAttribute("Href", &utf8_, false)), "first");
  EXPECT_EQ(str(n->getAttribute("rel", &utf8_, false)), "x & y");
  EXPECT_EQ(str(n->getAttribute("rel", &utf8_, true)), "x &amp; y");
  EXPECT_TRUE(n->getAttribute("title", &utf8_, false).isNil());

  webAttributeText a = n->getFirstAttribute(&utf8_, true);
  ASSERT_NE(a.name, nullptr);
  EXPECT_EQ(str(*a.name), "href");
  EXPECT_EQ(str(a.value), "first");
  a = n->getNextAttribute(&utf8_, true);
  ASSERT_NE(a.name, nullptr);
  EXPECT_EQ(str(*a.name), "rel");
  EXPECT_EQ(n->getNextAttribute(&utf8_, true).name, nullptr);
  EXPECT_EQ(n->getNextAttribute(&utf8_, true).name, nullptr);
  EXPECT_EQ(str(*n->getFirstAttribute(&utf8_, true).name), "href");

  auto bare = node(root.get(), "b");
  webAttributeText none = bare->getFirstAttribute(&utf8_, false);
  EXPECT_EQ(none.name, nullptr);
  EXPECT_TRUE(none.value.isNil());
  EXPECT_EQ(bare->getNextAttribute(&utf8_, false).name, nullptr);
}

TEST_F(WebDataTest, ManyAttributesAreIndexed) {
  auto root = makeRoot();
  auto n = node(root.get(), "a");
  for (int i = 0; i < 100; ++i) {
    EXPECT_FALSE(n->addAttribute(Str("n" + std::to_string(i)), Str(std::to_string(i))));
  }
  EXPECT_TRUE(n->addAttribute(Str("N42"), Str("dup")));
  EXPECT_EQ(str(n->getAttribute("n42", &utf8_, true)), "42");
  int count = 0;
  for (webAttributeText a = n->getFirstAttribute(&utf8_, true); a.name;
       a = n->getNextAttribute(&utf8_, true)) {
    EXPECT_EQ(str(a.value), std::to_string(count++));
  }
  EXPECT_EQ(count, 100);
}

TEST_F(WebDataTest, FindNodeComparesPrefixesAsWrittenWithLimitAndAfter) {
  auto root = makeRoot();
  webDataNode* parent = topLevel(*root, "feed");
  parent->addChildNode(node(root.get(), "link", "", "atom"));
  parent->addChildNode(node(root.get(), "link"));
  parent->addChildNode(node(root.get(), "title"));
  webDataNode* first = parent->getFirstChild();
  webDataNode* plain = first->getNext();
  webDataNode* last = parent->getLastChild();

  EXPECT_EQ(parent->findChild("link", nullptr, nullptr, nullptr), plain);
  EXPECT_EQ(parent->findChild("link", "atom", nullptr, nullptr), first);
  EXPECT_EQ(parent->findChild("link", "xhtml", nullptr, nullptr), nullptr);
  EXPECT_EQ(parent->findChild("Link", nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(parent->findChild("link", nullptr, nullptr, first), nullptr);
  EXPECT_EQ(parent->findChild("link", "atom", nullptr, first), first);
  EXPECT_EQ(parent->findChild("title", nullptr, last, nullptr), nullptr);
  EXPECT_EQ(parent->findChild("title", nullptr, first, nullptr), last);
  EXPECT_TRUE(first->isNamed("link", "atom"));
  EXPECT_FALSE(first->isNamed("link", nullptr));
  EXPECT_EQ(plain->findChild("x", nullptr, nullptr, nullptr), nullptr);
}

TEST_F(WebDataTest, RemoveChecksAndUpdatesTheTail) {
  auto root = makeRoot();
  webDataNode* parent = topLevel(*root, "a");
  expectRaise([&] { parent->remove(); }, "BUG", "webDataNode.remove(); parent=NIL");

  parent->addChildNode(node(root.get(), "b"));
  parent->addChildNode(node(root.get(), "c"));
  webDataNode* b = parent->getFirstChild();
  webDataNode* c = parent->getLastChild();
  std::unique_ptr<webDataNode> taken = c->remove();
  EXPECT_EQ(taken.get(), c);
  EXPECT_EQ(parent->getLastChild(), b);
  EXPECT_EQ(c->getParent(), nullptr);
  EXPECT_EQ(c->getNext(), nullptr);
  EXPECT_EQ(c->getRoot(), root.get());

  std::unique_ptr<webDataNode> onlyChild = b->remove();
  EXPECT_EQ(parent->getFirstChild(), nullptr);
  EXPECT_EQ(parent->getLastChild(), nullptr);
  EXPECT_TRUE(parent->hasChildrenList());
  expectRaise([&] { onlyChild->remove(); }, "BUG", "webDataNode.remove(); parent=NIL");

  // Nodes whose parent link names a node that does not hold them.
  auto childless = node(root.get(), "p");
  webDataList claimsChildless(childless.get());
  claimsChildless.addNodes(node(root.get(), "x"), root.get());
  expectRaise([&] { claimsChildless.head()->remove(); }, "BUG",
              "webDataNode.remove(); parentList=NIL");

  webDataList claimsParent(parent);
  claimsParent.addNodes(node(root.get(), "y"), root.get());
  expectRaise([&] { claimsParent.head()->remove(); }, "BUG",
              "webDataNode.remove(); parentList.head=NIL");
  parent->addChildNode(std::move(onlyChild));
  expectRaise([&] { claimsParent.head()->remove(); }, "BUG",
              "webDataNode.remove(); failed to find node");
  EXPECT_EQ(parent->getFirstChild(), b);
}

TEST_F(WebDataTest, AddChildNodePropagatesTheRootToChainAndSubtrees) {
  auto root = makeRoot();
  webDataNode* parent = topLevel(*root, "parent");

  // A chain n1 -> n2 built without a root; n1 holds a grandchild.
  webDataRoot other;
  webDataList chain(nullptr);
  chain.addNodes(node(&other, "n1"), &other);
  chain.addNodes(node(&other, "n2"), &other);
  webDataNode* n1 = chain.head();
  webDataNode* n2 = chain.tail();
  n1->addChildNode(node(&other, "g1"));
  webDataNode* g1 = n1->getFirstChild();
  g1->addChildNode(node(&other, "gg1"));
  webDataNode* gg1 = g1->getFirstChild();

  parent->addChildNode(chain.takeNodes());
  EXPECT_EQ(chain.head(), nullptr);
  EXPECT_EQ(parent->getFirstChild(), n1);
  EXPECT_EQ(parent->getLastChild(), n2);
  for (webDataNode* n : {n1, n2, g1, gg1}) EXPECT_EQ(n->getRoot(), root.get());
  EXPECT_EQ(n1->getParent(), parent);
  EXPECT_EQ(n2->getParent(), parent);
  EXPECT_EQ(gg1->getParent(), g1);

  // A wide subtree: more lists than the walk keeps queued before it drops
  // the visited ones.
  auto wide = node(&other, "wide");
  for (int i = 0; i < 3000; ++i) {
    wide->addChildNode(node(&other, "c"));
    wide->getLastChild()->addChildNode(node(&other, "leaf"));
  }
  webDataNode* wideNode = wide.get();
  parent->addChildNode(std::move(wide));
  int reached = 0;
  for (webDataNode* c = wideNode->getFirstChild(); c; c = c->getNext()) {
    reached += c->getRoot() == root.get() && c->getFirstChild()->getRoot() == root.get();
  }
  EXPECT_EQ(reached, 3000);

  auto orphan = node(nullptr, "a");
  expectRaise([&] { orphan->addChildNode(node(nullptr, "z")); }, "EMU",
              "webDataNode.addChildNode(); called before \"root\" was set");
}

TEST_F(WebDataTest, GettersConvertDecodeAndNeedARoot) {
  auto root = makeRoot();
  auto n = node(root.get(), "t", "caf\xC3\xA9 &amp; &eacute;");
  EXPECT_EQ(str(n->getText(&utf8_, true)), "caf\xC3\xA9 &amp; &eacute;");
  EXPECT_EQ(str(n->getText(&utf8_, false)), "caf\xC3\xA9 & \xC3\xA9");
  EXPECT_EQ(str(n->getText(nullptr, false)), "caf\xE9 & \xE9");  // root's ISO-8859-1
  EXPECT_TRUE(n->getTextAfterEndTag(&utf8_, false).isNil());
  n->setTextAfterEndTag(Str("&lt;b&gt;"));
  EXPECT_EQ(str(n->getTextAfterEndTag(&utf8_, false)), "<b>");
  expectRaise([&] { n->setTextAfterEndTag(Str("x")); }, "EMU",
              "webDataNode.setTextAfterEndTag(); already exists");

  webOldText old = n->setText(Str("new"), 7, true);
  EXPECT_EQ(str(old.text), "caf\xC3\xA9 &amp; &eacute;");
  EXPECT_EQ(n->getTextValue(), 7);
  old = n->setName(Str("name"), Str("ns"), true);
  EXPECT_EQ(str(old.text), "t");
  EXPECT_TRUE(old.ns.isNil());
  EXPECT_EQ(str(n->getNamespace()), "ns");
  EXPECT_EQ(str(n->getTextAfterEndTag(&utf8_, false)), "<b>");  // kept where the namespace went
  EXPECT_TRUE(n->setText(Str("x"), 0, false).text.isNil());

  auto orphan = node(nullptr, "o", "text");
  expectRaise([&] { orphan->getText(&utf8_, false); }, "EMU",
              "webDataNode.getText(); called before \"root\" was set");
  orphan->setTextAfterEndTag(Str("after"));
  expectRaise([&] { orphan->getTextAfterEndTag(&utf8_, false); }, "EMU",
              "webDataNode.getTextAfterEndTag(); called before \"root\" was set");
  EXPECT_TRUE(orphan->getAttribute("x", &utf8_, false).isNil());  // no attributes: no check
  orphan->addAttribute(Str("x"), Str("1"));
  EXPECT_EQ(orphan->infoTextAfterEndTag(), "after");
  expectRaise([&] { orphan->getAttribute("x", &utf8_, false); }, "EMU",
              "webDataNode.getAttribute(); called before \"root\" was set");
  expectRaise([&] { orphan->getFirstAttribute(&utf8_, false); }, "EMU",
              "webDataNode.getFirstAttribute(); called before \"root\" was set");
  expectRaise([&] { orphan->getNextAttribute(&utf8_, false); }, "EMU",
              "webDataNode.getNextAttribute(); called before \"root\" was set");
}

// The getters without decoding give what the converter gives, bytes and
// capacity, for every pair of encodings (UTF-8 into UTF-8 takes a shortcut).
TEST_F(WebDataTest, RawGettersGiveTheConvertersBytesAndCapacity) {
  cEncodingUTF lower;
  ASSERT_TRUE(lower.load("utf-8"));
  auto utf8Root = std::make_unique<webDataRoot>();
  utf8Root->setContents(nullptr, Str("UTF-8"), Str(), utf8_.clone(), utf8_.clone(),
                        std::make_shared<XmlDecoder>(makeXmlEntityMap()));
  auto latin1Root = makeRoot();
  const std::string texts[] = {"", "a", "caf\xC3\xA9 &amp;", std::string("a\0b", 3), "\xFF\xC3 bad", std::string(100, 'x')};
  for (webDataRoot* root : {utf8Root.get(), latin1Root.get()}) {
    for (const cEncoding* to : {static_cast<const cEncoding*>(nullptr), static_cast<const cEncoding*>(&utf8_),
                                static_cast<const cEncoding*>(&lower), static_cast<const cEncoding*>(&latin1_)}) {
      for (const std::string& text : texts) {
        auto n = node(root, "t");
        n->setText(Str(text), 0, false);
        const Str got = n->getText(to, true);
        const Str want = convertDocumentText(Str(text), utf8_, to ? *to : *root->getCharset());
        EXPECT_EQ(str(got), str(want)) << text;
        EXPECT_EQ(got.capacity(), want.capacity()) << text;
      }
    }
  }
}

// Builds a chain of `depth` nested nodes (each the only child of the one
// before) below a top-level node.
void buildDeep(webDataRoot& root, webDataNode* top, int depth) {
  webDataNode* current = top;
  for (int i = 0; i < depth; ++i) {
    auto child = std::make_unique<webDataNode>(Str("d"), Str(""), 0, &root, Str());
    webDataNode* raw = child.get();
    current->addChildNode(std::move(child));
    current = raw;
  }
}

constexpr int kMillion = 1000000;

TEST_F(WebDataTest, MillionDeepTreeIsWrittenAndEndsWithoutRecursion) {
  {
    auto root = makeRoot();
    webDataNode* top = topLevel(*root, "deep");
    buildDeep(*root, top, kMillion);
    Str xml = createXMLintoString(*root, &utf8_, true);
    // Every node but the innermost is written with start and end tag.
    EXPECT_EQ(xml.length(), static_cast<int32_t>(39 + 13 + (kMillion - 1) * 7 + 4));
  }
}

TEST_F(WebDataTest, MillionWideTreeIsWrittenAndEnds) {
  {
    auto root = makeRoot();
    webDataNode* top = topLevel(*root, "wide");
    for (int i = 0; i < kMillion; ++i) top->addChildNode(node(root.get(), "w"));
    Str xml = createXMLintoString(*root, &utf8_, true);
    EXPECT_EQ(xml.length(), static_cast<int32_t>(39 + 13 + kMillion * 4));
  }
}

// A tree built the way readers build it lives in its root's arena. Whatever
// happens to it afterwards, a node taken out stays readable after the root
// ends and joins another tree, and every chunk goes once all has ended.
TEST_F(WebDataTest, ArenaTreesSurviveEveryChangeAndEndWithTheirChunks) {
  enum Change { kNone, kSetText, kAttribute, kForeignNode, kTakeNodes, kNodeIntoAnotherTree, kRename, kForeignTopLevel };
  constexpr std::string_view kLongAfter = "a text after the end tag of more than thirty-two bytes";
  node(nullptr, "warm-up");  // the thread's own chunk exists before counting
  const long chunksBefore = nodeSlab::infoLiveChunks();
  for (Change change :
       {kNone, kSetText, kAttribute, kForeignNode, kTakeNodes, kNodeIntoAnotherTree, kRename, kForeignTopLevel}) {
    SCOPED_TRACE(change);
    auto root = std::make_unique<webDataRoot>();
    auto other = makeRoot();
    webDataNode* holder = topLevel(*other, "holder");
    {
      // Top down, as readers add their nodes, so the tree stays plain.
      auto document = root->makeNode("", nullptr, 0, nullptr);
      webDataNode* top = document->addMadeChild(root->makeNode("top", "", 1));
      auto made = root->makeNode("a", "", 2, "x");
      made->addAttribute("href", "u &amp; v");
      made->setTextAfterEndTag("after a");
      webDataNode* madeA = top->addMadeChild(std::move(made));
      for (const char* text : {"1 &amp; 2", "a string longer than fifteen bytes"}) {
        madeA->addChildNode(root->makeNode(root->storeName("e"), text, 8));
      }
      // Short texts after end tags are shared in the arena, long ones not.
      madeA->getLastChild()->setTextAfterEndTag("after a");
      madeA->getFirstChild()->setTextAfterEndTag(kLongAfter);
      top->addChildNode(root->makeNode("b", "x", 8));
      root->setContents(document->infoChildren(), Str("UTF-8"), Str(), utf8_.clone(), latin1_.clone(),
                        std::make_shared<XmlDecoder>(makeXmlEntityMap()));
    }
    webDataNode* a = root->head()->getFirstChild();
    webDataNode* b = a->getNext();
    std::unique_ptr<webDataNode> removed;
    switch (change) {
      case kNone: break;
      case kSetText: b->setText(Str("replaced"), 8, false); break;
      case kAttribute: b->addAttribute(Str("k"), Str("v")); break;
      case kForeignNode: a->addChildNode(node(nullptr, "foreign", "f")); break;
      case kTakeNodes: removed = root->takeNodes(); break;
      case kNodeIntoAnotherTree: holder->addChildNode(root->makeNode(root->storeName("moved"), "m", 8)); break;
      case kRename:
        a->setName(Str("renamed"), Str(), false);
        root->head()->setName(Str("head"), Str(), false);
        break;
      case kForeignTopLevel: {
        // Another reader's page and a loose node join the top level, a node
        // of this arena goes below the loose one and another after them.
        auto page = std::make_unique<webDataRoot>();
        {
          auto document = page->makeNode("", nullptr, 0, nullptr);
          document->addChildNode(page->makeNode("p", "", 1));
          document->getFirstChild()->addChildNode(page->makeNode(page->storeName("c"), "page text", 8));
          page->setContents(document->infoChildren(), Str("UTF-8"), Str(), utf8_.clone(), latin1_.clone(),
                            std::make_shared<XmlDecoder>(makeXmlEntityMap()));
        }
        page->head()->setName(Str("page"), Str(), false);
        root->addNodes(page->takeNodes(), root.get());
        page.reset();
        root->addNodes(node(nullptr, "loose", "l"), root.get());
        root->tail()->addChildNode(root->makeNode("below", "", 1));
        root->addNodes(root->makeNode("late", "", 1), root.get());
        EXPECT_EQ(root->head()->getNext()->getName(), "page");
        EXPECT_EQ(root->head()->getNext()->getFirstChild()->infoText(), "page text");
        break;
      }
    }
    if (!removed) removed = a->remove();
    root.reset();
    const Text aName = change == kRename ? Text("renamed") : Text("a");
    const Text aNs = change == kRename ? Text(nullptr) : Text("x");
    auto findA = [&](webDataNode* n) { return n->isNamed(aName, aNs) ? n : n->findChild(aName, aNs, nullptr, nullptr); };
    EXPECT_EQ(findA(removed.get())->getFirstChild()->getNext()->infoText(), "a string longer than fifteen bytes");
    webDataNode* taken = removed.get();
    holder->addChildNode(std::move(removed));
    EXPECT_EQ(str(findA(taken)->getFirstChild()->getText(&utf8_, false)), "1 & 2");
    EXPECT_EQ(findA(taken)->getFirstChild()->getName(), "e");
    EXPECT_EQ(str(findA(taken)->getAttribute("HREF", &utf8_, false)), "u & v");
    EXPECT_EQ(findA(taken)->infoTextAfterEndTag(), "after a");
    EXPECT_EQ(findA(taken)->getFirstChild()->getNext()->infoTextAfterEndTag(), "after a");
    EXPECT_EQ(findA(taken)->getFirstChild()->infoTextAfterEndTag(), kLongAfter);
    if (change == kNodeIntoAnotherTree) {
      EXPECT_EQ(holder->getFirstChild()->getName(), "moved");
      EXPECT_EQ(holder->getFirstChild()->infoText(), "m");
    }
  }
  EXPECT_EQ(nodeSlab::infoLiveChunks(), chunksBefore);
}

}  // namespace
}  // namespace bw
