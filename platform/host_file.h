// platform/host_file.h - cBaseFile, the abstract file of the file layer, and
// cHostFile, a file on the host reached through the I/O backend seam
// (host_io.h).
//
// A file reads and writes at a 64-bit position the caller sets; read and
// write never move it: they return the position just after the bytes moved
// and the caller passes that to setPosition to go on.
//
// Invariants of cHostFile:
//   1. io_ is non-null exactly while the file is open. hostSize_ is the size
//      the object knows; it is refreshed by open, flush and size changes, and
//      by writes that extend the file.
//   2. Reading past hostSize_ gives the fill byte and counts it in
//      numOfPadBytes; writing past it first pads the gap with the fill byte.
//   3. One writer per file: a writable open takes the backend's write guard
//      (flock on the data file's own open file description) right after the
//      open, so a second writer - another object, another process, another
//      hard-linked name - is refused until the first closes or dies. Readers
//      take no guard. The probe file "T:cPath_writeAccess/<dev>/<dirs>/<file>"
//      is made beside it as a visible marker and removed at close.
//   4. Protection bits that open had to clear (force) are set again at close
//      unless setAttributes changed them meanwhile.
//   5. A file this object created is new in its folder: its first flush also
//      syncs the folder so that the name survives a power cut. A flush with
//      nothing written or cut since the last sync makes no fsync.
//   6. The examined facts (protection, date, comment) are refreshed after a
//      write or size change only when next asked for, not per write.
//   7. Write failures: a full disk (ENOSPC, EDQUOT, EFBIG) raises "FULL",
//      any other "FILE"; a read that ends before the size the object knows
//      raises "BUG", a read error "FILE".
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/str.h"
#include "platform/dos.h"
#include "platform/file_mapping.h"
#include "platform/host_io.h"
#include "platform/path.h"
#include "platform/time.h"

namespace bw {

// What read returns: the position after the bytes delivered and the bytes
// of the request that lie past the end of the file (or after the stop
// character).
struct ReadResult {
  int64_t next = 0;
  int64_t numOfPadBytes = 0;
};
// What write returns: the position after the bytes written and the bytes
// not written (noExtend only).
struct WriteResult {
  int64_t next = 0;
  int64_t notWritten = 0;
};

// No stop character for read.
inline constexpr int32_t kNoStop = -1;
// Attribute bits of files and directories.
inline constexpr int32_t kAttrReadable = 2;
inline constexpr int32_t kAttrWritable = 4;
inline constexpr int32_t kAttrDeletable = 8;
inline constexpr int32_t kAttrHold = 16;
inline constexpr int32_t kAttrAll = 30;
// The protection bits that the attributes stand for (R, W, D, hold).
inline constexpr uint32_t kAttributeProtectionBits = 0x8D;
// Largest block of pad bytes written at once.
inline constexpr int64_t kPadBlockSize = 4194304;
// The error of an open refused because another program has the file open
// for writing: a fact about the moment, not about the file's content.
inline constexpr char kFileHeldByAnother[] = "file is already opened for write access (by another program)";

class cBaseFile : public cPath {
  BW_CLASS(cBaseFile, cPath)

 public:
  virtual void initialise(uint8_t fillByte) = 0;
  virtual bool open(Text path, bool readOnly, bool force, bool atEnd) = 0;
  bool open(Text path, bool readOnly, bool force) override { return open(path, readOnly, force, false); }
  // Files add setSize(0) after a create that did not refuse an existing file.
  bool create(Text path, bool failIfExists, bool force) override;
  virtual uint8_t infoFillByte() const = 0;
  virtual WriteResult write(const void* buffer, int64_t lengthInBytes, int64_t offsetInBytes, bool noExtend) = 0;
  virtual ReadResult read(void* buffer, int64_t lengthInBytes, int64_t offsetInBytes, int32_t stop) = 0;
  virtual void setPosition(int64_t position) = 0;
  virtual int64_t getPosition(bool fromEnd) = 0;
  virtual void setSize(int64_t sizeInBytes) = 0;
  virtual int64_t getSize() = 0;
  virtual bool setTime(bigTime time) = 0;
  virtual bigTime getTime() = 0;

