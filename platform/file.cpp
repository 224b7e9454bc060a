// platform/file.cpp - cFile: open and close, reads and writes through the
// chunk cache (file_cache.cpp), the cached size, time, attributes and extras,
// and flush, which applies them to the host file in a fixed order.
#include "platform/file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/exception.h"
#include "platform/native_path.h"

namespace bw {
namespace {

struct FileModule {
  int32_t defaultChunkSize = kMinChunkSize;
  Str lastDeviceName;
  uint8_t lastDeviceFlags = 0;
};
FileModule gFileModule;

// The device of a native path: the filesystem it lies on (st_dev), since
// capabilities such as extended attributes differ between filesystems.
Str deviceOf(const std::string& native) {
  std::string host;
  struct stat st{};
  if (!dos::nativeToHost(Text(native), host) || ::stat(host.c_str(), &st) != 0) return Str(":/");
  return Str("dev:" + std::to_string(static_cast<unsigned long long>(st.st_dev)));
}

}  // namespace

void initFileModuleGlobals() {
  gFileModule.lastDeviceFlags = 0;
  gFileModule.lastDeviceName = Str();
}
void endFileModule() { gFileModule.lastDeviceName = Str(); }
int32_t defaultChunkSize() { return gFileModule.defaultChunkSize; }
void setDefaultChunkSize(int32_t size) { gFileModule.defaultChunkSize = size; }
void forgetLastDevice() { initFileModuleGlobals(); }

cFile::cFile() { chunkSize_ = gFileModule.defaultChunkSize; }

cFile::~cFile() {
  if (isOpen()) {
    try {
      cFile::close();
    } catch (const eException&) {
      // A destructor cannot report; the host file still closes below.
    }
  }
  gFileModule.defaultChunkSize = chunkSize_;
}

void cFile::initialise(uint8_t fillByte) {
  cHostFile::initialise(fillByte);
  extras_.reset();
  extrasReady_ = true;
  chunks_[0].reset();
  chunks_[1].reset();
  chunkSize_ = gFileModule.defaultChunkSize;
  deviceFlags_ = 0;
  deviceName_ = Str();
}

void cFile::reloadMetadata() {
  cachedAttributes_ = cHostFile::getAttributes();
  cachedTime_ = cHostFile::getTime();
  extrasReady_ = false;
  extras_.reset();
  extras_.setExtra(this);
  extrasReady_ = true;
  cachedSize_ = cHostFile::getSize();
  lowMark_ = kNoLowMark;
}

bool cFile::open(Text path, bool readOnly, bool force, bool atEnd) {
  if (!cHostFile::open(path, readOnly, force, atEnd)) return false;
  reloadMetadata();
  pendingChanges_ = 0;
  chunks_[0].reset();
  chunks_[1].reset();
  testDeviceCapabilities(path, readOnly);
  if (!(deviceFlags_ & kDeviceNotFtp)) {
    chunkSize_ = kMaxChunkSize;
  } else if (cachedSize_ > 64 && cachedSize_ / 8 < chunkSize_) {
    chunkSize_ = static_cast<int32_t>(roundUpToPowerOfTwo(cachedSize_ < 16777216 ? cachedSize_ / 4 : kMaxChunkSize));
  }
  return true;
}

void cFile::testDeviceCapabilities(Text path, bool readOnly) {
  (void)path;
  Str device = deviceOf(infoNativePath());
  if (!deviceName_.isNil() && deviceName_ == device.view()) return;
  if (!gFileModule.lastDeviceName.isNil() && gFileModule.lastDeviceName == device.view()) {
    deviceName_ = device;
    deviceFlags_ = gFileModule.lastDeviceFlags;
    return;
  }
  deviceFlags_ = kDeviceNotFtp;  // no FTP devices on this host
  if (readOnly) {
    deviceName_ = Str();
    return;
  }
  deviceName_ = device;
  if (cHostFile::setAttributes(cachedAttributes_, -1)) deviceFlags_ |= kDeviceAttributes;
  if (cHostFile::setTime(cachedTime_)) deviceFlags_ |= kDeviceTime;
  // Writing the file's own comment back tells whether comments can be set,
  // and leaves nothing behind when they can.
  Str comment = cHostFile::queryExtra(kExtraCOMM).value.text;
  ExtraChange c = cHostFile::changeExtra(kExtraCOMM, ExtraValue::ofText(comment));
  if (c.ok || c.unknownKey) {
    extrasReady_ = false;
    if (cHostFile::setExtra(&extras_)) deviceFlags_ |= kDeviceExtras;
    extrasReady_ = true;
  }
  gFileModule.lastDeviceName = device;
  gFileModule.lastDeviceFlags = deviceFlags_;
}

void cFile::flush() {
  requireOpen("cHostFile.flush(); file not open");
  if (!infoReadOnly()) {
    cutDeadBytes();
    flushDirtyBuffer(nullptr);
    cHostFile::setSize(cachedSize_);
    bool ok = true;
    if (pendingChanges_ & kPendingExtras) {
      extrasReady_ = false;
      if (deviceFlags_ & kDeviceExtras) {
        ok = cHostFile::setExtra(&extras_);
      } else if (!cHostFile::setExtra(&extras_)) {
        extras_.reset();
        extras_.setExtra(this);
      }
      extrasReady_ = true;
    }
    if ((pendingChanges_ & kPendingAttributes) && (deviceFlags_ & kDeviceAttributes))
      ok = cHostFile::setAttributes(cachedAttributes_, -1) && ok;
    if ((pendingChanges_ & kPendingTime) && (deviceFlags_ & kDeviceTime)) ok = cHostFile::setTime(cachedTime_) && ok;
    pendingChanges_ = 0;
    if (!ok) raise("FILE", "cFile.flush(); failed to set one of more of: time, attributes & extra");
  }
  cHostFile::flush();
  reloadMetadata();
}

void cFile::close() {
  requireOpen("cHostFile.close(); file not open");
  if (!infoReadOnly()) {
    if (extras_.queryExtra(kExtraLINK).value.text.isNil()) setTime(getTime());
    flush();
  }
  chunks_[0].reset();
  chunks_[1].reset();
  cHostFile::close();
}

void cFile::closeAbandoning() noexcept {
  if (!isOpen()) return;
  chunks_[0].reset();
  chunks_[1].reset();
  pendingChanges_ = 0;
  lowMark_ = kNoLowMark;
  cHostFile::close();
}

void cFile::dropBuffers() {
  if (!isOpen()) return;
  if (!infoReadOnly()) {
    cutDeadBytes();
    flushDirtyBuffer(nullptr);
    cHostFile::setSize(cachedSize_);
  }
  chunks_[0].reset();
  chunks_[1].reset();
}

// --- bytes ----------------------------------------------------------------------

ReadResult cFile::read(void* buffer, int64_t length, int64_t offset, int32_t stop) {
  requireOpen("cFile.read(); file not open");
  if (length < 0) raise("EMU", "cFile.read(); lengthInBytes<0");
  if (!buffer) raise("EMU", "cFile.read(); buffer=NILA");
  if (offset < 0) raise("EMU", "cFile.read(); offsetInBytes<0");
  const int64_t p = position();
  uint8_t* request = static_cast<uint8_t*>(buffer) + offset;
  if (length == 0) return {p, 0};
  if (length > kMaxChunkSize) {
    flushDirtyBuffer(nullptr);
    readHost(request, length, p);
  } else {
    for (const ChunkSpan& span : spansOf(makeResident(p, length), p, length)) {
      FileChunk& c = *span.chunk;
      if (c.dirtyLen > 0 && span.start + c.dirtyLen - 1 < span.last) completeChunk(c);
      std::memcpy(request + (span.first - p), c.data.get() + (span.first - span.start), span.size());
      countUse(c, span.size());
    }
  }
  int64_t pad = std::max<int64_t>(0, length - std::max<int64_t>(0, cachedSize_ - p));
  // Bytes past the logical size are padding whatever the host holds there.
  if (pad > 0) std::memset(request + (length - pad), infoFillByte(), static_cast<size_t>(pad));
  StopResult s = applyStopCharacter(request, length, pad, stop, infoFillByte());
  return {p + s.count, s.numOfPadBytes};
}

WriteResult cFile::write(const void* buffer, int64_t length, int64_t offset, bool noExtend) {
  requireOpen("cFile.write(); file not open");
  if (infoReadOnly()) raise("EMU", "cFile.write(); file opened in read only mode");
  if (length < 0) raise("EMU", "cFile.write(); lengthInBytes<0");
  if (!buffer) raise("EMU", "cFile.write(); buffer=NILA");
  if (offset < 0) raise("EMU", "cFile.write(); offsetInBytes<0");
  const int64_t p = position();
  const uint8_t* from = static_cast<const uint8_t*>(buffer) + offset;
  int64_t notWritten = 0;
  if (noExtend) {
    int64_t count = std::min(length, std::max<int64_t>(0, cachedSize_ - p));
    notWritten = length - count;
    length = count;
  }
  if (length > kMaxChunkSize) {
    // Straight to the host file; chunks holding part of the range would hold
    // stale bytes afterwards, so they go.
    flushDirtyBuffer(nullptr);
    for (int i = 1; i >= 0; --i) {
      const FileChunk& c = chunks_[static_cast<size_t>(i)];
      int64_t start = c.chunkIndex * chunkSize_;
      if (c.data && start < p + length && start + chunkSize_ > p) dropChunk(i);
    }
    writeHost(from, length, p);
    cachedSize_ = std::max(cachedSize_, p + length);
    setTime(pTime::CurrentTime(0));
    return {p + length, notWritten};
  }
  if (!noExtend && cachedSize_ <= p + length - 1) cachedSize_ = p + length;
  if (length == 0) return {p, notWritten};
  for (const ChunkSpan& span : spansOf(makeResident(p, length), p, length)) {
    FileChunk& c = *span.chunk;
    if (span.start + c.dirtyLen < span.first) completeChunk(c);
    std::memcpy(c.data.get() + (span.first - span.start), from + (span.first - p), span.size());
    c.dirtyLen = std::max<int32_t>(c.dirtyLen, static_cast<int32_t>(span.last - span.start + 1));
    if (c.dirtyLen > chunkSize_) raise("BUG", "cFile.write(); dirtyLen>chunkSizeInBytes");
    countUse(c, span.size());
  }
  setTime(pTime::CurrentTime(0));
  return {p + length, notWritten};
}

void cFile::writeThrough(const void* buffer, int64_t length, int64_t at) {
  requireOpen("cFile.write(); file not open");
  if (infoReadOnly()) raise("EMU", "cFile.write(); file opened in read only mode");
  if (!buffer) raise("EMU", "cFile.write(); buffer=NILA");
  if (length < 0 || at < 0) raise("EMU", "cFile.write(); lengthInBytes<0");
  if (length == 0) return;
  const auto* from = static_cast<const uint8_t*>(buffer);
  flushDirtyBuffer(nullptr);
  cutDeadBytes();
  if (infoFillByte() == 0 && at > hostSize()) setSizeQuick(at);  // the hole reads as zeros, the fill byte
  writeHost(from, length, at);
  for (FileChunk& c : chunks_) {
    if (!c.data) continue;
    int64_t start = c.chunkIndex * chunkSize_;
    int64_t first = std::max(start, at);
    int64_t end = std::min(start + chunkSize_, at + length);
    if (first < end) std::memcpy(c.data.get() + (first - start), from + (first - at), static_cast<size_t>(end - first));
  }
  cachedSize_ = std::max(cachedSize_, at + length);
  setTime(pTime::CurrentTime(0));
}

void cFile::readThroughAnyRange(void* buffer, int64_t length, int64_t at) {
  requireOpen("cFile.read(); file not open");
  if (!buffer) raise("EMU", "cFile.read(); buffer=NILA");
  if (length < 0 || at < 0) raise("EMU", "cFile.read(); lengthInBytes<0");
  if (chunks_[0].dirtyLen > 0 || chunks_[1].dirtyLen > 0) flushDirtyBuffer(nullptr);
  auto* into = static_cast<uint8_t*>(buffer);
  int64_t real = std::clamp<int64_t>(cachedSize_ - at, 0, length);
  readHost(into, real, at);
  if (real < length) std::memset(into + real, infoFillByte(), static_cast<size_t>(length - real));
}

bool cFile::readThroughPieces(int64_t at, int64_t length, const IoPiece* pieces, int32_t count) {
  requireOpen("cFile.read(); file not open");
  if (length < 0 || at < 0) raise("EMU", "cFile.read(); lengthInBytes<0");
  if (chunks_[0].dirtyLen > 0 || chunks_[1].dirtyLen > 0) flushDirtyBuffer(nullptr);
  if (at + length > std::min({cachedSize_, lowMark_, hostSize()})) return false;
  cHostFile::readPieces(at, length, pieces, count);
  return true;
}

void cFile::setSize(int64_t size) {
  requireOpen("cFile.setSize(); file not open");
  if (size < 0) raise("EMU", "cFile.setSize(); sizeInBytes<0");
  if (size < cachedSize_) fillPast(size);
  cachedSize_ = size;
  lowMark_ = std::min(lowMark_, size);
  setTime(pTime::CurrentTime(0));
}

void cFile::cutAfterSync(int64_t size) {
  requireOpen("cFile.setSize(); file not open");
  if (infoReadOnly()) raise("EMU", "cFile.setSize(); file opened in read only mode");
  bool synced = !infoUnsynced() && chunks_[0].dirtyLen == 0 && chunks_[1].dirtyLen == 0;
  cFile::setSize(size);
  cutDeadBytes();
  cFile::flushDirtyBuffer(nullptr);
  cHostFile::setSize(cachedSize_);
  // The cut stamped the host file with the real time: the file's own time
  // goes back on at once.
  if ((pendingChanges_ & kPendingTime) && (deviceFlags_ & kDeviceTime) && cHostFile::setTime(cachedTime_)) {
    pendingChanges_ &= static_cast<uint8_t>(~kPendingTime);
  }
  if (synced) forgetUnsynced();
}

// --- metadata ---------------------------------------------------------------------

bool cFile::setTime(bigTime t) {
  if (infoReadOnly()) raise("EMU", "cFile.setTime(); file opened in read only mode");
  if (!(deviceFlags_ & kDeviceTime)) {
    setError("cFile.setTime()", "not supported by disk");
    return false;
  }
  cachedTime_ = t;
  pendingChanges_ |= kPendingTime;
  return true;
}

bool cFile::setAttributes(int32_t values, int32_t mask) {
  if (infoReadOnly()) raise("EMU", "cFile.setAttributes(); file opened in read only mode");
  if (!(deviceFlags_ & kDeviceAttributes)) {
    setError("cFile.setAttributes()", "not supported by disk");
    return false;
  }
  int32_t m = mask & getAttributesSupported();
  cachedAttributes_ = (cachedAttributes_ & ~m) | (values & m);
  pendingChanges_ |= kPendingAttributes;
  return true;
}

bool cFile::setExtra(cExtra* other) {
  bool ok = extras_.setExtra(other);
  pendingChanges_ |= kPendingExtras;
  if (!ok) setError("cFile.setExtra()", "not supported by host");
  return ok;
}

std::unique_ptr<cExtra> cFile::getExtra() { return extras_.getExtra(); }

ExtraChange cFile::changeExtra(ExtraKey key, const ExtraValue& value) {
  if (!extrasReady_) return cHostFile::changeExtra(key, value);
  bool link = key == kExtraSLNK || key == kExtraHLNK;
  if (link) flush();
  ExtraChange r = extras_.changeExtra(key, value);
  pendingChanges_ |= kPendingExtras;
  if (link) flush();
  if (!r.ok) setError("cFile.changeExtra()", "not supported by host");
  return r;
}

ExtraQuery cFile::queryExtra(ExtraKey key) {
  if (key == kExtraCSiz) return {ExtraValue::ofNumber(static_cast<uint32_t>(chunkSize_)), false};
  if (!extrasReady_) return cHostFile::queryExtra(key);
  return extras_.queryExtra(key);
}

std::unique_ptr<cFile> cFile::makeCopyTyped(Text path) {
  std::unique_ptr<cBaseFile> copy = makeCopy(path);
  return std::unique_ptr<cFile>(static_cast<cFile*>(copy.release()));
}

std::unique_ptr<cFile> cFile::cloneTyped(bool writable) {
  std::unique_ptr<cBaseFile> copy = cloneFile(writable);
  return std::unique_ptr<cFile>(static_cast<cFile*>(copy.release()));
}

}  // namespace bw
