// Tests of the value boxes: class identity, ownership, end-once and the
// 64-bit words.
#include "core/box.h"

#include <gtest/gtest.h>

#include <string>

namespace bw {
namespace {

TEST(BoxTest, KindsAreBoxesByNameIdentity) {
  auto b = newBoxSTRING(Str("x"));
  EXPECT_STREQ(b->className(), "boxSTRING");
  EXPECT_TRUE(b->isOfClass(box::kClassName));
  EXPECT_TRUE(b->isOfClass(class_base::kClassName));
  EXPECT_FALSE(b->isSameClass(box::kClassName));
  EXPECT_TRUE(b->isSameClass(boxSTRING::kClassName));
  std::string lookalike = "box";
  EXPECT_FALSE(b->isOfClass(lookalike.c_str()));
  EXPECT_FALSE(b->isOfClass(boxVALUE::kClassName));
  EXPECT_FALSE(b->isOfClass(function::kClassName));

  const class_base* kinds[] = {newBoxPTR(nullptr).release(),  newBoxARRAY(nullptr).release(),
                               newBoxSTRING(Str()).release(), newBoxLIST({}).release(),
                               newBoxVALUE(0).release(),      newBoxBIGVALUE(0).release()};
  for (const class_base* k : kinds) {
    EXPECT_TRUE(k->isOfClass(box::kClassName)) << k->className();
    EXPECT_FALSE(k->isSameClass(box::kClassName)) << k->className();
    delete k;
  }
}

struct Watched {
  explicit Watched(bool* alive) : alive_(alive) { *alive_ = true; }
  ~Watched() { *alive_ = false; }
  bool* alive_;
};

TEST(BoxTest, PointerBoxesDoNotOwnTheirTarget) {
  bool alive = false;
  Watched target(&alive);
  {
    auto p = newBoxPTR(&target);
    auto a = newBoxARRAY(&target);
    p->end();
    EXPECT_EQ(p->value, &target);
  }
  EXPECT_TRUE(alive);
}

TEST(BoxTest, StringBoxOwnsAndEndReleases) {
  auto b = newBoxSTRING(Str::withCapacity(40, "owned"));
  EXPECT_EQ(b->value, "owned");
  EXPECT_EQ(b->value.capacity(), 40);
  b->end();
  EXPECT_TRUE(b->value.isNil());
  // The box stays usable after end: a new value is freed with the box.
  b->value = Str("again");
}

TEST(BoxTest, ExchangeHandsTheOldValueToTheCaller) {
  auto s = newBoxSTRING(Str("old"));
  Str old = s->exchange(Str("new"));
  EXPECT_EQ(old, "old");
  EXPECT_EQ(s->value, "new");

  auto l = newBoxLIST({1, 2, 3});
  WordList oldList = l->exchange({4});
  EXPECT_EQ(oldList, (WordList{1, 2, 3}));
  l->end();
  EXPECT_TRUE(l->value.empty());

  auto v = newBoxVALUE(-5);
  EXPECT_EQ(v->exchange(7), -5);
  EXPECT_EQ(v->value, 7);

  auto big = newBoxBIGVALUE(int64_t{1} << 40);
  EXPECT_EQ(big->exchange(-2), int64_t{1} << 40);
  EXPECT_EQ(big->value, -2);

  int x = 0;
  auto p = newBoxPTR(nullptr);
  EXPECT_EQ(p->exchange(&x), nullptr);
  EXPECT_EQ(p->value, &x);
}

// A box kind that counts how often its release runs.
class boxCounted : public boxSTRING {
  BW_CLASS(boxCounted, boxSTRING)

 public:
  explicit boxCounted(int* count) : count_(count) {}

 protected:
  void endValue() override {
    ++*count_;
    boxSTRING::endValue();
  }

 private:
  int* count_;
};

TEST(BoxTest, EndRunsOnceThoughCalledAgainAndDeleted) {
  int count = 0;
  {
    auto b = std::make_unique<boxCounted>(&count);
    b->value = Str("x");
    b->end();
    b->end();
    EXPECT_TRUE(b->isOfClass(box::kClassName));
  }
  EXPECT_EQ(count, 1);
}

TEST(BoxTest, BigValueWords) {
  auto minusOne = newBoxBIGVALUE(-1, 0xFFFFFFFFu);
  EXPECT_EQ(minusOne->value, -1);
  EXPECT_EQ(static_cast<uint64_t>(minusOne->value), ~uint64_t{0});

  auto fromValue = newBoxBIGVALUE(int64_t{-1});
  EXPECT_EQ(fromValue->high(), -1);
  EXPECT_EQ(fromValue->low(), 0xFFFFFFFFu);

  auto split = newBoxBIGVALUE(0x12345678, 0x9ABCDEF0u);
  EXPECT_EQ(split->value, 0x123456789ABCDEF0);
  EXPECT_EQ(split->high(), 0x12345678);
  EXPECT_EQ(split->low(), 0x9ABCDEF0u);

  // A negative 32-bit date widened with its sign keeps its order.
  auto negative = newBoxBIGVALUE(int64_t{-100});
  EXPECT_EQ(negative->high(), -1);
  EXPECT_EQ(negative->low(), static_cast<uint32_t>(-100));
}

}  // namespace
}  // namespace bw
