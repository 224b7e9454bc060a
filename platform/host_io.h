// platform/host_io.h - the I/O backend seam under the host file: every byte
// that cHostFile (and so cFile and the journaled database file above it)
// moves to or from the disk goes through one HostIo.
//
// The seam is deliberately small: open, positioned read and write, truncate,
// fsync, size, examine, the write guard and close. Tests replace the backend
// with recording, crashing or failing ones (RecordingIoBackend in
// host_io_test_support.h, whose files can also fail writes and syncs, and
// database/crashing_backend.h) to check what reaches the disk and in what
// order.
//
// Contract of every backend:
//   1. Calls are positioned: there is no handle position, so a read or a
//      write never depends on an earlier seek.
//   2. readAt loops over partial reads and EINTR: it returns fewer bytes than
//      asked only at the end of the file. writeAt writes everything or fails.
//   3. Failures return the errno (IoResult.error, 0 on success) and also
//      leave the DOS error code in dos::ioErr(), so ioErrText() words them.
//   4. sync() is fsync: when it returns 0, every byte written and every size
//      change before it is on stable storage.
//   5. lockForWriting() takes flock(LOCK_EX|LOCK_NB) on the open file
//      description: it is refused while any other description of the same
//      file (this process or another, any hard-linked name) holds it, and it
//      goes with close() or the death of the holder.
//   6. A HostIo closes on destruction; close() may be called first.
#pragma once

#include <cstdint>
#include <memory>

#include "core/str.h"
#include "platform/dos.h"

namespace bw {

struct IoResult {
  int64_t count = 0;  // bytes moved
  int error = 0;      // errno, 0 on success
};

// One piece of a gathered read: length bytes at offset from the read's
// position, into buffer.
struct IoPiece {
  int64_t offset = 0;
  int64_t length = 0;
  void* buffer = nullptr;
};

// Copies each piece out of bytes, the read's first available bytes: what
// lies past them stays unfilled.
void copyPieces(const uint8_t* bytes, int64_t available, const IoPiece* pieces, int32_t count);

// One open host file.
class HostIo {
 public:
  virtual ~HostIo() = default;
  virtual IoResult readAt(void* buffer, int64_t length, int64_t position) = 0;
  // The pieces of the file's bytes [position, position + length), each
  // within that range: what readAt of the range answers (count and error),
  // copied out piece by piece. This one reads the range into a buffer of its
  // own; a mapped read cache copies the pieces alone.
  virtual IoResult readPiecesAt(int64_t position, int64_t length, const IoPiece* pieces, int32_t count);
  virtual IoResult writeAt(const void* buffer, int64_t length, int64_t position) = 0;
  // Sets the file's size (ftruncate); errno or 0.
  virtual int truncate(int64_t size) = 0;
  // fsync; errno or 0.
  virtual int sync() = 0;
  // The size on the host, -1 on failure.
  virtual int64_t size() = 0;
  // ExamineFH: protection, size and date of the open file, and with
  // Detail::comment its comment.
  virtual bool examine(dos::FileInfo& info, dos::Detail detail) = 0;
  // The one-writer guard; false when another holder has it.
  virtual bool lockForWriting() = 0;
  virtual void close() = 0;
  // Forgets what a cache in front of the file keeps (read_cache_io.h);
  // nothing for a plain backend.
  virtual void dropCache() {}
  // For a walk that reads once through much of the file: while on, a cache
  // in front of the file answers reads from a few large windows, each read
  // whole with one read (read_cache_io.h); nothing for a plain backend.
  virtual void readInWindows(bool on) { (void)on; }
  // The descriptor a read-only shared mapping of the file may be made from;
  // -1 when every read must go through readAt (the default: test backends).
  virtual int mappableDescriptor() { return -1; }
};

// Opens host files.
class HostIoBackend {
 public:
  virtual ~HostIoBackend() = default;
  // Opens a native path in a DOS mode (dos::kModeOldFile, kModeReadWrite,
  // kModeNewFile); null with dos::ioErr() set on failure.
  virtual std::unique_ptr<HostIo> open(Text native, int32_t mode) = 0;
  // fsyncs the folder that holds the native path (a new name survives a
  // power cut); errno or 0.
  virtual int syncFolderOf(Text native) = 0;
};

// The backend on the DOS layer (dos::open, pread, pwrite, ftruncate, fsync).
std::shared_ptr<HostIoBackend> systemIoBackend();
// The backend new host files take; tests replace it (null restores the
// system backend).
std::shared_ptr<HostIoBackend> defaultIoBackend();
void setDefaultIoBackend(std::shared_ptr<HostIoBackend> backend);

// True for the errno values that mean the disk (or the file's allowed size)
// is full: ENOSPC, EDQUOT, EFBIG.
bool isDiskFullErrno(int error);

// The bytes that the last write which met a full disk could not write (0
// when none has), for telling the user how much room was missing.
int64_t diskFullShortfall();
void noteDiskFullShortfall(int64_t bytes);

}  // namespace bw
