// database/crashing_backend.cpp - the in-memory recording, crashing and
// failing I/O backend and its power-loss images.
#include "database/crashing_backend.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/dos_errors.h"
#include "platform/time.h"

namespace bw {

class CrashingIo final : public HostIo {
 public:
  CrashingIo(std::shared_ptr<CrashingIoBackend> backend, std::string name,
              std::shared_ptr<CrashingIoBackend::File> file)
      : backend_(std::move(backend)), name_(std::move(name)), file_(std::move(file)) {}
  ~CrashingIo() override { close(); }

  IoResult readAt(void* buffer, int64_t length, int64_t position) override {
    const auto& data = file_->current;
    int64_t n = std::clamp<int64_t>(static_cast<int64_t>(data.size()) - position, 0, length);
    if (n > 0) std::memcpy(buffer, data.data() + position, static_cast<size_t>(n));
    return {n, 0};
  }

  IoResult writeAt(const void* buffer, int64_t length, int64_t position) override {
    if (int e = backend_->admit(RecordedOp::kWrite)) return fail(e);
    if (backend_->dead_) return {length, 0};
    const auto* p = static_cast<const uint8_t*>(buffer);
    backend_->record(*file_, {RecordedOp::kWrite, name_, position, std::vector<uint8_t>(p, p + length)});
    return {length, 0};
  }

  int truncate(int64_t size) override {
    if (int e = backend_->admit(RecordedOp::kTruncate)) return failCode(e);
    if (!backend_->dead_) backend_->record(*file_, {RecordedOp::kTruncate, name_, size, {}});
    return 0;
  }

  int sync() override {
    if (int e = backend_->admit(RecordedOp::kSync)) return failCode(e);
    if (backend_->dead_) return 0;
    backend_->log_.push_back({RecordedOp::kSync, name_, 0, {}});
    file_->durable = file_->current;
    file_->pending.clear();
    return 0;
  }

  int64_t size() override { return static_cast<int64_t>(file_->current.size()); }

  bool examine(dos::FileInfo& info, dos::Detail) override {
    info = dos::FileInfo();
    info.entryType = dos::kTypeFile;
    info.size = size();
    info.date = pTime::secondsToDateStamp(0);
    info.commentRead = true;
    return true;
  }

  bool lockForWriting() override {
    if (file_->locked) {
      dos::ioErrFromErrno(EWOULDBLOCK, dos::Access::write);
      return false;
    }
    file_->locked = holdsLock_ = true;
    return true;
  }

  void close() override {
    if (holdsLock_) file_->locked = false;
    holdsLock_ = false;
  }

 private:
  static IoResult fail(int e) {
    dos::ioErrFromErrno(e, dos::Access::write);
    return {0, e};
  }
  static int failCode(int e) {
    dos::ioErrFromErrno(e, dos::Access::write);
    return e;
  }

