// news/html_text_reference_test_support.h - a sequential reading of the
// HTML-to-text rules, written apart from the translate-engine version: the
// source is read left to right and each tag, line-feed run and blank run is
// replaced where it starts (the engine's three kinds of match never start on
// the same byte, so the order of the engine cannot change the result).
// "img" tags are taken without attributes: callers compare only texts whose
// pictures carry none.
#pragma once

#include <cctype>
#include <string>

namespace bw::testing_news {

inline const std::string kRuleText = "\n" + std::string(38, '-') + "\n";

inline std::string referenceDisplayText(const std::string& s, bool styles, bool utf8) {
  auto low = [](std::string t) {
    for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return t;
  };
  auto alnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 && c > 0; };
  auto ws = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\xA0'; };
  std::string out;
  std::string last = "/p";
  long lastEnd = -1;
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    size_t close = c == '<' ? s.find('>', i + 1) : std::string::npos;
    if (c == '<' && close != std::string::npos) {
      size_t k = i + 1;
      while (ws(s[k])) ++k;
      bool end = s[k] == '/';
      if (end) do ++k; while (ws(s[k]));
      size_t n = k;
      while (n < close && std::isalpha(static_cast<unsigned char>(s[n])) && s[n] > 0) ++n;
      std::string name = low(s.substr(k, n - k));
      if (name == "h" && s[n] >= '1' && s[n] <= '6') name = "p";
      if (name == "strong") name = "b";
      if (name == "em") name = "i";
      if (!styles && (name == "i" || name == "u")) name = "?";
      std::string kind = (end ? "/" : "") + name, r;
      if (kind == "br") r = "\n";
      else if (kind == "hr") r = kRuleText;
      else if (kind == "p") r = last == "/ul" || i == 0 ? "" : "\n";
      else if (kind == "b") r = styles ? "\x1b" "b" : "*";
      else if (kind == "/b") r = styles ? "\x1b" "n" : "*";
      else if (kind == "i" || kind == "u") r = "\x1b" + name;
      else if (kind == "/i" || kind == "/u") r = "\x1b" "n";
      else if (kind == "li") r = "* ";
      else if (kind == "/p" || kind == "/li" || kind == "ul" || kind == "/ul") r = "\n";
      else if (kind == "a") r = styles ? "\x1b" "u\x1b" "5" : "";
      else if (kind == "/a") r = styles ? "\x1b" "n\x1b" "2" : "";
      else if (kind == "img") r = "[PICTURE]\n";  // the generated texts hold no attributes
      else {
        kind = end ? "/other" : "other";
        char b = i ? s[i - 1] : 0, a = close + 1 < s.size() ? s[close + 1] : 0;
        bool before = i && (alnum(b) || std::string("<>.,!").find(b) != std::string::npos);
        bool after = a && (alnum(a) || a == '<' || a == '>');
        r = static_cast<long>(i) != lastEnd + 1 && before && after ? " " : "";
      }
      last = kind;
      lastEnd = static_cast<long>(close);
      out += r;
      i = close + 1;
    } else if (c == '\n') {
      size_t e = i + 1;
      while (e < s.size() && (s[e] == '\n' || s[e] == '\r')) ++e;
      if (i != 0 && e != s.size() && s[i - 1] != '>' && s[e] != '<') out += ' ';
      i = e;
    } else if (c == ' ' || c == '\t') {
      while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
      out += ' ';
    } else {
      out += c;
      ++i;
    }
  }
  for (char& c : out) c = c == '\t' ? ' ' : c;
  auto trimmable = [&](size_t k) {
    return out[k] == ' ' || out[k] == '\t' || out[k] == '\n' || out[k] == '\r' || (!utf8 && out[k] == '\xA0');
  };
  for (bool again = true; again;) {
    again = false;
    if (!out.empty() && trimmable(out.size() - 1)) out.pop_back(), again = true;
    else if (utf8 && out.size() >= 2 && out.compare(out.size() - 2, 2, "\xC2\xA0") == 0) out.resize(out.size() - 2), again = true;
  }
  size_t b = 0;
  for (bool again = true; again;) {
    again = false;
    if (b < out.size() && trimmable(b)) ++b, again = true;
    else if (utf8 && out.compare(b, 2, "\xC2\xA0") == 0) b += 2, again = true;
  }
  return out.substr(b);
}

}  // namespace bw::testing_news
