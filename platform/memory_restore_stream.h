// platform/memory_restore_stream.h - cRestoreStream_memory, a store/restore
// stream over bytes in memory, for code that encodes and decodes records
// without a file (fuzz targets, benchmarks, tests).
//
// Invariants:
//   1. Reads come from the input the caller set (not copied: it must outlive
//      the reads) and never pass its end: a read that would raises "FILE"
//      "cRestoreStream_memory.read(); unexpected end of stream", as the file
//      streams do, and moves nothing.
//   2. Writes append to an output buffer of the stream's own.
//   3. ahead() opens the stream's window on the rest of the input (unless
//      the input was set without showAhead); a read takes the window's
//      progress back first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/restore_stream.h"

namespace bw {

class cRestoreStream_memory : public cRestoreStreamBase {
  BW_CLASS(cRestoreStream_memory, cRestoreStreamBase)

 public:
  // Reading starts at the first byte of data. showAhead: ahead() answers
  // every byte not read yet (FALSE: nothing, so that readers transfer value
  // by value).
  void setInput(const uint8_t* data, size_t size, bool showAhead = true) {
    getNext_ = getEnd_ = nullptr;
    input_ = data;
    size_ = size;
    position_ = 0;
    showAhead_ = showAhead;
  }
  // Bytes not read yet (a length read from the input above it cannot be
  // genuine).
  int64_t infoRemaining() const { return static_cast<int64_t>(size_ - infoPosition()); }
  const std::vector<uint8_t>& infoOutput() const { return output_; }
  void clearOutput() { output_.clear(); }

  void read(void* buffer, int32_t length) override;
  void write(const void* buffer, int32_t length) override;
  std::span<const uint8_t> ahead() override;

 private:
  size_t infoPosition() const { return getEnd_ ? static_cast<size_t>(getNext_ - input_) : position_; }

  const uint8_t* input_ = nullptr;
  size_t size_ = 0;
  size_t position_ = 0;
  bool showAhead_ = true;
  std::vector<uint8_t> output_;
};

}  // namespace bw
