// platform/host_file.cpp - cHostFile: open and close with the write guard,
// positioned reads and writes with pad bytes, sizes, times and attributes.
// The extras of a host file are in host_file_extras.cpp.
#include "platform/host_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/exception.h"
#include "platform/dos_errors.h"
#include "platform/dos_procs.h"
#include "platform/links.h"
#include "platform/native_path.h"
#include "platform/read_cache_io.h"
#include "platform/path_native.h"

namespace bw {
namespace {

constexpr const char kProbeRoot[] = "T:cPath_writeAccess";

}  // namespace

// --- procedures ---------------------------------------------------------------

StopResult applyStopCharacter(uint8_t* request, int64_t length, int64_t numOfPadBytes, int32_t stop,
                              uint8_t fill) {
  StopResult r{length, numOfPadBytes};
  if (stop < 0) return r;
  for (int64_t i = 0; i < length; ++i) {
    if (static_cast<int8_t>(request[i]) != stop) continue;
    int64_t realEnd = length - 1 - numOfPadBytes;
    for (int64_t j = i + 1; j <= realEnd; ++j) request[j] = fill;
    r.numOfPadBytes = length - (i + 1);
    r.count = i + 1;
    break;
  }
  return r;
}

std::string writeAccessProbeName(std::string_view full) {
  std::string probe = kProbeRoot;
  size_t colon = full.find(':');
  constexpr size_t kRoom = 1 << 16;
  if (colon == std::string_view::npos) {
    dos::addPart(probe, full, kRoom);
  } else {
    dos::addPart(probe, full.substr(0, colon), kRoom);
    dos::addPart(probe, full.substr(colon + 1), kRoom);
  }
  return probe;
}

int32_t attributesFromProtection(uint32_t p) {
  int32_t a = 0;
  if (!(p & dos::kProtRead)) a |= kAttrReadable;
  if (!(p & dos::kProtWrite)) a |= kAttrWritable;
  if (!(p & dos::kProtDelete)) a |= kAttrDeletable;
  if (p & 0x80) a |= kAttrHold;
  return a;
}

uint32_t protectionWithAttributes(uint32_t p, int32_t a) {
  p &= ~kAttributeProtectionBits;
  if (!(a & kAttrReadable)) p |= dos::kProtRead;
  if (!(a & kAttrWritable)) p |= dos::kProtWrite;
  if (!(a & kAttrDeletable)) p |= dos::kProtDelete;
  if (a & kAttrHold) p |= 0x80;
  return p;
}

// --- cBaseFile ----------------------------------------------------------------

bool cBaseFile::create(Text path, bool failIfExists, bool force) {
  bool ok = cPath::create(path, failIfExists, force);
  if (ok && !failIfExists) setSize(0);
  return ok;
}

// --- cHostFile: life --------------------------------------------------------

cHostFile::cHostFile() : backend_(defaultIoBackend()) {}

cHostFile::~cHostFile() {
  if (io_) {
    try {
      cHostFile::close();
    } catch (const eException&) {
      // A destructor cannot report; close() already released everything.
    }
  }
}

void cHostFile::initialise(uint8_t fillByte) {
  clearError();
  setReadOnly(false);
  fillByte_ = fillByte;
  internalPath_ = Str();
  nativePath_.clear();
  fileInfo_ = dos::FileInfo();
  staleMessage_ = nullptr;
  hostSize_ = position_ = 0;
  examineFailed_ = false;
  protectionToRestore_ = 0;
  linkTarget_ = Str();
  linkType_ = 0;
}

void cHostFile::requireOpen(const char* message) const {
  if (!io_) raise("EMU", message);
}

void cHostFile::markStale(const char* message) { staleMessage_ = message; }

const dos::FileInfo& cHostFile::info() {
  if (staleMessage_) reexamine(staleMessage_);
  return fileInfo_;
}

void cHostFile::reexamine(const char* message, bool withComment) {
  staleMessage_ = nullptr;
  dos::FileInfo info;
  if (!io_->examine(info, withComment ? dos::Detail::comment : dos::Detail::full)) {
    if (!examineFailed_) raise("FILE", message);
    return;
  }
  if (!withComment) {
    info.comment = std::move(fileInfo_.comment);
    info.commentRead = fileInfo_.commentRead;
  }
  fileInfo_ = std::move(info);
}

bool cHostFile::open(Text path, bool readOnly, bool force, bool atEnd) {
  if (io_) raise("EMU", "cHostFile.open(); a file is already open");
  if (path.isNil()) raise("EMU", "cHostFile.open(); filePath=NIL");
  if (cPath::InvalidFilePath(path)) raise("EMU", "cHostFile.open(); filePath is invalid");
  bool existed = false;
  bool ok = false;
  try {
    ok = openSteps(path, readOnly, force, atEnd, existed);
  } catch (...) {
    abandonOpen(path, !existed && !readOnly);
    throw;
  }
  if (ok) return true;
  Str error(infoError().view());
  {
    // The open's reason stays the last error, not the clean-up's.
    const dos::KeptIoErr reason;
    abandonOpen(path, !existed && !readOnly);
  }
  setError("cHostFile.open()", error);
  return false;
}

void cHostFile::abandonOpen(Text path, bool deleteMade) {
  if (io_) io_->close();
  io_.reset();
  restoreProtection();
  // The attempt may have made the file.
  if (deleteMade) cPath::DeletePath(path, true, false);
  releaseProbe();
  nativePath_.clear();
  internalPath_ = Str();
}

bool cHostFile::openSteps(Text path, bool readOnly, bool force, bool atEnd, bool& existed) {
  clearError();
  setReadOnly(readOnly);
  nativePath_ = std::string(cPath::ExportPath(path).view());
  internalPath_ = Str(path.view());
  protectionToRestore_ = 0;
  linkTarget_ = Str();
  linkType_ = 0;
  createdByOpen_ = false;
  unsynced_ = false;
  kludgeActive_ = reopenAtFinish_ = false;
  const char* source = "cHostFile.open()";

  bool plain = false;
  {
    dos::Lock lock = dos::lock(Text(nativePath_), dos::kSharedLock);
    if (lock) {
      existed = true;
      plain = true;
      dos::FileInfo info;
      uint32_t p = 0;
      if (dos::examine(lock, info, dos::Detail::full)) p = info.protection;
      if (p & dos::kProtRead) {
        if (!force) return setError(source, "file is read protected"), false;
        if (!dos::setProtection(Text(nativePath_), p & ~dos::kProtRead))
          return setError(source, "could not remove read protection"), false;
        p &= ~dos::kProtRead;
        protectionToRestore_ |= dos::kProtRead;
      }
      if (!readOnly && (p & dos::kProtWrite)) {
        if (!force) return setError(source, "file is write protected"), false;
        if (!dos::setProtection(Text(nativePath_), p & ~5u))
          return setError(source, "could not remove write protection"), false;
        protectionToRestore_ |= 5;
      }
    } else if (dos::ioErr() != dos::kErrorObjectNotFound) {
      existed = true;
    }
  }

  io_ = backend_->open(Text(nativePath_), readOnly ? dos::kModeOldFile : dos::kModeReadWrite);
  if (!io_ && !readOnly && !plain) io_ = backend_->open(Text(nativePath_), dos::kModeNewFile);
  if (io_ && readCachePages_ > 0) io_ = withReadCache(std::move(io_), readCachePages_);
  if (!io_) {
    const char* text = existed ? "error opening file" : readOnly ? "file does not exist" : "could not create file";
    return setError(source, ioErrText(text)), false;
  }
  createdByOpen_ = !existed && !readOnly;

  if (!readOnly) {
    if (!io_->lockForWriting()) {
      // Refused because another description holds it, or because the file
      // system keeps no locks at all (an NFS mount without its lock
      // service): only the first is another writer.
      const int32_t why = dos::ioErr();
      if (why != 0 && why != dos::kErrnoBase + EWOULDBLOCK) return setError(source, ioErrText("error opening file")), false;
      existed = true;  // whoever holds it made it: never delete it here
      return setError(source, kFileHeldByAnother), false;
    }
    // The lock above is the guard, the probe only its marker: a T: that
    // cannot be had (no private folder) leaves the file without one.
    if (!makeProbe(existed) && dos::ioErr() != dos::kErrorDeviceNotMounted)
      return setError(source, kFileHeldByAnother), false;
  }

  examineFailed_ = false;
  staleMessage_ = nullptr;
  if (!io_->examine(fileInfo_, dos::Detail::comment)) {
    examineFailed_ = true;
    fileInfo_ = dos::FileInfo();
    fileInfo_.date = pTime::secondsToDateStamp(0);
  }
  hostSize_ = io_->size();
  if (hostSize_ < 0 && !examineFailed_) hostSize_ = fileInfo_.size;
  if (hostSize_ < 0) return setError(source, ioErrText("error finding size of file")), false;
  position_ = atEnd ? hostSize_ : 0;
  return true;
}

bool cHostFile::makeProbe(bool existed) {
  Str full = existed ? canonicalPath(Text(nativePath_), false) : absoluteNativePath(Text(nativePath_));
  if (full.isNil()) return false;
  std::string name = writeAccessProbeName(full.view());
  dos::FileInfo info;
  if (examineWithoutFollowingLink(Text(name), info) && info.entryType == dos::kTypeDir)
    deleteNativeTree(Text(name), false);
  makeMissingDirs(Text(name), true, false);
  probe_ = dos::open(Text(name), dos::kModeNewFile);
  if (!probe_) return false;
  probeName_ = std::move(name);
  return true;
}

void cHostFile::releaseProbe() {
  if (!probe_) return;
  probe_.close();
  dos::deleteFile(Text(probeName_));
  probeName_.clear();
}

void cHostFile::restoreProtection() {
  if (protectionToRestore_ == 0 || nativePath_.empty()) return;
  dos::FileInfo info;
  uint32_t p = fileInfo_.protection;
  if (dos::examinePath(Text(nativePath_), true, info, dos::Detail::full)) p = info.protection;
  dos::setProtection(Text(nativePath_), p | protectionToRestore_);
  protectionToRestore_ = 0;
}

void cHostFile::close() {
  requireOpen("cHostFile.close(); file not open");
  io_->close();
  io_.reset();
  restoreProtection();
  internalPath_ = Str();
  nativePath_.clear();
  linkTarget_ = Str();
  linkType_ = 0;
  releaseProbe();
}

void cHostFile::flush() {
  requireOpen("cHostFile.flush(); file not open");
  if (!infoReadOnly()) {
    if (unsynced_) {
      int e = io_->sync();
      if (e != 0) raise(isDiskFullErrno(e) ? "FULL" : "FILE", "cHostFile.flush(); Flush() failed");
      unsynced_ = false;
    }
    if (createdByOpen_) {
      int e = backend_->syncFolderOf(Text(nativePath_));
      if (e != 0) raise("FILE", "cHostFile.flush(); Flush() failed");
      createdByOpen_ = false;
    }
  }
  reexamine("cHostFile.flush(); ExamineFH() failed", true);
  if (!examineFailed_) hostSize_ = fileInfo_.size;
  linkTarget_ = Str();
  linkType_ = 0;
}

// --- positions and bytes ------------------------------------------------------

void cHostFile::setPosition(int64_t p) {
  requireOpen("cHostFile.setPosition(); file not open");
  if (p < 0) p = p + hostSize_ + 1;
  if (p < 0) raise("EMU", "cHostFile.setPosition(); position before start of file is illegal");
  position_ = p;
}

int64_t cHostFile::getPosition(bool fromEnd) {
  requireOpen("cHostFile.getPosition(); file not open");
  return fromEnd ? position_ - hostSize_ - 1 : position_;
}

ReadResult cHostFile::read(void* buffer, int64_t length, int64_t offset, int32_t stop) {
  requireOpen("cHostFile.read(); file not open");
  if (length < 0) raise("EMU", "cHostFile.read(); lengthInBytes<0");
  if (!buffer) raise("EMU", "cHostFile.read(); buffer=NILA");
  if (offset < 0) raise("EMU", "cHostFile.read(); offsetInBytes<0");
  uint8_t* request = static_cast<uint8_t*>(buffer) + offset;
  int64_t available = std::max<int64_t>(0, hostSize_ - position_);
  int64_t pad = std::max<int64_t>(0, length - available);
  int64_t n = std::min(length, available);
  if (n > 0) requireRead(io_->readAt(request, n, position_), n);
  if (length > n) std::memset(request + n, fillByte_, static_cast<size_t>(length - n));
  StopResult s = applyStopCharacter(request, length, pad, stop, fillByte_);
  return {position_ + s.count, s.numOfPadBytes};
}

void cHostFile::readPieces(int64_t position, int64_t length, const IoPiece* pieces, int32_t count) {
  requireOpen("cHostFile.read(); file not open");
  if (position < 0 || length < 0 || position + length > hostSize_) {
    raise("EMU", "cHostFile.readPieces(); range outside the file");
  }
  if (length > 0) requireRead(io_->readPiecesAt(position, length, pieces, count), length);
}

void cHostFile::requireRead(const IoResult& r, int64_t length) {
  if (r.error != 0) raise("FILE", "cHostFile.read(); error reading file");
  if (r.count != length) raise("BUG", "cHostFile.read(); size of read data does not match that expected");
}

void cHostFile::raiseWriteFailure(int error, const char* message) {
  raise(isDiskFullErrno(error) ? "FULL" : "FILE", message);
}

WriteResult cHostFile::write(const void* buffer, int64_t length, int64_t offset, bool noExtend) {
  requireOpen("cHostFile.write(); file not open");
  if (infoReadOnly()) raise("EMU", "cHostFile.write(); file opened in read only mode");
  if (length < 0) raise("EMU", "cHostFile.write(); lengthInBytes<0");
  if (!buffer) raise("EMU", "cHostFile.write(); buffer=NILA");
  if (offset < 0) raise("EMU", "cHostFile.write(); offsetInBytes<0");
  int64_t count = length;
  int64_t notWritten = 0;
  if (!noExtend) {
    int64_t s = hostSize_;
    if (position_ + length > s) setSizeQuick(position_ + length);
    if (position_ > s) writePadBytes(position_ - s, s);
  } else {
    count = std::min(length, std::max<int64_t>(0, hostSize_ - position_));
    notWritten = length - count;
  }
  if (count > 0) {
    unsynced_ = true;
    IoResult r = io_->writeAt(static_cast<const uint8_t*>(buffer) + offset, count, position_);
    if (r.error != 0) {
      if (isDiskFullErrno(r.error)) noteDiskFullShortfall(count - r.count);
      raiseWriteFailure(r.error, "cHostFile.write(); size of written data does not match that expected");
    }
  }
  markStale("cHostFile.write(); ExamineFH() failed");
  return {position_ + count, notWritten};
}

void cHostFile::setSize(int64_t size) {
  requireOpen("cHostFile.setSize(); file not open");
  if (infoReadOnly()) raise("EMU", "cHostFile.setSize(); file opened in read only mode");
  if (size < 0) raise("EMU", "cHostFile.setSize(); sizeInBytes<0");
  int64_t growth = std::max<int64_t>(0, size - hostSize_);
  int64_t old = hostSize_;
  setSizeQuick(size);
  if (growth > 0) writePadBytes(growth, old);
  markStale("cHostFile.setSize(); ExamineFH() failed");
}

void cHostFile::setSizeQuick(int64_t size) {
  if (size < hostSize_) {
    unsynced_ = true;
    if (io_->truncate(size) != 0) {
      int64_t real = io_->size();
      if (real == hostSize_)
        raise("FILE", "cHostFile.setSizeQuick(); filingsystem does not support reducing the file size");
      io_->truncate(hostSize_);
      raise("FILE", "cHostFile.setSizeQuick(); filingsystem failed to reduce file size");
    }
  }
  hostSize_ = size;
}

void cHostFile::writePadBytes(int64_t count, int64_t at) {
  std::vector<uint8_t> block(static_cast<size_t>(std::min(count, kPadBlockSize)), fillByte_);
  while (count > 0) {
    int64_t b = std::min(static_cast<int64_t>(block.size()), count);
    unsynced_ = true;
    IoResult r = io_->writeAt(block.data(), b, at);
    if (r.error != 0) {
      if (isDiskFullErrno(r.error)) noteDiskFullShortfall(count - r.count);
      raiseWriteFailure(r.error, "cHostFile.writePadBytes(); not all pad bytes were written, disk may be full");
    }
    at += b;
    count -= b;
  }
  if (count != 0) raise("BUG", "cHostFile.writePadBytes(); too many pad bytes were written");
}

int64_t cHostFile::getSize() {
  requireOpen("cHostFile.getSize(); file not open");
  return hostSize_;
}

// --- time, attributes, name -------------------------------------------------

bigTime cHostFile::getTime() {
  requireOpen("cHostFile.getTime(); file not open");
  return pTime::dateStampToSeconds(info().date);
}

bool cHostFile::setTime(bigTime t) {
  requireOpen("cHostFile.setTime(); file not open");
  if (infoReadOnly()) raise("EMU", "cHostFile.setTime(); file opened in read only mode");
  DateStamp date = pTime::secondsToDateStamp(t);
  info();
  openKludgeBegin();
  bool ok = dos::setFileDate(Text(nativePath_), date, &fileInfo_);
  if (!ok) {
    Str text = ioErrText("error setting file date");
    openKludgeFinish();
    setError("cHostFile.setTime()", text);
    return false;
  }
  openKludgeFinish();
  markStale("cHostFile.setTime(); ExamineFH() failed");
  return true;
}

int32_t cHostFile::getAttributes() {
  requireOpen("cHostFile.getAttributes(); file not open");
  return attributesFromProtection(info().protection);
}

int32_t cHostFile::getAttributesSupported() {
  requireOpen("cHostFile.getAttributesSupported(); file not open");
  return examineFailed_ ? 0 : dos::kSupportedAttributes;
}

bool cHostFile::setAttributes(int32_t values, int32_t mask) {
  requireOpen("cHostFile.setAttributes(); file not open");
  if (infoReadOnly()) raise("EMU", "cHostFile.setAttributes(); file opened in read only mode");
  int32_t wanted = (getAttributes() & ~mask) | (values & mask);
  uint32_t p = protectionWithAttributes(info().protection, wanted);
  openKludgeBegin();
  if (!dos::setProtection(Text(nativePath_), p)) {
    Str text = ioErrText("error setting file protection bits");
    openKludgeFinish();
    setError("cHostFile.setAttributes()", text);
    return false;
  }
  protectionToRestore_ &= ~(p ^ fileInfo_.protection);
  fileInfo_.protection = p;
  openKludgeFinish();
  return true;
}

bool cHostFile::setPath(Text path) {
  requireOpen("cHostFile.setPath(); file not open");
  if (infoReadOnly()) raise("EMU", "cHostFile.setPath(); file opened in read only mode");
  if (path.isNil()) raise("EMU", "cHostFile.setPath(); path=NILA");
  if (cPath::InvalidFilePath(path)) raise("EMU", "cHostFile.setPath(); path is invalid");
  std::string next(cPath::ExportPath(path).view());
  openKludgeBegin();
  if (!dos::rename(Text(nativePath_), Text(next))) {
    Str text = ioErrText("error renaming host file");
    openKludgeFinish();
    setError("cHostFile.setPath()", text);
    return false;
  }
  internalPath_ = Str(path.view());
  nativePath_ = std::move(next);
  openKludgeFinish();
  return true;
}

Text cHostFile::getPath() const {
  requireOpen("cHostFile.getPath(); file not open");
  return internalPath_;
}

// --- the kludge ---------------------------------------------------------------

void cHostFile::openKludgeBegin() {
  if (!io_ || kludgeActive_) raise("BUG", "cHostFile.openKludgeBegin(); kludge already started");
  kludgeActive_ = true;
}

void cHostFile::openKludgeFinish() {
  if (!kludgeActive_) raise("BUG", "cHostFile.openKludgeFinish(); kludge already finished");
  kludgeActive_ = false;
  if (reopenAtFinish_) {
    reopenAtFinish_ = false;
    reopenReplaced();
  }
}

void cHostFile::reopenReplaced() {
  io_->close();
  io_ = backend_->open(Text(nativePath_), infoReadOnly() ? dos::kModeOldFile : dos::kModeReadWrite);
  if (io_ && readCachePages_ > 0) io_ = withReadCache(std::move(io_), readCachePages_);
  if (!io_) {
    internalPath_ = Str();
    nativePath_.clear();
    releaseProbe();
    raise("BUG", "cHostFile.openKludgeFinish(); kludge failed");
  }
  if (!infoReadOnly()) io_->lockForWriting();
}

}  // namespace bw
