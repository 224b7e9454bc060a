// database/journal_workload_test_support.h - seeded workloads for the crash,
// fault and power-loss tests, with the model of what each acknowledged commit
// leaves: writes, size changes and nested transactions, commitDelay 0.
//
// The model follows the journaled file's rules: bytes written since the last
// commit stay cached across a shrink and reappear when the size grows again;
// other bytes below the committed size come from the last commit; anything
// else is the pad byte.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "database/journal_file.h"

namespace bw::testing_journal {

class JournalModel {
 public:
  explicit JournalModel(uint8_t pad = 0) : pad_(pad) {}

  void write(int64_t position, const std::vector<uint8_t>& bytes) {
    auto end = static_cast<size_t>(position) + bytes.size();
    if (cache_.size() < end) cache_.resize(end, -1);
    for (size_t i = 0; i < bytes.size(); ++i) cache_[static_cast<size_t>(position) + i] = bytes[i];
    logical_ = std::max<int64_t>(logical_, static_cast<int64_t>(end));
  }
  void setSize(int64_t size) { logical_ = size; }
  int64_t size() const { return logical_; }
  // What a read shows now.
  std::vector<uint8_t> view() const {
    std::vector<uint8_t> out(static_cast<size_t>(logical_), pad_);
    for (size_t q = 0; q < out.size(); ++q) {
      if (q < cache_.size() && cache_[q] >= 0) {
        out[q] = static_cast<uint8_t>(cache_[q]);
      } else if (q < committed_.size()) {
        out[q] = committed_[q];
      }
    }
    return out;
  }
  void commit() {
    committed_ = view();
    cache_.clear();
  }
  const std::vector<uint8_t>& committed() const { return committed_; }

 private:
  uint8_t pad_;
  std::vector<uint8_t> committed_;
  std::vector<int16_t> cache_;  // -1: not written since the commit
  int64_t logical_ = 0;
};

// Runs about `operations` seeded operations in transactions of one to four,
// some nested, each outermost transaction committing (the file's delay must
// be 0). After each acknowledged commit `acknowledged` gets the data area the
// model expects; it is called with the starting contents first.
inline void runWorkload(cJournaledFile& f, uint64_t seed, int operations,
                        const std::function<void(const std::vector<uint8_t>&)>& acknowledged,
                        int64_t maxSize = 6000) {
  std::mt19937_64 random(seed);
  auto below = [&](int64_t n) { return static_cast<int64_t>(random() % static_cast<uint64_t>(n)); };
  JournalModel model(f.infoFillByte());
  {
    std::vector<uint8_t> start(static_cast<size_t>(f.getSize()));
    f.setPosition(0);
    if (!start.empty()) f.read(start.data(), f.getSize(), 0, -1);
    model.write(0, start);
    model.commit();
  }
  acknowledged(model.committed());
  auto oneOperation = [&] {
    int64_t kind = below(10);
    if (kind < 7) {
      int64_t position = below(std::min(maxSize, model.size() + 200));
      std::vector<uint8_t> bytes(static_cast<size_t>(1 + below(kind == 0 ? 3000 : 300)));
      for (auto& b : bytes) b = static_cast<uint8_t>(random());
      f.setPosition(position);
      f.write(bytes.data(), static_cast<int64_t>(bytes.size()), 0, false);
      model.write(position, bytes);
    } else {
      int64_t size = below(maxSize);
      f.setSize(size);
      model.setSize(size);
    }
  };
  for (int done = 0; done < operations;) {
    int32_t outer = f.beginTransaction();
    int64_t count = 1 + below(4);
    for (int64_t i = 0; i < count; ++i, ++done) {
      if (below(4) == 0) {
        int32_t inner = f.beginTransaction();
        oneOperation();
        f.finishTransaction(inner);
      } else {
        oneOperation();
      }
    }
    f.finishTransaction(outer);
    model.commit();
    acknowledged(model.committed());
  }
}

}  // namespace bw::testing_journal
