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
  return formatText(text, &parameters);
}

void setProgressText(feedProgressGui* gui, std::string_view text) {
  if (!gui || !gui->progressText) return;
  gui->progressText->setState(text.substr(0, kProgressTextCapacity));
}

}  // namespace bw
