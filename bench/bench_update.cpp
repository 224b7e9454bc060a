// bench/bench_update.cpp - `brindlework UpdateAll` side by side with newsboat
// in one run: N feeds of 50 items (two thirds RSS 2.0 with content:encoded,
// one third Atom; N from BRINDLEWORK_BENCH_FEEDS, 1,000 by default) written
// into a scratch folder and served by nginx on 127.0.0.1 with a private
// configuration. Both programs run as children, interleaved: newsboat's
// first reload, our first update, newsboat's second (nothing changed), our
// second. Wall time, user CPU and peak RSS come from wait4; the ratios
// (ours / newsboat's) are counters and are printed against their targets.
// Skips with a message when newsboat or nginx is missing. The scratch folder
// goes when the measurement ends.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_update_support.h"

namespace {

using namespace bw::bench;

int feedCount() {
  const char* text = std::getenv("BRINDLEWORK_BENCH_FEEDS");
  const int n = text ? std::atoi(text) : 0;
  return n > 0 ? n : 1000;
}

struct Measured {
  std::string skipped;  // why nothing was measured, else empty
  int feeds = 0;
  double corpusMiB = 0;
  double databaseMiB[2] = {0, 0};  // "database.soup" after each of our runs
  ChildRun ours[2], newsboat[2];  // [0] first, [1] unchanged
};

Measured measure() {
  Measured m;
  m.feeds = feedCount();
  if (!fs::exists(kNewsboat)) return m.skipped = "newsboat is not installed (scripts/deps.sh bench)", m;
  if (!fs::exists(kNginx)) return m.skipped = "nginx is not installed (scripts/deps.sh bench)", m;
  std::string pattern = (fs::temp_directory_path() / "bw-bench-update-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return m.skipped = "no scratch folder", m;
  const fs::path dir = pattern;
  {
    uint64_t bytes = 0;
    const std::vector<std::string> paths = writeFeeds(dir, m.feeds, &bytes);
    m.corpusMiB = static_cast<double>(bytes) / (1 << 20);
    Nginx nginx(dir);
    if (!nginx.ready()) {
      m.skipped = "nginx did not start";
    } else {
      std::vector<std::string> urls;
      std::ofstream list(dir / "urls");
      for (const std::string& p : paths) {
        urls.push_back(nginx.url(p));
        list << urls.back() << "\n";
      }
      list.close();
      fs::create_directories(dir / "newsboat");
      std::ofstream(dir / "newsboat/config") << "reload-threads 2\n";
      fs::create_directories(dir / "progdir");
      if (!seedDatabase(dir / "progdir", urls)) {
        m.skipped = "the database could not be made";
      } else {
        const std::string nb = (dir / "newsboat").string();
        const std::vector<std::string> newsboatArgs = {kNewsboat,        "-x", "reload", "-u", (dir / "urls").string(),
                                                       "-c", nb + "/cache.db", "-C", nb + "/config"};
        const std::vector<std::string> newsboatEnv =
            environmentWith({"HOME=" + nb, "XDG_CONFIG_HOME=" + nb, "XDG_DATA_HOME=" + nb});
        const std::vector<std::string> oursArgs = {BRINDLEWORK_EXECUTABLE, "UpdateAll"};
        const std::vector<std::string> oursEnv =
            environmentWith({"BRINDLEWORK_PROGDIR=" + (dir / "progdir").string(), "QT_QPA_PLATFORM=offscreen"});
        for (int round = 0; round < 2; ++round) {
          m.newsboat[round] = runChild(newsboatArgs, newsboatEnv);
          m.ours[round] = runChild(oursArgs, oursEnv);
          std::error_code error;
          const uintmax_t size = fs::file_size(dir / "progdir/database.soup", error);
          m.databaseMiB[round] = error ? 0 : static_cast<double>(size) / (1 << 20);
        }
      }
    }
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return m;
}

const Measured& measured() {
  static const Measured m = measure();
  return m;
}

constexpr double kWallTarget[2] = {1.0 / 8, 1.0 / 20};
constexpr double kRssTarget = 1.0 / 2;

// Arg 0: the first update into an empty store; 1: again, nothing changed.
void BM_Update(benchmark::State& state) {
  const int round = static_cast<int>(state.range(0));
  const Measured& m = measured();
  for (auto _ : state) {
    if (!m.skipped.empty()) {
      state.SkipWithError(m.skipped.c_str());
      break;
    }
    state.SetIterationTime(m.ours[round].wall);
  }
  if (!m.skipped.empty()) return;
  const ChildRun& o = m.ours[round];
  const ChildRun& t = m.newsboat[round];
  if (o.status != 0) state.SkipWithError(("brindlework exit status " + std::to_string(o.status)).c_str());
  if (t.status != 0) state.SkipWithError(("newsboat exit status " + std::to_string(t.status)).c_str());
  state.counters["feeds"] = m.feeds;
  state.counters["corpus_MiB"] = m.corpusMiB;
  state.counters["db_MiB"] = m.databaseMiB[round];
  state.counters["wall_s"] = o.wall;
  state.counters["user_s"] = o.user;
  state.counters["peak_MiB"] = o.peakMiB;
  state.counters["nb_wall_s"] = t.wall;
  state.counters["nb_user_s"] = t.user;
  state.counters["nb_peak_MiB"] = t.peakMiB;
  state.counters["wall_ratio"] = o.wall / t.wall;
  state.counters["rss_ratio"] = o.peakMiB / t.peakMiB;
}
BENCHMARK(BM_Update)->ArgName("unchanged")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// After the table: each ratio (ours / newsboat's) against its target.
void printTargets() {
  const Measured& m = measured();
  if (!m.skipped.empty()) {
    std::printf("\nUpdate benchmark skipped: %s\n", m.skipped.c_str());
    return;
  }
  std::printf("\n%d feeds x %d items (%.1f MiB)  %9s %9s %9s %9s %9s %9s %7s %7s\n", m.feeds, kItems, m.corpusMiB,
              "ours s", "nb s", "ours usr", "nb usr", "ours MiB", "nb MiB", "ratio", "target");
  const char* names[2] = {"first update", "unchanged update"};
  const auto verdict = [](double ratio, double target) { return ratio <= target ? "met" : "not met"; };
  for (int round = 0; round < 2; ++round) {
    const ChildRun& o = m.ours[round];
    const ChildRun& t = m.newsboat[round];
    std::printf("%-34s %9.2f %9.2f %9.2f %9.2f %9.1f %9.1f\n", names[round], o.wall, t.wall, o.user, t.user,
                o.peakMiB, t.peakMiB);
    std::printf("  %-32s %77.3f %7.3f %s\n", "wall time, ours / newsboat", o.wall / t.wall, kWallTarget[round],
                verdict(o.wall / t.wall, kWallTarget[round]));
    std::printf("  %-32s %77.3f %7.3f %s\n", "peak RSS, ours / newsboat", o.peakMiB / t.peakMiB, kRssTarget,
                verdict(o.peakMiB / t.peakMiB, kRssTarget));
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const size_t ran = benchmark::RunSpecifiedBenchmarks();
  if (ran > 0) printTargets();
  benchmark::Shutdown();
  return 0;
}
