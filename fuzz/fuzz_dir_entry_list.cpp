// fuzz/fuzz_dir_entry_list.cpp - drives a directory entry list with a byte
// stream of operations and checks it against a plain model: entries added in
// order stay in entry order, identical texts are refused, lookups find what
// the model holds, unique names are never taken and sort gives the model's
// order.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/exception.h"
#include "platform/dir_entry_list.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

bool foldsEqual(const std::string& a, const std::string& b) {
  auto f = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (f(a[i]) != f(b[i])) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bw::cDirEntryList list;
  std::vector<std::string> model;  // list order
  bool ordered = true;             // no atFront insert out of place yet
  size_t i = 0;
  auto take = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
  auto name = [&] {
    std::string s;
    for (int n = take() % 6; n > 0; --n) s.push_back("aAbB_/.zZ\xe9"[take() % 10]);
    return s;
  };
  while (i < size) {
    switch (take() % 6) {
      case 0: {  // add in order
        std::string s = name();
        bool had = std::find(model.begin(), model.end(), s) != model.end();
        bool added = list.add(bw::Text(s), false);
        if (ordered) {
          check(added == !had);
          if (added) {
            model.insert(std::upper_bound(model.begin(), model.end(), s,
                                          [](const std::string& a, const std::string& b) {
                                            return bw::compareEntryNames(a, b) < 0;
                                          }),
                         s);
          }
        } else {
          model.assign(list.entries().size(), std::string());
          for (size_t k = 0; k < model.size(); ++k) model[k] = std::string(list.entries()[k].view());
        }
        break;
      }
      case 1: {  // add at the front
        std::string s = name();
        check(list.add(bw::Text(s), true));
        model.insert(model.begin(), s);
        ordered = ordered && (model.size() == 1 || bw::compareEntryNames(s, model[1]) < 0);
        break;
      }
      case 2: {  // look up
        std::string s = name();
        bool found = list.gotoName(bw::Text(s), false);
        bool expected = std::any_of(model.begin(), model.end(), [&](const std::string& e) { return foldsEqual(e, s); });
        if (!model.empty()) check(found == expected);
        if (found) {
          std::string at(list.infoName().view());
          check(foldsEqual(at, s));
          if (std::find(model.begin(), model.end(), s) != model.end()) check(at == s);
        }
        break;
      }
      case 3: {  // remove the current entry, if any
        if (list.infoName().view().empty() && !list.gotoFirst(0)) break;
        std::string at(list.infoName().view());
        auto it = std::find(model.begin(), model.end(), at);
        check(it != model.end());
        // The list's cursor is on the first identical text only when order holds.
        list.remove();
        model.assign(list.entries().size(), std::string());
        for (size_t k = 0; k < model.size(); ++k) model[k] = std::string(list.entries()[k].view());
        break;
      }
      case 4: {  // sort
        bool keep = take() & 1;
        int32_t removed = list.sort(keep);
        std::vector<std::string> sorted = model;
        std::stable_sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
          return bw::compareEntryNames(a, b) < 0;
        });
        if (!keep) sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
        check(static_cast<size_t>(removed) == (keep ? 0 : model.size() - sorted.size()));
        model = sorted;
        ordered = true;
        break;
      }
      default: {  // unique name
        bw::Str u = list.makeUniqueName(1 + (take() & 1), "t");
        std::string s(u.view());
        std::string stem = s.back() == '/' ? s.substr(0, s.size() - 1) : s;
        for (const std::string& e : model) check(!foldsEqual(e, stem) && !foldsEqual(e, stem + "/"));
        break;
      }
    }
    check(list.count() == static_cast<int32_t>(model.size()));
    for (size_t k = 0; k < model.size(); ++k) check(list.entries()[k].view() == model[k]);
  }
  return 0;
}
