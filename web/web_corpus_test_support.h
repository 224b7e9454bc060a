// web/web_corpus_test_support.h - test helpers of the corpus tests: reading
// a corpus file, and comparing an outcome list with its pinned file under
// web/testdata/ (BRINDLEWORK_UPDATE_OUTCOMES=1 rewrites the file instead).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace bw {

inline std::optional<std::string> readCorpusFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

// Reports the first differing lines only. folder is relative to the
// source tree. With a stride above 1, actual holds every stride-th line of
// the pinned file (a sample, which is never written).
inline void compareOrUpdateOutcomesIn(const char* folder, const char* name, const std::string& actual,
                                      long long stride = 1) {
  const std::string path = std::string(BRINDLEWORK_SOURCE_DIR) + "/" + folder + "/" + name;
  if (std::getenv("BRINDLEWORK_UPDATE_OUTCOMES") && stride == 1) {
    std::ofstream(path, std::ios::binary) << actual;
    return;
  }
  std::optional<std::string> expected = readCorpusFile(path);
  ASSERT_TRUE(expected) << "missing " << path;
  if (stride > 1) {
    std::istringstream all(*expected);
    std::string sample, line;
    for (long long i = 0; std::getline(all, line); ++i) {
      if (i % stride == 0) sample += line + "\n";
    }
    expected = sample;
  }
  std::istringstream e(*expected), a(actual);
  std::string le, la;
  int differences = 0;
  for (;;) {
    bool moreE = static_cast<bool>(std::getline(e, le));
    bool moreA = static_cast<bool>(std::getline(a, la));
    if (!moreE && !moreA) break;
    if (!moreE) le = "<none>";
    if (!moreA) la = "<none>";
    if (le != la && differences++ < 10) ADD_FAILURE() << "expected: " << le << "\n  actual: " << la;
  }
  EXPECT_EQ(differences, 0) << name << " differs from " << path;
}

inline void compareOrUpdateOutcomes(const char* name, const std::string& actual) {
  compareOrUpdateOutcomesIn("web/testdata", name, actual);
}

}  // namespace bw
