// platform/read_cache_io_test.cpp - the read cache in front of a HostIo:
// a seeded workload of reads, writes and cuts answers what the file holds
// (in memory, and on disk through the file's mapping and the view it
// publishes), hits cost no read, and a failure or a drop forgets every
// page.
#include "platform/read_cache_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include "platform/host_io_test_support.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

// A file in memory that counts its reads and can fail its writes and cuts.
struct MemoryFile {
  std::vector<uint8_t> bytes;
  int reads = 0;
  bool fail = false;
  int64_t partial = 0;  // bytes a failing write still puts down
};

class MemoryIo final : public HostIo {
 public:
  explicit MemoryIo(MemoryFile& f) : f_(f) {}
  IoResult readAt(void* buffer, int64_t length, int64_t position) override {
    ++f_.reads;
    int64_t n = std::clamp<int64_t>(static_cast<int64_t>(f_.bytes.size()) - position, 0, length);
    if (n > 0) std::memcpy(buffer, f_.bytes.data() + position, static_cast<size_t>(n));
    return {n, 0};
  }
  IoResult writeAt(const void* buffer, int64_t length, int64_t position) override {
    int64_t n = f_.fail ? std::min(length, f_.partial) : length;
    if (static_cast<int64_t>(f_.bytes.size()) < position + n) f_.bytes.resize(static_cast<size_t>(position + n));
    if (n > 0) std::memcpy(f_.bytes.data() + position, buffer, static_cast<size_t>(n));
    return f_.fail ? IoResult{n, ENOSPC} : IoResult{n, 0};
  }
  int truncate(int64_t size) override {
    if (f_.fail) return EIO;
    f_.bytes.resize(static_cast<size_t>(size));
    return 0;
  }
  int sync() override { return 0; }
  int64_t size() override { return static_cast<int64_t>(f_.bytes.size()); }
  bool examine(dos::FileInfo&, dos::Detail) override { return false; }
  bool lockForWriting() override { return true; }
  void close() override {}

 private:
  MemoryFile& f_;
};

std::vector<uint8_t> readVia(HostIo& io, int64_t length, int64_t position) {
  std::vector<uint8_t> out(static_cast<size_t>(length));
  out.resize(static_cast<size_t>(io.readAt(out.data(), length, position).count));
  return out;
}

