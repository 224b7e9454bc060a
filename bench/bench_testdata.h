// bench/bench_testdata.h - reading the corpus files of the test data folder
// that the reader benchmarks measure on.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace bw::bench {

// The bytes of a file ("" when it cannot be read).
inline std::string readWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A file of the test data folder, by its path below it.
inline std::string readTestData(const std::string& relative) {
  return readWholeFile(std::string(BRINDLEWORK_TESTDATA_DIR) + "/" + relative);
}

}  // namespace bw::bench
