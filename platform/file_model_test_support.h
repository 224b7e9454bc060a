// platform/file_model_test_support.h - runs a script of cFile operations
// against an in-memory byte vector that models the file, and reports the
// first difference. Used by the model test and the cFile fuzz target.
// Header only; needs the timer device open (writes stamp the time).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/exception.h"
#include "platform/file.h"

namespace bw::testing_model {

// The file as a byte vector with the same rules for padding, noExtend and
// stop characters.
struct ByteModel {
  std::vector<uint8_t> bytes;
  uint8_t fill = 0;

  ReadResult read(uint8_t* out, int64_t p, int64_t length, int32_t stop) const {
    int64_t size = static_cast<int64_t>(bytes.size());
    int64_t real = std::clamp<int64_t>(size - p, 0, length);
    if (real > 0) std::memcpy(out, bytes.data() + p, static_cast<size_t>(real));
    if (length > real) std::memset(out + real, fill, static_cast<size_t>(length - real));
    int64_t pad = std::max<int64_t>(0, length - std::max<int64_t>(0, size - p));
    int64_t count = length;
    if (stop >= 0) {
      for (int64_t i = 0; i < length; ++i) {
        if (static_cast<int8_t>(out[i]) != stop) continue;
        for (int64_t j = i + 1; j < length - pad; ++j) out[j] = fill;
        pad = length - (i + 1);
        count = i + 1;
        break;
      }
    }
    return {p + count, pad};
  }
  WriteResult write(const uint8_t* in, int64_t p, int64_t length, bool noExtend) {
    int64_t size = static_cast<int64_t>(bytes.size());
    int64_t count = noExtend ? std::min(length, std::max<int64_t>(0, size - p)) : length;
    if (!noExtend && p + length > size) bytes.resize(static_cast<size_t>(p + length), fill);
    if (count > 0) std::memcpy(bytes.data() + p, in, static_cast<size_t>(count));
    return {p + count, length - count};
  }
  void setSize(int64_t n) { bytes.resize(static_cast<size_t>(n), fill); }
};

// True when the host file holds exactly these bytes.
inline bool hostFileEquals(const std::string& host, const std::vector<uint8_t>& bytes) {
  std::ifstream in(host, std::ios::binary | std::ios::ate);
  if (!in || static_cast<size_t>(in.tellg()) != bytes.size()) return false;
  in.seekg(0);
  std::vector<uint8_t> disk(bytes.size());
  in.read(reinterpret_cast<char*>(disk.data()), static_cast<std::streamsize>(disk.size()));
  return static_cast<size_t>(in.gcount()) == bytes.size() && disk == bytes;
}

// Draws operations from `next(bound)` (a value in [0, bound)) and runs them.
class FileModelRun {
 public:
  // cap bounds positions and sizes; bigPerMille requests in a thousand go
  // past 4 MiB (and so bypass the cache).
  // Chunk sizes drawn run from 8 to 8 << (maxChunkShift - 1).
  FileModelRun(std::string internalPath, std::string hostPath, int64_t cap, int bigPerMille, int maxChunkShift = 20)
      : internal_(std::move(internalPath)),
        host_(std::move(hostPath)),
        cap_(cap),
        bigPerMille_(bigPerMille),
        maxChunkShift_(maxChunkShift) {}

  template <typename Next>
  std::string run(Next&& next, int64_t operations) {
    model_.fill = static_cast<uint8_t>(next(256));
    open();
    // Buffers big enough for any request, made once: data to write comes from
    // a fixed pattern at a drawn offset, read buffers are compared over the
    // request (after one byte of offset) only.
    const size_t room = static_cast<size_t>(kMaxChunkSize) + (size_t{1} << 20) + 256;
    std::vector<uint8_t> pattern(room), out(room), expected(room);
    for (size_t i = 0; i < room; ++i) pattern[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    for (int64_t op = 0; op < operations; ++op) {
      uint64_t kind = next(1000);
      if (kind >= 943) kind -= 943;  // chunk-size changes stay rare: 5 in 1000
      int64_t length = drawLength(next);
      int64_t p = drawPosition(next, length);
      std::string where = "op " + std::to_string(op) + " ";
      if (kind < 420) {
        int32_t stop = next(10) == 0 ? static_cast<int32_t>(next(128)) : kNoStop;
        out[0] = expected[0] = 0;
        file_->setPosition(p);
        ReadResult got = file_->read(out.data(), length, 1, stop);
        ReadResult want = model_.read(expected.data() + 1, p, length, stop);
        if (got.next != want.next || got.numOfPadBytes != want.numOfPadBytes)
          return where + "read result at " + std::to_string(p) + " length " + std::to_string(length);
        if (std::memcmp(out.data(), expected.data(), static_cast<size_t>(length) + 1) != 0) return where + "read bytes at " + std::to_string(p) + " length " + std::to_string(length);
      } else if (kind < 850) {
        bool noExtend = next(8) == 0;
        const uint8_t* in = pattern.data() + next(256);
        file_->setPosition(p);
        WriteResult got = file_->write(in, length, 0, noExtend);
        WriteResult want = model_.write(in, p, length, noExtend);
        if (got.next != want.next || got.notWritten != want.notWritten)
          return where + "write result at " + std::to_string(p) + " length " + std::to_string(length);
      } else if (kind < 920) {
        int64_t n = static_cast<int64_t>(next(static_cast<uint64_t>(cap_) + 1));
        file_->setSize(n);
        model_.setSize(n);
      } else if (kind < 935) {
        file_->flush();
      } else if (kind < 938) {
        file_->close();
        if (!hostFileEquals(host_, model_.bytes))
          return where + "file on disk after close";
        setDefaultChunkSize(8 << next(static_cast<uint64_t>(maxChunkShift_)));
        open();
      } else {
        int32_t size = 8 << next(static_cast<uint64_t>(maxChunkShift_));
        int64_t anchor = next(2) ? -1 : static_cast<int64_t>(next(static_cast<uint64_t>(cap_)));
        if (anchor >= 0 && file_->infoChunk(0).data == nullptr) anchor = -1;
        file_->changeChunkSizeTo(size, anchor);
      }
      if (file_->getSize() != static_cast<int64_t>(model_.bytes.size())) return where + "size";
    }
    file_->close();
    if (!hostFileEquals(host_, model_.bytes)) return "file on disk at the end";
    return {};
  }

 private:
  void open() {
    file_ = std::make_unique<cFile>();
    file_->initialise(model_.fill);
    if (!file_->open(Text(internal_), false, false, false)) raise("FILE", "model: open failed");
  }
  template <typename Next>
  int64_t drawLength(Next&& next) {
    if (static_cast<int>(next(1000)) < bigPerMille_) return kMaxChunkSize + 1 + static_cast<int64_t>(next(1 << 20));
    uint64_t e = next(17);
    return static_cast<int64_t>(next((uint64_t{1} << e) + 1));
  }
  template <typename Next>
  int64_t drawPosition(Next&& next, int64_t length) {
    int64_t room = std::max<int64_t>(0, cap_ - length);
    int64_t p;
    if (next(2)) {
      int64_t delta = static_cast<int64_t>(next(131072)) - 65536;
      p = std::clamp<int64_t>(last_ + delta, 0, room);
    } else {
      p = static_cast<int64_t>(next(static_cast<uint64_t>(room) + 1));
    }
    last_ = p + length;
    return p;
  }

  std::string internal_, host_;
  int64_t cap_;
  int bigPerMille_;
  int maxChunkShift_;
  int64_t last_ = 0;
  ByteModel model_;
  std::unique_ptr<cFile> file_;
};

}  // namespace bw::testing_model
