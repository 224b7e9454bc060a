// database/soup_fake_block_file_test_support.h - for tests: an in-memory
// SoupBlockFile with a committed image per path (a "disk" that outlives the
// file object, so a test can close, reopen, or drop a run as a crash would),
// fault injection, and the soup's test object classes.
//
// The fake is strict where the real file is lenient: a read or write that
// does not lie inside one allocated block raises "BUG" "fake: ...", so any
// soup access outside a record shows up in the tests.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/exception.h"
#include "database/indexed_object.h"
#include "database/soup_block_file.h"

namespace bw::testing {

struct FakeSoupImage {
  std::map<int64_t, std::vector<uint8_t>> blocks;  // handle -> payload (index word first)
  std::vector<int64_t> entries{0};                 // index -> handle; 0 free
  std::array<int64_t, 14> header{};
  int64_t nextHandle = 8496 + 8;
  int64_t dummy = 0;
};

struct FakeDisk {
  std::map<std::string, FakeSoupImage> files;
  std::map<std::string, int64_t> times;
  int64_t clock = 1000;  // the time the next commit stamps
  int commits = 0;
  int newFiles = 0;                   // names newFilePath handed out
  std::function<void()> beforeRename;  // another run's moment to step in
};

class FakeSoupBlockFile : public SoupBlockFile {
 public:
  explicit FakeSoupBlockFile(std::shared_ptr<FakeDisk> disk, int32_t commitDelay = 0)
      : disk_(std::move(disk)), commitDelay_(commitDelay) {}

  // --- test controls ---------------------------------------------------------------
  // From now on nothing reaches the disk (a killed process).
  void crash() { crashed_ = true; }
  // The n-th writeBytes from now (1 = the next) raises "FULL".
  void failWriteAfter(int n) { failWriteIn_ = n; }
  // Marks the file failed, as a failing commit would.
  void setFailed() { failed_ = true; }
  int discards() const { return discards_; }
  const FakeSoupImage& image() const { return current_; }
  std::vector<uint8_t> payload(int64_t handle) const { return current_.blocks.at(handle); }

  // --- SoupBlockFile ---------------------------------------------------------------------
  bool open(Text path, bool /*flag*/) override {
    if (open_) bw::raise("EMU", "cJournaledFile.open(); a file is already open");
    path_ = std::string(path.view());
    auto found = disk_->files.find(path_);
    if (found == disk_->files.end()) {
      committed_ = FakeSoupImage{};
      current_ = committed_;
      open_ = true;
      stack_.push_back(0);
      current_.dummy = allocate(1);
      stack_.clear();
      commit();
    } else {
      committed_ = found->second;
      current_ = committed_;
      open_ = true;
    }
    pendingTime_ = -1;
    return true;
  }
  // The soup's tests read real files only through the journaled file.
  bool openForReading(Text) override { bw::raise("EMU", "FakeSoupBlockFile.openForReading(); not offered"); }
  bool isOpen() override { return open_; }
  void close() override {
    if (!open_) return;
    if (!stack_.empty()) {
      discardChanges();
      bw::raise("TRAN", "cJournaledFile.close(); there were outstanding transactions");
    }
    if (!failed_) flush();
    applyTime();
    open_ = false;
  }
  void closeDiscarding() override {
    if (!open_) return;
    if (!stack_.empty()) discardChanges();
    close();
  }
  void flush() override {
    if (failed_) bw::raise("FILE", "cJournaledFile.flush(); an earlier commit failed");
    if (stack_.empty() && dirty_) commit();
    applyTime();
  }
  bool infoFailed() override { return failed_; }
  Str infoErrorSource() override { return Str("fake"); }
  Str infoError() override { return Str("fake error"); }
  int64_t getTime() override {
    if (pendingTime_ >= 0) return pendingTime_;
    auto t = disk_->times.find(path_);
    return t == disk_->times.end() ? 0 : t->second;
  }
  void setTime(int64_t time) override { pendingTime_ = time; }
  int64_t getSize() override { return current_.nextHandle - 8; }
  bool pathExists(Text path) override { return disk_->files.count(std::string(path.view())) != 0; }
  void deletePath(Text path) override {
    disk_->files.erase(std::string(path.view()));
    disk_->times.erase(std::string(path.view()));
  }
  Str newFilePath(Text path) override {
    std::string fresh = std::string(path.view()) + "_New_" + std::to_string(++disk_->newFiles);
    return Str(fresh);
  }
  bool renameNewFile(Text from, Text path) override {
    if (disk_->beforeRename) disk_->beforeRename();
    std::string to(path.view());
    auto found = disk_->files.find(std::string(from.view()));
    if (disk_->files.count(to) != 0 || found == disk_->files.end()) return false;
    disk_->files[to] = found->second;
    disk_->files.erase(found);
    auto time = disk_->times.find(std::string(from.view()));
    if (time != disk_->times.end()) {
      disk_->times[to] = time->second;
      disk_->times.erase(time);
    }
    return true;
  }

