// tools/soupcheck/main.cpp - the soupcheck command: checks a journaled file
// ("database.soup" and the like) without opening it for writing.
//
//   soupcheck [--closed | --crashed] [--pad BYTE] [--level N] [--data OUT] FILE
//
// Every level is checked unless --level lowers it: 1 the header and the
// journal, 2 also the block file in the data area the next open would show,
// 3 the index array as well, 4 the object soup's structures too (usedBytes
// differences are warnings), 5 (the default) every news record decoded by
// its class as well. The last line is the verdict: "clean", "clean up to
// level N of 5" when lowered, or "NOT clean". Exit 0 when clean, 1 with
// findings, 2 for a usage or read error. --data writes the data area the next
// open would show.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/soupcheck/block_level.h"
#include "tools/soupcheck/news_level.h"
#include "tools/soupcheck/soup_level.h"
#include "tools/soupcheck/soupcheck.h"

int main(int argc, char** argv) {
  using namespace bw::soupcheck;
  Expect expect = Expect::kOpen;
  uint8_t pad = 0;
  std::string dataOut;
  std::string path;
  constexpr long kAllLevels = 5;
  long level = kAllLevels;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--closed") {
      expect = Expect::kClosed;
    } else if (a == "--crashed") {
      expect = Expect::kCrashed;
    } else if (a == "--pad" && i + 1 < argc) {
      pad = static_cast<uint8_t>(std::strtol(argv[++i], nullptr, 0));
    } else if (a == "--level" && i + 1 < argc) {
      char* end = nullptr;
      level = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || level < 1 || level > kAllLevels) {
        path.clear();
        break;
      }
    } else if (a == "--data" && i + 1 < argc) {
      dataOut = argv[++i];
    } else if (path.empty() && !a.starts_with("--")) {
      path = a;
    } else {
      path.clear();
      break;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "usage: soupcheck [--closed | --crashed] [--pad BYTE] [--level N] [--data OUT] FILE\n");
    return 2;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "soupcheck: cannot read %s\n", path.c_str());
    return 2;
  }
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Report report = check(image, expect, pad);
  std::fputs(describe(report).c_str(), stdout);
  bool clean = report.clean();
  if (clean && level >= 2) {
    std::vector<std::string> findings =
        level >= 3 ? checkIndexLevel(report.effectiveData) : checkBlockLevel(report.effectiveData).findings;
    for (const std::string& f : findings) std::printf("FINDING: %s\n", f.c_str());
    clean = findings.empty();
  }
  if (clean && level >= 4) {
    SoupLevelReport soup = checkSoupLevel(report.effectiveData);
    for (const std::string& f : soup.findings) std::printf("FINDING: %s\n", f.c_str());
    for (const std::string& w : soup.warnings) std::printf("WARNING: %s\n", w.c_str());
    clean = soup.clean();
  }
  if (clean && level >= 5) {
    NewsLevelReport news = checkNewsLevel(report.effectiveData);
    for (const std::string& f : news.findings) std::printf("FINDING: %s\n", f.c_str());
    clean = news.clean();
  }
  if (!dataOut.empty()) {
    std::ofstream out(dataOut, std::ios::binary);
    out.write(reinterpret_cast<const char*>(report.effectiveData.data()),
              static_cast<std::streamsize>(report.effectiveData.size()));
  }
  if (!clean) {
    std::puts("NOT clean");
  } else if (level < kAllLevels) {
    std::printf("clean up to level %ld of %ld\n", level, kAllLevels);
  } else {
    std::puts("clean");
  }
  return clean ? 0 : 1;
}
