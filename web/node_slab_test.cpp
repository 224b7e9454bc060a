// web/node_slab_test.cpp - the tree objects' chunks: a node taken out of a
// tree outlives the tree and joins another, objects end on any thread, a
// chunk goes when its last object and its thread are gone, and (under
// AddressSanitizer) a use after the end is still reported.
#include "web/node_slab.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "web/web_data.h"
#include "web/web_test_support.h"

namespace bw {
namespace {

class NodeSlab : public WebTest {};

TEST_F(NodeSlab, ATakenOutNodeOutlivesItsTreeAndJoinsAnother) {
  std::unique_ptr<webDataNode> taken;
  {
    std::unique_ptr<webDataRoot> first = parse("<a><b x=\"1\">b &amp; c<c>d</c></b><e/></a>");
    ASSERT_TRUE(first);
    taken = first->head()->getFirstChild()->remove();
  }
  std::unique_ptr<webDataRoot> second = parse("<z/>");
  ASSERT_TRUE(second);
  webDataNode* z = second->head();
  z->addChildNode(std::move(taken));
  webDataNode* b = z->getFirstChild();
  EXPECT_EQ(b->getRoot(), second.get());
  EXPECT_EQ(b->getText(&utf8_, false), "b & c");
  EXPECT_EQ(b->getAttribute("x", &utf8_, false), "1");
  EXPECT_EQ(b->getFirstChild()->getText(&utf8_, false), "d");
}

TEST_F(NodeSlab, ChunksGoWithTheirLastObjectOnAnyThread) {
  const long before = nodeSlab::infoLiveChunks();
  // A thread makes 100,000 nodes (several chunks) and ends; the main thread
  // ends the nodes afterwards.
  std::vector<std::unique_ptr<webDataNode>> made;
  std::thread maker([&] {
    for (int i = 0; i < 100000; ++i) made.push_back(std::make_unique<webDataNode>(Str("n"), Str(), 0, nullptr, Str()));
  });
  maker.join();
  EXPECT_GT(nodeSlab::infoLiveChunks(), before + 10);
  made.clear();
  EXPECT_EQ(nodeSlab::infoLiveChunks(), before);
  // A large object comes from the heap and goes back to it.
  void* big = nodeSlab::allocate(1 << 20);
  EXPECT_EQ(nodeSlab::infoLiveChunks(), before);
  nodeSlab::release(big);
}

// The objects of a thread's current chunk may all end, on another thread,
// while it is still being carved: the chunk stays for what comes after them
// (a chunk freed early would be a use after free here).
TEST_F(NodeSlab, TheCurrentChunkOutlivesItsEndedObjects) {
  std::vector<std::unique_ptr<webDataNode>> made;
  for (int i = 0; i < 3; ++i) made.push_back(std::make_unique<webDataNode>(Str("n"), Str(), 0, nullptr, Str()));
  std::thread([&] { made.clear(); }).join();
  auto after = std::make_unique<webDataNode>(Str("m"), Str(), 0, nullptr, Str());
  EXPECT_EQ(after->getName(), "m");
  EXPECT_GE(nodeSlab::infoLiveChunks(), 1);
}

// An arena's early chunks are small: an object larger than the next one
// (a long text, a reader's record) must still lie inside its own chunk, not
// run over what is carved or allocated after it.
TEST_F(NodeSlab, AnArenaObjectOfAnySizeKeepsToItsChunk) {
  for (size_t size : {size_t{4000}, size_t{4100}, size_t{9000}, size_t{16000}, size_t{17000}}) {
    nodeSlab::Arena arena;
    auto* first = static_cast<unsigned char*>(arena.allocate(size));
    std::vector<unsigned char*> after;
    for (int i = 0; i < 400; ++i) after.push_back(static_cast<unsigned char*>(arena.allocate(100)));
    for (unsigned char* p : after) std::fill(p, p + 100, 'y');
    std::fill(first, first + size, 'x');
    EXPECT_EQ(std::count(first, first + size, 'x'), static_cast<std::ptrdiff_t>(size)) << size;
    for (unsigned char* p : after) ASSERT_EQ(std::count(p, p + 100, 'y'), 100) << size;
  }
}

// A reader's nodes carry no header: those taken out of a tree of many
// chunks (one a large text's) find their chunks when adopted and, on
// another thread, when they end after their arena.
TEST_F(NodeSlab, AReadersNodesTakenOutOutliveTheirArenaAcrossChunks) {
  auto warmUp = std::make_unique<webDataNode>(Str("w"), Str(), 0, nullptr, Str());  // the thread's chunk
  const long before = nodeSlab::infoLiveChunks();
  const std::string large(20000, 'x');
  std::vector<std::unique_ptr<webDataNode>> taken;
  {
    auto root = std::make_unique<webDataRoot>();
    auto document = root->makeNode("", nullptr, 0, nullptr);
    for (int i = 0; i < 20000; ++i) {
      if (i % 100 == 0) document->addMadeChild(root->makeNode("p", "", 0));
      document->getLastChild()->addMadeChild(root->makeNode("n", i == 6999 ? large : std::to_string(i), i));
    }
    // Every third leaf leaves the tree; the rest end with the arena.
    for (webDataNode* p = document->getFirstChild(); p; p = p->getNext()) {
      for (webDataNode* n = p->getFirstChild(); n;) {
        webDataNode* next = n->getNext();
        if (n->getTextValue() % 3 == 0) taken.push_back(n->remove());
        n = next;
      }
    }
  }
  EXPECT_GT(nodeSlab::infoLiveChunks(), before + 5);
  for (const auto& n : taken) {
    const int i = n->getTextValue();
    ASSERT_EQ(n->infoText(), i == 6999 ? large : std::to_string(i));
  }
  std::thread([&] { taken.clear(); }).join();
  EXPECT_EQ(nodeSlab::infoLiveChunks(), before);
}

#if defined(__SANITIZE_ADDRESS__)
TEST_F(NodeSlab, AUseAfterTheEndIsReported) {
  EXPECT_DEATH(
      {
        auto* node = new webDataNode(Str("n"), Str(), 0, nullptr, Str());
        webDataNode* stale = node;
        delete node;
        volatile int32_t value = stale->getTextValue();
        (void)value;
      },
      "use-after-poison");
}
#endif

}  // namespace
}  // namespace bw
