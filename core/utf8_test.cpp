// Tests of the UTF-8 encoder and decoder, with Python's decoder as the
// oracle over Markus Kuhn's stress test file.
#include "core/utf8.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/exception.h"

extern char** environ;

namespace bw {
namespace {

std::string encode(int32_t cp) {
  char buffer[4];
  int32_t n = convertUnicodeCharaToUTF8(cp, buffer);
  return std::string(buffer, static_cast<size_t>(n));
}

void expectRaise(int32_t cp, const char* message) {
  try {
    encode(cp);
    ADD_FAILURE() << "no exception for " << cp;
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "EPU");
    EXPECT_EQ(e.message(), message);
  }
}

TEST(Utf8Test, EncoderBoundaries) {
  EXPECT_EQ(encode(0x7F), "\x7F");
  EXPECT_EQ(encode(0x80), "\xC2\x80");
  EXPECT_EQ(encode(0x7FF), "\xDF\xBF");
  EXPECT_EQ(encode(0x800), "\xE0\xA0\x80");
  EXPECT_EQ(encode(0xD800), "\xED\xA0\x80");
  EXPECT_EQ(encode(0xFFFF), "\xEF\xBF\xBF");
  EXPECT_EQ(encode(0x10000), "\xF0\x90\x80\x80");
  EXPECT_EQ(encode(0x110000), "\xF4\x90\x80\x80");
  EXPECT_EQ(encode(0x23FFFF), "\xF8\xBF\xBF\xBF");
  expectRaise(0x240000, "pUnicode; convertUnicodeCharaToUTF8(); codePoint>$23FFFF (4 bytes)");
  expectRaise(-1, "pUnicode; convertUnicodeCharaToUTF8(); codePoint<0 (nonsensical)");
}

DecodedChara decode(std::string_view bytes, int32_t offset = 0) {
  return convertUTF8charaToUnicode(bytes.data(), offset, static_cast<int32_t>(bytes.size()), -7);
}

void expectDecoded(std::string_view bytes, int32_t cp, int32_t size) {
  DecodedChara d = decode(bytes);
  EXPECT_EQ(d.codePoint, cp) << testing::PrintToString(std::string(bytes));
  EXPECT_EQ(d.size, size) << testing::PrintToString(std::string(bytes));
}

TEST(Utf8Test, DecoderSizesAndReplacements) {
  expectDecoded("\xC3\xA9", 0xE9, 2);
  expectDecoded("\xC3" "A", -7, 1);
  expectDecoded("\xE2\x82", -7, 2);           // truncated: the rest is consumed
  expectDecoded("\xE0\x80\x80", -7, 3);       // overlong
  expectDecoded("\xF4\x90\x80\x80", -7, 4);   // above U+10FFFF
  expectDecoded("\xF0\x8F\xBF\xBF", -7, 4);   // overlong four-byte form
  expectDecoded(std::string_view("\xC0\x80", 2), 0, 2);
  expectDecoded("\xC0\x81", -7, 1);
  expectDecoded("\xC1\xBF", -7, 1);
  expectDecoded("\x80", -7, 1);
  expectDecoded("\xF9\x80\x80\x80", -7, 1);
  expectDecoded("\xED\xA0\x80", 0xD800, 3);   // surrogates pass as decoded
  expectDecoded("\xE2\x82" "A", -7, 2);       // bad second continuation
  expectDecoded("\xF0\x90\x80" "A", -7, 3);   // bad third continuation
  expectDecoded("\xF4\x8F\xBF\xBF", 0x10FFFF, 4);
  EXPECT_EQ(decode("ab\xC3\xA9", 2).codePoint, 0xE9);
}

TEST(Utf8Test, DecoderWithoutLengthReadsToTheNul) {
  const char text[] = "\xE2\x82";  // NUL-terminated
  DecodedChara d = convertUTF8charaToUnicode(text, 0, 0, -1);
  EXPECT_EQ(d.codePoint, -1);
  EXPECT_EQ(d.size, 2);
  EXPECT_EQ(convertUTF8charaToUnicode("\xE2\x82\xAC", 0, 0, -1).codePoint, 0x20AC);
}

TEST(Utf8Test, DecoderRefusesOffsetAtLength) {
  try {
    convertUTF8charaToUnicode("ab", 2, 2, -1);
    FAIL();
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "EPU");
    EXPECT_EQ(e.message(), "pUnicode; convertUTF8charaToUnicode(); offset>=length");
  }
}

