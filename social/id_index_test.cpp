// social/id_index_test.cpp - IdIndex against a node-based map over a random
// workload of short ids, repeats, overwrites and sets of absent ids only,
// past several growths.
#include "social/id_index.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_map>

namespace bw {
namespace {

TEST(IdIndexTest, AnswersAsAMapOverARandomWorkload) {
  std::mt19937 random(7);
  IdIndex index;
  std::unordered_map<std::string, int32_t> model;
  // Ids of 0-19 bytes over three letters: many repeats, many equal hashes of
  // the first bytes, lengths on both sides of eight and sixteen.
  auto someId = [&] {
    std::string id(random() % 20, 'a');
    for (char& c : id) c = static_cast<char>('a' + random() % 3);
    return id;
  };
  for (int step = 0; step < 200000; ++step) {
    const std::string id = someId();
    const auto value = static_cast<int32_t>(random() % 1000) - 10;  // 0 and negatives too
    if (random() % 2) {
      index.set(id, value);
      model[id] = value;
    } else if (random() % 2) {
      const auto [kept, added] = model.try_emplace(id, value);
      ASSERT_EQ(index.setIfAbsent(id, value), added ? 0 : kept->second) << id;
    }
    const auto found = model.find(id);
    ASSERT_EQ(index.find(id), found == model.end() ? 0 : found->second) << id;
  }
  EXPECT_GT(model.size(), 50000u);
}

}  // namespace
}  // namespace bw
