// bench/bench_gui_input.cpp - the input gadgets and images against the same
// work written directly in Qt, each pair interleaved in one run on the
// offscreen platform; the counters are ratios of median times:
//   image_ratio   setImage of a 2000 x 2000 PNG into 64 x 64 vs QImageReader
//                 + QImage::scaled(KeepAspectRatio, SmoothTransformation)
//   states_ratio  save and load of 50 identified gadget states vs QSettings
//                 writing and reading the same 50 values
//   string_ratio  setState on a built string vs QLineEdit::setText
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QImageReader>
#include <QLineEdit>
#include <QSettings>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_qt_host.h"
#include "bench/bench_qt_ratio.h"
#include "core/ordering.h"
#include "core/system_charset.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "gui/host/core/gui_native_items.h"
#include "gui/host/gui_app_client.h"
#include "gui/host/gui_natives.h"
#include "platform/app_host.h"
#include "platform/native_path.h"
#include "platform/path.h"

namespace {

using namespace bw;

using Host = bench::QtHost;

Host& host() {
  static Host h("bw-bench-gui-input");
  return h;
}

using bench::median;
using bench::report;
using bench::timed;

void BM_SetImage(benchmark::State& state) {
  Host& h = host();
  std::string file = (h.scratch / "big.png").string();
  QImage big(2000, 2000, QImage::Format_ARGB32);
  for (int y = 0; y < big.height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(big.scanLine(y));
    for (int x = 0; x < big.width(); ++x) row[x] = 0xff000000u | uint32_t(x * 7919 + y * 104729);
  }
  big.save(QString::fromStdString(file), "PNG");
  Str path = cPath::ImportFilePath(dos::hostToNative(file));
  cGuiWindowHostCore* w = h.client.createGuiWindow("image");
  w->beginGroupVertical(nullptr);
  cGuiNativeIcon* icon = addNativeIcon(w, 64, 64);
  w->endGroup();
  w->build();
  std::vector<double> a, b;
  for (auto _ : state) {
    a.push_back(timed([&] { benchmark::DoNotOptimize(icon->setImage(path, nullptr)); }));
    b.push_back(timed([&] {
      QImageReader reader(QString::fromStdString(file));
      QImage image = reader.read();
      benchmark::DoNotOptimize(image.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }));
  }
  report(state, "image_ratio", a, b);
  h.client.endGuiWindow(w);
}
BENCHMARK(BM_SetImage)->UseRealTime()->Iterations(9);

constexpr int kStates = 50;

void BM_States(benchmark::State& state) {
  Host& h = host();
  cGuiWindowHostCore* w = h.client.createGuiWindow("states");
  w->beginGroupVertical(nullptr);
  std::vector<cGuiString*> strings;
  for (int i = 0; i < kStates; ++i) strings.push_back(w->addString("s"));
  w->endGroup();
  w->build();
  for (int i = 0; i < kStates; ++i) {
    strings[size_t(i)]->setState(Str("value " + std::to_string(i)));
    guiItemSetNativeAttr(strings[size_t(i)], uint32_t(i + 1));
  }
  QString peerFile = QString::fromStdString((h.scratch / "peer.ini").string());
  std::vector<double> a, b;
  for (auto _ : state) {
    a.push_back(timed([&] {
      guiAppSaveStates(w);
      guiAppLoadSavedStates(w);
    }));
    b.push_back(timed([&] {
      {
        QSettings settings(peerFile, QSettings::IniFormat);
        settings.beginGroup("States");
        for (int i = 0; i < kStates; ++i) {
          QByteArray value = QByteArray("value ") + QByteArray::number(i);
          settings.setValue(QString::number(i + 1, 16).rightJustified(8, '0'), value);
        }
      }
      QSettings settings(peerFile, QSettings::IniFormat);
      settings.beginGroup("States");
      for (int i = 0; i < kStates; ++i) {
        benchmark::DoNotOptimize(
            settings.value(QString::number(i + 1, 16).rightJustified(8, '0')).toByteArray());
      }
    }));
  }
  report(state, "states_ratio", a, b);
  h.client.endGuiWindow(w);
}
BENCHMARK(BM_States)->UseRealTime()->Iterations(41);

constexpr int kSets = 100;

void BM_StringSetState(benchmark::State& state) {
  Host& h = host();
  cGuiWindowHostCore* w = h.client.createGuiWindow("string");
  w->beginGroupVertical(nullptr);
  cGuiString* string = w->addString("s");
  w->endGroup();
  w->build();
  QLineEdit peer;
  peer.show();
  const Str texts[2] = {Str("the first text of the string"), Str("the second text of the string")};
  const QString qtTexts[2] = {QString::fromUtf8(texts[0].c_str()), QString::fromUtf8(texts[1].c_str())};
  std::vector<double> a, b;
  for (auto _ : state) {
    a.push_back(timed([&] {
      for (int i = 0; i < kSets; ++i) string->setState(texts[i & 1]);
    }));
    b.push_back(timed([&] {
      for (int i = 0; i < kSets; ++i) peer.setText(qtTexts[i & 1]);
    }));
    state.PauseTiming();
    while (h.client.infoQueued() > 0) h.client.waitForChangedGuiItem();
    state.ResumeTiming();
  }
  report(state, "string_ratio", a, b);
  h.client.endGuiWindow(w);
}
BENCHMARK(BM_StringSetState)->UseRealTime()->Iterations(101);

}  // namespace
