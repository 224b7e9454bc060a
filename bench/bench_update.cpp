// bench/bench_update.cpp - `brindlework UpdateAll` side by side with newsboat
// in one run: N feeds of 50 items (two thirds RSS 2.0 with content:encoded,
// one third Atom; N from BRINDLEWORK_BENCH_FEEDS, 1,000 by default) written
// into a scratch folder and served by nginx on 127.0.0.1 with a private
// configuration, over http and over https (a test certificate authority the
// benchmark makes, trusted by both programs through CURL_CA_BUNDLE, which
// newsboat hands to libcurl; the machine's store is left alone). Both
// programs run as children, interleaved: for each scheme both programs'
// first update, then the same again, nothing changed. That is repeated
// (BRINDLEWORK_BENCH_REPEATS times, 3 by default) from an empty database and
// an empty newsboat cache, newsboat going first in one repetition and second
// in the next; each case prints its median and range. nginx logs every
// answer, and a run that did not fetch every feed over its scheme is
// reported as not comparable. Wall time and user CPU come from wait4, the
// peak RSS is each child's own (bench/child_run.h); the ratios of the
// medians (ours / newsboat's) are counters and are printed against their
// targets. Skips with a message when newsboat or nginx is missing, and
// the https case alone when its certificates or server cannot be made. The
// scratch folder goes when the measurement ends. With
// BRINDLEWORK_BENCH_LARGE=1 the same comparison runs again at 5,000 feeds
// over http (BM_Update/.../feeds:5000/https:0), for the peak RSS as the
// database grows.
//
// Two more cases run the program in this process (runBrindlework, with the
// mode and the update of one feed wrapped to read the clock):
//   - the first update of the same corpus, split into start-up, download
//     (opening the request to the last received byte), parse (reading and
//     merging), commit (the database's writes, truncates and fsyncs) and
//     shutdown, each with its share of the whole;
//   - start-up and shutdown with N feeds x M stored items (M from
//     BRINDLEWORK_BENCH_STORED, 2,000 by default), twice: the first shutdown
//     makes the first backup copy, the second has none to make. After each
//     run the start-up's check of the cleanly closed database runs alone on
//     a fresh open, and its time is printed beside the rest of the start
//     (the start less the check), with the heap it leaves taken; then the
//     same database, left open as a crash leaves it, is repaired by a
//     start in a child process (its time and peak memory).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <map>
#include <string>
#include <vector>

#include "app/feed_lists_check.h"
#include "app/program_run.h"
#include "app/shell_update.h"
#include "app/startup.h"
#include "bench/bench_tls_support.h"
#include "bench/bench_update_support.h"
#include "news/add_update_feed.h"
#include "news/downloader_choice.h"
#include "platform/assigns.h"
#include "platform/host_io.h"

namespace {

using namespace bw::bench;

int positiveFromEnvironment(const char* name, int otherwise) {
  const char* text = std::getenv(name);
  const int n = text ? std::atoi(text) : 0;
  return n > 0 ? n : otherwise;
}
int feedCount() { return positiveFromEnvironment("BRINDLEWORK_BENCH_FEEDS", 1000); }
int repeatCount() { return positiveFromEnvironment("BRINDLEWORK_BENCH_REPEATS", 3); }

// The median and the range of a case's repetitions.
struct Spread {
  double median = 0, low = 0, high = 0;
};
Spread spreadOf(std::vector<double> values) {
  if (values.empty()) return {};
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return {median, values.front(), values.back()};
}
template <typename F>
Spread spreadOf(const std::vector<ChildRun>& runs, F field) {
  std::vector<double> values;
  for (const ChildRun& r : runs) values.push_back(field(r));
  return spreadOf(values);
}

// One repetition of one case: a program's run and the answers nginx logged
// for it (every feed must have been fetched over that scheme, so a silent
// failure or fallback cannot pass).
struct Repetition {
  ChildRun run;
  Nginx::Answers answers;
};

// The runs over one scheme: newsboat's and ours, first and unchanged, one
// entry a repetition.
struct Transport {
  std::string skipped;                             // why this scheme was not measured, else empty
  std::vector<double> databaseMiB[2];              // "database.soup" after each of our runs
  std::vector<Repetition> ours[2], newsboat[2];    // [0] first, [1] unchanged
};

struct Measured {
  std::string skipped;  // why nothing was measured, else empty
  int feeds = 0;
  double corpusMiB = 0;
  Transport transports[2];  // [0] http, [1] https
};

constexpr const char* kSchemes[2] = {"http", "https"};

// One scheme's server, newsboat and database in dir (the corpus linked in
// from the scratch folder); both programs trust the test authority in certs
// when it is given.
class Side {
 public:
  Side(const fs::path& dir, const std::vector<std::string>& paths, const fs::path& certs) {
    fs::create_directories(dir / "progdir");
    fs::create_directory_symlink(dir.parent_path() / "www", dir / "www");
    nginx_ = std::make_unique<Nginx>(dir, certs, true);
    if (!nginx_->ready()) {
      skipped = certs.empty() ? "nginx did not start" : "nginx did not start with TLS";
      return;
    }
    const std::vector<std::string> trust =
        certs.empty() ? std::vector<std::string>{}
                      : std::vector<std::string>{"CURL_CA_BUNDLE=" + (certs / "ca.pem").string()};
    newsboat_ = std::make_unique<NewsboatReload>(dir, trust);
    oursEnv_ = trust;
    oursEnv_.push_back("BRINDLEWORK_PROGDIR=" + (dir / "progdir").string());
    oursEnv_.push_back("QT_QPA_PLATFORM=offscreen");
    oursEnv_ = environmentWith(oursEnv_);
    progdir_ = dir / "progdir";
    newsboatCache_ = dir / "newsboat/cache.db";
    urls_ = listUrls(dir, *nginx_, paths);
    empty();
  }

