// bench/bench_gui_list.cpp - the list gadget against QStandardItemModel (one
// QStandardItem per cell) in the same QTreeView, each pair interleaved in
// one run on the offscreen platform. Counters: ratios of median times (ours
// / Qt's), the medians in milliseconds, and ours_max_ms, the slowest single
// operation of ours on 100,000 rows.
//   fill_unbuilt_ratio  100,000 five-column rows added, then the window built
//   fill_built_ratio    the same rows added to a shown list
//   sort_I/N/F_ratio    sorting by a text column, a number column and by a
//                       function vs QStandardItemModel::sort
//   refresh_ratio       updateF with 1 % changed, 1 % gone, 1 % new vs
//                       clearing and refilling the model
//   destroy_ratio       marked_destroy of 10,000 rows vs removeRow of each
//   click_ratio         a click on a row until its event is handled vs until
//                       the view's selection signal
//   memory_ratio        heap bytes per row, with bytes_ours / bytes_qt
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <QApplication>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTest>
#include <QTreeView>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_qt_host.h"
#include "bench/bench_qt_ratio.h"
#include "core/ordering.h"
#include "core/system_charset.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "gui/gui_list.h"
#include "gui/host/core/gui_list_host.h"
#include "gui/host/gui_app_client.h"
#include "platform/app_host.h"

namespace {

using namespace bw;
using bench::median;
using bench::timed;

constexpr int kRows = 100000;

using Host = bench::QtHost;

// The run's one application, made at its first use and ended by main
// before the exit handlers run: Qt's own statics are gone by then.
std::unique_ptr<Host>& hostSlot() {
  static std::unique_ptr<Host> h;
  return h;
}

Host& host() {
  std::unique_ptr<Host>& h = hostSlot();
  if (!h) h = std::make_unique<Host>("bw-bench-gui-list");
  return *h;
}

// The columns of row i of a feed-like list: title, count, items, date,
// address; seed varies the rows between refreshes.
std::vector<std::string> cells(int i, int seed = 0) {
  uint32_t h = uint32_t(i) * 2654435761u + uint32_t(seed);
  return {"Feed title number " + std::to_string(h % 100003), std::to_string(h % 977),
          std::to_string(i % 5000), "2026-12-" + std::to_string(h % 28 + 10),
          "https://example.org/" + std::to_string(i)};
}

std::string labelOf(const std::vector<std::string>& c) {
  return c[0] + "\t" + c[1] + "\t" + c[2] + "\t" + c[3] + "\t" + c[4];
}

std::vector<std::string> labels(int count, int seed = 0) {
  std::vector<std::string> out;
  out.reserve(size_t(count));
  for (int i = 0; i < count; ++i) out.push_back(labelOf(cells(i, seed)));
  return out;
}

// Yields copies of prepared labels.
class Labels : public fGuiListEntries {
 public:
  explicit Labels(const std::vector<std::string>& all) : all_(all) {}
  GuiListRow call() override {
    GuiListRow row;
    if (next_ < all_.size()) {
      row.data = static_cast<int32_t>((next_ * 2654435761u) % 1000003);
      row.label = Str(all_[next_++]);
    }
    return row;
  }

