// platform/restore_stream.h - store/restore streams: the one channel through
// which every persistent object is written and read back, and the transfer
// procedures that fix the bytes of each value kind.
//
// A store/restore method is called with doWrite (true writes, false reads)
// and calls the transfer procedures in the same order either way. Values are
// big-endian and untagged: a record is the plain concatenation of its values.
//
//   transferBool          1 byte: the low byte (true = 0xFF); reads -1 or 0
//   transferByte          1 byte; reads signed -128..127
//   transferUnsignedByte  1 byte; reads 0..255
//   transferShort         2 bytes; reads signed
//   transferValue         4 bytes
//   transferCompactValue  1 to 5 bytes: first byte bits 0-5 the low six bits
//                         of the magnitude, bit 6 the sign, bit 7 "last";
//                         then 7 bits a byte, bit 7 "last". A reader goes on
//                         until a byte with bit 7 and drops bits past 31.
//   transferBigValue      8 bytes
//
// Object references: 0xFF for none; 0x00 0xFF and the 4-byte number of an
// object already in the stream; 0x00 0x00 and then the new object's record,
// which carries its number where objectCreationAfter is called. Numbers run
// 1, 2, 3, ... from beginStream.
//
// Invariants:
//   1. A stream is under way exactly between beginStream and finishStream;
//      its number tables are empty outside, and are kept (not remade) from
//      stream to stream: most records hold no object reference.
//   2. They are keyed by the full object pointer and by the number; they are
//      only looked up, never iterated, so no order of theirs reaches a file.
//   3. A file stream raises "FILE" "<class>.read(); unexpected end of stream"
//      when the file ends before a value does: a cut stream never decodes
//      fill bytes as data (a compact value of fill 0 would never end).
//   4. The transfer procedures move bytes with get and put. A stream may
//      open a window of its own buffer to them (bytes it read ahead, room it
//      gathers writes in): a value that lies within it is copied there
//      inline; any other goes through read or write, which first take the
//      window's progress back. Only the window's owner moves its ends.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <unordered_map>

#include "core/object.h"
#include "core/str.h"
#include "platform/file.h"

namespace bw {

// What transferObject gives: the object (read back, or as passed) and
// whether the stream is done with it (none, or already in the stream).
struct TransferredObject {
  class_base* object = nullptr;
  bool seen = false;
};

class cRestoreStreamBase : public class_base {
  BW_CLASS(cRestoreStreamBase, class_base)

 public:
  cRestoreStreamBase() = default;
  cRestoreStreamBase(const cRestoreStreamBase&) = delete;
  cRestoreStreamBase& operator=(const cRestoreStreamBase&) = delete;

  // Starts numbering objects afresh. Raises "EMU" while a stream is under way.
  virtual void beginStream();
  virtual void finishStream();
  // Move bytes; the base moves none.
  virtual void read(void* buffer, int32_t length);
  virtual void write(const void* buffer, int32_t length);
  // read and write, through the stream's window when it holds the bytes.
  void get(void* buffer, int32_t length) {
    if (length > 0 && getEnd_ - getNext_ >= length) {
      std::memcpy(buffer, getNext_, static_cast<size_t>(length));
      getNext_ += length;
    } else {
      read(buffer, length);
    }
  }
  void put(const void* buffer, int32_t length) {
    if (length > 0 && putEnd_ - putNext_ >= length) {
      std::memcpy(putNext_, buffer, static_cast<size_t>(length));
      putNext_ += length;
    } else {
      write(buffer, length);
    }
  }
  // The bytes that follow as far as the stream has them at hand (its
  // window; the soup's record stream opens one on the next piece of its
  // record), for a reader that decodes several values at once and then
  // passes over them with skipAhead. Empty when the stream has none: such a
  // reader transfers value by value.
  virtual std::span<const uint8_t> ahead() {
    return {getNext_, static_cast<size_t>(getEnd_ - getNext_)};
  }
  // Passes over n bytes of those ahead answered last.
  void skipAhead(size_t n) { getNext_ += n; }
  virtual TransferredObject transferObject(bool doWrite, class_base* object);
  // Announces the object whose record is being transferred and transfers its
  // number.
  virtual void objectCreationAfter(bool doWrite, class_base* object);

