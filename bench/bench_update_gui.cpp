// bench/bench_update_gui.cpp - "Update all" through the update window
// (updateFeeds on the offscreen platform) against the shell road and
// newsboat, and two requests in flight against one at a time; each pair
// interleaved in one run, the ratios as counters.
//
//   unchanged: N feeds (BRINDLEWORK_BENCH_FEEDS, 1,000 by default) served by
//     nginx, first fetched once by each program; then newsboat's unchanged
//     reload (a child; BRINDLEWORK_BENCH_NEWSBOAT=0 leaves it out), and R
//     rounds (BRINDLEWORK_BENCH_ROUNDS, 3 by default) of our shell road then
//     our GUI road (each a whole run of the program in this process, the
//     update timed inside it, wall and process CPU time), medians reported,
//     and the median of each round's own ratio.
//     Targets: gui / shell <= 1.2 (the feed list refreshed after each feed),
//     gui run / newsboat <= 1/10.
//   latency: 200 feeds on four hosts (127.0.0.1, .2, .3 and localhost) that
//     answer after 100 ms, against the same feeds on one host, which the
//     update fetches one at a time. Target: one host / four hosts >= 1.8.
// Skips what it cannot run (no newsboat or nginx; 127.0.0.2 not usable).
// Scratch folders go when the measurement ends.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/main_windows.h"
#include "app/program_run.h"
#include "app/shell_update.h"
#include "app/startup.h"
#include "app/update_feeds.h"
#include "app/update_server_test_support.h"
#include "bench/bench_update_support.h"
#include "gui/host/gui_app_client.h"
#include "platform/app_host.h"
#include "platform/assigns.h"
#include "web/http_test_support.h"