  std::shared_ptr<CrashingIoBackend> backend_;
  std::string name_;
  std::shared_ptr<CrashingIoBackend::File> file_;
  bool holdsLock_ = false;
};

void CrashingIoBackend::setImage(const std::string& native, std::vector<uint8_t> image) {
  auto file = std::make_shared<File>();
  file->current = file->durable = std::move(image);
  files_[native] = std::move(file);
}

std::vector<uint8_t> CrashingIoBackend::image(const std::string& native) const {
  auto it = files_.find(native);
  return it == files_.end() ? std::vector<uint8_t>() : it->second->current;
}

std::vector<uint8_t> CrashingIoBackend::durableImage(const std::string& native) const {
  auto it = files_.find(native);
  return it == files_.end() ? std::vector<uint8_t>() : it->second->durable;
}

void CrashingIoBackend::failAt(int64_t op, int error, bool persistent, int kinds) {
  failAt_ = op;
  failError_ = error;
  failPersistent_ = persistent;
  failKinds_ = kinds;
}

int CrashingIoBackend::admit(RecordedOp::Kind kind) {
  int64_t op = nextOp_++;
  if (dead_) return 0;
  if (op == crashAt_) {
    dead_ = true;
    throw SimulatedCrash();
  }
  if (failAt_ >= 0 && (kind & failKinds_) && op >= failAt_) {
    if (!failPersistent_) failAt_ = -1;
    return failError_;
  }
  return 0;
}

void CrashingIoBackend::record(File& file, RecordedOp op) {
  if (op.kind == RecordedOp::kWrite) {
    auto end = static_cast<size_t>(op.offset) + op.bytes.size();
    if (file.current.size() < end) file.current.resize(end, 0);
    std::copy(op.bytes.begin(), op.bytes.end(), file.current.begin() + op.offset);
  } else {
    file.current.resize(static_cast<size_t>(op.offset), 0);
  }
  log_.push_back(op);
  file.pending.push_back(std::move(op));
}

std::unique_ptr<HostIo> CrashingIoBackend::open(Text native, int32_t mode) {
  std::string name(native.view());
  auto it = files_.find(name);
  if (it == files_.end()) {
    if (mode == dos::kModeOldFile || dead_) {
      dos::ioErrFromErrno(ENOENT, dos::Access::read);
      return nullptr;
    }
    auto file = std::make_shared<File>();
    file->inFolder = false;
    it = files_.emplace(name, std::move(file)).first;
  } else if (mode == dos::kModeNewFile && !dead_) {
    record(*it->second, {RecordedOp::kTruncate, name, 0, {}});
  }
  return std::make_unique<CrashingIo>(shared_from_this(), name, it->second);
}

int CrashingIoBackend::syncFolderOf(Text native) {
  if (int e = admit(RecordedOp::kSyncFolder)) return e;
  if (dead_) return 0;
  std::string name(native.view());
  log_.push_back({RecordedOp::kSyncFolder, name, 0, {}});
  if (auto it = files_.find(name); it != files_.end()) it->second->inFolder = true;
  return 0;
}

std::vector<uint8_t> CrashingIoBackend::powerLossImage(const std::string& native, uint64_t variant) const {
  auto it = files_.find(native);
  if (it == files_.end()) return {};
  const File& file = *it->second;
  std::mt19937_64 random(variant * 0x9E3779B97F4A7C15ull + 1);
  std::vector<uint8_t> out = file.durable;
  const bool garbage = variant % 2 == 1;
  auto extendTo = [&](size_t size) {
    while (out.size() < size) out.push_back(garbage ? static_cast<uint8_t>(random()) : 0);
  };
  // Variant 0 keeps nothing of the pending operations, variant 1 everything;
  // the others keep each sector or truncation with probability 1/2.
  for (const RecordedOp& op : file.pending) {
    if (op.kind == RecordedOp::kTruncate) {
      if (variant == 0 || (variant > 1 && random() % 2)) continue;
      out.resize(static_cast<size_t>(op.offset));
      continue;
    }
    for (int64_t sector = op.offset / 512 * 512; sector < op.offset + static_cast<int64_t>(op.bytes.size());
         sector += 512) {
      if (variant == 0 || (variant > 1 && random() % 2)) continue;
      int64_t from = std::max(sector, op.offset);
      int64_t to = std::min<int64_t>(sector + 512, op.offset + static_cast<int64_t>(op.bytes.size()));
      extendTo(static_cast<size_t>(from));
      if (out.size() < static_cast<size_t>(to)) out.resize(static_cast<size_t>(to));
      std::copy(op.bytes.begin() + (from - op.offset), op.bytes.begin() + (to - op.offset), out.begin() + from);
    }
  }
  // A size that grew without its data: sometimes the metadata made it.
  if (variant > 1 && file.current.size() > out.size() && random() % 4 == 0) extendTo(file.current.size());
  return out;
}

}  // namespace bw
