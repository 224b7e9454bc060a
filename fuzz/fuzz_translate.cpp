// fuzz/fuzz_translate.cpp - translateStr against the plain leftmost-first
// model: same bytes, exact capacity, NIL exactly when nothing matched.
//
// Input: byte 0 the start, then "from\x01to\x01from\x01to..." up to the
// first 0x02, then the text. Empty from-texts are refused with "BUG".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/exception.h"
#include "core/ordering.h"
#include "core/translate.h"
#include "core/translate_test_model.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = false;
  if (!ready) {
    bw::initMegaListModule();
    bw::initTranslateEngine();
    ready = true;
  }
  if (size < 1 || size > 4096) return 0;
  std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  size_t split = input.find('\x02');
  if (split == std::string::npos) return 0;
  std::string text = input.substr(split + 1);
  if (text.find('\0') != std::string::npos) return 0;
  std::vector<std::string> dict;
  size_t p = 0;
  std::string spec = input.substr(0, split);
  for (;;) {
    size_t q = spec.find('\x01', p);
    dict.push_back(spec.substr(p, q == std::string::npos ? std::string::npos : q - p));
    if (q == std::string::npos) break;
    p = q + 1;
  }
  if (dict.size() % 2) dict.pop_back();
  if (dict.empty() || dict.size() > 64) return 0;
  std::vector<const char*> items;
  bool emptyFrom = false;
  for (size_t i = 0; i < dict.size(); ++i) {
    if (dict[i].find('\0') != std::string::npos) return 0;
    if (i % 2 == 0 && dict[i].empty()) emptyFrom = true;
    items.push_back(dict[i].c_str());
  }
  items.push_back(nullptr);
  const auto length = static_cast<int32_t>(text.size());
  const int32_t start = data[0] % (length + 1);
  bool changed = false;
  std::string want;
  if (!emptyFrom) want = bw::naiveTranslate(text, dict, static_cast<size_t>(start), changed);
  try {
    bw::Str got = bw::translateStr(text, items.data(), length, true, start);
    check(!emptyFrom);
    check(got.isNil() == !changed);
    if (!got.isNil()) check(got.str() == want && got.capacity() == got.length());
  } catch (const bw::eException& e) {
    // An empty from-text would match nothing for ever: refused.
    check(emptyFrom && e.code() == "BUG" && e.message() == "dynamicTranslateStr(); zero-length match");
  }
  return 0;
}
