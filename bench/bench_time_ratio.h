// bench/bench_time_ratio.h - a console reporter that, after the usual table,
// prints for named pairs of runs (both measured in the same run) the peer's
// CPU time per pass over ours, with the target beside it; a line without a
// peer holds our time against a bound in milliseconds.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bw::bench {

struct TimeRatioLine {
  std::string what;    // printed first
  std::string ours;    // run names as Google Benchmark prints them
  std::string theirs;  // empty: target is a bound on our milliseconds
  double target;       // the ratio theirs/ours we aim for (0: none)
};

class TimeRatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit TimeRatioReporter(std::vector<TimeRatioLine> lines) : lines_(std::move(lines)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) ms_[r.benchmark_name()] = r.GetAdjustedCPUTime();
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-40s %10s %10s %7s %7s\n", "CPU ms per pass", "ours", "peer", "ratio", "target");
    for (const TimeRatioLine& l : lines_) {
      if (!ms_.count(l.ours)) continue;
      const double ours = ms_[l.ours];
      if (l.theirs.empty()) {
        std::printf("%-40s %10.2f %10s %7s %7s %s\n", l.what.c_str(), ours, "", "",
                    ("<" + std::to_string(static_cast<int>(l.target))).c_str(), ours < l.target ? "met" : "not met");
        continue;
      }
      if (!ms_.count(l.theirs)) continue;
      const double theirs = ms_[l.theirs];
      std::printf("%-40s %10.2f %10.2f %7.2f", l.what.c_str(), ours, theirs, theirs / ours);
      if (l.target > 0) std::printf(" %7.2f %s", l.target, theirs / ours >= l.target ? "met" : "not met");
      std::printf("\n");
    }
  }

 private:
  std::vector<TimeRatioLine> lines_;
  std::map<std::string, double> ms_;
};

}  // namespace bw::bench
