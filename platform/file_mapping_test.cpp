// platform/file_mapping_test.cpp - the guarded mapping: a fault on a guarded
// copy is an answer and any other SIGBUS still ends the process; a file cut
// by another process under a live mapping reads as it does by pread.
#include "platform/file_mapping.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
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

// The KiB of the mapping that starts at start resident in this process
// (its "Rss:" in /proc/self/smaps), -1 when it is not found.
int64_t residentKiB(const void* start) {
  std::ifstream smaps("/proc/self/smaps");
  char head[32];
  std::snprintf(head, sizeof head, "%lx-", reinterpret_cast<unsigned long>(start));
  bool inside = false;
  for (std::string line; std::getline(smaps, line);) {
    // A mapping's line ("start-end perms ... dev inode path") has its first
    // colon past its first space; its fields' lines ("Rss: 12 kB") before.
    if (line.find(':') > line.find(' ')) {
      inside = line.starts_with(head);
    } else if (inside && line.starts_with("Rss:")) {
      return std::stoll(line.substr(4));
    }
  }
  return -1;
}

// A walk that reads a byte of every page of a 32 MiB file, twice, keeps no
// more than about the one-pass budget's windows of the mapping resident and
// reads the file's bytes throughout; under the default budget the whole file
// stays mapped; the same walk over a plain mapping has it all resident (the
// measure itself is sound).
TEST(FileMappingTest, AWalkKeepsAsMuchOfTheFileResidentAsTheBudgetAllows) {
  constexpr int64_t kBytes = 32 << 20;
  testing_paths::TempTree tree;
  const std::string host = tree.host("big").string();
  {
    std::vector<char> bytes(kBytes);
    for (int64_t i = 0; i < kBytes; ++i) bytes[static_cast<size_t>(i)] = static_cast<char>(i * 7 / 4096);
    std::ofstream(host, std::ios::binary).write(bytes.data(), kBytes);
  }
  const int fd = ::open(host.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  // The most resident during two walks under a budget.
  auto walkTwice = [&](int32_t budget) {
    setMappedWindowBudget(budget);
    FileMapping mapping;
    setMappedWindowBudget(kMappedWindows);
    EXPECT_TRUE(mapping.cover(fd, kBytes));
    int64_t most = 0;
    for (int pass = 0; pass < 2; ++pass) {
      for (int64_t at = 0; at < kBytes; at += 4096) {
        uint8_t byte = 0;
        EXPECT_TRUE(mapping.read(&byte, 1, at + pass));
        EXPECT_EQ(byte, static_cast<uint8_t>(at * 7 / 4096)) << at;
        if (at % (1 << 20) == 0) most = std::max(most, residentKiB(mapping.bytes()));
      }
    }
    most = std::max(most, residentKiB(mapping.bytes()));
    mapping.unmap();
    return most;
  };
  const int64_t onePass = walkTwice(kMappedWindowsOnePass);
  // Fault-around may map a window's neighbour too.
  EXPECT_GT(onePass, 0);
  EXPECT_LE(onePass, 2 * kMappedWindowsOnePass * kMappedWindowBytes / 1024);
  EXPECT_GE(walkTwice(kMappedWindows), kBytes / 1024 * 9 / 10);
  auto* plain = static_cast<const volatile uint8_t*>(::mmap(nullptr, kBytes, PROT_READ, MAP_SHARED, fd, 0));
  ASSERT_NE(plain, MAP_FAILED);
  for (int64_t at = 0; at < kBytes; at += 4096) (void)plain[at];
  EXPECT_GE(residentKiB(const_cast<const uint8_t*>(plain)), kBytes / 1024 * 9 / 10);
  ::munmap(const_cast<uint8_t*>(plain), kBytes);
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