  // Both programs back to nothing stored: a seeded database without items,
  // no newsboat cache.
  void empty() {
    std::error_code ignored;
    fs::remove_all(progdir_, ignored);
    fs::create_directories(progdir_);
    for (const char* end : {"", "-journal", ".LOCK"}) fs::remove(newsboatCache_.string() + end, ignored);
    if (!seedDatabase(progdir_, urls_)) skipped = "the database could not be made";
  }

  // Both programs' run into t's round, newsboat first or second.
  void run(int round, int feeds, bool newsboatFirst, Transport& t) {
    for (int turn = 0; turn < 2; ++turn) {
      if ((turn == 0) == newsboatFirst) {
        const ChildRun run = newsboat_->run();
        t.newsboat[round].push_back({run, nginx_->takeAnswers(feeds)});
      } else {
        const ChildRun run = runChild({BRINDLEWORK_EXECUTABLE, "UpdateAll"}, oursEnv_);
        t.ours[round].push_back({run, nginx_->takeAnswers(feeds)});
        std::error_code error;
        const uintmax_t size = fs::file_size(progdir_ / "database.soup", error);
        t.databaseMiB[round].push_back(error ? 0 : static_cast<double>(size) / (1 << 20));
      }
    }
  }

  std::string skipped;

 private:
  std::unique_ptr<Nginx> nginx_;
  std::unique_ptr<NewsboatReload> newsboat_;
  std::vector<std::string> oursEnv_;
  fs::path progdir_, newsboatCache_;
  std::vector<std::string> urls_;
};

// Both schemes in one scratch folder, interleaved: for each repetition and
// round, http then https, newsboat first in the even repetitions and second
// in the odd ones. The large run compares over http alone, once: at 5,000
// feeds each of newsboat's reloads takes tens of minutes.
Measured measure(int feeds) {
  Measured m;
  m.feeds = feeds;
  if (!fs::exists(kNewsboat)) return m.skipped = "newsboat is not installed (scripts/deps.sh bench)", m;
  if (!fs::exists(kNginx)) return m.skipped = "nginx is not installed (scripts/deps.sh bench)", m;
  std::string pattern = (fs::temp_directory_path() / "bw-bench-update-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return m.skipped = "no scratch folder", m;
  const fs::path dir = pattern;
  {
    uint64_t bytes = 0;
    const std::vector<std::string> paths = writeFeeds(dir, m.feeds, &bytes);
    m.corpusMiB = static_cast<double>(bytes) / (1 << 20);
    std::unique_ptr<Side> sides[2];
    sides[0] = std::make_unique<Side>(dir / "http", paths, fs::path());
    if (feeds != feedCount())
      m.transports[1].skipped = "the large run compares over http alone";
    else if (makeTestCertificates(dir / "certs"))
      sides[1] = std::make_unique<Side>(dir / "https", paths, dir / "certs");
    else
      m.transports[1].skipped = "openssl could not make the test certificates";
    for (int t = 0; t < 2; ++t)
      if (sides[t] && !sides[t]->skipped.empty()) m.transports[t].skipped = sides[t]->skipped;
    const int repeats = feeds == feedCount() ? repeatCount() : 1;
    for (int rep = 0; rep < repeats; ++rep)
      for (int round = 0; round < 2; ++round)
        for (int t = 0; t < 2; ++t) {
          Transport& tr = m.transports[t];
          if (!tr.skipped.empty()) continue;
          if (rep > 0 && round == 0) sides[t]->empty();
          if (!sides[t]->skipped.empty()) {
            tr.skipped = sides[t]->skipped;
            continue;
          }
          sides[t]->run(round, m.feeds, rep % 2 == 0, tr);
        }
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return m;
}

// Each feed count's comparison, made when first asked for.
std::map<int, Measured> gMeasured;
const Measured& measured(int feeds) {
  auto it = gMeasured.find(feeds);
  if (it == gMeasured.end()) it = gMeasured.emplace(feeds, measure(feeds)).first;
  return it->second;
}

// ---- The runs in this process ----

using SteadyClock = std::chrono::steady_clock;
using Db = bw::cJournaledIndexedObjectSoupDatabase;

double secondsBetween(SteadyClock::time_point from, SteadyClock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Nanoseconds the database's file spent writing, truncating and syncing.
std::atomic<int64_t> gCommitNanos{0};

template <typename F>
auto timedCommit(F f) {
  const auto start = SteadyClock::now();
  auto result = f();
  gCommitNanos += std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now() - start).count();
  return result;
}

class TimedIo : public bw::HostIo {
 public:
  explicit TimedIo(std::unique_ptr<bw::HostIo> io) : io_(std::move(io)) {}
  bw::IoResult readAt(void* buffer, int64_t length, int64_t position) override {
    return io_->readAt(buffer, length, position);
  }
  bw::IoResult writeAt(const void* buffer, int64_t length, int64_t position) override {
    return timedCommit([&] { return io_->writeAt(buffer, length, position); });
  }
  int truncate(int64_t size) override { return timedCommit([&] { return io_->truncate(size); }); }
  int sync() override { return timedCommit([&] { return io_->sync(); }); }
  int64_t size() override { return io_->size(); }
  bool examine(bw::dos::FileInfo& info, bw::dos::Detail detail) override { return io_->examine(info, detail); }
  bool lockForWriting() override { return io_->lockForWriting(); }
  void close() override { io_->close(); }
  void dropCache() override { io_->dropCache(); }
  // Reads go through the file's mapping as the program's own do.
  int mappableDescriptor() override { return io_->mappableDescriptor(); }

 private:
  std::unique_ptr<bw::HostIo> io_;
};

class TimedBackend : public bw::HostIoBackend {
 public:
  std::unique_ptr<bw::HostIo> open(bw::Text native, int32_t mode) override {
    std::unique_ptr<bw::HostIo> io = system_->open(native, mode);
    if (!io) return nullptr;
    return std::make_unique<TimedIo>(std::move(io));
  }
  int syncFolderOf(bw::Text native) override { return timedCommit([&] { return system_->syncFolderOf(native); }); }

 private:
  std::shared_ptr<bw::HostIoBackend> system_ = bw::systemIoBackend();
};

// The downloader made for a feed, noting when its last bytes came in.
class TimedDownloader : public bw::downloadFeed {
 public:
  explicit TimedDownloader(std::unique_ptr<bw::downloadFeed> inner) : inner_(std::move(inner)) {}
  void saveInit(bool doNotSupplyDestYet, bw::fHttpSaveCallback* callback, int32_t bufSize) override {
    inner_->saveInit(doNotSupplyDestYet, callback, bufSize);
  }
  bw::DownloadStep saveAppend(bool supplyDestNow, bw::fHttpSaveCallback* callback) override {
    const bw::DownloadStep step = inner_->saveAppend(supplyDestNow, callback);
    received = SteadyClock::now();
    return step;
  }
  bw::FeedDocument getDocument(bool isNewFeed) override { return inner_->getDocument(isNewFeed); }
  void close() override { inner_->close(); }
  void updateFeedInfo(Db& soup, bw::newsRoot& root) override { inner_->updateFeedInfo(soup, root); }
  bw::cHTTP* infoHTTP() override { return inner_->infoHTTP(); }
  bw::ParseFailure infoParseFailure() const override { return inner_->infoParseFailure(); }
  std::string infoFailureReason() const override { return inner_->infoFailureReason(); }

  SteadyClock::time_point received = SteadyClock::now();

 private:
  std::unique_ptr<bw::downloadFeed> inner_;
};

// One `brindlework UpdateAll` in this process; the mode updates every feed
// (update) or returns at once. Seconds of each phase; download, parse and
// commit are parts of the mode.
struct InProcessRun {
  int status = -1;
  double startUp = 0, mode = 0, shutdown = 0;
  double download = 0, parse = 0, commit = 0;
  double total() const { return startUp + mode + shutdown; }
};

InProcessRun runInProcess(const fs::path& progdir, bool update) {
  InProcessRun r;
  ::setenv("BRINDLEWORK_PROGDIR", progdir.c_str(), 1);
  bw::dos::resetAssigns();
  bw::setDefaultIoBackend(std::make_shared<TimedBackend>());
  SteadyClock::time_point modeStart, modeEnd;
  bw::setShellFeedUpdateForTesting([&](Db& db, bw::newsRoot& root, const bw::cEncoding& charset, bw::newsFeed& feed) {
    const auto start = SteadyClock::now();
    bw::DownloaderMade made = bw::createFeedDownloader(db, root, feed, nullptr);
    if (!made.downloader) return bw::AddUpdateResult{};
    TimedDownloader timed(std::move(made.downloader));
    bw::AddUpdateResult result = bw::addUpdateFeed(db, root, &charset, &timed, feed.url, &feed, nullptr, 0, 0);
    r.download += secondsBetween(start, timed.received);
    return result;
  });
  bw::setProgramModeForTesting([&](Db& db, bw::newsRoot& root) {
    modeStart = SteadyClock::now();
    const int64_t committed = gCommitNanos;
    if (update) bw::shell_updateAll(db, root);
    modeEnd = SteadyClock::now();
    r.commit = static_cast<double>(gCommitNanos - committed) / 1e9;
  });
  // The shell update prints a dot for every feed: not into the table.
  std::fflush(stdout);
  const int savedOut = ::dup(1);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ::dup2(null, 1);
  ::close(null);
  std::string arg0 = "brindlework", arg1 = "UpdateAll";
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  const auto begin = SteadyClock::now();
  r.status = bw::runBrindlework(2, argv);
  const auto end = SteadyClock::now();
  std::fflush(stdout);
  ::dup2(savedOut, 1);
  ::close(savedOut);
  bw::setProgramModeForTesting({});
  bw::setShellFeedUpdateForTesting({});
  bw::setDefaultIoBackend(nullptr);
  ::unsetenv("BRINDLEWORK_PROGDIR");
  bw::dos::resetAssigns();
  if (r.status != 0) return r;
  r.startUp = secondsBetween(begin, modeStart);
  r.mode = secondsBetween(modeStart, modeEnd);
  r.shutdown = secondsBetween(modeEnd, end);
  r.parse = std::max(0.0, r.mode - r.download - r.commit);
  return r;
}

// Makes a scratch folder for one measurement; empty on failure.
fs::path scratchFolder(const char* name) {
  std::string pattern = (fs::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
  return ::mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
}

// The first update of the corpus, phase by phase.
struct PhaseMeasured {
  std::string skipped;
  int feeds = 0;
  InProcessRun run;
};

PhaseMeasured measurePhases() {
  PhaseMeasured m;
  m.feeds = feedCount();
  if (!fs::exists(kNginx)) return m.skipped = "nginx is not installed (scripts/deps.sh bench)", m;
  const fs::path dir = scratchFolder("bw-bench-phases");
  if (dir.empty()) return m.skipped = "no scratch folder", m;
  {
    uint64_t bytes = 0;
    const std::vector<std::string> paths = writeFeeds(dir, m.feeds, &bytes);
    Nginx nginx(dir);
    std::vector<std::string> urls;
    for (const std::string& p : paths) urls.push_back(nginx.url(p));
    fs::create_directories(dir / "progdir");
    if (!nginx.ready()) {
      m.skipped = "nginx did not start";
    } else if (!seedDatabase(dir / "progdir", urls)) {
      m.skipped = "the database could not be made";
    } else {
      m.run = runInProcess(dir / "progdir", true);
      if (m.run.status != 0) m.skipped = "brindlework exit status " + std::to_string(m.run.status);
    }
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return m;
}

bool gPhasesMade = false;
const PhaseMeasured& phasesMeasured() {
  static const PhaseMeasured m = measurePhases();
  gPhasesMade = true;
  return m;
}

// Start-up and shutdown with many stored items, twice.
struct StartUpMeasured {
  std::string skipped;
  int feeds = 0, stored = 0;
  double seedSeconds = 0, databaseMiB = 0;
  InProcessRun runs[2];
  // The start-up's check of the database closed cleanly, alone, after each
  // run: seconds, and the heap it left taken while the database stays open.
  double check[2] = {};
  double checkHeldBytes = 0;
  // The list walk alone, as the start ran it before the feed check joined
  // it, timed the same way: what the check adds is the difference.
  double walk[2] = {};
  // The same database left open as a crash leaves it, started in a child
  // process: the repair's run and its peak memory.
  ChildRun repair;
};

// The start-up's check of the cleanly closed database in progdir, timed
// alone on a fresh open (the modules started as a start starts them).
double timeStartUpCheck(const fs::path& progdir, double* heldBytes, bool walkOnly = false) {
  double seconds = -1;
  inProgdirWithModules(progdir, [&] {
    bw::cJournaledIndexedObjectSoupDatabase db(2);
    if (!db.open(bw::Text("database.soup"), false)) return;
    const size_t before = ::mallinfo2().uordblks;
    const auto start = SteadyClock::now();
    const bool sound = walkOnly ? db.listsAgree(false) : bw::listsAndFeedsAgree(db);
    seconds = sound ? secondsBetween(start, SteadyClock::now()) : -1;
    *heldBytes = static_cast<double>(::mallinfo2().uordblks) - static_cast<double>(before);
    db.close();
  });
  return seconds;
}

// Leaves the database in progdir open, as a crash does, and starts the
// program on it in a child process: the start repairs it (its feeds answer
// nothing, so the update after it ends at once).
ChildRun repairAfterCrash(const fs::path& progdir) {
  inProgdirWithModules(progdir, [&] {
    bw::cJournaledIndexedObjectSoupDatabase db(2);
    if (db.open(bw::Text("database.soup"), false)) db.closeQuickly();
  });
  return runChild({BRINDLEWORK_EXECUTABLE, "UpdateAll"},
                  environmentWith({"BRINDLEWORK_PROGDIR=" + progdir.string(), "QT_QPA_PLATFORM=offscreen"}));
}

int storedItemCount() {
  const char* text = std::getenv("BRINDLEWORK_BENCH_STORED");
  const int n = text ? std::atoi(text) : 0;
  return n > 0 ? n : 2000;
}

StartUpMeasured measureStartUp() {
  StartUpMeasured m;
  m.feeds = feedCount();
  m.stored = storedItemCount();
  const fs::path dir = scratchFolder("bw-bench-startup");
  if (dir.empty()) return m.skipped = "no scratch folder", m;
  std::vector<std::string> urls;
  for (int f = 0; f < m.feeds; ++f) urls.push_back("http://127.0.0.1:9/" + std::to_string(f) + ".rss");
  fs::create_directories(dir / "progdir");
  const auto start = SteadyClock::now();
  if (!seedDatabase(dir / "progdir", urls, m.stored)) {
    m.skipped = "the database could not be made";
  } else {
    m.seedSeconds = secondsBetween(start, SteadyClock::now());
    std::error_code error;
    m.databaseMiB = static_cast<double>(fs::file_size(dir / "progdir/database.soup", error)) / (1 << 20);
    for (int round = 0; round < 2; ++round) {
      InProcessRun& run = m.runs[round];
      run = runInProcess(dir / "progdir", false);
      if (run.status != 0) m.skipped = "brindlework exit status " + std::to_string(run.status);
      double ignoredBytes = 0;
      m.walk[round] = timeStartUpCheck(dir / "progdir", &ignoredBytes, true);
      m.check[round] = timeStartUpCheck(dir / "progdir", &m.checkHeldBytes);
      if (m.check[round] < 0) m.skipped = "the start-up check refused the database";
    }
    m.repair = repairAfterCrash(dir / "progdir");
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  return m;
}

bool gStartUpMade = false;
const StartUpMeasured& startUpMeasured() {
  static const StartUpMeasured m = measureStartUp();
  gStartUpMade = true;
  return m;
}

constexpr double kWallTarget[2] = {1.0 / 8, 1.0 / 20};
constexpr double kRssTarget = 1.0 / 2;

// Every feed fetched over the scheme by each of one program's runs, or why
// not.
std::string unfetched(const char* program, const std::vector<Repetition>& runs, int feeds, const char* scheme) {
  for (const Repetition& r : runs) {
    if (r.answers.fetched >= feeds && r.answers.other == 0) continue;
    return std::string(program) + " was answered " + std::to_string(r.answers.fetched) + " of " +
           std::to_string(feeds) + " feeds over " + scheme + " (" + std::to_string(r.answers.other) +
           " other answers)";
  }
  return {};
}

// Why one program's runs of a case do not count, else empty.
std::string failed(const char* program, const std::vector<Repetition>& runs) {
  for (const Repetition& r : runs)
    if (r.run.status != 0) return std::string(program) + " exit status " + std::to_string(r.run.status);
  return {};
}

std::vector<ChildRun> runsOf(const std::vector<Repetition>& repetitions) {
  std::vector<ChildRun> runs;
  for (const Repetition& r : repetitions) runs.push_back(r.run);
  return runs;
}

// One case's medians and ranges, ours and newsboat's.
struct CaseSpreads {
  Spread wall, user, peak, nbWall, nbUser, nbPeak;
  bool peakKnown = true;  // every run's peak was read
};
CaseSpreads spreadsOf(const Transport& tr, int round) {
  const std::vector<ChildRun> o = runsOf(tr.ours[round]), t = runsOf(tr.newsboat[round]);
  CaseSpreads c;
  c.wall = spreadOf(o, [](const ChildRun& r) { return r.wall; });
  c.user = spreadOf(o, [](const ChildRun& r) { return r.user; });
  c.peak = spreadOf(o, [](const ChildRun& r) { return r.peakMiB; });
  c.nbWall = spreadOf(t, [](const ChildRun& r) { return r.wall; });
  c.nbUser = spreadOf(t, [](const ChildRun& r) { return r.user; });
  c.nbPeak = spreadOf(t, [](const ChildRun& r) { return r.peakMiB; });
  c.peakKnown = c.peak.low > 0 && c.nbPeak.low > 0;
  return c;
}

// Arg 0: the first update into an empty store; 1: again, nothing changed;
// then the number of feeds, and 1 for https. The counters are the medians.
void BM_Update(benchmark::State& state) {
  const int round = static_cast<int>(state.range(0));
  const int scheme = static_cast<int>(state.range(2));
  const Measured& m = measured(static_cast<int>(state.range(1)));
  const std::string& skipped = m.skipped.empty() ? m.transports[scheme].skipped : m.skipped;
  const Transport& tr = m.transports[scheme];
  const CaseSpreads c = skipped.empty() ? spreadsOf(tr, round) : CaseSpreads{};
  for (auto _ : state) {
    if (!skipped.empty()) {
      state.SkipWithError(skipped.c_str());
      break;
    }
    state.SetIterationTime(c.wall.median);
  }
  if (!skipped.empty()) return;
  for (const std::string& why : {failed("brindlework", tr.ours[round]), failed("newsboat", tr.newsboat[round]),
                                 unfetched("brindlework", tr.ours[round], m.feeds, kSchemes[scheme]),
                                 unfetched("newsboat", tr.newsboat[round], m.feeds, kSchemes[scheme])})
    if (!why.empty()) state.SkipWithError(why.c_str());
  state.counters["feeds"] = m.feeds;
  state.counters["runs"] = static_cast<double>(tr.ours[round].size());
  state.counters["corpus_MiB"] = m.corpusMiB;
  state.counters["db_MiB"] = spreadOf(tr.databaseMiB[round]).median;
  state.counters["wall_s"] = c.wall.median;
  state.counters["user_s"] = c.user.median;
  state.counters["peak_MiB"] = c.peak.median;
  state.counters["nb_wall_s"] = c.nbWall.median;
  state.counters["nb_user_s"] = c.nbUser.median;
  state.counters["nb_peak_MiB"] = c.nbPeak.median;
  state.counters["wall_ratio"] = c.wall.median / c.nbWall.median;
  if (c.peakKnown) state.counters["rss_ratio"] = c.peak.median / c.nbPeak.median;
}
constexpr int kLargeFeeds = 5000;
// Registered in main: the feed counts are known there.
void registerUpdate() {
  auto* b = benchmark::RegisterBenchmark("BM_Update", BM_Update);
  b->ArgNames({"unchanged", "feeds", "https"})->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
  std::vector<int> counts = {feedCount()};
  const char* large = std::getenv("BRINDLEWORK_BENCH_LARGE");
  if (large && std::string(large) == "1" && feedCount() != kLargeFeeds) counts.push_back(kLargeFeeds);
  for (int feeds : counts)
    for (int scheme = 0; scheme < (feeds == feedCount() ? 2 : 1); ++scheme)
      b->Args({0, feeds, scheme})->Args({1, feeds, scheme});
}

void BM_UpdatePhases(benchmark::State& state) {
  const PhaseMeasured& m = phasesMeasured();
  for (auto _ : state) {
    if (!m.skipped.empty()) {
      state.SkipWithError(m.skipped.c_str());
      break;
    }
    state.SetIterationTime(m.run.total());
  }
  if (!m.skipped.empty()) return;
  const InProcessRun& r = m.run;
  state.counters["feeds"] = m.feeds;
  state.counters["startup_s"] = r.startUp;
  state.counters["download_s"] = r.download;
  state.counters["parse_s"] = r.parse;
  state.counters["commit_s"] = r.commit;
  state.counters["shutdown_s"] = r.shutdown;
}
BENCHMARK(BM_UpdatePhases)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Arg 0: the first run (its shutdown makes the first backup copy); 1: the
// second.
void BM_StartUp(benchmark::State& state) {
  const int round = static_cast<int>(state.range(0));
  const StartUpMeasured& m = startUpMeasured();
  for (auto _ : state) {
    if (!m.skipped.empty()) {
      state.SkipWithError(m.skipped.c_str());
      break;
    }
    state.SetIterationTime(m.runs[round].startUp);
  }
  if (!m.skipped.empty()) return;
  state.counters["feeds"] = m.feeds;
  state.counters["items"] = static_cast<double>(m.feeds) * m.stored;
  state.counters["db_MiB"] = m.databaseMiB;
  state.counters["startup_s"] = m.runs[round].startUp;
  state.counters["shutdown_s"] = m.runs[round].shutdown;
  state.counters["check_s"] = m.check[round];
}
BENCHMARK(BM_StartUp)->ArgName("run")->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void printPhases() {
  const PhaseMeasured& m = phasesMeasured();
  if (!m.skipped.empty()) {
    std::printf("\nPhases of the first update skipped: %s\n", m.skipped.c_str());
    return;
  }
  const InProcessRun& r = m.run;
  std::printf("\nFirst update of %d feeds x %d items in this process: %.2f s\n", m.feeds, kItems, r.total());
  const std::pair<const char*, double> phases[] = {{"start-up", r.startUp}, {"download", r.download},
                                                   {"parse and merge", r.parse}, {"commit", r.commit},
                                                   {"shutdown", r.shutdown}};
  for (const auto& [name, seconds] : phases)
    std::printf("  %-16s %8.2f s %6.1f %%\n", name, seconds, 100.0 * seconds / r.total());
}

void printStartUp() {
  const StartUpMeasured& m = startUpMeasured();
  if (!m.skipped.empty()) {
    std::printf("\nStart-up benchmark skipped: %s\n", m.skipped.c_str());
    return;
  }
  std::printf("\n%d feeds x %d stored items (%.0f MiB, made in %.1f s)\n", m.feeds, m.stored, m.databaseMiB,
              m.seedSeconds);
  const char* names[2] = {"first run (makes a backup copy)", "second run"};
  for (int round = 0; round < 2; ++round)
    std::printf("  %-34s start-up %8.3f s   shutdown %8.3f s\n", names[round], m.runs[round].startUp,
                m.runs[round].shutdown);
  const double items = static_cast<double>(m.feeds) * m.stored;
  // The start holds a check of its own; the one timed alone follows it.
  for (int round = 0; round < 2; ++round) {
    const double ratio = m.check[round] / m.runs[round].startUp;
    std::printf("  check after run %d: %8.4f s, start-up %8.4f s, ratio %.3f (aim 0.20) %s\n", round + 1,
                m.check[round], m.runs[round].startUp, ratio, ratio <= 0.2 ? "met" : "not met");
    const double added = m.check[round] - m.walk[round];
    std::printf("    the list walk alone %8.4f s: the feed check adds %8.4f s, %.3f of the start-up\n", m.walk[round],
                added, added / m.runs[round].startUp);
  }
  std::printf("  heap the check left taken: %.0f bytes, %.2f bytes an item\n", m.checkHeldBytes,
              m.checkHeldBytes / items);
  std::printf("  repair after a crash (child process, exit %d): %.2f s, peak %.1f MiB, %.0f bytes an item\n",
              m.repair.status, m.repair.wall, m.repair.peakMiB, m.repair.peakMiB * (1 << 20) / items);
}

std::string spreadText(const Spread& s, int decimals) {
  if (s.low < 0) return "n/a (not read)";
  char text[96];
  std::snprintf(text, sizeof text, "%.*f [%.*f-%.*f]", decimals, s.median, decimals, s.low, decimals, s.high);
  return text;
}

void printComparison(const Measured& m) {
  if (!m.skipped.empty()) {
    std::printf("\nUpdate benchmark skipped: %s\n", m.skipped.c_str());
    return;
  }
  const size_t runs = m.transports[0].ours[0].size();
  std::printf("\n%d feeds x %d items (%.1f MiB), %zu run%s of each case, newsboat first in every other run; "
              "median [range]\n",
              m.feeds, kItems, m.corpusMiB, runs, runs == 1 ? "" : "s");
  std::printf("  %-18s %-26s %-26s %7s %7s\n", "", "ours", "newsboat", "ratio", "target");
  const char* names[2] = {"first update", "unchanged update"};
  const auto verdict = [](double ratio, double target) { return ratio <= target ? "met" : "not met"; };
  for (int round = 0; round < 2; ++round) {
    for (int scheme = 0; scheme < 2; ++scheme) {
      const Transport& tr = m.transports[scheme];
      const std::string name = std::string(names[round]) + ", " + kSchemes[scheme];
      if (!tr.skipped.empty()) {
        std::printf("%s: skipped: %s\n", name.c_str(), tr.skipped.c_str());
        continue;
      }
      const CaseSpreads c = spreadsOf(tr, round);
      std::printf("%s\n", name.c_str());
      const double wallRatio = c.wall.median / c.nbWall.median;
      std::printf("  %-18s %-26s %-26s %7.3f %7.3f %s\n", "wall time, s", spreadText(c.wall, 2).c_str(),
                  spreadText(c.nbWall, 2).c_str(), wallRatio, kWallTarget[round],
                  verdict(wallRatio, kWallTarget[round]));
      std::printf("  %-18s %-26s %-26s\n", "user CPU, s", spreadText(c.user, 2).c_str(),
                  spreadText(c.nbUser, 2).c_str());
      if (c.peakKnown) {
        const double rssRatio = c.peak.median / c.nbPeak.median;
        std::printf("  %-18s %-26s %-26s %7.3f %7.3f %s\n", "peak RSS, MiB", spreadText(c.peak, 1).c_str(),
                    spreadText(c.nbPeak, 1).c_str(), rssRatio, kRssTarget, verdict(rssRatio, kRssTarget));
      } else {
        std::printf("  %-18s not read (ptrace refused?)\n", "peak RSS, MiB");
      }
      for (const std::string& why : {failed("brindlework", tr.ours[round]), failed("newsboat", tr.newsboat[round]),
                                     unfetched("brindlework", tr.ours[round], m.feeds, kSchemes[scheme]),
                                     unfetched("newsboat", tr.newsboat[round], m.feeds, kSchemes[scheme])})
        if (!why.empty()) std::printf("  NOT COMPARABLE: %s\n", why.c_str());
    }
  }
}

// After the table: each ratio (ours / newsboat's) against its target.
void printTargets() {
  if (gPhasesMade) printPhases();
  if (gStartUpMade) printStartUp();
  for (const auto& [feeds, m] : gMeasured) printComparison(m);
}

}  // namespace

int main(int argc, char** argv) {
  registerUpdate();
  benchmark::Initialize(&argc, argv);
  const size_t ran = benchmark::RunSpecifiedBenchmarks();
  if (ran > 0) printTargets();
  benchmark::Shutdown();
  return 0;
}
