// bench/bench_testdata.h - reading the corpus files of the test data folder
// that the reader benchmarks measure on.
#pragma once

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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

// Every distinct "<title>" text of the corpus feeds, up to 200 bytes and
// without markup, entities or line feeds; 100 made-up ones without corpora.
inline std::vector<std::string> corpusTitles() {
  std::set<std::string> titles;
  const std::filesystem::path root = std::string(BRINDLEWORK_TESTDATA_DIR) + "/feeds";
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->path().extension() != ".xml") continue;
    const std::string text = readWholeFile(it->path());
    for (size_t at = text.find("<title>"); at != std::string::npos; at = text.find("<title>", at)) {
      at += 7;
      const size_t end = text.find("</title>", at);
      if (end == std::string::npos || end - at > 200) continue;
      std::string title = text.substr(at, end - at);
      if (title.find_first_of("<&\n") == std::string::npos && !title.empty()) titles.insert(title);
    }
  }
  if (titles.empty()) {
    for (int i = 0; i < 100; i++) titles.insert("News item title number " + std::to_string(i));
  }
  return {titles.begin(), titles.end()};
}

}  // namespace bw::bench