  int32_t beginTransaction() override {
    requireOpen();
    stack_.push_back(nextId_);
    return nextId_++;
  }
  void finishTransaction(int32_t id) override {
    if (stack_.empty()) {
      discardChanges();
      bw::raise("TRAN", "cJournaledFile.finishTransaction(); there are no outstanding transactions");
    }
    if (stack_.back() != id) {
      discardChanges();
      bw::raise("TRAN", "cJournaledFile.finishTransaction(); the wrong transaction was finished");
    }
    stack_.pop_back();
    if (stack_.empty() && commitDelay_ == 0 && dirty_) commit();
  }
  void discardChanges() override {
    ++discards_;
    stack_.clear();
    current_ = committed_;
    dirty_ = false;
    if (listener_) listener_();
  }
  int32_t infoTransactionDepth() override { return static_cast<int32_t>(stack_.size()); }
  void setDiscardListener(std::function<void()> listener) override { listener_ = std::move(listener); }

  void readBytes(int64_t position, void* out, int64_t length) override {
    const std::vector<uint8_t>& b = blockAt(position, length);
    int64_t handle = handleAt(position);
    std::copy_n(b.begin() + (position - handle), length, static_cast<uint8_t*>(out));
  }
  void writeBytes(int64_t position, const void* in, int64_t length) override {
    requireTransaction();
    if (failWriteIn_ > 0 && --failWriteIn_ == 0) bw::raise("FULL", "fake: disk full");
    int64_t handle = handleAt(position);
    blockAt(position, length);
    auto* src = static_cast<const uint8_t*>(in);
    std::copy(src, src + length, current_.blocks[handle].begin() + (position - handle));
    dirty_ = true;
  }
  // A new number at every call: nothing the soup read is ever answered again
  // over the fake, whose blocks change by more roads than writeBytes.
  uint64_t infoChangeCount() override { return ++changeCount_; }