  // A new unopened object of the same class.
  virtual std::unique_ptr<cBaseFile> makeFile() = 0;
  std::unique_ptr<cPath> make() override { return makeFile(); }
  // Writes a copy of this open file, with attributes, comment and time, to
  // path and returns it open for writing at this file's position; null on
  // failure with this file's last error set (file_copy.cpp).
  virtual std::unique_ptr<cBaseFile> makeCopy(Text path);
  // Called by makeCopy with the new copy before the data; nothing here.
  virtual void copyHook(cBaseFile* copy) { (void)copy; }
  // A second object of the same class open on the same file at the same
  // position, read-only unless writable; null when it cannot be opened or
  // when a writable clone of a file open for writing is asked for.
  virtual std::unique_ptr<cBaseFile> cloneFile(bool writable);
  std::unique_ptr<cPath> clone(bool flag) override { return cloneFile(flag); }
};

class cHostFile : public cBaseFile {
  BW_CLASS(cHostFile, cBaseFile)

 public:
  cHostFile();
  ~cHostFile() override;

  // The backend the next open uses (the default backend unless set).
  void setIoBackend(std::shared_ptr<HostIoBackend> backend) { backend_ = std::move(backend); }
  // Pages of a read cache (read_cache_io.h) the next open puts in front of
  // the file; 0, the default, for none.
  void setReadCachePages(int32_t pages) { readCachePages_ = pages; }
  // Empties the read cache, if any.
  void dropReadCache() {
    if (io_) io_->dropCache();
  }
  // HostIo::readInWindows of the open file's I/O.
  void readInWindows(bool on) {
    if (io_) io_->readInWindows(on);
  }

  void initialise(uint8_t fillByte) override;
  using cBaseFile::open;
  bool open(Text path, bool readOnly, bool force, bool atEnd) override;
  void close() override;
  // Syncs the data to the disk (fsync) when anything was written or cut
  // since the last sync, and re-examines the file.
  void flush() override;
  // True while bytes written or a size changed since the last sync wait
  // for the next one.
  bool infoUnsynced() const { return unsynced_; }
  bool isOpen() const override { return io_ != nullptr; }
  uint8_t infoFillByte() const override { return fillByte_; }

  ReadResult read(void* buffer, int64_t lengthInBytes, int64_t offsetInBytes, int32_t stop) override;
  // The pieces (IoPiece) of the length bytes at position, which lie within
  // the host file's size: what read() of the range would give them, with its
  // errors; the file's position stays.
  void readPieces(int64_t position, int64_t length, const IoPiece* pieces, int32_t count);
  // The length bytes (> 0) at position, which lie within the host file's
  // size, into buffer: what read() of the range would give, with its errors;
  // the file's position stays. The road of a reader that keeps its own
  // position and size (cFile's reads of the host file).
  void readWithin(void* buffer, int64_t length, int64_t position) {
    requireRead(io_->readAt(buffer, length, position), length);
  }
  WriteResult write(const void* buffer, int64_t lengthInBytes, int64_t offsetInBytes, bool noExtend) override;
  void setPosition(int64_t position) override;
  int64_t getPosition(bool fromEnd) override;
  void setSize(int64_t sizeInBytes) override;
  int64_t getSize() override;
  bool setTime(bigTime time) override;
  bigTime getTime() override;
  bool setAttributes(int32_t values, int32_t mask) override;
  int32_t getAttributes() override;
  int32_t getAttributesSupported() override;
  bool setPath(Text path) override;
  Text getPath() const override;

  bool setExtra(cExtra* other) override;
  std::unique_ptr<cExtra> getExtra() override;
  ExtraChange changeExtra(ExtraKey key, const ExtraValue& value) override;
  ExtraQuery queryExtra(ExtraKey key) override;

  std::unique_ptr<cBaseFile> makeFile() override { return std::make_unique<cHostFile>(); }

