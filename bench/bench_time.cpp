// bench/bench_time.cpp - the ISO 8601 reader against glibc's strptime and
// timegm on a million feed-style time stamps.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/time.h"

namespace {

// Stamps as feeds write them: RFC 3339 with "Z", offsets and fractions,
// each NUL-terminated, side by side in one buffer.
struct Stamps {
  std::string buffer;
  std::vector<std::string_view> views;
};

const std::vector<std::string_view>& stamps() {
  static const Stamps all = [] {
    Stamps v;
    std::vector<size_t> starts;
    unsigned seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    const char* zones[] = {"Z", "+00:00", "-05:00", "+01:00", ".123Z", "+05:30"};
    char buf[64];
    for (int i = 0; i < 1000000; ++i) {
      std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02u%s", 2000 + next() % 30, 1 + next() % 12,
                    1 + next() % 28, next() % 24, next() % 60, next() % 60, zones[next() % 6]);
      starts.push_back(v.buffer.size());
      v.buffer.append(buf);
      v.buffer.push_back('\0');
    }
    for (size_t start : starts) v.views.emplace_back(v.buffer.data() + start);
    return v;
  }();
  return all.views;
}

void BM_ParseDateTimeISO8601(benchmark::State& state) {
  const auto& v = stamps();
  for (auto _ : state) {
    int64_t sum = 0;
    for (std::string_view s : v) sum += bw::pTime::parseDateTimeISO8601(s, -2147483647, 0, 2, 0);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(v.size()));
}
BENCHMARK(BM_ParseDateTimeISO8601)->Unit(benchmark::kMillisecond);

// The same work with the C library: the date and time by strptime, timegm,
// and the zone read by hand.
void BM_StrptimeTimegm(benchmark::State& state) {
  const auto& v = stamps();
  for (auto _ : state) {
    int64_t sum = 0;
    for (std::string_view s : v) {
      tm t{};
      const char* rest = ::strptime(s.data(), "%Y-%m-%dT%H:%M:%S", &t);
      if (!rest) continue;
      int64_t secs = ::timegm(&t);
      if (*rest == '.')
        while (*++rest >= '0' && *rest <= '9') {
        }
      if (*rest == '+' || *rest == '-') {
        int h = (rest[1] - '0') * 10 + (rest[2] - '0'), m = (rest[4] - '0') * 10 + (rest[5] - '0');
        secs -= (*rest == '-' ? -1 : 1) * (h * 3600 + m * 60);
      }
      sum += secs;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(v.size()));
}
BENCHMARK(BM_StrptimeTimegm)->Unit(benchmark::kMillisecond);

}  // namespace
