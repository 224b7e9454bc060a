// tools/soupcheck/area.h - big-endian reads of file bytes, a data area read
// only where it holds the bytes asked for, and the block layout constants
// that the block and soup levels check against.
#pragma once

#include <cstdint>
#include <vector>

namespace bw::soupcheck {

// Where the first block starts, and how many index entries are special.
constexpr int64_t kFirstBlock = 8496;
constexpr int64_t kSpecial = 14;

// The unsigned big-endian number in `bytes` bytes at `at`; the caller has
// checked that f holds them.
inline uint64_t bigEndian(const std::vector<uint8_t>& f, int64_t at, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | f[static_cast<size_t>(at + i)];
  return v;
}

class CheckedArea {
 public:
  explicit CheckedArea(const std::vector<uint8_t>& data) : d_(data) {}
  int64_t size() const { return static_cast<int64_t>(d_.size()); }
  bool has(int64_t at, int64_t n) const { return at >= 0 && n >= 0 && at <= size() - n; }
  // The byte at `at`, 0 outside the area.
  uint8_t byte(int64_t at) const { return has(at, 1) ? d_[static_cast<size_t>(at)] : 0; }
  // The 32-bit word at `at`, or `outside` where the area ends before it.
  int64_t word32(int64_t at, int64_t outside) const {
    return has(at, 4) ? static_cast<int64_t>(bigEndian(d_, at, 4)) : outside;
  }

 private:
  const std::vector<uint8_t>& d_;
};

}  // namespace bw::soupcheck
