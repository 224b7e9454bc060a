// bench/bench_counting_backend.h - an I/O backend over the system's that
// counts what the database asks of the disk: fsyncs, pread and pwrite calls
// and the bytes written. The benchmarks print these beside their timings.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/host_io.h"

namespace bw::bench_io {

struct IoCounts {
  int64_t syncs = 0;
  int64_t reads = 0;
  int64_t writes = 0;
  int64_t bytesWritten = 0;
  IoCounts operator-(const IoCounts& o) const {
    return {syncs - o.syncs, reads - o.reads, writes - o.writes, bytesWritten - o.bytesWritten};
  }
};

class CountingBackend : public HostIoBackend {
 public:
  IoCounts counts;

  std::unique_ptr<HostIo> open(Text native, int32_t mode) override {
    auto io = inner_->open(native, mode);
    if (!io) return nullptr;
    return std::make_unique<Io>(std::move(io), counts);
  }
  int syncFolderOf(Text native) override { return inner_->syncFolderOf(native); }

 private:
  class Io : public HostIo {
   public:
    Io(std::unique_ptr<HostIo> inner, IoCounts& counts) : inner_(std::move(inner)), counts_(counts) {}
    IoResult readAt(void* b, int64_t l, int64_t p) override {
      ++counts_.reads;
      return inner_->readAt(b, l, p);
    }
    IoResult writeAt(const void* b, int64_t l, int64_t p) override {
      ++counts_.writes;
      counts_.bytesWritten += l;
      return inner_->writeAt(b, l, p);
    }
    int truncate(int64_t s) override { return inner_->truncate(s); }
    int sync() override {
      ++counts_.syncs;
      return inner_->sync();
    }
    int64_t size() override { return inner_->size(); }
    bool examine(dos::FileInfo& i, dos::Detail d) override { return inner_->examine(i, d); }
    bool lockForWriting() override { return inner_->lockForWriting(); }
    void close() override { inner_->close(); }
    int mappableDescriptor() override { return inner_->mappableDescriptor(); }

   private:
    std::unique_ptr<HostIo> inner_;
    IoCounts& counts_;
  };
  std::shared_ptr<HostIoBackend> inner_ = systemIoBackend();
};

}  // namespace bw::bench_io
