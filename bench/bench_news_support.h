// bench/bench_news_support.h - what the database benchmarks share: a scratch
// folder reachable through an assign, with the modules the database needs,
// file sizes, and a news item stored as a list node (feed id and body).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "database/indexed_object.h"
#include "database/journal_file.h"
#include "platform/assigns.h"
#include "platform/clock.h"

namespace bw::bench_news {

// Removes every folder passed here (and what it holds) at exit.
inline void removeAtExit(const std::string& folder) {
  static std::vector<std::string> folders;
  static bool registered = [] {
    std::atexit([] {
      for (const std::string& f : folders) std::filesystem::remove_all(f);
    });
    return true;
  }();
  (void)registered;
  folders.push_back(folder);
}

// A fresh folder below $BRINDLEWORK_BENCH_DIR (else the temporary folder),
// also reachable as the assign `assign`, removed with all it holds when the
// program ends; starts the timer device and the journal module the first
// time.
inline std::string makeScratchDir(const char* assign) {
  const char* base = std::getenv("BRINDLEWORK_BENCH_DIR");
  std::string pattern = std::string(base ? base : P_tmpdir) + "/bw-bench-" + assign + "-XXXXXX";
  std::string made = ::mkdtemp(pattern.data());
  static bool started = [] {
    initTimerDevice();
    journalModuleInit();
    return true;
  }();
  (void)started;
  dos::assignAdd(assign, made);
  removeAtExit(made);
  return made;
}

inline int64_t fileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

// A news item: feed id and a body blob, as a list node.
class BenchItem : public cIndexedObjectNode {
 public:
  int32_t feed = 0;
  std::vector<uint8_t> body;
  void restore(cRestoreStreamBase& stream, bool doStore) override {
    cIndexedObjectNode::restore(stream, doStore);
    feed = transferValue(stream, doStore, feed);
    auto n = transferValue(stream, doStore, static_cast<int32_t>(body.size()));
    if (!doStore) body.resize(static_cast<size_t>(n));
    if (doStore) {
      stream.write(body.data(), n);
    } else {
      stream.read(body.data(), n);
    }
  }
};

}  // namespace bw::bench_news