TEST(Utf8Test, EveryCodePointRoundTrips) {
  for (int32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    char buffer[4];
    int32_t n = convertUnicodeCharaToUTF8(cp, buffer);
    DecodedChara d = convertUTF8charaToUnicode(buffer, 0, n, -1);
    if (d.codePoint != cp || d.size != n) FAIL() << "code point " << cp;
  }
}

// Runs python3 with the arguments and returns its standard output; sets ok
// to false when it could not run.
std::string runPython(const std::vector<std::string>& args, bool& ok) {
  int pipeFds[2];
  ok = false;
  if (pipe(pipeFds) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<char*> argv;
  std::vector<std::string> all = {"python3"};
  all.insert(all.end(), args.begin(), args.end());
  for (auto& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, "python3", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  std::string out;
  if (rc == 0) {
    char buffer[65536];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    int status = 0;
    waitpid(pid, &status, 0);
    ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  close(pipeFds[0]);
  return out;
}

// For every offset: the code point and size when Python accepts the
// sequence the lead byte announces, else -1.
constexpr char kOracle[] = R"(
import sys
data = open(sys.argv[1], 'rb').read()
out = []
for i, b in enumerate(data):
    n = 1 if b < 0x80 else 2 if 0xC2 <= b <= 0xDF else 3 if 0xE0 <= b <= 0xEF else 4 if 0xF0 <= b <= 0xF4 else 0
    res = '%d -1 0' % i
    if n and i + n <= len(data):
        try:
            s = data[i:i + n].decode('utf-8', 'surrogatepass')
            if len(s) == 1:
                res = '%d %d %d' % (i, ord(s), n)
        except UnicodeDecodeError:
            pass
    out.append(res)
print('\n'.join(out))
)";

TEST(Utf8Test, StressFileAgreesWithPython) {
  std::string path = std::string(BRINDLEWORK_TESTDATA_DIR) + "/unicode/UTF-8-test.txt";
  std::ifstream in(path, std::ios::binary);
  if (!in) GTEST_SKIP() << "test corpus not found: " << path;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  bool ok;
  std::string oracle = runPython({"-c", kOracle, path}, ok);
  ASSERT_TRUE(ok) << "python3 is needed for this test";
  std::map<int32_t, std::pair<int32_t, int32_t>> expected;
  std::istringstream lines(oracle);
  int32_t offset, cp, size;
  while (lines >> offset >> cp >> size) expected[offset] = {cp, size};
  ASSERT_EQ(expected.size(), data.size());

  const int32_t length = static_cast<int32_t>(data.size());
  int32_t pos = 0;
  int checkedValid = 0;
  while (pos < length) {
    DecodedChara d = convertUTF8charaToUnicode(data.data(), pos, length, -2);
    ASSERT_GE(d.size, 1);
    auto [wantCp, wantSize] = expected[pos];
    if (data.compare(static_cast<size_t>(pos), 2, "\xC0\x80") == 0) {
      EXPECT_EQ(d.codePoint, 0);  // the one designed exception
      EXPECT_EQ(d.size, 2);
    } else if (wantCp >= 0) {
      EXPECT_EQ(d.codePoint, wantCp) << "at " << pos;
      EXPECT_EQ(d.size, wantSize) << "at " << pos;
      ++checkedValid;
    } else {
      EXPECT_EQ(d.codePoint, -2) << "at " << pos;
    }
    pos += d.size;
  }
  EXPECT_EQ(pos, length);
  EXPECT_GT(checkedValid, 20000);
}

}  // namespace
}  // namespace bw
