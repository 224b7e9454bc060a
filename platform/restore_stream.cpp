// platform/restore_stream.cpp - the stream classes, object numbering and the
// value transfer procedures.
#include "platform/restore_stream.h"

#include <algorithm>

#include "core/exception.h"

namespace bw {
namespace {

// Reads length bytes at the file's position and moves it past them; a file
// that ends first raises "FILE" with message.
void readFromFile(cFile& file, void* buffer, int32_t length, const char* message) {
  ReadResult r = file.read(buffer, length, 0, kNoStop);
  file.setPosition(r.next);
  if (r.numOfPadBytes > 0) raise("FILE", message);
}

void writeToFile(cFile& file, const void* buffer, int32_t length) {
  WriteResult w = file.write(buffer, length, 0, false);
  file.setPosition(w.next);
}

// Big-endian transfer of the low `bytes` bytes of value; returns the value
// read (unsigned) or written.
uint64_t transferBytes(cRestoreStreamBase& s, bool doWrite, uint64_t value, int bytes) {
  uint8_t b[8];
  if (doWrite) {
    for (int i = 0; i < bytes; ++i) b[i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
    s.put(b, bytes);
    return value;
  }
  s.get(b, bytes);
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | b[i];
  return v;
}

}  // namespace

// --- cRestoreStreamBase ---------------------------------------------------------

void cRestoreStreamBase::beginStream() {
  if (active_) raise("EMU", "cRestoreStreamBase.beginStream(); finishStream() was not called");
  active_ = true;
  currentObjectIndex_ = 0;
}

void cRestoreStreamBase::finishStream() {
  active_ = false;
  if (!objectToNumber_.empty()) objectToNumber_.clear();
  if (!numberToObject_.empty()) numberToObject_.clear();
}

void cRestoreStreamBase::read(void* buffer, int32_t length) {
  (void)buffer;
  (void)length;
}

void cRestoreStreamBase::write(const void* buffer, int32_t length) {
  (void)buffer;
  (void)length;
}

TransferredObject cRestoreStreamBase::transferObject(bool doWrite, class_base* object) {
  if (!doWrite) object = nullptr;
  if (transferBool(*this, doWrite, object == nullptr)) return {nullptr, true};
  bool seen = false;
  int32_t number = 0;
  if (doWrite && active_) {
    auto it = objectToNumber_.find(object);
    if (it != objectToNumber_.end()) {
      seen = true;
      number = it->second;
    }
  }
  seen = transferBool(*this, doWrite, seen) != 0;
  if (!seen) return {object, false};
  number = transferValue(*this, doWrite, number);
  if (!doWrite) {
    object = nullptr;
    if (active_) {
      auto it = numberToObject_.find(number);
      if (it != numberToObject_.end()) object = it->second;
    }
  }
  return {object, true};
}

void cRestoreStreamBase::objectCreationAfter(bool doWrite, class_base* object) {
  ++currentObjectIndex_;
  if (!active_) raise("EMU", "cRestoreStreamBase.objectCreationAfter(); beginStream() was not called");
  if (!doWrite) {
    if (!numberToObject_.emplace(currentObjectIndex_, object).second)
      raise("BUG", "cRestoreStreamBase.objectCreationAfter(); object already seen when loading");
  } else if (!objectToNumber_.emplace(object, currentObjectIndex_).second) {
    raise("BUG", "cRestoreStreamBase.objectCreationAfter(); object already seen when saving");
  }
  int32_t objectIndex = transferValue(*this, doWrite, currentObjectIndex_);
  if (!doWrite && objectIndex != currentObjectIndex_)
    raise("BUG", "cRestoreStreamBase.objectCreationAfter(); objectIndex<>currentObjectIndex");
}

// --- the streams ----------------------------------------------------------------

void cRestoreStream_size::beginStream() {
  size_ = 0;
  cRestoreStreamBase::beginStream();
}

void cRestoreStream_size::write(const void* buffer, int32_t length) {
  (void)buffer;
  size_ += length;
}

void cRestoreStream_any_cFile::read(void* buffer, int32_t length) {
  readFromFile(*file_, buffer, length, "cRestoreStream_any_cFile.read(); unexpected end of stream");
}

void cRestoreStream_any_cFile::write(const void* buffer, int32_t length) { writeToFile(*file_, buffer, length); }

cRestoreStream::cRestoreStream() : file_(std::make_unique<cFile>()) { file_->initialise(0); }

cRestoreStream::~cRestoreStream() { finishStream(); }

bool cRestoreStream::open(Text path, bool forWriting) {
  if (forWriting && cPath::ExistsPath(path, false) && !cPath::DeletePath(path, false, false)) return false;
  if (!file_->open(path, !forWriting, false, false)) return false;
  beginStream();
  return true;
}

void cRestoreStream::close() {
  file_->close();
  finishStream();
}

void cRestoreStream::read(void* buffer, int32_t length) {
  readFromFile(*file_, buffer, length, "cRestoreStream.read(); unexpected end of stream");
}

void cRestoreStream::write(const void* buffer, int32_t length) { writeToFile(*file_, buffer, length); }

// --- transfer procedures ----------------------------------------------------------

int32_t transferBool(cRestoreStreamBase& s, bool doWrite, int32_t value) {
  uint64_t b = transferBytes(s, doWrite, static_cast<uint8_t>(value), 1);
  if (doWrite) return value;
  return b != 0 ? -1 : 0;
}

int32_t transferByte(cRestoreStreamBase& s, bool doWrite, int32_t value) {
  uint64_t b = transferBytes(s, doWrite, static_cast<uint8_t>(value), 1);
  return doWrite ? value : static_cast<int8_t>(b);
}

int32_t transferUnsignedByte(cRestoreStreamBase& s, bool doWrite, int32_t value) {
  uint64_t b = transferBytes(s, doWrite, static_cast<uint8_t>(value), 1);
  return doWrite ? value : static_cast<int32_t>(b);
}

int32_t transferShort(cRestoreStreamBase& s, bool doWrite, int32_t value) {
  uint64_t v = transferBytes(s, doWrite, static_cast<uint16_t>(value), 2);
  return doWrite ? value : static_cast<int16_t>(v);
}

int32_t transferValue(cRestoreStreamBase& s, bool doWrite, int32_t value) {
  uint64_t v = transferBytes(s, doWrite, static_cast<uint32_t>(value), 4);
  return doWrite ? value : static_cast<int32_t>(static_cast<uint32_t>(v));
}

int64_t transferBigValue(cRestoreStreamBase& s, bool doWrite, int64_t value) {
  uint64_t v = transferBytes(s, doWrite, static_cast<uint64_t>(value), 8);
  return doWrite ? value : static_cast<int64_t>(v);
}

int encodeCompactValue(int32_t value, uint8_t* out) {
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  int n = 0;
  out[n] = static_cast<uint8_t>(magnitude & 0x3F);
  if (value < 0) out[n] |= 0x40;
  magnitude >>= 6;
  if (magnitude == 0) out[n] |= 0x80;
  ++n;
  while (magnitude != 0) {
    out[n] = static_cast<uint8_t>(magnitude & 0x7F);
    magnitude >>= 7;
    if (magnitude == 0) out[n] |= 0x80;
    ++n;
  }
  return n;
}

int32_t transferCompactValue(cRestoreStreamBase& s, bool doWrite, int32_t value) {
  if (doWrite) {
    uint8_t bytes[5];
    s.put(bytes, encodeCompactValue(value, bytes));
    return value;
  }
  uint8_t b = 0;
  s.get(&b, 1);
  bool negative = (b & 0x40) != 0;
  uint32_t magnitude = b & 0x3F;
  // A damaged value may run on for as long as its record lasts: the shift
  // stops growing once every bit past 31 is dropped.
  for (int shift = 6; !(b & 0x80); shift = std::min(shift + 7, 32)) {
    s.get(&b, 1);
    if (shift < 32) magnitude |= static_cast<uint32_t>(b & 0x7F) << shift;
  }
  return static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
}

bool writeLinesToFile(Text path, const StrChain* lines) {
  if (!lines) return false;
  cFile file;
  file.initialise(0);
  if (!file.create(path, false, false)) return false;
  int64_t position = 0;
  for (size_t i = 0; i < lines->size(); ++i) {
    if (i > 0) position = file.write("\n", 1, 0, false).next;
    file.setPosition(position);
    const Str& line = (*lines)[i];
    if (line.length() > 0) position = file.write(line.data(), line.length(), 0, false).next;
    file.setPosition(position);
  }
  file.close();
  return true;
}

}  // namespace bw