  SoupIndexedBlock allocateIndexBlock(int32_t sizeInBytes, bool clear) override {
    Own own(*this);
    int32_t index = takeIndex();
    int64_t handle = allocate(sizeInBytes + 4);
    setEntry(index, handle);
    if (clear) std::fill(current_.blocks[handle].begin() + 4, current_.blocks[handle].end(), 0);
    own.finish();
    return {index, handle + 4, static_cast<int32_t>(current_.blocks[handle].size()) - 4};
  }
  SoupIndexedBlock allocateIndexArray(int32_t count, bool clear) override {
    return allocateIndexBlock(count * 4, clear);
  }
  void deallocateIndex(int32_t index) override {
    if (index < 1 || index >= static_cast<int32_t>(current_.entries.size())) {
      bw::raise("EMU", "cJournaledBlockFile.deallocateIndex(); index is out of bounds");
    }
    if (current_.entries[index] == 0) bw::raise("EMU", "cJournaledBlockFile.deallocateIndex(); index is not allocated");
    Own own(*this);
    if (current_.entries[index] != current_.dummy) current_.blocks.erase(current_.entries[index]);
    current_.entries[index] = 0;
    own.finish();
  }
  int32_t preallocateIndex() override {
    Own own(*this);
    int32_t index = takeIndex();
    current_.entries[index] = current_.dummy;
    own.finish();
    return index;
  }
  SoupIndexedBlock reallocateIndex(int32_t index, int32_t newSize, bool clear, int32_t bytesToKeep) override {
    int64_t old = infoBlockOfIndex(index, false) - 4;
    Own own(*this);
    int64_t handle = allocate(newSize + 4);
    std::vector<uint8_t>& fresh = current_.blocks[handle];
    const std::vector<uint8_t>& before = current_.blocks[old];
    int32_t keep = std::min<int32_t>(bytesToKeep, newSize);
    std::copy_n(before.begin() + 4, keep, fresh.begin() + 4);
    if (clear) std::fill(fresh.begin() + 4 + keep, fresh.end(), 0);
    current_.blocks.erase(old);
    setEntry(index, handle);
    own.finish();
    return {index, handle + 4, static_cast<int32_t>(fresh.size()) - 4};
  }
  int64_t reallocateIndexArray(int32_t index, int32_t newCount, int32_t oldCount, bool clear) override {
    return reallocateIndex(index, newCount * 4, clear, std::min(newCount, oldCount) * 4).dataPosition;
  }
  int64_t infoBlockOfIndex(int32_t index, bool quiet) override {
    int64_t entry = index >= 1 && index < static_cast<int32_t>(current_.entries.size()) ? current_.entries[index] : 0;
    if (entry == 0) {
      if (quiet) return 0;
      bw::raise("EMU", "cJournaledBlockFile.infoBlockOfIndex(); index is not allocated to a block");
    }
    if (entry == current_.dummy) {
      if (quiet) return 0;
      bw::raise("EMU", "cJournaledBlockFile.infoBlockOfIndex(); index is only preallocated");
    }
    return entry + 4;
  }
  int32_t infoSizeOfIndexBlock(int64_t dataPosition) override {
    return static_cast<int32_t>(current_.blocks.at(dataPosition - 4).size()) - 4;
  }
  int64_t infoDummyBlock() override { return current_.dummy; }
  int64_t infoFirstBlock() override { return current_.blocks.empty() ? 0 : current_.blocks.begin()->first; }
  SoupOverhead infoOverhead() override { return {8513 + 8 * 128, 12}; }
  // The fake keeps its blocks without gaps: nothing is free, nothing moves.
  int64_t infoNextUsedBlock(int64_t handle) override {
    auto it = current_.blocks.upper_bound(handle);
    return it == current_.blocks.end() ? 0 : it->first;
  }
  int32_t infoFreeSizeBefore(int64_t /*handle*/) override { return 0; }
  MovedBlock moveBlock(int64_t /*handle*/, int64_t /*desiredHandle*/) override { return {}; }
  // Valid, with the indices in use and every block.
  ValidationResult validate(bool /*verbose*/, bool /*repair*/, bool keepSets) override {
    ValidationResult r;
    r.valid = true;
    if (!keepSets) return r;
    r.indices = std::make_unique<ValidationSet>();
    r.blocks = std::make_unique<ValidationSet>();
    for (size_t i = 1; i < current_.entries.size(); ++i) {
      if (current_.entries[i] != 0) r.indices->set(static_cast<intptr_t>(i), 1);
    }
    for (const auto& [handle, bytes] : current_.blocks) r.blocks->set(static_cast<intptr_t>(handle), 1);
    return r;
  }
  int64_t getHeaderValue(int32_t entry) override { return current_.header.at(static_cast<size_t>(entry)); }
  void setHeaderValue(int32_t entry, int64_t value) override {
    Own own(*this);
    current_.header.at(static_cast<size_t>(entry)) = entry == 6 ? static_cast<int32_t>(value) : value;
    dirty_ = true;
    own.finish();
  }
  uint32_t readIndexArrayElement(int64_t dataPosition, int32_t element) override {
    uint8_t b[4];
    readBytes(dataPosition + 4 * int64_t{element}, b, 4);
    return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
  }
  void writeIndexArrayElement(int64_t dataPosition, int32_t element, uint32_t value) override {
    uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                    static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    writeBytes(dataPosition + 4 * int64_t{element}, b, 4);
  }

 private:
  // An operation's own transaction; an exception discards.
  class Own {
   public:
    explicit Own(FakeSoupBlockFile& f) : t_(f) {}
    void finish() { t_.finish(); }

   private:
    SoupTransaction t_;
  };

