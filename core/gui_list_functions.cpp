// core/gui_list_functions.cpp - the default row order of GUI lists.
#include "core/gui_list_functions.h"

#include "core/ordering.h"

namespace bw {

int32_t fGuiListSort::call(const Str& label1, const Str& label2, int32_t /*data1*/, int32_t /*data2*/,
                           const box* /*dataBox1*/, const box* /*dataBox2*/) {
  return compareTextNoCase(label1.c_str(), label2.c_str());
}

}  // namespace bw
