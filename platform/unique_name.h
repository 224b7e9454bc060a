// platform/unique_name.h - the generator behind the unique names of the path
// procedures (cPath::MakeUniquePath) and of directory entry lists
// (cDirEntryList::makeUniqueName).
//
// Each try seeds the generator with the magnitude of the caller's seed (2^31
// for INT32_MIN, taken without overflow) and uses its next value both as the
// number of the try and as the new seed; when the generator maps a seed onto
// itself the new seed is one further on, so no seed repeats one name forever.
// The generator is private to the program, never the C library's rand, which
// other modules seed for their own use.
#pragma once

#include <cstdint>

namespace bw {

// A 64-bit linear congruence (Knuth's MMIX multiplier), the upper half's
// 31 bits as the result.
class UniqueNameGenerator {
 public:
  void seed(uint32_t s) { state_ = s; }
  uint32_t next() {
    state_ = state_ * 6364136223846793005ULL + 1;
    return static_cast<uint32_t>((state_ >> 32) & 0x7FFFFFFF);
  }

 private:
  uint64_t state_ = 1;
};

// One try: the number to format, with `seed` moved on.
inline uint32_t nextUniqueNumber(int32_t& seed) {
  int64_t s = seed;
  uint32_t start = static_cast<uint32_t>(s < 0 ? -s : s);
  UniqueNameGenerator generator;
  generator.seed(start);
  uint32_t number = generator.next();
  seed = static_cast<int32_t>(number == start ? number + 1 : number);
  return number;
}

}  // namespace bw
