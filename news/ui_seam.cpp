// news/ui_seam.cpp - the installed user interface and the format-text
// helpers every implementation of it shares.
#include "news/ui_seam.h"

#include "core/exception.h"

namespace bw {
namespace {

NewsUi* gNewsUi = nullptr;

}  // namespace

void setNewsUi(NewsUi* ui) { gNewsUi = ui; }

std::unique_ptr<NewsGuiBuiltWindow> NewsUi::CreateGuiWindow(Text title) {
  (void)title;
  raise("BUG", "NewsUi.CreateGuiWindow(); no windows here");
}

NewsUi& newsUi() {
  if (!gNewsUi) raise("BUG", "newsUi(); no user interface installed");
  return *gNewsUi;
}

std::string doublePercent(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

std::string fillFormatText(std::string_view text, const RequesterParameters& parameters) {
  std::string out;
  size_t next = 0;
  auto take = [&](std::string& into) {
    if (next >= parameters.size()) return;
    const RequesterParameter& p = parameters[next++];
    if (const auto* s = std::get_if<std::string>(&p)) {
      into += *s;
    } else {
      into += std::to_string(std::get<int64_t>(p));
    }
  };
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%' || i + 1 >= text.size()) {
      out += text[i];
    } else if (text[i + 1] == '%') {
      out += '%';
      ++i;
    } else if (text[i + 1] == 's') {
      take(out);
      ++i;
    } else if (text.substr(i + 1, 2) == "ld") {
      take(out);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

void setProgressText(feedProgressGui* gui, std::string_view text) {
  if (!gui || !gui->progressText) return;
  gui->progressText->setState(text.substr(0, kProgressTextCapacity));
}

}  // namespace bw
