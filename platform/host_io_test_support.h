// platform/host_io_test_support.h - test backends for the I/O seam: one that
// records every call on top of the system backend, and can make writes or
// syncs fail (a full disk, a crash at the n-th write) from a chosen call on.
// Header only; for the *_test.cpp files of platform/ and database/.
#pragma once

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "platform/dos_errors.h"
#include "platform/host_io.h"

namespace bw::testing_io {

struct IoCall {
  enum Kind { read, write, truncate, sync, syncFolder } kind;
  int64_t position = 0;  // reads and writes; the size for truncate
  int64_t length = 0;
};

// Shared by a backend and every file it opened.
struct IoLog {
  std::vector<IoCall> calls;
  // From this write on (counting from 0) writes fail with writeError; -1
  // never. A failing write may first write a prefix of partialBytes.
  int64_t failWriteFrom = -1;
  int writeError = ENOSPC;
  int64_t partialBytes = 0;
  int syncError = 0;      // non-zero: every sync fails with it
  int truncateError = 0;  // non-zero: every truncate fails with it
  int lockError = 0;      // non-zero: every write guard is refused with it
  int64_t writes = 0;
  bool mappable = false;  // the files offer their descriptor to be mapped

  size_t count(IoCall::Kind kind) const {
    size_t n = 0;
    for (const IoCall& c : calls) n += c.kind == kind;
    return n;
  }
};

class RecordingIo final : public HostIo {
 public:
  RecordingIo(std::unique_ptr<HostIo> inner, std::shared_ptr<IoLog> log)
      : inner_(std::move(inner)), log_(std::move(log)) {}
  IoResult readAt(void* buffer, int64_t length, int64_t position) override {
    log_->calls.push_back({IoCall::read, position, length});
    return inner_->readAt(buffer, length, position);
  }
  IoResult writeAt(const void* buffer, int64_t length, int64_t position) override {
    log_->calls.push_back({IoCall::write, position, length});
    int64_t n = log_->writes++;
    if (log_->failWriteFrom >= 0 && n >= log_->failWriteFrom) {
      IoResult r;
      if (log_->partialBytes > 0) r = inner_->writeAt(buffer, std::min(length, log_->partialBytes), position);
      r.error = log_->writeError;
      dos::ioErrFromErrno(r.error, dos::Access::write);
      return r;
    }
    return inner_->writeAt(buffer, length, position);
  }
  int truncate(int64_t size) override {
    log_->calls.push_back({IoCall::truncate, size, 0});
    return log_->truncateError ? log_->truncateError : inner_->truncate(size);
  }
  int sync() override {
    log_->calls.push_back({IoCall::sync, 0, 0});
    if (log_->syncError == 0) return inner_->sync();
    dos::ioErrFromErrno(log_->syncError, dos::Access::write);
    return log_->syncError;
  }
  int64_t size() override { return inner_->size(); }
  bool examine(dos::FileInfo& info, dos::Detail detail) override { return inner_->examine(info, detail); }
  bool lockForWriting() override {
    if (log_->lockError == 0) return inner_->lockForWriting();
    dos::ioErrFromErrno(log_->lockError, dos::Access::write);
    return false;
  }
  void close() override { inner_->close(); }
  int mappableDescriptor() override { return log_->mappable ? inner_->mappableDescriptor() : -1; }

 private:
  std::unique_ptr<HostIo> inner_;
  std::shared_ptr<IoLog> log_;
};

class RecordingIoBackend final : public HostIoBackend {
 public:
  std::shared_ptr<IoLog> log = std::make_shared<IoLog>();
  std::unique_ptr<HostIo> open(Text native, int32_t mode) override {
    std::unique_ptr<HostIo> inner = systemIoBackend()->open(native, mode);
    if (!inner) return nullptr;
    return std::make_unique<RecordingIo>(std::move(inner), log);
  }
  int syncFolderOf(Text native) override {
    log->calls.push_back({IoCall::syncFolder, 0, 0});
    return systemIoBackend()->syncFolderOf(native);
  }
};

}  // namespace bw::testing_io
