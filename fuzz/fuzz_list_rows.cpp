// fuzz/fuzz_list_rows.cpp - list rows from fuzzer bytes: column counts,
// styles, sort types and labels through makeColumnTexts, the column field
// search, the pen patching and both column comparators.
//
// Input: byte 0 the column count (1-8), byte 1 the style, byte 2 the sort
// types (two bits a column), byte 3 the pen number; the rest, split at line
// feeds, the labels.
//
// Checks: every column text is its prefixes and the label's field; each text
// is skipped and compared from a buffer of its exact size (a read past it is
// caught); both comparators are antisymmetric and agree; a list sorted by a
// column holds its rows in that column's order.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gui/gui_list.h"
#include "gui/host/core/gui_list_host.h"

namespace {

// A copy of text in a heap block of exactly its size.
struct Exact {
  explicit Exact(std::string_view text) : bytes(new char[text.size() + 1]), size(text.size()) {
    std::copy(text.begin(), text.end(), bytes.get());
  }
  std::string_view view() const { return {bytes.get(), size}; }
  std::unique_ptr<char[]> bytes;
  size_t size;
};

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  int32_t columns = data[0] % 8 + 1;
  int32_t style = data[1] & 15;
  std::string types;
  for (int32_t c = 0; c < columns; c++) types += "ISNX"[(data[2] >> (2 * (c % 4))) & 3];
  int32_t pen = data[3];
  std::string_view rest(reinterpret_cast<const char*>(data + 4), size - 4);
  std::vector<std::string> labels;
  for (size_t at = 0; at <= rest.size() && labels.size() < 64;) {
    size_t end = rest.find('\n', at);
    if (end == std::string_view::npos) end = rest.size();
    labels.emplace_back(rest.substr(at, end - at));
    at = end + 1;
  }

  std::vector<bw::GuiListRowTexts> rows(labels.size());
  for (size_t i = 0; i < labels.size(); i++) {
    bw::guiListSetLabelAndStyle(rows[i], labels[i], style, columns);
    bw::updateColumnsWithPen(rows[i], rows[i].penIndex == -1 ? -1 : pen);
    check(rows[i].columns.size() == static_cast<size_t>(columns));
    for (int32_t c = 0; c < columns; c++) {
      std::string_view text = rows[i].columns[static_cast<size_t>(c)];
      std::string_view field = bw::guiListColumnField(labels[i], c);
      check(text.substr(text.size() - field.size()) == field);
      Exact exact(text);
      bw::guiSkipListEscapes(exact.view());
    }
  }
  for (size_t i = 0; i < labels.size(); i++) {
    for (size_t j = 0; j < labels.size(); j++) {
      for (int32_t c = 0; c < columns; c++) {
        char type = types[static_cast<size_t>(c)];
        Exact a(rows[i].columns[static_cast<size_t>(c)]);
        Exact b(rows[j].columns[static_cast<size_t>(c)]);
        int32_t shown = bw::guiListCompareTexts(a.view(), b.view(), type, false);
        check(shown == -bw::guiListCompareTexts(b.view(), a.view(), type, false));
        std::string_view fa = bw::guiListColumnField(labels[i], c);
        std::string_view fb = bw::guiListColumnField(labels[j], c);
        int32_t fields = bw::compareGuiListFields(fa, fb, type);
        check(fields == -bw::compareGuiListFields(fb, fa, type));
        // The shown texts order as their fields do once the escapes go.
        check(shown == -bw::compareGuiListFields(bw::guiSkipListEscapes(a.view().substr(a.size - fa.size())),
                                                 bw::guiSkipListEscapes(b.view().substr(b.size - fb.size())),
                                                 type));
      }
    }
  }

  bw::cGuiList list(nullptr, columns, nullptr);
  list.initColumnSortTypes(types);
  for (const std::string& label : labels) list.addEntry(bw::Str(label), style, false, 0, {});
  int32_t column = data[1] >> 4 < columns ? data[1] >> 4 : 0;
  list.setSortByColumn(column, (data[1] & 16) != 0);
  auto* sorter = list.infoSorter().sorter;
  for (int32_t i = 0; i + 1 < list.infoSize(); i++) {
    check(sorter->call(list.infoEntryAt(i)->label, list.infoEntryAt(i + 1)->label, 0, 0, nullptr, nullptr) >=
          0);
  }
  return 0;
}
