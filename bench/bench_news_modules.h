// bench/bench_news_modules.h - what the news-list benchmarks share: the news
// modules started once, and a stored item's row as the SQLite peers hold it.
#pragma once

#include <string>

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

}  // namespace bw::bench_news