namespace {

using namespace bw;
using namespace bw::bench;
using Clock = std::chrono::steady_clock;

int feedCount() {
  const char* text = std::getenv("BRINDLEWORK_BENCH_FEEDS");
  const int n = text ? std::atoi(text) : 0;
  return n > 0 ? n : 1000;
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

int envCount(const char* name, int otherwise) {
  const char* text = std::getenv(name);
  return text ? std::atoi(text) : otherwise;
}

// The process's CPU seconds so far (user and system, every thread).
double cpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Wall and CPU seconds of one timed stretch.
struct Spent {
  double wall = 0, cpu = 0;
};
struct Timer {
  Clock::time_point start = Clock::now();
  double cpu = cpuSeconds();
  Spent spent() const { return {since(start), cpuSeconds() - cpu}; }
};

// The GUI's news interface without a user: polls find nothing waiting.
class NoUserUi : public NewsUi {
 public:
  explicit NoUserUi(NewsGuiWindows& windows) : windows_(windows) {}
  int32_t gui_requester(Text, Text, Text, const RequesterParameters&, int32_t, int32_t) override { return 1; }
  void report(Text, Text, const RequesterParameters&) override { ++reports; }
  ChangedGuiItem checkForChangedGuiItem() override { return windows_.checkForChangedGuiItem(); }
  ChangedGuiItem waitForChangedGuiItem() override { return windows_.waitForChangedGuiItem(); }
  int reports = 0;

 private:
  NewsGuiWindows& windows_;
};

// "Update all" as the main window runs it: the main window built with every
// loaded feed in its feed list, all of them in the work list, the update
// window on the screen.
// Answers the seconds of updateFeeds alone.
Spent guiUpdateAll(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
  Spent seconds;
  newAppHost("Brindlework");
  appHost()->build();
  {
    NewsGuiWindows windows;
    NoUserUi ui(windows);
    setNewsUi(&ui);
    GuiGadgets g;
    g.charset = newSystemEncoding();
    g.mainWindow = cGuiHost::CreateGuiWindow(kMainWindowBanner);
    buildMainWindow(g, db, root);
    g.update = buildUpdateWindow(windows);
    g.mainWindow->open();
    cMegaList_class work(false, nullptr, false);
    for (newsFeed* f = root.firstLoadedFeed; f; f = f->nextLoadedFeed)
      if (!f->disabled) work.infoPastEnd()->beforeInsert(work.makeFloating(f));
    g.mainWindow->setBusy(true);
    const Timer timer;
    updateFeeds(work, *g.feedList, *g.tagChooser, g.mainWindow, g.update, g.undoSeenButton, db, g.charset.get(), root);
    seconds = timer.spent();
    g.mainWindow->setBusy(false);
    endUpdateWindow(g.update, windows);
    endGuiWindow(g.mainWindow);
    setNewsUi(nullptr);
  }
  unbuildAppHost();
  return seconds;
}

Spent shellUpdateAll(cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
  const Timer timer;
  shell_updateAll(db, root);
  return timer.spent();
}

// One whole run of the program on progdir ("UpdateAll", so that start-up
// makes no window) with update in place of its mode; answers the seconds
// update reports and the run's.
struct RunTimes {
  double update = 0, run = 0, updateCpu = 0;
  int status = -1;
};
RunTimes runProgram(const fs::path& progdir,
                    const std::function<Spent(cJournaledIndexedObjectSoupDatabase&, newsRoot&)>& update) {
  RunTimes t;
  ::setenv("BRINDLEWORK_PROGDIR", progdir.c_str(), 1);
  dos::resetAssigns();  // PROGDIR: follows the variable
  setProgramModeForTesting(
      [&](cJournaledIndexedObjectSoupDatabase& db, newsRoot& root) {
        const Spent spent = update(db, root);
        t.update = spent.wall;
        t.updateCpu = spent.cpu;
      });
  std::string name = "brindlework", all = "UpdateAll";
  char* argv[] = {name.data(), all.data(), nullptr};
  // The program's console lines go to /dev/null meanwhile.
  std::fflush(stdout);
  const int console = ::dup(1);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ::dup2(null, 1);
  const Clock::time_point start = Clock::now();
  t.status = runBrindlework(2, argv);
  t.run = since(start);
  std::fflush(stdout);
  ::dup2(console, 1);
  ::close(console);
  ::close(null);
  setProgramModeForTesting({});
  ::unsetenv("BRINDLEWORK_PROGDIR");
  dos::resetAssigns();
  return t;
}

std::string makeScratch(const char* name) {
  std::string pattern = (fs::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
  return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

struct Unchanged {
  std::string skipped;
  int feeds = 0;
  RunTimes shell, gui;  // medians over the rounds
  bool withNewsboat = true;
  ChildRun newsboat;
  std::vector<double> shellRounds, guiRounds;  // the update's wall seconds, round by round
  // The medians of each round's gui / shell, wall and CPU: a round's pair
  // runs back to back, so it shares the machine's load.
  double pairedRatio = 0, pairedCpuRatio = 0;
};

// The medians of each time over the rounds, and the worst status.
RunTimes medianOf(const std::vector<RunTimes>& runs) {
  RunTimes m;
  std::vector<double> update, run, cpu;
  m.status = 0;
  for (const RunTimes& r : runs) {
    update.push_back(r.update);
    run.push_back(r.run);
    cpu.push_back(r.updateCpu);
    if (r.status != 0) m.status = r.status;
  }
  m.update = median(update);
  m.run = median(run);
  m.updateCpu = median(cpu);
  return m;
}

Unchanged measureUnchanged() {
  Unchanged m;
  m.feeds = feedCount();
  if (!fs::exists(kNewsboat)) return m.skipped = "newsboat is not installed (scripts/deps.sh bench)", m;
  if (!fs::exists(kNginx)) return m.skipped = "nginx is not installed (scripts/deps.sh bench)", m;
  const std::string scratch = makeScratch("bw-bench-update-gui");
  if (scratch.empty()) return m.skipped = "no scratch folder", m;
  const fs::path dir = scratch;
  {
    uint64_t bytes = 0;
    const std::vector<std::string> paths = writeFeeds(dir, m.feeds, &bytes);
    Nginx nginx(dir);
    const std::vector<std::string> urls = listUrls(dir, nginx, paths);
    const NewsboatReload newsboat(dir);
    if (!nginx.ready()) {
      m.skipped = "nginx did not start";
    } else if (!seedDatabase(dir / "progdir", urls)) {
      m.skipped = "the database could not be made";
    } else {
      m.withNewsboat = envCount("BRINDLEWORK_BENCH_NEWSBOAT", 1) != 0;
      if (m.withNewsboat) newsboat.run();
      runProgram(dir / "progdir", shellUpdateAll);  // the first fetch fills the store
      if (m.withNewsboat) m.newsboat = newsboat.run();
      std::vector<RunTimes> shell, gui;
      for (int round = std::max(envCount("BRINDLEWORK_BENCH_ROUNDS", 3), 1); round > 0; --round) {
        shell.push_back(runProgram(dir / "progdir", shellUpdateAll));
        gui.push_back(runProgram(dir / "progdir", guiUpdateAll));
        m.shellRounds.push_back(shell.back().update);
        m.guiRounds.push_back(gui.back().update);
      }
      m.shell = medianOf(shell);
      m.gui = medianOf(gui);
      std::vector<double> ratios, cpuRatios;
      for (size_t i = 0; i < gui.size(); ++i) {
        ratios.push_back(gui[i].update / shell[i].update);
        cpuRatios.push_back(gui[i].updateCpu / shell[i].updateCpu);
      }
      m.pairedRatio = median(ratios);
      m.pairedCpuRatio = median(cpuRatios);
    }
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return m;
}

constexpr int kLatencyFeeds = 200;
constexpr int kLatencyMs = 100;

struct Latency {
  std::string skipped;
  RunTimes fourHosts, oneHost;
};

Latency measureLatency() {
  Latency m;
  testing_app::ConnectionLog log;
  testing_app::FeedHostServer servers[] = {{log, "127.0.0.1", "127.0.0.1"},
                                           {log, "127.0.0.2", "127.0.0.2"},
                                           {log, "127.0.0.3", "127.0.0.3"},
                                           {log, "127.0.0.1", "localhost"}};
  for (auto& s : servers)
    if (!s.listening()) return m.skipped = s.host() + " cannot be listened on here", m;
  const std::string scratch = makeScratch("bw-bench-update-latency");
  if (scratch.empty()) return m.skipped = "no scratch folder", m;
  const fs::path dir = scratch;
  std::vector<std::string> spread, single;
  for (int f = 0; f < kLatencyFeeds; ++f) {
    const std::string path = "/" + std::to_string(f) + ".rss";
    for (auto& s : servers) s.put(path, testing_app::ServedAnswer{feedDocument(f, false), kLatencyMs});
    spread.push_back(servers[f % 4].url(path));
    single.push_back(servers[0].url(path));
  }
  if (!seedDatabase(dir / "four", spread) || !seedDatabase(dir / "one", single)) {
    m.skipped = "the databases could not be made";
  } else {
    m.oneHost = runProgram(dir / "one", guiUpdateAll);
    m.fourHosts = runProgram(dir / "four", guiUpdateAll);
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return m;
}

bool unchangedRan = false, latencyRan = false;
const Unchanged& unchanged() {
  static const Unchanged m = measureUnchanged();
  unchangedRan = true;
  return m;
}
const Latency& latency() {
  static const Latency m = measureLatency();
  latencyRan = true;
  return m;
}

void BM_UnchangedUpdateAll(benchmark::State& state) {
  const Unchanged& m = unchanged();
  for (auto _ : state) {
    if (!m.skipped.empty()) {
      state.SkipWithError(m.skipped.c_str());
      break;
    }
    state.SetIterationTime(m.gui.update);
  }
  if (!m.skipped.empty()) return;
  if (m.gui.status != 0 || m.shell.status != 0 || (m.withNewsboat && m.newsboat.status != 0))
    state.SkipWithError("a run did not end with 0");
  state.counters["feeds"] = m.feeds;
  state.counters["gui_s"] = m.gui.update;
  state.counters["shell_s"] = m.shell.update;
  state.counters["gui_cpu_s"] = m.gui.updateCpu;
  state.counters["shell_cpu_s"] = m.shell.updateCpu;
  state.counters["gui_run_s"] = m.gui.run;
  state.counters["gui_shell_ratio"] = m.gui.update / m.shell.update;
  state.counters["gui_shell_cpu_ratio"] = m.gui.updateCpu / m.shell.updateCpu;
  state.counters["paired_ratio"] = m.pairedRatio;
  state.counters["paired_cpu_ratio"] = m.pairedCpuRatio;
  if (m.withNewsboat) {
    state.counters["nb_s"] = m.newsboat.wall;
    state.counters["gui_nb_ratio"] = m.gui.run / m.newsboat.wall;
  }
}
BENCHMARK(BM_UnchangedUpdateAll)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_TwoInFlight(benchmark::State& state) {
  const Latency& m = latency();
  for (auto _ : state) {
    if (!m.skipped.empty()) {
      state.SkipWithError(m.skipped.c_str());
      break;
    }
    state.SetIterationTime(m.fourHosts.update);
  }
  if (!m.skipped.empty()) return;
  if (m.fourHosts.status != 0 || m.oneHost.status != 0) state.SkipWithError("a run did not end with 0");
  state.counters["feeds"] = kLatencyFeeds;
  state.counters["four_hosts_s"] = m.fourHosts.update;
  state.counters["one_host_s"] = m.oneHost.update;
  state.counters["speedup"] = m.oneHost.update / m.fourHosts.update;
}
BENCHMARK(BM_TwoInFlight)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void printTargets() {
  const auto verdict = [](bool met) { return met ? "met" : "not met"; };
  std::printf("\n%-52s %9s %9s %7s %7s\n", "update all", "ours s", "peer s", "ratio", "target");
  if (!unchangedRan) {
  } else if (const Unchanged& u = unchanged(); u.skipped.empty()) {
    const double r1 = u.gui.update / u.shell.update, r1cpu = u.gui.updateCpu / u.shell.updateCpu;
    std::printf("%-52s %9.2f %9.2f %7.3f %7.3f %s\n",
                (std::to_string(u.feeds) + " unchanged feeds, gui / shell (wall)").c_str(), u.gui.update,
                u.shell.update, r1, 1.2, verdict(r1 <= 1.2));
    std::printf("%-52s %9.2f %9.2f %7.3f %7.3f %s\n", "  the same in CPU time", u.gui.updateCpu,
                u.shell.updateCpu, r1cpu, 1.2, verdict(r1cpu <= 1.2));
    std::printf("%-52s %9s %9s %7.3f %7.3f %s\n", "  median of the rounds' own ratios, wall", "", "",
                u.pairedRatio, 1.2, verdict(u.pairedRatio <= 1.2));
    std::printf("%-52s %9s %9s %7.3f %7.3f %s\n", "  median of the rounds' own ratios, CPU", "", "",
                u.pairedCpuRatio, 1.2, verdict(u.pairedCpuRatio <= 1.2));
    std::printf("  rounds (wall s, shell then gui):");
    for (size_t i = 0; i < u.guiRounds.size(); ++i) std::printf(" %.2f/%.2f", u.shellRounds[i], u.guiRounds[i]);
    std::printf("\n");
    if (u.withNewsboat) {
      const double r2 = u.gui.run / u.newsboat.wall;
      std::printf("%-52s %9.2f %9.2f %7.3f %7.3f %s\n", "  whole gui run / newsboat's reload", u.gui.run,
                  u.newsboat.wall, r2, 0.1, verdict(r2 <= 0.1));
    }
  } else {
    std::printf("unchanged feeds skipped: %s\n", u.skipped.c_str());
  }
  if (!latencyRan) {
  } else if (const Latency& l = latency(); l.skipped.empty()) {
    const double r = l.oneHost.update / l.fourHosts.update;
    std::printf("%-52s %9.2f %9.2f %7.3f %7.3f %s\n", "200 feeds after 100 ms, one host / four hosts",
                l.fourHosts.update, l.oneHost.update, r, 1.8, verdict(r >= 1.8));
  } else {
    std::printf("latency skipped: %s\n", l.skipped.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  benchmark::Initialize(&argc, argv);
  const size_t ran = benchmark::RunSpecifiedBenchmarks();
  if (ran > 0) printTargets();
  benchmark::Shutdown();
  return 0;
}