 private:
  const std::vector<std::string>& all_;
  size_t next_ = 0;
};

void fillPeer(QStandardItemModel& model, const std::vector<std::string>& rows) {
  for (const std::string& label : rows) {
    QList<QStandardItem*> items;
    size_t at = 0;
    for (int c = 0; c < 5; ++c) {
      size_t tab = label.find('\t', at);
      auto* item = new QStandardItem(QString::fromUtf8(
          label.data() + at, qsizetype((tab == std::string::npos ? label.size() : tab) - at)));
      if (c == 1) item->setData(item->text().toInt(), Qt::DisplayRole);
      items.append(item);
      at = tab + 1;
    }
    model.appendRow(items);
  }
}

// One shown list window.
struct ListWindow {
  ListWindow(Host& h, bool build = true) : client(h.client) {
    w = client.createGuiWindow("list");
    w->beginGroupVertical(nullptr);
    list = static_cast<cGuiListHost*>(w->beginList(5, nullptr));
    list->initColumnTitles("Feed\tNew\tItems\tUpdated\tAddress")->initColumnSortTypes("INNII");
    list->initMultiSelect(false, false);
    w->endList();
    w->endGroup();
    w->setSize(800, 600);
    if (build) w->build();
  }
  ~ListWindow() { client.endGuiWindow(w); }
  void fill(const std::vector<std::string>& rows) {
    Labels source(rows);
    list->setRedraw(false);
    list->addEntries(source);
    list->setRedraw(true);
  }
  cGuiAppClient& client;
  cGuiWindowHostCore* w;
  cGuiListHost* list;
};

struct PeerView {
  PeerView() {
    view.setModel(&model);
    view.setRootIsDecorated(false);
    view.setUniformRowHeights(true);
    view.resize(800, 600);
    view.show();
  }
  QStandardItemModel model;
  QTreeView view;
};

void settle() { QApplication::processEvents(); }

void reportMs(benchmark::State& state, const char* name, const std::vector<double>& ours,
              const std::vector<double>& peer) {
  state.counters[name] = median(ours) / median(peer);
  state.counters["ours_ms"] = median(ours) * 1e3;
  state.counters["qt_ms"] = median(peer) * 1e3;
  state.counters["ours_max_ms"] = *std::max_element(ours.begin(), ours.end()) * 1e3;
}

void BM_Fill(benchmark::State& state) {
  bool built = state.range(0) != 0;
  Host& h = host();
  std::vector<std::string> rows = labels(kRows);
  std::vector<double> a, b;
  for (auto _ : state) {
    {
      ListWindow ours(h, built);
      a.push_back(timed([&] {
        ours.fill(rows);
        if (!built) ours.w->build();
        settle();
      }));
    }
    PeerView* peer = nullptr;
    b.push_back(timed([&] {
      peer = new PeerView();
      if (built) {
        fillPeer(peer->model, rows);
      } else {
        peer->view.setModel(nullptr);
        fillPeer(peer->model, rows);
        peer->view.setModel(&peer->model);
      }
      settle();
    }));
    delete peer;
  }
  reportMs(state, built ? "fill_built_ratio" : "fill_unbuilt_ratio", a, b);
}
BENCHMARK(BM_Fill)->Arg(0)->Arg(1)->UseRealTime()->Iterations(5);

void BM_Sort(benchmark::State& state) {
  Host& h = host();
  std::vector<std::string> rows = labels(kRows);
  ListWindow ours(h);
  ours.fill(rows);
  PeerView peer;
  fillPeer(peer.model, rows);
  // The data words, up or down.
  class ByData : public fGuiListSort {
   public:
    explicit ByData(int32_t sign) : sign_(sign) {}
    int32_t call(const Str&, const Str&, int32_t a, int32_t b, const box*, const box*) override {
      return a == b ? 0 : (a < b ? sign_ : -sign_);
    }

   private:
    int32_t sign_;
  } up(1), down(-1);
  int kind = int(state.range(0));  // 0 'I', 1 'N', 2 function
  int column = kind == 0 ? 0 : 1;
  std::vector<double> a, b;
  bool reverse = false;
  for (auto _ : state) {
    reverse = !reverse;
    a.push_back(timed([&] {
      if (kind == 2) {
        ours.list->setSortByFunction(reverse ? &down : &up);
      } else {
        ours.list->setSortByColumn(column, reverse);
      }
      settle();
    }));
    b.push_back(timed([&] {
      peer.model.sort(column, reverse ? Qt::DescendingOrder : Qt::AscendingOrder);
      settle();
    }));
  }
  const char* names[] = {"sort_I_ratio", "sort_N_ratio", "sort_F_ratio"};
  reportMs(state, names[kind], a, b);
}
BENCHMARK(BM_Sort)->DenseRange(0, 2)->UseRealTime()->Iterations(7);

// The rows of a refresh: 1 % changed, 1 % gone and 1 % new against base.
std::vector<std::string> refreshed(const std::vector<std::string>& base, int round) {
  std::vector<std::string> out;
  out.reserve(base.size() + base.size() / 100);
  for (size_t i = 0; i < base.size(); ++i) {
    if (i % 100 == size_t(round % 100)) continue;  // gone
    if (i % 100 == size_t((round + 50) % 100)) {
      out.push_back(base[i] + " (changed)");
      continue;
    }
    out.push_back(base[i]);
  }
  for (size_t i = 0; i < base.size() / 100; ++i) out.push_back(labelOf(cells(int(kRows + i), round + 1)));
  return out;
}

void BM_Refresh(benchmark::State& state) {
  Host& h = host();
  std::vector<std::string> base = labels(kRows);
  ListWindow ours(h);
  ours.list->setSortByColumn(4, false);
  ours.fill(base);
  PeerView peer;
  fillPeer(peer.model, base);
  std::vector<double> a, b;
  int round = 0;
  for (auto _ : state) {
    std::vector<std::string> next = refreshed(base, ++round);
    a.push_back(timed([&] {
      Labels source(next);
      ours.list->updateF(source);
      settle();
    }));
    b.push_back(timed([&] {
      peer.model.removeRows(0, peer.model.rowCount());
      fillPeer(peer.model, next);
      settle();
    }));
  }
  reportMs(state, "refresh_ratio", a, b);
}
BENCHMARK(BM_Refresh)->UseRealTime()->Iterations(5);

void BM_MarkedDestroy(benchmark::State& state) {
  Host& h = host();
  std::vector<std::string> rows = labels(kRows);
  std::vector<double> a, b;
  for (auto _ : state) {
    state.PauseTiming();
    ListWindow ours(h);
    ours.fill(rows);
    for (int i = 0; i < kRows; i += 10) ours.list->entryAt(i)->marked = true;
    auto* peer = new PeerView();
    fillPeer(peer->model, rows);
    state.ResumeTiming();
    a.push_back(timed([&] {
      ours.list->marked_destroy();
      settle();
    }));
    b.push_back(timed([&] {
      for (int i = (kRows - 1) / 10 * 10; i >= 0; i -= 10) peer->model.removeRow(i);
      settle();
    }));
    state.PauseTiming();
    delete peer;
    state.ResumeTiming();
  }
  reportMs(state, "destroy_ratio", a, b);
}
BENCHMARK(BM_MarkedDestroy)->UseRealTime()->Iterations(3);

void BM_Click(benchmark::State& state) {
  Host& h = host();
  std::vector<std::string> rows = labels(kRows);
  ListWindow ours(h);
  ours.fill(rows);
  auto* tree = static_cast<QTreeView*>(ours.list->infoNativeObject("OBJT").object);
  PeerView peer;
  fillPeer(peer.model, rows);
  peer.view.setSelectionMode(QAbstractItemView::SingleSelection);
  int heard = 0;
  QObject::connect(peer.view.selectionModel(), &QItemSelectionModel::selectionChanged, [&] { ++heard; });
  settle();
  std::vector<double> a, b;
  int row = 0;
  for (auto _ : state) {
    row = (row + 1) % 10;
    QPoint ourPoint = tree->visualRect(tree->model()->index(row, 0)).center();
    QPoint peerPoint = peer.view.visualRect(peer.model.index(row, 0)).center();
    a.push_back(timed([&] {
      QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, ourPoint);
      while (h.client.infoQueued() > 0) h.client.waitForChangedGuiItem();
    }));
    b.push_back(timed([&] { QTest::mouseClick(peer.view.viewport(), Qt::LeftButton, {}, peerPoint); }));
  }
  benchmark::DoNotOptimize(heard);
  reportMs(state, "click_ratio", a, b);
}
BENCHMARK(BM_Click)->UseRealTime()->Iterations(21);

size_t heapInUse() { return mallinfo2().uordblks; }

void BM_Memory(benchmark::State& state) {
  Host& h = host();
  std::vector<std::string> rows = labels(kRows);
  double ours = 0, peer = 0;
  for (auto _ : state) {
    {
      size_t before = heapInUse();
      ListWindow list(h);
      list.fill(rows);
      settle();
      ours = double(heapInUse() - before) / kRows;
    }
    {
      size_t before = heapInUse();
      PeerView view;
      fillPeer(view.model, rows);
      settle();
      peer = double(heapInUse() - before) / kRows;
    }
  }
  state.counters["memory_ratio"] = ours / peer;
  state.counters["bytes_ours"] = ours;
  state.counters["bytes_qt"] = peer;
}
BENCHMARK(BM_Memory)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  hostSlot().reset();
  return 0;
}
