// platform/file_mapping_test.cpp - the guarded mapping: a fault on a guarded
// copy is an answer and any other SIGBUS still ends the process; a file cut
// by another process under a live mapping reads as it does by pread.
#include "platform/file_mapping.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "core/raise_test_support.h"
#include "platform/host_file.h"
#include "platform/host_io_test_support.h"
#include "platform/path_test_support.h"

namespace bw {
namespace {

constexpr int64_t kFileBytes = 64 * 1024;
constexpr int64_t kCutTo = 5000;  // inside the file's second page

std::string writePattern(const testing_paths::TempTree& tree) {
  std::string host = tree.host("f").string();
  std::string bytes;
  for (int64_t i = 0; i < kFileBytes; ++i) bytes.push_back(static_cast<char>('a' + i % 26));
  int fd = ::open(host.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), kFileBytes);
  ::close(fd);
  return host;
}

// The pattern file at host opened for reading and mapped whole by mapping.
int openMapped(const std::string& host, FileMapping& mapping) {
  const int fd = ::open(host.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  EXPECT_TRUE(mapping.cover(fd, kFileBytes));
  return fd;
}

TEST(FileMappingTest, AFaultOnAGuardedCopyIsAnAnswerAndAnyOtherEndsTheProcess) {
  testing_paths::TempTree tree;
  const std::string host = writePattern(tree);
  FileMapping mapping;
  const int fd = openMapped(host, mapping);
  std::vector<uint8_t> out(8192);
  EXPECT_TRUE(mapping.read(out.data(), 100, 40000));
  ASSERT_EQ(::truncate(host.c_str(), kCutTo), 0);  // another process's cut
  EXPECT_FALSE(mapping.read(out.data(), 100, 40000));
  EXPECT_FALSE(mapping.read(out.data(), 8192, 4096));  // faults half way
  EXPECT_TRUE(mapping.read(out.data(), 100, 0));  // the guard stands again
  EXPECT_EQ(out[99], 'a' + 99 % 26);
  // Unguarded, the same fault ends the process, and so does a sent SIGBUS.
  void* raw = ::mmap(nullptr, kFileBytes, PROT_READ, MAP_SHARED, fd, 0);
  ASSERT_NE(raw, MAP_FAILED);
  EXPECT_DEATH((void)static_cast<volatile uint8_t*>(raw)[40000], "");
  EXPECT_DEATH(::raise(SIGBUS), "");
  ::munmap(raw, kFileBytes);
  mapping.unmap();
  ::close(fd);
}

// Copies of every short length and of lengths about a copy's usual steps
// (16, 32, 64 bytes, a page) whose last byte lies within 40 bytes of the
// first page past a cut file's end, at every offset there, whole and in two
// pieces: a copy answers true exactly when its bytes lie before the cut,
// then with the file's bytes, and writes nothing outside its destination.
TEST(FileMappingTest, CopiesAboutACutPageAnswerByWhereTheirBytesLie) {
  constexpr int64_t kCut = 8192;
  testing_paths::TempTree tree;
  const std::string host = writePattern(tree);
  FileMapping mapping;
  const int fd = openMapped(host, mapping);
  ASSERT_EQ(::truncate(host.c_str(), kCut), 0);
  std::vector<int64_t> lengths;
  for (int64_t n = 0; n <= 70; ++n) lengths.push_back(n);
  for (int64_t n : {100, 127, 128, 129, 191, 192, 193, 268, 1000, 4095, 4096, 4097, 5000})
    lengths.push_back(n);
  constexpr uint8_t kUntouched = 0xEE;
  for (int64_t n : lengths) {
    for (int64_t end = kCut - 40; end <= kCut + 40; ++end) {
      const int64_t from = end - n;
      if (from < 0) continue;
      const bool whole = n == 0 || end <= kCut;
      for (bool inPieces : {false, true}) {
        std::vector<uint8_t> out(static_cast<size_t>(n) + 64, kUntouched);
        uint8_t* to = out.data() + 16 + from % 16;
        const int64_t half = n / 2;
        const IoPiece pieces[] = {{0, half, to}, {half, n - half, to + half}};
        const bool copied = inPieces ? mapping.readPieces(from, n, pieces, 2) : mapping.read(to, n, from);
        ASSERT_EQ(copied, whole) << "length " << n << " from " << from << (inPieces ? " in pieces" : "");
        for (size_t k = 0; k < out.size(); ++k) {
          const int64_t at = out.data() + k - to;
          if (at < 0 || at >= n) {
            ASSERT_EQ(out[k], kUntouched) << "length " << n << " from " << from << " byte " << at;
          } else if (whole) {
            ASSERT_EQ(out[k], 'a' + (from + at) % 26)
                << "length " << n << " from " << from << " byte " << at;
          }
        }
      }
    }
  }
  mapping.unmap();
  ::close(fd);
}

// Read by the host file through its read cache, once mapped and once by
// pread only, by read() and by readWithin (the cache's view, when mapped):
// the same answers and the same error, and the mapped file makes no pread
// until the fault.
TEST(FileMappingTest, AFileCutUnderTheMappingReadsAsOneCutUnderPread) {
  for (bool mapped : {true, false}) {
    for (bool within : {false, true}) {
      SCOPED_TRACE(testing::Message() << "mapped " << mapped << ", within " << within);
      testing_paths::TempTree tree;
      const std::string host = writePattern(tree);
      auto backend = std::make_shared<testing_io::RecordingIoBackend>();
      backend->log->mappable = mapped;
      cHostFile f;
      f.initialise(0);
      f.setIoBackend(backend);
      f.setReadCachePages(64);
      ASSERT_TRUE(f.open(Text(tree.internal("f")), false, false, false));
      char bytes[100];
      auto readAt = [&](int64_t at) {
        if (within) {
          f.readWithin(bytes, 100, at);
        } else {
          f.setPosition(at);
          f.read(bytes, 100, 0, kNoStop);
        }
        return std::string(bytes, 100);
      };
      EXPECT_EQ(readAt(26 * 10).substr(0, 26), "abcdefghijklmnopqrstuvwxyz");
      EXPECT_EQ(readAt(26 * 30).substr(0, 26), "abcdefghijklmnopqrstuvwxyz");
      EXPECT_EQ(backend->log->count(testing_io::IoCall::read), mapped ? 0u : 1u);
      ASSERT_EQ(::truncate(host.c_str(), kCutTo), 0);
      expectRaise([&] { readAt(40000); }, "BUG", "cHostFile.read(); size of read data does not match that expected");
      EXPECT_EQ(readAt(26 * 20).substr(0, 26), "abcdefghijklmnopqrstuvwxyz");
      f.close();
    }
  }
}

}  // namespace
}  // namespace bw
