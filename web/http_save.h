// web/http_save.h - where a downloaded body goes: a file or memory.
//
// The request (http.h) pushes the body into an httpSaveDestination piece by
// piece: optionally initSize once with the announced length, then append
// for each piece (length > 0), then close once. fHttpSaveCallback is asked
// after each piece whether to stop.
//
// Invariants:
//   1. httpSaveToBuffer keeps its body in a chain of chunks. With an
//      announced length up to kMaxFirstChunk the body fills one chunk of
//      exactly that size, handed over by close without a copy; a larger
//      announced length starts with kMaxFirstChunk and that chunk grows as
//      data arrives (never more than announced, so a hostile Content-Length
//      reserves nothing). Without a length, a chunk that overflows is
//      followed by one of what did not fit, at least kMinChunk bytes.
//   2. A memory body larger than its limit (kDefaultMemoryLimit unless set)
//      is refused: append answers false and frees what it held, and close
//      answers false without joining anything (so the memory peak stays
//      within the limit and one chunk).
//   3. The buffer handed out ends in one zero byte that `total` counts.
//   4. httpSaveToFile writes through a 64 KiB buffer; initSize sizes the
//      file and rewinds; close trims the file to what was written when it
//      falls short of the announced length. The file stays in every case.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/object.h"
#include "core/str.h"
#include "platform/dos.h"
#include "web/http_failure.h"

namespace bw {

// A block of bytes from malloc, freed with free.
struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};
using ByteBlock = std::unique_ptr<char[], FreeDeleter>;

// Progress function object: call(count) answers true to stop the transfer.
class fHttpSaveCallback : public function {
  BW_CLASS(fHttpSaveCallback, function)
 public:
  virtual bool call(int64_t count);
};

class httpSaveDestination : public class_base {
  BW_CLASS(httpSaveDestination, class_base)
 public:
  // At most once, before the first append, when the length is announced.
  virtual void initSize(int64_t expectedSize) = 0;
  // One piece of body (length > 0); false when it was not taken.
  virtual bool append(const char* buffer, int64_t length) = 0;
  // After the last piece; true when the body was saved completely.
  virtual bool close() = 0;
  // Why append or close answered false, for the failure's sentence.
  virtual SaveRefusal infoRefusal() const { return {}; }
};

// One chunk of a memory body: `size` usable bytes plus room for a zero.
class bufferNode : public class_base {
  BW_CLASS(bufferNode, class_base)
 public:
  explicit bufferNode(int64_t size);
  ~bufferNode() override;  // frees the chunks after it in order, no recursion
  // Copies what fits of source[sourceOffset, sourceOffset+length); returns
  // how many bytes did not fit.
  int64_t append(const char* source, int64_t length, int64_t sourceOffset);
  // Grows the capacity to newSize (never shrinks).
  void grow(int64_t newSize);

  int64_t size() const { return size_; }
  int64_t pos() const { return pos_; }
  char* data() { return data_.get(); }
  ByteBlock takeData() { return std::move(data_); }
  std::unique_ptr<bufferNode> next;

 private:
  ByteBlock data_;
  int64_t size_ = 0;
  int64_t pos_ = 0;
};

class httpSaveToBuffer : public httpSaveDestination {
  BW_CLASS(httpSaveToBuffer, httpSaveDestination)
 public:
  static constexpr int64_t kMinChunk = 10240;
  static constexpr int64_t kMaxFirstChunk = 1 << 20;
  static constexpr int64_t kDefaultMemoryLimit = 64 << 20;

  httpSaveToBuffer() = default;
  void initSize(int64_t expectedSize) override;
  bool append(const char* buffer, int64_t length) override;
  bool close() override;
  // kTooLarge past the limit, kEmpty when nothing came.
  SaveRefusal infoRefusal() const override;

  struct Buffer {
    ByteBlock data;      // NIL before a successful close or once taken
    int64_t total = 0;   // bytes including the terminating zero
  };
  // The joined body; it becomes the caller's.
  Buffer getBuffer();

  // The largest body accepted (bytes, without the zero).
  void setMemoryLimit(int64_t limit) { limit_ = limit; }
  int64_t chunkSize() const { return chunkSize_; }
  int64_t total() const { return total_; }
  const bufferNode* firstChunk() const { return first_.get(); }

 private:
  int64_t chunkSize_ = kMinChunk;
  int64_t growLimit_ = 0;  // announced length the first chunk may grow to
  int64_t total_ = 0;
  int64_t limit_ = kDefaultMemoryLimit;
  bool refused_ = false;
  std::unique_ptr<bufferNode> first_;
  bufferNode* last_ = nullptr;
  ByteBlock buffer_;
};

class httpSaveToFile : public httpSaveDestination {
  BW_CLASS(httpSaveToFile, httpSaveDestination)
 public:
  static constexpr size_t kBufferSize = 64 * 1024;

  httpSaveToFile() = default;
  ~httpSaveToFile() override;  // closes a file still open
  // Opens (creates or truncates) the file at the native path; false when it
  // could not be opened (IoErr tells why).
  bool open(Text nativePath);
  void initSize(int64_t expectedSize) override;
  bool append(const char* buffer, int64_t length) override;
  bool close() override;
  SaveRefusal infoRefusal() const override { return {SaveRefusal::kNotWritten}; }

  bool isOpen() const { return static_cast<bool>(file_); }
  int64_t expectedSize() const { return expectedSize_; }
  int64_t written() const { return written_; }

 private:
  bool flushBuffer();
  dos::FileHandle file_;
  std::vector<char> pending_;
  bool writeFailed_ = false;
  int64_t expectedSize_ = -1;
  int64_t written_ = 0;
};

}  // namespace bw