  // Brackets a DOS call on the file's name. The handle and position stay;
  // only a link change, which replaces the object, reopens at the finish.
  virtual void openKludgeBegin();
  virtual void openKludgeFinish();
  // Writes count fill bytes at position at.
  virtual void writePadBytes(int64_t count, int64_t at);
  // Sets the size the object knows; a smaller size cuts the host file, a
  // larger one is reached by the next write.
  virtual void setSizeQuick(int64_t size);

  // The native path of the open file and the probe's native name (tests).
  const std::string& infoNativePath() const { return nativePath_; }
  const std::string& infoProbeName() const { return probeName_; }

 protected:
  // Raises "EMU" "<className>.<method>(); file not open" without a file.
  void requireOpen(const char* message) const;
  // Re-examines the open file (ExamineFH); raises "FILE" message when that
  // fails and the file can be examined at all.
  void reexamine(const char* message, bool withComment = false);
  // Writes and size changes only mark the examined facts stale (message is
  // what a failing re-examination raises); info() re-examines on first need.
  void markStale(const char* message);
  const dos::FileInfo& info();
  HostIo& io() { return *io_; }
  int64_t hostSize() const { return hostSize_; }
  int64_t position() const { return position_; }

 private:
  friend struct DiskExtras;
  bool openSteps(Text path, bool readOnly, bool force, bool atEnd, bool& existed);
  // Undoes a failed open: nothing stays open, the probe goes, and a file the
  // attempt made is deleted when deleteMade.
  void abandonOpen(Text path, bool deleteMade);
  bool makeProbe(bool existed);
  void releaseProbe();
  void restoreProtection();
  // SetProtection on the file's own name.
  bool writeProtection(uint32_t word) { return dos::setProtection(Text(nativePath_), word); }
  void readLinkInfo();
  bool changeLink(int32_t kind, const Str& target);
  void reopenReplaced();
  [[noreturn]] void raiseWriteFailure(int error, const char* message);
  // Raises what a read of length bytes that answered r raises: "FILE" for
  // an error, "BUG" for a short read.
  static void requireRead(const IoResult& r, int64_t length);

  uint8_t fillByte_ = 0;
  Str internalPath_;
  std::string nativePath_;
  dos::FileInfo fileInfo_;
  const char* staleMessage_ = nullptr;
  std::shared_ptr<HostIoBackend> backend_;
  std::unique_ptr<HostIo> io_;
  int64_t hostSize_ = 0;
  int64_t position_ = 0;
  bool examineFailed_ = false;
  bool createdByOpen_ = false;  // the folder still needs its sync
  bool unsynced_ = false;       // written or cut since the last sync
  int32_t readCachePages_ = 0;
 protected:
  // Counts what changed since the last sync as synced: for a change whose
  // loss a crash may undo harmlessly (see cFile::cutAfterSync).
  void forgetUnsynced() { unsynced_ = false; }
 private:
  bool kludgeActive_ = false;
  bool reopenAtFinish_ = false;
  uint32_t protectionToRestore_ = 0;
  Str linkTarget_;
  int32_t linkType_ = 0;
  dos::FileHandle probe_;
  std::string probeName_;
};

// Copies the bytes of a read request that follow the first stop character
// (taken as a signed byte) up to the end of the real data with fill, and
// returns the new count and numOfPadBytes; without a stop character found,
// the arguments come back unchanged.
struct StopResult {
  int64_t count = 0;
  int64_t numOfPadBytes = 0;
};
StopResult applyStopCharacter(uint8_t* request, int64_t length, int64_t numOfPadBytes, int32_t stop,
                              uint8_t fill);

// The probe name for a full native path: "T:cPath_writeAccess" joined with
// the part before ":" and then the part after it.
std::string writeAccessProbeName(std::string_view fullNativePath);

// Attribute bits from a protection word, and the word with them applied.
int32_t attributesFromProtection(uint32_t protection);
uint32_t protectionWithAttributes(uint32_t protection, int32_t attributes);

}  // namespace bw
