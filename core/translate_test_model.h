// core/translate_test_model.h - the plain model translateStr is checked
// against in tests and fuzzing: at each position the first pair (in
// dictionary order) whose from-text starts there is replaced, else the byte
// is copied. Nothing matched: the whole text.
#pragma once

#include <string>
#include <vector>

namespace bw {

inline std::string naiveTranslate(const std::string& text, const std::vector<std::string>& dict, size_t start,
                                  bool& changed) {
  std::string out;
  changed = false;
  size_t p = start;
  while (p < text.size()) {
    bool hit = false;
    for (size_t i = 0; i + 1 < dict.size(); i += 2) {
      if (text.compare(p, dict[i].size(), dict[i]) == 0) {
        out += dict[i + 1];
        p += dict[i].size();
        hit = changed = true;
        break;
      }
    }
    if (!hit) out += text[p++];
  }
  return changed ? out : text;
}

}  // namespace bw
