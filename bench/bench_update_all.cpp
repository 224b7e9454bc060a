// bench/bench_update_all.cpp - updating many feeds, side by side with
// newsboat in the same run: 300 feeds of 50 distinct items each, served by
// a loopback server of this program. Both sides run as child processes
// (wall time; each child's own peak RSS, bench/child_run.h): ours is tools/feedget adding the feeds
// into a fresh database and then `--update-all` (every item a repeat);
// newsboat runs `-x reload` on a urls file of the same addresses with its
// own cache in a private HOME, first into an empty cache and then again,
// with its defaults and with `reload-threads 1`. Also, in this process: the
// time to add one 1 MB feed through addUpdateFeed, and the window polls
// made per MB; and the peak memory of adding one document of 1, 10 and 60
// MiB with markup inside its descriptions, and of 60 MiB of empty
// elements, beside its size; and the unchanged update of the feeds without
// guid beside the same with guid.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/child_run.h"
#include "news/add_update_feed.h"
#include "news/downloader_choice.h"
#include "news/memory_news_support.h"
#include "news/news_module_list.h"
#include "database/journal_file.h"
#include "platform/clock.h"
#include "platform/dos_env.h"
#include "web/http.h"
#include "web/http_test_support.h"

extern char** environ;

namespace {

constexpr int kFeeds = 300;
constexpr int kItems = 50;

std::string feedDocument(int feed, int items, size_t descriptionBytes, bool withGuid = true) {
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Feed " +
                    std::to_string(feed) + "</title><link>http://bench.example/" + std::to_string(feed) +
                    "/</link><description>bench</description>";
  const std::string filler(descriptionBytes, 'x');
  for (int i = items; i >= 1; --i) {
    const std::string id = std::to_string(feed) + "-" + std::to_string(i);
    doc += "<item><title>Item " + id + "</title><link>http://bench.example/" + id + "</link>" +
           (withGuid ? "<guid>urn:" + id + "</guid>" : "") + "<pubDate>Mon, 0" + std::to_string(1 + i % 9) + " Jun 2026 10:" + std::to_string(10 + i % 50) +
           ":00 GMT</pubDate><description>Text of " + id + " " + filler + "</description></item>";
  }
  return doc + "</channel></rss>";
}

// A feed of about mb MiB whose items (ids "<tag>-N") each carry body as
// their description.
std::string repeatedBodyDocument(int mb, const std::string& tag, const std::string& body) {
  std::string doc = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>" + tag +
                    "</title><link>http://bench.example/" + tag + "/</link><description>bench</description>";
  for (int i = 0; doc.size() < static_cast<size_t>(mb) << 20; ++i) {
    const std::string id = tag + "-" + std::to_string(i);
    doc += "<item><title>Item " + id + "</title><link>http://bench.example/" + id + "</link><guid>urn:" + id +
           "</guid><description>" + body + "</description></item>";
  }
  return doc + "</channel></rss>";
}

// Descriptions holding markup as written inside them: elements with quoted
// attributes, references and CDATA sections.
std::string markupDocument(int mb) {
  const std::string paragraph =
      "<p class=\"lead\" title='say \"hi\"'>Some text with a <a href=\"http://bench.example/x?a=1&amp;b=2\">link"
      "</a>, \"quotes\" &amp; &lt;words&gt;.</p><![CDATA[<div>R&D: a < b && c > d</div>]]>\n";
  std::string body;
  for (int i = 0; i < 40; ++i) body += paragraph;
  return repeatedBodyDocument(mb, "m", body);
}

// Descriptions that are mostly empty elements written as empty-element
// tags, with and without attributes.
std::string emptyElementDocument(int mb) {
  std::string body;
  for (int i = 0; i < 100; ++i) body += "<p/><a name=\"n" + std::to_string(i) + "\" /><br/>Text<span class='x'/>\n";
  return repeatedBodyDocument(mb, "e", body);
}

// Serves "/feed/<n>.xml", the same without guid "/plain/<n>.xml" (and
// "/big.xml", "/markup<mb>.xml", "/empty<mb>.xml") from memory with a few
// threads sharing one listening socket, until destroyed.
class BenchServer {
 public:
  BenchServer() {
    for (int f = 0; f < kFeeds; ++f) {
      bodies_["/feed/" + std::to_string(f) + ".xml"] = feedDocument(f, kItems, 200);
      bodies_["/plain/" + std::to_string(f) + ".xml"] = feedDocument(f, kItems, 200, false);
    }
    bodies_["/big.xml"] = feedDocument(kFeeds, 1000, 900);
    for (int mb : {1, 10, 60}) bodies_["/markup" + std::to_string(mb) + ".xml"] = markupDocument(mb);
    bodies_["/empty60.xml"] = emptyElementDocument(60);
    listener_ = bw::test::listenLoopback(1024, &port_);
    // Several threads wait on the one socket: the ones that lose a
    // connection to another must not block in accept past the end.
    ::fcntl(listener_, F_SETFL, ::fcntl(listener_, F_GETFL) | O_NONBLOCK);
    for (int t = 0; t < 4; ++t) threads_.emplace_back([this] { serve(); });
  }
  ~BenchServer() {
    stop_ = true;
    for (auto& t : threads_) t.join();
    ::close(listener_);
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
  size_t bigSize() const { return bodies_.at("/big.xml").size(); }
  size_t size(const std::string& path) const { return bodies_.at(path).size(); }

 private:
  void serve() {
    while (!stop_) {
      pollfd p = {listener_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      const std::string request = bw::test::LoopbackServer::readRequest(fd);
      const size_t start = request.find(' ') + 1;
      auto it = bodies_.find(request.substr(start, request.find(' ', start) - start));
      const std::string reply =
          it == bodies_.end()
              ? std::string("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
              : "HTTP/1.0 200 OK\r\nContent-Type: application/rss+xml\r\nConnection: close\r\nContent-Length: " +
                    std::to_string(it->second.size()) + "\r\n\r\n" + it->second;
      bw::test::sendAll(fd, reply.data(), reply.size());
      ::close(fd);
    }
  }
  std::map<std::string, std::string> bodies_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

BenchServer& server() {
  static BenchServer s;
  return s;
}

using bw::bench::ChildRun;

// argv with extraEnv before this process's environment, measured alone.
ChildRun runChild(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv) {
  std::vector<std::string> env(extraEnv);
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  return bw::bench::runMeasured(argv, env);
}

std::string scratch() {
  std::string pattern = std::string(P_tmpdir) + "/bw-bench-updateall-XXXXXX";
  return ::mkdtemp(pattern.data());
}

std::string urlsFile(const std::string& dir, const char* folder = "/feed/") {
  const std::string path = dir + "/urls";
  std::ofstream out(path);
  for (int f = 0; f < kFeeds; ++f) out << server().url(folder + std::to_string(f) + ".xml") << "\n";
  return path;
}

void report(benchmark::State& state, const ChildRun& r) {
  state.SetIterationTime(r.wall);
  state.counters["wall_s"] = r.wall;
  state.counters["peak_MiB"] = r.peakMiB;
  if (r.status != 0 && r.status != 5) state.SkipWithError(("exit status " + std::to_string(r.status)).c_str());
}

// Ours: the first run adds every feed into a fresh database, the second
// updates them all (arg 1).
void BM_UpdateAll_Ours(benchmark::State& state) {
  const bool again = state.range(0) == 1;
  for (auto _ : state) {
    const std::string dir = scratch();
    const std::string db = dir + "/bench.soup";
    ChildRun first = runChild({BRINDLEWORK_FEEDGET, "--urls", urlsFile(dir), "--db", db}, {});
    ChildRun r = again ? runChild({BRINDLEWORK_FEEDGET, "--update-all", "--db", db}, {}) : first;
    report(state, r);
    std::filesystem::remove_all(dir);
  }
}
BENCHMARK(BM_UpdateAll_Ours)->ArgName("again")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The unchanged update of the feeds with guid beside the same feeds without
// (matched by link and title): the two alternate for five rounds, and
// each keeps its least CPU time.
void BM_UpdateAll_UnchangedWithAndWithoutGuid(benchmark::State& state) {
  double best[2] = {1e30, 1e30}, wall[2] = {0, 0};
  for (auto _ : state) {
    for (int round = 0; round < 5; ++round) {
      for (int guidless = 0; guidless < 2; ++guidless) {
        const std::string dir = scratch();
        const std::string db = dir + "/bench.soup";
        const ChildRun first =
            runChild({BRINDLEWORK_FEEDGET, "--urls", urlsFile(dir, guidless ? "/plain/" : "/feed/"), "--db", db}, {});
        const ChildRun r = runChild({BRINDLEWORK_FEEDGET, "--update-all", "--db", db}, {});
        if (first.status != 0 || r.status != 0) state.SkipWithError("feedget failed");
        if (r.user < best[guidless]) {
          best[guidless] = r.user;
          wall[guidless] = r.wall;
        }
        std::filesystem::remove_all(dir);
      }
    }
    state.SetIterationTime(wall[0] + wall[1]);
  }
  state.counters["guid_cpu_s"] = best[0];
  state.counters["guidless_cpu_s"] = best[1];
  state.counters["guidless_per_guid"] = best[1] / best[0];
}
BENCHMARK(BM_UpdateAll_UnchangedWithAndWithoutGuid)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// One document of 1, 10 or 60 MiB with markup inside its descriptions (or
// of 60 MiB of empty elements, empty:1) added into a fresh database: the
// child's peak memory beside the document's size.
void BM_UpdateAll_AddMarkupDocument(benchmark::State& state) {
  const std::string path = (state.range(1) ? "/empty" : "/markup") + std::to_string(state.range(0)) + ".xml";
  const double documentMiB = static_cast<double>(server().size(path)) / (1 << 20);
  for (auto _ : state) {
    const std::string dir = scratch();
    ChildRun r = runChild({BRINDLEWORK_FEEDGET, server().url(path), "--db", dir + "/bench.soup"}, {});
    report(state, r);
    state.counters["document_MiB"] = documentMiB;
    if (r.peakMiB > 0) state.counters["peak_per_document"] = r.peakMiB / documentMiB;
    std::filesystem::remove_all(dir);
  }
}
BENCHMARK(BM_UpdateAll_AddMarkupDocument)
    ->ArgNames({"MiB", "empty"})
    ->Args({1, 0})
    ->Args({10, 0})
    ->Args({60, 0})
    ->Args({60, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// newsboat, threads 0 = its defaults; arg 1: the second reload.
void BM_UpdateAll_Newsboat(benchmark::State& state) {
  if (!std::filesystem::exists("/usr/bin/newsboat")) {
    state.SkipWithError("newsboat is not installed");
    for (auto _ : state) {
    }
    return;
  }
  const bool again = state.range(0) == 1;
  const int threads = static_cast<int>(state.range(1));
  for (auto _ : state) {
    const std::string dir = scratch();
    std::ofstream(dir + "/config") << (threads > 0 ? "reload-threads " + std::to_string(threads) + "\n" : "");
    const std::vector<std::string> argv = {"newsboat", "-x", "reload", "-u", urlsFile(dir), "-c", dir + "/cache.db",
                                           "-C", dir + "/config"};
    const std::vector<std::string> env = {"HOME=" + dir, "XDG_CONFIG_HOME=" + dir, "XDG_DATA_HOME=" + dir};
    ChildRun first = runChild(argv, env);
    ChildRun r = again ? runChild(argv, env) : first;
    report(state, r);
    std::filesystem::remove_all(dir);
  }
}
BENCHMARK(BM_UpdateAll_Newsboat)
    ->ArgNames({"again", "threads"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Counts the window polls of a download.
class CountingUi : public bw::NewsUi {
 public:
  int32_t gui_requester(bw::Text, bw::Text, bw::Text, const bw::RequesterParameters&, int32_t, int32_t) override {
    return 0;
  }
  void report(bw::Text, bw::Text, const bw::RequesterParameters&) override {}
  bw::ChangedGuiItem checkForChangedGuiItem() override {
    ++polls;
    return {};
  }
  bw::ChangedGuiItem waitForChangedGuiItem() override { return {}; }
  int64_t polls = 0;
};

class NullText : public bw::NewsGuiText {
 public:
  void setState(bw::Text) override {}
  bw::Str state() const override { return bw::Str(""); }
};

class NullWindow : public bw::NewsGuiWindow {
 public:
  void setBusy(bool) override {}
  bool infoCloseRequested(bool) override { return false; }
  bool infoQuitRequested(bool) override { return false; }
  int32_t infoWidth() const override { return 0; }
  int32_t infoHeight() const override { return 0; }
};

struct InProcess {
  InProcess() {
    modules.add({"dos", bw::dos::initDosLayer, bw::dos::endDosLayer});
    modules.add({"timer", bw::initTimerDevice, bw::closeTimerDevice});
    modules.add({"journal", bw::journalModuleInit, bw::journalModuleEnd});
    modules.add({"http", bw::initHTTPModule, bw::endHTTPModule});
    bw::addNewsModules(modules);
    modules.initAll();
  }
  ~InProcess() { modules.endAll(); }
  bw::ModuleRegistry modules;
};

// One 1 MB feed added into a database in memory, with a progress window.
void BM_UpdateAll_AddOneMegabyteFeed(benchmark::State& state) {
  InProcess modules;
  const std::string url = server().url("/big.xml");
  int64_t polls = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto news = std::make_unique<bw::testing_news::MemoryNews>();
    CountingUi ui;
    bw::setNewsUi(&ui);
    NullWindow window;
    NullText text;
    bw::NewsGuiItem button;
    bw::feedProgressGui gui{&window, &text, &text, &text, nullptr, &button, &button, &button};
    state.ResumeTiming();
    bw::DownloaderMade made = bw::createDownloaderForURL(*news->root(), bw::Str(url), nullptr, nullptr);
    bw::AddUpdateResult r = bw::addUpdateFeed(news->db(), *news->root(), nullptr, made.downloader.get(), bw::Str(url),
                                              nullptr, &gui, 1, 1);
    if (!r.feed) state.SkipWithError("the feed was not added");
    state.PauseTiming();
    polls += ui.polls;
    made.downloader.reset();
    news.reset();
    bw::setNewsUi(nullptr);
    state.ResumeTiming();
  }
  const double mb = static_cast<double>(server().bigSize()) / (1 << 20);
  state.counters["MB"] = mb;
  state.counters["polls_per_MB"] =
      benchmark::Counter(static_cast<double>(polls) / mb, benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(server().bigSize()));
}
BENCHMARK(BM_UpdateAll_AddOneMegabyteFeed)->Unit(benchmark::kMillisecond);

// After the table: ours against newsboat, time and peak memory.
class UpdateAllReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      for (const char* name : {"guid_cpu_s", "guidless_cpu_s", "document_MiB", "peak_MiB"}) {
        if (r.counters.count(name)) figures_[r.benchmark_name()][name] = r.counters.at(name).value;
      }
      auto wall = r.counters.find("wall_s");
      auto rss = r.counters.find("peak_MiB");
      if (wall != r.counters.end() && rss != r.counters.end())
        seen_[r.benchmark_name()] = {wall->second.value, rss->second.value};
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const struct {
      const char *what, *ours, *theirs;
    } lines[] = {
        {"first update, newsboat defaults", "BM_UpdateAll_Ours/again:0/iterations:1/manual_time",
         "BM_UpdateAll_Newsboat/again:0/threads:0/iterations:1/manual_time"},
        {"again (all repeats), newsboat defaults", "BM_UpdateAll_Ours/again:1/iterations:1/manual_time",
         "BM_UpdateAll_Newsboat/again:1/threads:0/iterations:1/manual_time"},
        {"first update, newsboat 1 thread", "BM_UpdateAll_Ours/again:0/iterations:1/manual_time",
         "BM_UpdateAll_Newsboat/again:0/threads:1/iterations:1/manual_time"},
        {"again (all repeats), newsboat 1 thread", "BM_UpdateAll_Ours/again:1/iterations:1/manual_time",
         "BM_UpdateAll_Newsboat/again:1/threads:1/iterations:1/manual_time"},
    };
    std::printf("\n%-42s %9s %9s %7s %9s %9s %7s  target: faster and smaller\n", "300 feeds x 50 items", "ours s",
                "peer s", "ratio", "ours MiB", "peer MiB", "ratio");
    for (const auto& l : lines) {
      if (!seen_.count(l.ours) || !seen_.count(l.theirs)) {
        std::printf("%-42s (not measured)\n", l.what);
        continue;
      }
      const Seen o = seen_[l.ours], t = seen_[l.theirs];
      std::printf("%-42s %9.2f %9.2f %7.2f %9.1f %9.1f %7.2f  %s\n", l.what, o.wall, t.wall, t.wall / o.wall, o.rss,
                  t.rss, t.rss / o.rss, o.wall < t.wall && o.rss < t.rss ? "met" : "not met");
    }
    const auto unchanged = figures_.find("BM_UpdateAll_UnchangedWithAndWithoutGuid/iterations:1/manual_time");
    if (unchanged != figures_.end()) {
      const double guid = unchanged->second["guid_cpu_s"], guidless = unchanged->second["guidless_cpu_s"];
      std::printf("\nunchanged update, %d feeds x %d items: with guid %.3f s CPU, without %.3f s, ratio %.2f  "
                  "target: within 1.2x: %s\n",
                  kFeeds, kItems, guid, guidless, guidless / guid, guidless <= 1.2 * guid ? "met" : "not met");
    }
    const auto empty = figures_.find("BM_UpdateAll_AddMarkupDocument/MiB:60/empty:1/iterations:1/manual_time");
    if (empty != figures_.end() && empty->second.count("peak_MiB")) {
      const double size = empty->second["document_MiB"], peak = empty->second["peak_MiB"];
      std::printf("empty elements document: %.1f MiB, peak %.1f MiB, %.1fx its size  target: within 8x: %s\n", size,
                  peak, peak / size, peak <= 8 * size ? "met" : "not met");
    }
  }

 private:
  struct Seen {
    double wall = 0, rss = 0;
  };
  std::map<std::string, Seen> seen_;
  std::map<std::string, std::map<std::string, double>> figures_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  UpdateAllReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