  void requireOpen() const {
    if (!open_) bw::raise("EMU", "cJournaledFile.write(); file not open");
  }
  void requireTransaction() const {
    requireOpen();
    if (failed_) bw::raise("FILE", "cJournaledFile.write(); an earlier commit failed");
    if (stack_.empty()) {
      bw::raise("EMU", "cJournaledFile.write(); no transactions have been started yet using beginTransaction()");
    }
  }
  void commit() {
    if (crashed_) return;
    committed_ = current_;
    dirty_ = false;
    disk_->files[path_] = committed_;
    disk_->times[path_] = disk_->clock++;  // a commit's writes make the file this new
    pendingTime_ = -1;
    ++disk_->commits;
  }
  void applyTime() {
    if (pendingTime_ >= 0 && !crashed_ && disk_->files.count(path_)) disk_->times[path_] = pendingTime_;
    pendingTime_ = -1;
  }
  // A used block with payload for size bytes (at least 20, a multiple of 4).
  int64_t allocate(int32_t size) {
    requireTransaction();
    int32_t payload = std::max(20, (size + 3) / 4 * 4);
    int64_t handle = current_.nextHandle;
    current_.nextHandle += payload + 8;
    current_.blocks[handle] = std::vector<uint8_t>(static_cast<size_t>(payload), 0);
    dirty_ = true;
    return handle;
  }
  int32_t takeIndex() {
    requireTransaction();
    auto& e = current_.entries;
    for (size_t i = 1; i < e.size(); ++i) {
      if (e[i] == 0) return static_cast<int32_t>(i);
    }
    e.push_back(0);
    return static_cast<int32_t>(e.size() - 1);
  }
  void setEntry(int32_t index, int64_t handle) {
    current_.entries[index] = handle;
    uint32_t word = static_cast<uint32_t>(index + 13);
    std::vector<uint8_t>& b = current_.blocks[handle];
    b[0] = static_cast<uint8_t>(word >> 24);
    b[1] = static_cast<uint8_t>(word >> 16);
    b[2] = static_cast<uint8_t>(word >> 8);
    b[3] = static_cast<uint8_t>(word);
    dirty_ = true;
  }
  int64_t handleAt(int64_t position) const {
    auto it = current_.blocks.upper_bound(position);
    if (it == current_.blocks.begin()) bw::raise("BUG", "fake: access before the first block");
    return std::prev(it)->first;
  }
  const std::vector<uint8_t>& blockAt(int64_t position, int64_t length) const {
    if (!open_) bw::raise("EMU", "cJournaledFile.read(); file not open");
    int64_t handle = handleAt(position);
    const std::vector<uint8_t>& b = current_.blocks.at(handle);
    if (length < 0 || position + length > handle + static_cast<int64_t>(b.size())) {
      bw::raise("BUG", "fake: access outside a block");
    }
    return b;
  }

  std::shared_ptr<FakeDisk> disk_;
  int32_t commitDelay_;
  FakeSoupImage current_;
  FakeSoupImage committed_;
  std::vector<int32_t> stack_;
  int32_t nextId_ = 1;
  bool open_ = false;
  bool dirty_ = false;
  bool crashed_ = false;
  bool failed_ = false;
  int failWriteIn_ = 0;
  int discards_ = 0;
  uint64_t changeCount_ = 0;
  int64_t pendingTime_ = -1;
  std::string path_;
  std::function<void()> listener_;
};

// A stored test object: a count and that many 32-bit values. throwOnStore
// makes the next store raise.
class TestRecord : public cIndexedObject {
  BW_CLASS(TestRecord, cIndexedObject)

 public:
  TestRecord() = default;
  explicit TestRecord(std::vector<int32_t> v) : values(std::move(v)) {}
  void restore(cRestoreStreamBase& stream, bool doStore) override {
    if (doStore && throwOnStore) {
      throwOnStore = false;
      bw::raise("ERR", "TestRecord.restore(); failing as asked");
    }
    int32_t n = transferValue(stream, doStore, static_cast<int32_t>(values.size()));
    if (!doStore) values.clear();
    for (int32_t i = 0; i < n; ++i) {
      int32_t v = transferValue(stream, doStore, doStore ? values[static_cast<size_t>(i)] : 0);
      if (!doStore) values.push_back(v);  // grows only as values arrive
    }
  }
  std::vector<int32_t> values;
  bool throwOnStore = false;
};

// A list member with a payload of values after its node header.
class TestNode : public cIndexedObjectNode {
  BW_CLASS(TestNode, cIndexedObjectNode)

 public:
  TestNode() = default;
  explicit TestNode(int32_t v) : value(v) {}
  void restore(cRestoreStreamBase& stream, bool doStore) override {
    cIndexedObjectNode::restore(stream, doStore);
    value = transferValue(stream, doStore, value);
  }
  int32_t value = 0;
};

}  // namespace bw::testing
