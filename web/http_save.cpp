// web/http_save.cpp - the memory and file save destinations (see
// http_save.h).
#include "web/http_save.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/exception.h"

namespace bw {
namespace {

ByteBlock allocateBlock(int64_t size) {
  char* p = static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1));
  if (!p) raise("MEM", "httpSaveToBuffer; out of memory");
  return ByteBlock(p);
}

}  // namespace

bool fHttpSaveCallback::call(int64_t) { return false; }

// ---------------------------------------------------------------------------
// bufferNode
// ---------------------------------------------------------------------------

bufferNode::bufferNode(int64_t size) : data_(allocateBlock(size)), size_(size) {}

bufferNode::~bufferNode() {
  // Unlink the rest of the chain first so that ending a long chain never
  // recurses once per chunk.
  std::unique_ptr<bufferNode> rest = std::move(next);
  while (rest) rest = std::move(rest->next);
}

int64_t bufferNode::append(const char* source, int64_t length, int64_t sourceOffset) {
  int64_t fits = std::min(length, size_ - pos_);
  if (fits > 0) {
    std::memcpy(data_.get() + pos_, source + sourceOffset, static_cast<size_t>(fits));
    pos_ += fits;
  }
  return length - std::max<int64_t>(fits, 0);
}

void bufferNode::grow(int64_t newSize) {
  if (newSize <= size_) return;
  char* p = static_cast<char*>(std::realloc(data_.get(), static_cast<size_t>(newSize) + 1));
  if (!p) raise("MEM", "httpSaveToBuffer; out of memory");
  (void)data_.release();
  data_.reset(p);
  size_ = newSize;
}

// ---------------------------------------------------------------------------
// httpSaveToBuffer
// ---------------------------------------------------------------------------

void httpSaveToBuffer::initSize(int64_t expectedSize) {
  if (total_ != 0) raise("EMU", "httpSaveToBuffer.initSize(); object reused twice");
  if (expectedSize < 0) return;  // unknown: keep growing chunks
  chunkSize_ = std::min(expectedSize, kMaxFirstChunk);
  if (chunkSize_ == 0) chunkSize_ = kMinChunk;  // nothing announced to hold
  growLimit_ = std::min(expectedSize, limit_);
}

bool httpSaveToBuffer::append(const char* buffer, int64_t length) {
  if (length <= 0) return true;
  if (refused_ || length > limit_ - total_) {
    // Too large: the chunks go at once and are never joined.
    refused_ = true;
    first_.reset();
    last_ = nullptr;
    return false;
  }
  if (!first_) {
    first_ = std::make_unique<bufferNode>(chunkSize_);
    last_ = first_.get();
  }
  // The first chunk of an announced body larger than its first allocation
  // grows (doubling, up to the announced length) while it is the only one.
  if (last_ == first_.get() && growLimit_ > last_->size() && last_->pos() + length > last_->size()) {
    last_->grow(std::min(growLimit_, std::max(last_->size() * 2, last_->pos() + length)));
  }
  int64_t rest = last_->append(buffer, length, 0);
  if (rest > 0) {
    last_->next = std::make_unique<bufferNode>(std::max(rest, kMinChunk));
    last_ = last_->next.get();
    if (last_->append(buffer, rest, length - rest) != 0)
      raise("BUG", "httpSaveToBuffer.append(); new buffer was not large enough");
  }
  total_ += length;
  return true;
}

bool httpSaveToBuffer::close() {
  if (!first_ || refused_) return false;
  if (!first_->next) {
    if (first_->pos() != total_) raise("BUG", "httpSaveToBuffer.close(); pos<>self.total (1)");
    int64_t pos = first_->pos();
    buffer_ = first_->takeData();
    buffer_[pos] = '\0';
  } else {
    ByteBlock joined = allocateBlock(total_);
    int64_t pos = 0;
    for (bufferNode* n = first_.get(); n; n = n->next.get()) {
      if (pos + n->pos() > total_) raise("BUG", "httpSaveToBuffer.close(); pos<>self.total (2)");
      std::memcpy(joined.get() + pos, n->data(), static_cast<size_t>(n->pos()));
      pos += n->pos();
    }
    if (pos != total_) raise("BUG", "httpSaveToBuffer.close(); pos<>self.total (2)");
    joined[pos] = '\0';
    buffer_ = std::move(joined);
  }
  total_ += 1;
  first_.reset();
  last_ = nullptr;
  return true;
}

SaveRefusal httpSaveToBuffer::infoRefusal() const {
  if (refused_) return {SaveRefusal::kTooLarge, limit_};
  return {total_ == 0 ? SaveRefusal::kEmpty : SaveRefusal::kUnknown};
}

httpSaveToBuffer::Buffer httpSaveToBuffer::getBuffer() {
  Buffer b;
  if (!buffer_) return b;
  b.data = std::move(buffer_);
  b.total = total_;
  return b;
}

// ---------------------------------------------------------------------------
// httpSaveToFile
// ---------------------------------------------------------------------------

httpSaveToFile::~httpSaveToFile() {
  if (file_) close();
}

bool httpSaveToFile::open(Text nativePath) {
  if (file_) close();
  file_ = dos::open(nativePath, dos::kModeNewFile);
  expectedSize_ = -1;
  written_ = 0;
  writeFailed_ = false;
  pending_.clear();
  pending_.reserve(kBufferSize);
  return static_cast<bool>(file_);
}

bool httpSaveToFile::flushBuffer() {
  if (pending_.empty()) return !writeFailed_;
  int64_t n = file_.write(pending_.data(), static_cast<int64_t>(pending_.size()));
  pending_.clear();
  if (n < 0) writeFailed_ = true;
  return !writeFailed_;
}

void httpSaveToFile::initSize(int64_t expectedSize) {
  if (!file_ || expectedSize < 0) return;
  flushBuffer();
  file_.changeSize(expectedSize, dos::kOffsetBeginning);
  file_.setPosition(0, dos::kOffsetBeginning);
  expectedSize_ = expectedSize;
}

bool httpSaveToFile::append(const char* buffer, int64_t length) {
  written_ += length;
  if (!file_ || writeFailed_) return false;
  if (length <= 0) return true;
  if (pending_.size() + static_cast<size_t>(length) > kBufferSize && !flushBuffer()) return false;
  if (static_cast<size_t>(length) >= kBufferSize) {
    if (file_.write(buffer, length) < 0) writeFailed_ = true;
    return !writeFailed_;
  }
  pending_.insert(pending_.end(), buffer, buffer + length);
  return true;
}

bool httpSaveToFile::close() {
  if (!file_) return false;
  bool ok = flushBuffer();
  if (expectedSize_ != -1) {
    int64_t position = file_.position();
    if (position != expectedSize_ || expectedSize_ != written_) {
      ok = false;
      if (position >= 0) file_.changeSize(position, dos::kOffsetBeginning);
    }
  }
  if (!file_.close()) ok = false;
  return ok;
}

}  // namespace bw
