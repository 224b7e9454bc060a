// bench/bench_ratio.h - a console reporter that, after the usual table,
// prints our throughput against a peer's for named pairs of runs, both
// measured in the same run, with the target ratio beside it.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bw::bench {

struct RatioLine {
  std::string what;     // printed first
  std::string ours;     // run names as Google Benchmark prints them
  std::string theirs;   // empty: target is an absolute MiB/s
  double target;        // the ratio ours/theirs we aim for (0: none)
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::vector<RatioLine> lines) : lines_(std::move(lines)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto rate = r.counters.find("bytes_per_second");
      if (rate != r.counters.end()) mibPerSecond_[r.benchmark_name()] = rate->second.value / (1 << 20);
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-44s %10s %10s %7s %7s\n", "MiB/s", "ours", "peer", "ratio", "target");
    for (const RatioLine& l : lines_) {
      if (l.theirs.empty() && mibPerSecond_.count(l.ours)) {
        // An absolute target in MiB/s.
        std::printf("%-44s %10.0f %10s %7s %7.0f %s\n", l.what.c_str(), mibPerSecond_[l.ours], "", "", l.target,
                    mibPerSecond_[l.ours] >= l.target ? "met" : "not met");
        continue;
      }
      if (!mibPerSecond_.count(l.ours) || !mibPerSecond_.count(l.theirs)) continue;
      const double ours = mibPerSecond_[l.ours], theirs = mibPerSecond_[l.theirs];
      std::printf("%-44s %10.0f %10.0f %7.2f", l.what.c_str(), ours, theirs, ours / theirs);
      if (l.target > 0) std::printf(" %7.2f %s", l.target, ours / theirs >= l.target ? "met" : "not met");
      std::printf("\n");
    }
  }

 private:
  std::vector<RatioLine> lines_;
  std::map<std::string, double> mibPerSecond_;
};

// Runs the benchmarks given on the command line with the reporter.
inline int runWithRatios(int argc, char** argv, std::vector<RatioLine> lines) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter(std::move(lines));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}

}  // namespace bw::bench