TEST(ReadCacheIo, AnswersWhatTheFileHoldsThroughWritesAndCuts) {
  struct Case {
    int32_t pages;      // the cache's size
    int64_t filePages;  // where reads, writes and cuts fall
    bool mapped;        // a file on disk, read through its mapping
  };
  // Fewer pages than the file has; then more, with pages dropped by cuts
  // and taken again. On disk,
  // the mapping grows with the file (mapped again) and reads past its size
  // take the pages; over a file larger than the mapping keeps resident, its
  // pages are released and mapped again. Stretches read in windows answer
  // the same.
  for (const Case& c : {Case{6, 12, false}, Case{64, 48, false}, Case{6, 48, true}, Case{6, 4096, true}}) {
    SCOPED_TRACE(c.pages);
    MemoryFile file;
    testing_paths::TempTree tree;
    auto disk = std::make_shared<testing_io::RecordingIoBackend>();
    disk->log->mappable = true;
    auto cached = c.mapped ? withReadCache(disk->open(Text(tree.native("file")), dos::kModeReadWrite), c.pages)
                           : withReadCache(std::make_unique<MemoryIo>(file), c.pages);
    std::unique_ptr<HostIo> plain = c.mapped ? systemIoBackend()->open(Text(tree.native("file")), dos::kModeReadWrite)
                                             : std::make_unique<MemoryIo>(file);
    std::mt19937 random(7);
    auto upTo = [&](int64_t n) { return static_cast<int64_t>(random() % static_cast<uint32_t>(n)); };
    // Stretches of steps read in windows (readInWindows) between ones without.
    bool windows = false;
    for (int step = 0; step < 20000; ++step) {
      SCOPED_TRACE(step);
      if (step % 1500 == 0) cached->readInWindows(windows = (step / 1500) % 2 == 1);
      int64_t at = upTo(c.filePages * kReadCachePageSize);
      int64_t length = 1 + upTo(step % 7 == 0 ? 3 * kReadCachePageSize : 300);
      switch (upTo(8)) {
        case 0: {  // a cut, shrinking or growing
          ASSERT_EQ(cached->truncate(at), 0);
          break;
        }
        case 1:
        case 2: {
          std::vector<uint8_t> b(static_cast<size_t>(length), static_cast<uint8_t>(step));
          ASSERT_EQ(cached->writeAt(b.data(), length, at).error, 0);
          break;
        }
        case 3: {  // a gathered read: pieces of the range, as one read answers them
          const std::vector<uint8_t> whole = readVia(*plain, length, at);
          std::vector<IoPiece> pieces;
          std::vector<std::vector<uint8_t>> buffers(8);
          for (auto& b : buffers) {
            const int64_t offset = upTo(length);
            b.assign(static_cast<size_t>(1 + upTo(length - offset)), 0xEE);
            pieces.push_back({offset, static_cast<int64_t>(b.size()), b.data()});
          }
          IoResult r = cached->readPiecesAt(at, length, pieces.data(), static_cast<int32_t>(pieces.size()));
          ASSERT_EQ(r.count, static_cast<int64_t>(whole.size()));
          for (const IoPiece& piece : pieces) {
            const auto* got = static_cast<const uint8_t*>(piece.buffer);
            const int64_t n = std::clamp<int64_t>(r.count - piece.offset, 0, piece.length);
            ASSERT_TRUE(std::equal(got, got + n, whole.begin() + piece.offset));
          }
          break;
        }
        default: {
          const size_t diskReads = disk->log->count(testing_io::IoCall::read);
          const std::vector<uint8_t> held = readVia(*plain, length, at);
          ASSERT_EQ(readVia(*cached, length, at), held);
          // On disk, a read within the file comes from its mapping.
          if (c.mapped && !windows && at + length <= plain->size()) {
            ASSERT_EQ(disk->log->count(testing_io::IoCall::read), diskReads);
          }
        }
      }
    }
    // A page read once is served from memory after that.
    readVia(*cached, 10, 0);
    int before = file.reads;
    readVia(*cached, 100, 20);
    EXPECT_EQ(file.reads, before);
    cached->close();
    plain->close();
  }
}

TEST(ReadCacheIo, FailuresAndDropsForgetEveryPage) {
  MemoryFile file;
  file.bytes.assign(3 * kReadCachePageSize, 'a');
  auto cached = withReadCache(std::make_unique<MemoryIo>(file), 8);
  MemoryIo plain(file);
  auto readAllPages = [&] { return readVia(*cached, 3 * kReadCachePageSize, 0); };
  auto readsFor = [&](auto&& step) {
    readAllPages();
    step();
    int before = file.reads;
    EXPECT_EQ(readAllPages(), readVia(plain, 3 * kReadCachePageSize, 0));
    return file.reads - before - 1;  // the plain read counts once
  };
  const std::vector<uint8_t> b(100, 'b');
  const int wholeFile = 3;  // the three pages the request asks for, a read each
  file.partial = 40;
  // A write that failed after part of it reached the file.
  EXPECT_EQ(readsFor([&] {
              file.fail = true;
              EXPECT_EQ(cached->writeAt(b.data(), 100, 5000).error, ENOSPC);
              file.fail = false;
            }),
            wholeFile);
  EXPECT_EQ(readsFor([&] {
              file.fail = true;
              EXPECT_EQ(cached->truncate(10), EIO);
              file.fail = false;
            }),
            wholeFile);
  EXPECT_EQ(readsFor([&] { cached->dropCache(); }), wholeFile);
  EXPECT_EQ(readsFor([&] { cached->writeAt(b.data(), 100, 5000); }), 0);

  // A write from a page's start keeps that page; the rest of the page is
  // read once when asked for.
  cached->dropCache();
  cached->writeAt(b.data(), 100, kReadCachePageSize);
  int before = file.reads;
  EXPECT_EQ(readVia(*cached, 100, kReadCachePageSize), b);
  EXPECT_EQ(file.reads, before);
  EXPECT_EQ(readVia(*cached, 300, kReadCachePageSize), readVia(plain, 300, kReadCachePageSize));
  EXPECT_EQ(file.reads, before + 2);
}

}  // namespace
}  // namespace bw
