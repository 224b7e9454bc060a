// bench/bench_gui.cpp - the GUI host against the same work written directly
// in Qt (the only Qt code of bench/), each pair interleaved in one run on
// the offscreen platform; the counters are ratios of median times:
//   click_ratio   click -> waitForChangedGuiItem vs a QPushButton lambda flag
//                 polled with processEvents (100 clicks a sample)
//   idle_ratio    checkForChangedGuiItem(FALSE) with three windows vs bare
//                 processEvents(AllEvents); idle_us is ours in microseconds
//   build_ratio   build and show of a 150-gadget window vs the same tree
//                 written by hand
//   scale_ratio   rtgScale smooth vs QImage::scaled(SmoothTransformation)
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bench/bench_qt_host.h"
#include "bench/bench_qt_ratio.h"
#include "core/ordering.h"
#include "core/system_charset.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "gui/host/gui_app_client.h"
#include "gui/host/gui_qt_widgets.h"
#include "platform/app_host.h"

namespace {

using namespace bw;

using Host = bench::QtHost;

Host& host() {
  static Host h("bw-bench-gui");
  return h;
}

using bench::median;
using bench::report;
using bench::timed;

// Clicks per timed sample, so that each sample is well above the clock's
// resolution.
constexpr int kClicks = 100;

void BM_Click(benchmark::State& state) {
  Host& h = host();
  cGuiWindowHostCore* w = h.client.createGuiWindow("click");
  w->beginGroupVertical(nullptr);
  cGuiButton* button = w->addButton("Go");
  w->endGroup();
  w->build();
  auto* ours = static_cast<QPushButton*>(guiView(*button)->nativeObject());
  QPushButton peer("Go");
  bool flag = false;
  QObject::connect(&peer, &QPushButton::clicked, [&flag] { flag = true; });
  peer.show();
  std::vector<double> a, b;
  for (auto _ : state) {
    a.push_back(timed([&] {
      for (int i = 0; i < kClicks; ++i) {
        ours->click();
        benchmark::DoNotOptimize(h.client.waitForChangedGuiItem());
      }
    }));
    b.push_back(timed([&] {
      for (int i = 0; i < kClicks; ++i) {
        flag = false;
        peer.click();
        while (!flag) QCoreApplication::processEvents(QEventLoop::AllEvents);
      }
    }));
  }
  report(state, "click_ratio", a, b);
  h.client.endGuiWindow(w);
}
BENCHMARK(BM_Click)->UseRealTime();

void BM_IdlePoll(benchmark::State& state) {
  Host& h = host();
  std::vector<cGuiWindowHostCore*> windows;
  for (int i = 0; i < 3; ++i) {
    cGuiWindowHostCore* w = h.client.createGuiWindow("idle");
    w->beginGroupVertical(nullptr), w->addText("t"), w->addButton("b"), w->endGroup();
    w->build();
    windows.push_back(w);
  }
  std::vector<double> a, b;
  for (auto _ : state) {
    a.push_back(timed([&] { benchmark::DoNotOptimize(h.client.checkForChangedGuiItem(false)); }));
    b.push_back(timed([] { QCoreApplication::processEvents(QEventLoop::AllEvents); }));
  }
  report(state, "idle_ratio", a, b);
  for (cGuiWindowHostCore* w : windows) h.client.endGuiWindow(w);
}
BENCHMARK(BM_IdlePoll)->UseRealTime();

constexpr int kRows = 50;  // 3 gadgets a row: 150

void BM_BuildWindow(benchmark::State& state) {
  Host& h = host();
  std::vector<double> a, b;
  for (auto _ : state) {
    a.push_back(timed([&] {
      cGuiWindowHostCore* w = h.client.createGuiWindow("build");
      w->beginGroupVertical(nullptr);
      for (int i = 0; i < kRows; ++i) {
        w->beginGroupHorizontal(nullptr);
        w->addLabel("Label");
        w->addText("Text")->setState("value");
        w->addButton("Button");
        w->endGroup();
      }
      w->endGroup();
      w->build();
      QCoreApplication::processEvents(QEventLoop::AllEvents);
      h.client.endGuiWindow(w);
    }));
    b.push_back(timed([] {
      auto top = std::make_unique<QWidget>();
      auto* column = new QVBoxLayout(top.get());
      for (int i = 0; i < kRows; ++i) {
        auto* row = new QHBoxLayout();
        auto* label = new QLabel("Label");
        label->setTextFormat(Qt::PlainText);
        row->addWidget(label);
        row->addWidget(new QLabel("Text"));
        auto* text = new QLabel("value");
        text->setTextFormat(Qt::PlainText);
        text->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        row->addWidget(text, 1);
        auto* button = new QPushButton("Button");
        QObject::connect(button, &QPushButton::clicked, [] {});
        row->addWidget(button);
        column->addLayout(row);
      }
      top->show();
      QCoreApplication::processEvents(QEventLoop::AllEvents);
    }));
  }
  report(state, "build_ratio", a, b);
}
BENCHMARK(BM_BuildWindow)->UseRealTime();

void BM_Scale(benchmark::State& state) {
  host();
  int from = static_cast<int>(state.range(0)), to = static_cast<int>(state.range(1));
  cBitMap source(from, from), dest(to, to);
  for (size_t i = 0; i < source.pixels.size(); ++i)
    source.pixels[i] = 0xFF000000u | static_cast<uint32_t>(i * 2654435761u);
  QImage image = guiImageOf(source);
  std::vector<double> a, b;
  for (auto _ : state) {
    a.push_back(timed([&] { rtgScale(source, {0, 0, from, from}, dest, {0, 0, to, to}, 32, true); }));
    b.push_back(timed([&] {
      benchmark::DoNotOptimize(image.scaled(to, to, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }));
  }
  report(state, "scale_ratio", a, b);
}
BENCHMARK(BM_Scale)->Args({2000, 64})->Args({16, 32})->UseRealTime();

}  // namespace
