// app/gui_news_ui.cpp - the news interface on the GUI host.
#include "app/gui_news_ui.h"

#include "app/console_ui.h"
#include "app/gui_requester_window.h"

namespace bw {

int32_t GuiNewsUi::gui_requester(Text title, Text text, Text buttons, const RequesterParameters& parameters,
                                 int32_t wrap1, int32_t wrap2) {
  return guiRequesterWindow(title, text.view(), buttons.view(), &parameters, wrap1, wrap2);
}

void GuiNewsUi::report(Text title, Text text, const RequesterParameters& parameters) {
  guiRequesterWindow(title, text.view(), "OK", &parameters, 0, 0);
}

GuiNewsUiScope::GuiNewsUiScope() : previous_(&newsUi()) {
  setNewsUi(&ui_);
  setRequesterWindow(guiRequesterWindow);
}

GuiNewsUiScope::~GuiNewsUiScope() {
  setRequesterWindow(nullptr);
  setNewsUi(previous_);
}

}  // namespace bw
