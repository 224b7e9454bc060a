// database/restore_stream_standin.h - TEMPORARY: the few store/restore stream
// operations the object soup uses, until platform/restore_stream.h lands.
// Delete this file and include the real header then.
#pragma once

#include <cstdint>

#include "core/exception.h"
#include "core/object.h"

namespace bw {

class cRestoreStreamBase : public class_base {
  BW_CLASS(cRestoreStreamBase, class_base)
 public:
  virtual void beginStream() {
    if (active_) raise("EMU", "cRestoreStreamBase.beginStream(); finishStream() was not called");
    active_ = true;
  }
  virtual void finishStream() { active_ = false; }
  virtual void read(void* /*buffer*/, int32_t /*length*/) {}
  virtual void write(const void* /*buffer*/, int32_t /*length*/) {}

 private:
  bool active_ = false;
};

class cRestoreStream_size : public cRestoreStreamBase {
  BW_CLASS(cRestoreStream_size, cRestoreStreamBase)
 public:
  void beginStream() override {
    size_ = 0;
    cRestoreStreamBase::beginStream();
  }
  void write(const void* /*buffer*/, int32_t length) override { size_ += length; }
  int32_t infoSize() const { return size_; }

 private:
  int32_t size_ = 0;
};

class cRestoreStream_any_cFile : public cRestoreStreamBase {
  BW_CLASS(cRestoreStream_any_cFile, cRestoreStreamBase)
};

inline int32_t transferValue(cRestoreStreamBase& stream, bool doWrite, int32_t value) {
  uint8_t b[4];
  if (doWrite) {
    auto u = static_cast<uint32_t>(value);
    b[0] = static_cast<uint8_t>(u >> 24);
    b[1] = static_cast<uint8_t>(u >> 16);
    b[2] = static_cast<uint8_t>(u >> 8);
    b[3] = static_cast<uint8_t>(u);
    stream.write(b, 4);
    return value;
  }
  stream.read(b, 4);
  return static_cast<int32_t>((uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3]);
}

}  // namespace bw
