// bench/bench_news_modules.h - what the news-list benchmarks share: the news
// modules started once, a stored item's row as the SQLite peers hold it, and
// the check that a refill's rows are the peer's.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "gui/gui_list.h"
#include "news/news_module_list.h"

namespace bw::bench_news {

// Starts the news layer's modules the first time; they stay until exit.
inline void startNewsModules() {
  static ModuleRegistry modules = [] {
    ModuleRegistry m;
    addNewsModules(m);
    m.initAll();
    return m;
  }();
}

// One item as the SQLite peer stores it: its feed, date and title.
struct Row {
  int feed;
  bigTime published;
  std::string title;
};

// Ends the benchmark when ours and theirs differ in a row's text, style or
// data (or in their counts), naming the first such row under what.
inline void requireSameRows(const cGuiList& ours, const cGuiList& theirs, const std::string& what) {
  const int32_t count = ours.infoCount();
  int32_t differing = count == theirs.infoCount() ? -1 : count;
  for (int32_t i = 0; differing < 0 && i < count; i++) {
    const cGuiList::Row& a = *ours.infoEntryAt(i);
    const cGuiList::Row& b = *theirs.infoEntryAt(i);
    if (!(a.label == b.label.view()) || a.style != b.style || a.data != b.data) differing = i;
  }
  if (differing < 0) return;
  const cGuiList::Row* a = ours.infoEntryAt(differing);
  const cGuiList::Row* b = theirs.infoEntryAt(differing);
  std::fprintf(stderr, "%s: row %d of %d/%d differs from SQLite's:\n%s (%d)\n%s (%d)\n", what.c_str(), differing,
               count, theirs.infoCount(), a ? a->label.c_str() : "-", a ? a->style : 0, b ? b->label.c_str() : "-",
               b ? b->style : 0);
  std::abort();
}

}  // namespace bw::bench_news
