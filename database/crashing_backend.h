// database/crashing_backend.h - an in-memory I/O backend for the file layer
// that records every change, injects crashes and faults at any operation, and
// builds the images a power loss could leave. The database's crash, fault
// and fuzz harnesses plug it in with cHostFile::setIoBackend or
// setDefaultIoBackend.
//
// Model:
//   1. Each file (by native path) has a current image (what the process
//      sees) and a durable image (what survived its last sync). Writes and
//      truncations change the current image at once and wait in the file's
//      pending list until sync() makes them durable.
//   2. Operations are numbered from 0 across all files: every write,
//      truncate, sync and folder sync (reads are not counted).
//   3. crashBefore(k): operation k raises SimulatedCrash instead of running;
//      from then on the backend is dead: changes are accepted and dropped,
//      reads see the frozen images. What the process did before k is the
//      current image (the process-crash model).
//   4. powerLossImage(): the durable image plus a random subset of the
//      pending operations in order; writes are torn at 512-byte sectors and
//      bytes a lost write would have put beyond the end hold zeros or
//      garbage.
//   5. failAt(k, errno, persistent, kinds): the first operation of those
//      kinds from number k on (with persistent: every one) fails with that
//      errno and changes nothing.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/host_io.h"

namespace bw {

// Raised by the operation a crash was injected before. Not an eException:
// nothing in the program may mistake it for a file error and handle it.
struct SimulatedCrash : std::exception {
  const char* what() const noexcept override { return "simulated crash"; }
};

struct RecordedOp {
  enum Kind : uint8_t { kWrite = 1, kTruncate = 2, kSync = 4, kSyncFolder = 8 };
  Kind kind;
  std::string file;
  int64_t offset = 0;  // write position, or the new size of a truncation
  std::vector<uint8_t> bytes;
};

class CrashingIoBackend : public HostIoBackend, public std::enable_shared_from_this<CrashingIoBackend> {
 public:
  // Files: their current and durable images (empty when unknown).
  void setImage(const std::string& native, std::vector<uint8_t> image);
  std::vector<uint8_t> image(const std::string& native) const;
  std::vector<uint8_t> durableImage(const std::string& native) const;
  bool exists(const std::string& native) const { return files_.count(native) != 0; }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& entry : files_) out.push_back(entry.first);
    return out;
  }

  // The log of operations (point 2) since the start or clearLog.
  const std::vector<RecordedOp>& log() const { return log_; }
  int64_t opCount() const { return nextOp_; }
  void clearLog() { log_.clear(); }

  void crashBefore(int64_t op) { crashAt_ = op; }
  bool crashed() const { return dead_; }
  // kinds: a mask of RecordedOp::Kind values.
  void failAt(int64_t op, int error, bool persistent, int kinds = 0xF);
  void clearFaults() { failAt_ = -1; }

  // A power-loss image of a file (point 4); variant picks the random choices.
  std::vector<uint8_t> powerLossImage(const std::string& native, uint64_t variant) const;

  std::unique_ptr<HostIo> open(Text native, int32_t mode) override;
  int syncFolderOf(Text native) override;

 private:
  friend class CrashingIo;
  struct File {
    std::vector<uint8_t> current;
    std::vector<uint8_t> durable;
    std::vector<RecordedOp> pending;
    bool locked = false;
    bool inFolder = true;  // the name survives a power cut
  };
  // Counts an operation; throws SimulatedCrash or returns an errno to fail
  // with (0: go on); sets dead_ so that a dead backend changes nothing.
  int admit(RecordedOp::Kind kind);
  void record(File& file, RecordedOp op);

  std::map<std::string, std::shared_ptr<File>> files_;
  std::vector<RecordedOp> log_;
  int64_t nextOp_ = 0;
  int64_t crashAt_ = -1;
  bool dead_ = false;
  int64_t failAt_ = -1;
  int failError_ = 0;
  bool failPersistent_ = false;
  int failKinds_ = 0;
};

}  // namespace bw