  bool infoStreamActive() const { return active_; }
  int32_t infoCurrentObjectIndex() const { return currentObjectIndex_; }

 protected:
  // The window get reads from, [getNext_, getEnd_), and the one put fills,
  // [putNext_, putEnd_); empty (both ends NIL) unless the subclass opens one.
  const uint8_t* getNext_ = nullptr;
  const uint8_t* getEnd_ = nullptr;
  uint8_t* putNext_ = nullptr;
  uint8_t* putEnd_ = nullptr;

 private:
  bool active_ = false;
  int32_t currentObjectIndex_ = 0;
  std::unordered_map<const class_base*, int32_t> objectToNumber_;
  std::unordered_map<int32_t, class_base*> numberToObject_;
};

// Counts the bytes a store would write; reads nothing.
class cRestoreStream_size : public cRestoreStreamBase {
  BW_CLASS(cRestoreStream_size, cRestoreStreamBase)

 public:
  void beginStream() override;
  void write(const void* buffer, int32_t length) override;
  int32_t infoSize() const { return size_; }

 private:
  int32_t size_ = 0;
};

// Reads and writes a cFile that the caller opened, positions and closes.
class cRestoreStream_any_cFile : public cRestoreStreamBase {
  BW_CLASS(cRestoreStream_any_cFile, cRestoreStreamBase)

 public:
  void setFile(cFile* file) { file_ = file; }
  void read(void* buffer, int32_t length) override;
  void write(const void* buffer, int32_t length) override;

 private:
  cFile* file_ = nullptr;
};

// Owns its cFile and opens it by internal path.
class cRestoreStream : public cRestoreStreamBase {
  BW_CLASS(cRestoreStream, cRestoreStreamBase)

 public:
  cRestoreStream();
  ~cRestoreStream() override;
  // Opens the file (deleting an existing one first when forWriting) and
  // begins the stream; FALSE when the old file cannot be deleted or the file
  // cannot be opened.
  virtual bool open(Text path, bool forWriting);
  virtual void close();
  cFile& infoFile() { return *file_; }
  void read(void* buffer, int32_t length) override;
  void write(const void* buffer, int32_t length) override;

 private:
  std::unique_ptr<cFile> file_;
};

int32_t transferBool(cRestoreStreamBase& stream, bool doWrite, int32_t value);
// A C++ bool: true is stored as -1 (0xFF).
inline int32_t transferBool(cRestoreStreamBase& stream, bool doWrite, bool value) {
  return transferBool(stream, doWrite, value ? int32_t{-1} : int32_t{0});
}
int32_t transferByte(cRestoreStreamBase& stream, bool doWrite, int32_t value);
int32_t transferUnsignedByte(cRestoreStreamBase& stream, bool doWrite, int32_t value);
int32_t transferShort(cRestoreStreamBase& stream, bool doWrite, int32_t value);
int32_t transferValue(cRestoreStreamBase& stream, bool doWrite, int32_t value);
int32_t transferCompactValue(cRestoreStreamBase& stream, bool doWrite, int32_t value);
// The bytes transferCompactValue writes for value, put at out; answers their
// count (1 to 5).
int encodeCompactValue(int32_t value, uint8_t* out);
// Reads a compact value of at most five bytes from the size bytes at at, as
// transferCompactValue reads it, into value; answers its byte count, or 0
// when it does not end within them (a longer, damaged value is left to the
// stream, which reads on to its end).
inline int decodeCompactValue(const uint8_t* at, size_t size, int32_t* value) {
  if (size == 0) return 0;
  uint8_t b = at[0];
  const bool negative = (b & 0x40) != 0;
  uint32_t magnitude = b & 0x3F;
  int n = 1;
  for (int shift = 6; !(b & 0x80); shift += 7) {
    if (n == 5 || static_cast<size_t>(n) == size) return 0;
    b = at[n++];
    magnitude |= static_cast<uint32_t>(b & 0x7F) << shift;
  }
  *value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  return n;
}
int64_t transferBigValue(cRestoreStreamBase& stream, bool doWrite, int64_t value);

// Writes the strings of a chain to a new file at path, a line feed between
// two; FALSE for a null chain or a file that cannot be created.
bool writeLinesToFile(Text path, const StrChain* lines);

}  // namespace bw
