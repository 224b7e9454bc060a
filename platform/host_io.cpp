// platform/host_io.cpp - the system I/O backend on the DOS layer's handles.
#include "platform/host_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dos_errors.h"
#include "platform/native_path.h"

namespace bw {
namespace {

class SystemIo final : public HostIo {
 public:
  explicit SystemIo(dos::FileHandle handle) : handle_(std::move(handle)) {}

  IoResult readAt(void* buffer, int64_t length, int64_t position) override {
    IoResult r;
    char* p = static_cast<char*>(buffer);
    while (r.count < length) {
      ssize_t n = ::pread(handle_.fd(), p + r.count, static_cast<size_t>(length - r.count),
                          static_cast<off_t>(position + r.count));
      if (n < 0) {
        if (errno == EINTR) continue;
        r.error = errno;
        dos::ioErrFromErrno(r.error, dos::Access::read);
        return r;
      }
      if (n == 0) break;
      r.count += n;
    }
    return r;
  }

  IoResult writeAt(const void* buffer, int64_t length, int64_t position) override {
    IoResult r;
    const char* p = static_cast<const char*>(buffer);
    while (r.count < length) {
      ssize_t n = ::pwrite(handle_.fd(), p + r.count, static_cast<size_t>(length - r.count),
                           static_cast<off_t>(position + r.count));
      if (n < 0) {
        if (errno == EINTR) continue;
        r.error = errno;
        dos::ioErrFromErrno(r.error, dos::Access::write);
        return r;
      }
      r.count += n;
    }
    return r;
  }

  int truncate(int64_t size) override {
    if (::ftruncate(handle_.fd(), static_cast<off_t>(size)) == 0) return 0;
    int e = errno;
    dos::ioErrFromErrno(e, dos::Access::write);
    return e;
  }

  int sync() override {
    if (::fsync(handle_.fd()) == 0 || errno == EINVAL || errno == EROFS) return 0;
    int e = errno;
    dos::ioErrFromErrno(e, dos::Access::write);
    return e;
  }

  int64_t size() override { return handle_.size(); }

  bool examine(dos::FileInfo& info, dos::Detail detail) override { return handle_.examine(info, detail); }

  bool lockForWriting() override {
    int rc;
    do rc = ::flock(handle_.fd(), LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) dos::ioErrFromErrno(errno, dos::Access::write);
    return rc == 0;
  }

  void close() override { handle_.close(); }
  int mappableDescriptor() override { return handle_.fd(); }

 private:
  dos::FileHandle handle_;
};

class SystemBackend final : public HostIoBackend {
 public:
  std::unique_ptr<HostIo> open(Text native, int32_t mode) override {
    dos::FileHandle h = dos::open(native, mode);
    if (!h) return nullptr;
    return std::make_unique<SystemIo>(std::move(h));
  }

  int syncFolderOf(Text native) override {
    std::string host;
    if (!dos::nativeToHost(native, host)) return ENOENT;
    size_t slash = host.rfind('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : host.substr(0, slash);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    int e = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
    ::close(fd);
    return e;
  }
};

std::shared_ptr<HostIoBackend>& defaultSlot() {
  static std::shared_ptr<HostIoBackend> slot;
  return slot;
}

}  // namespace

IoResult HostIo::readPiecesAt(int64_t position, int64_t length, const IoPiece* pieces, int32_t count) {
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  IoResult r = readAt(bytes.data(), length, position);
  copyPieces(bytes.data(), r.count, pieces, count);
  return r;
}

void copyPieces(const uint8_t* bytes, int64_t available, const IoPiece* pieces, int32_t count) {
  for (int32_t k = 0; k < count; ++k) {
    const IoPiece& piece = pieces[k];
    const int64_t n = std::min(piece.length, available - piece.offset);
    // Record heads are eight bytes: a copy of known size is two moves.
    if (n == 8) {
      std::memcpy(piece.buffer, bytes + piece.offset, 8);
    } else if (n > 0) {
      std::memcpy(piece.buffer, bytes + piece.offset, static_cast<size_t>(n));
    }
  }
}

std::shared_ptr<HostIoBackend> systemIoBackend() {
  static const std::shared_ptr<HostIoBackend> backend = std::make_shared<SystemBackend>();
  return backend;
}

std::shared_ptr<HostIoBackend> defaultIoBackend() {
  std::shared_ptr<HostIoBackend>& slot = defaultSlot();
  return slot ? slot : systemIoBackend();
}

void setDefaultIoBackend(std::shared_ptr<HostIoBackend> backend) { defaultSlot() = std::move(backend); }

bool isDiskFullErrno(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

namespace {
std::atomic<int64_t> gDiskFullShortfall{0};
}  // namespace

int64_t diskFullShortfall() { return gDiskFullShortfall.load(std::memory_order_relaxed); }
void noteDiskFullShortfall(int64_t bytes) { gDiskFullShortfall.store(bytes, std::memory_order_relaxed); }

}  // namespace bw
