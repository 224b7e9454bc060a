// social/sha1_test.cpp - SHA-1 and HMAC-SHA1 against the NIST and RFC
// vectors, split updates against one-shot, and python3's hashlib, hmac and
// base64 as a differential oracle for random cases.
#include "social/sha1.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/spawn.h"
#include "core/base64.h"

namespace bw {
namespace {

std::string hex(const uint8_t* p, size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < n; ++i) (out += digits[p[i] >> 4]) += digits[p[i] & 15];
  return out;
}

std::string fromHex(const std::string& h) {
  std::string out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

std::string sha1Hex(const std::string& message, const std::vector<size_t>& cuts = {}) {
  sha1Context c;
  sha1Init(c);
  size_t at = 0;
  for (size_t cut : cuts) {
    sha1Update(c, message.data() + at, static_cast<int32_t>(cut - at));
    at = cut;
  }
  sha1Update(c, message.data() + at, static_cast<int32_t>(message.size() - at));
  uint8_t d[20];
  sha1Final(c, d);
  return hex(d, 20);
}

std::string hmacHex(const std::string& key, const std::string& text) {
  uint8_t d[20];
  hmacSha1(key.data(), static_cast<int32_t>(key.size()), text.data(), static_cast<int32_t>(text.size()), d);
  return hex(d, 20);
}

// Crypto++ test-vector text: "Field: value" lines; a "Test:" line runs one
// case with the fields as they stand. Values are "text", 0xHEX, bare hex
// or "rN value" (value repeated N times).
struct Vector {
  std::string message, key, expected;
  bool truncated = false;
};

std::string vectorValue(std::string v) {
  int repeat = 1;
  if (v.size() > 1 && v[0] == 'r' && std::isdigit(static_cast<unsigned char>(v[1]))) {
    size_t blank = v.find(' ');
    repeat = std::stoi(v.substr(1, blank - 1));
    v = v.substr(blank + 1);
  }
  std::string one = v.front() == '"' ? v.substr(1, v.size() - 2) : fromHex(v.rfind("0x", 0) == 0 ? v.substr(2) : v);
  std::string out;
  for (int i = 0; i < repeat; ++i) out += one;
  return out;
}

std::vector<Vector> readVectors(const std::string& file, const std::string& name) {
  std::ifstream in(std::string(BRINDLEWORK_TESTDATA_DIR) + "/crypto/" + file);
  std::vector<Vector> cases;
  Vector current;
  std::string line, block;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t colon = line.find(": ");
    if (line.empty() || line[0] == '#' || colon == std::string::npos) continue;
    std::string field = line.substr(0, colon), value = line.substr(colon + 2);
    if (field == "Name") block = value;
    if (block != name) continue;
    if (field == "Message") current.message = vectorValue(value);
    if (field == "Key") current.key = vectorValue(value);
    if (field == "Digest" || field == "MAC") current.expected = vectorValue(value);
    if (field == "Test") {
      current.truncated = value == "VerifyTruncated";
      cases.push_back(current);
    }
  }
  return cases;
}

bool haveTestData() { return std::ifstream(std::string(BRINDLEWORK_TESTDATA_DIR) + "/crypto/sha.txt").good(); }

TEST(Sha1, NistAndFipsVectorsInOneShotAndRandomChunks) {
  if (!haveTestData()) GTEST_SKIP() << "crypto vectors not found under " << BRINDLEWORK_TESTDATA_DIR;
  std::vector<Vector> nist = readVectors("sha1_160_fips_180.txt", "SHA-1");
  std::vector<Vector> fips = readVectors("sha.txt", "SHA-1");
  ASSERT_EQ(nist.size(), 129u);
  ASSERT_EQ(fips.size(), 3u);
  nist.insert(nist.end(), fips.begin(), fips.end());
  std::mt19937 random(180);
  for (const Vector& v : nist) {
    std::vector<size_t> cuts;
    for (size_t at = 0; at < v.message.size(); at += random() % 700) cuts.push_back(at);
    SCOPED_TRACE(v.message.size());
    EXPECT_EQ(sha1Hex(v.message), hex(reinterpret_cast<const uint8_t*>(v.expected.data()), 20));
    EXPECT_EQ(sha1Hex(v.message, cuts), sha1Hex(v.message));
  }
}

TEST(Sha1, PaddingBoundariesAndTheFox) {
  struct {
    std::string message, digest;
  } cases[] = {
      {"The quick brown fox jumps over the lazy dog", "2fd4e1c67a2d28fced849ee1bb76e7391b93eb12"},
      {std::string(55, 'a'), "c1c8bbdc22796e28c0e15163d20899b65621d65a"},  // pads into one block
      {std::string(56, 'a'), "c2db330f6083854c99d4b5bfb6e8f29f201be699"},  // the count needs a second
      {std::string(63, 'a'), "03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
      {std::string(64, 'a'), "0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {std::string(65, 'a'), "11655326c708d70319be2610e8a57d9a5b959d3b"},
  };
  for (const auto& c : cases) EXPECT_EQ(sha1Hex(c.message), c.digest) << c.message.size() << " bytes";
}

TEST(Sha1, EverySplitPointEqualsOneShot) {
  std::string message;
  for (int i = 0; i < 200; ++i) message += static_cast<char>(i * 37 + 11);
  for (size_t n = 0; n <= message.size(); ++n) {
    std::string m = message.substr(0, n);
    std::string whole = sha1Hex(m);
    for (size_t cut = 0; cut <= n; ++cut) ASSERT_EQ(sha1Hex(m, {cut, cut}), whole) << n << " cut at " << cut;
  }
}

TEST(Sha1, FinalWipesTheContextAndTransformLeavesTheBlock) {
  sha1Context c;
  sha1Init(c);
  sha1Update(c, "abc", 3);
  uint8_t digest[20];
  sha1Final(c, digest);
  sha1Context zero;
  std::memset(&zero, 0, sizeof zero);
  EXPECT_EQ(std::memcmp(&c, &zero, sizeof c), 0);

  uint8_t block[64], copy[64];
  for (int i = 0; i < 64; ++i) block[i] = copy[i] = static_cast<uint8_t>(i * 7);
  uint32_t state[5] = {1, 2, 3, 4, 5};
  sha1Transform(state, block);
  EXPECT_EQ(std::memcmp(block, copy, 64), 0);
}

TEST(HmacSha1, RfcVectorsAndKeyLengths) {
  if (haveTestData()) {
    std::vector<Vector> rfc = readVectors("hmac.txt", "HMAC(SHA-1)");
    ASSERT_EQ(rfc.size(), 8u);
    for (const Vector& v : rfc) {
      std::string got = fromHex(hmacHex(v.key, v.message));
      EXPECT_EQ(v.truncated ? got.substr(0, v.expected.size()) : got, v.expected) << v.message;
    }
  }
  EXPECT_EQ(hmacHex("", "fox"), "236e93a1b060e9b8a39527b670c121fa155a581a");
  // A 64-byte key is used as it stands; from 65 bytes on it is hashed first.
  std::string key64(64, 'k'), key65(65, 'k');
  auto hashed = [](const std::string& k) { return fromHex(sha1Hex(k)); };
  EXPECT_NE(hmacHex(key64, "t"), hmacHex(hashed(key64), "t"));
  EXPECT_EQ(hmacHex(key65, "t"), hmacHex(hashed(key65), "t"));
}

// python3's hashlib, hmac and base64 write random cases (message, key,
// split points) and their results; ours must agree on every one.
TEST(Sha1, AgreesWithPythonOnRandomCases) {
  const char* script = R"(
import base64, hashlib, hmac, random
r = random.Random(6101)
for _ in range(2000):
    m = bytes(r.randrange(256) for _ in range(r.randrange(1001)))
    k = bytes(r.randrange(256) for _ in range(r.randrange(201)))
    cuts = sorted(r.randrange(len(m) + 1) for _ in range(r.randrange(4)))
    print(m.hex() or '-', k.hex() or '-', ','.join(map(str, cuts)) or '-', hashlib.sha1(m).hexdigest(),
          hmac.new(k, m, hashlib.sha1).hexdigest(), base64.b64encode(m).decode() or '-')
)";
  SpawnOptions options;
  options.out = SpawnStdio::kPipe;
  SpawnResult run = spawnProcess({"python3", "-c", script}, options);
  if (run.error != 0) GTEST_SKIP() << "python3 is not available";
  std::string out;
  char buffer[65536];
  for (ssize_t n; (n = ::read(run.child.stdoutFd(), buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  ASSERT_TRUE(run.child.wait().exited);
  std::istringstream lines(out);
  std::string m, k, cuts, digest, mac, text;
  int count = 0;
  auto field = [](const std::string& s) { return s == "-" ? std::string() : s; };
  while (lines >> m >> k >> cuts >> digest >> mac >> text) {
    std::string message = fromHex(field(m)), key = fromHex(field(k));
    std::vector<size_t> at;
    for (std::istringstream c(field(cuts)); std::getline(c, cuts, ',');) at.push_back(std::stoul(cuts));
    SCOPED_TRACE(count);
    ASSERT_EQ(sha1Hex(message, at), digest);
    ASSERT_EQ(hmacHex(key, message), mac);
    ASSERT_EQ(base64encode(message.data(), static_cast<int32_t>(message.size())).str(), field(text));
    ++count;
  }
  EXPECT_EQ(count, 2000);
}

}  // namespace
}  // namespace bw
