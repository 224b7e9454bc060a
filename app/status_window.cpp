// app/status_window.cpp - the start-up and shutdown status window.
#include "app/status_window.h"

#include "gui/host/gui_app_client.h"

namespace bw {

void StatusWindow::create(std::string_view title) {
  window_ = cGuiHost::CreateGuiWindow(title);
  window_->beginGroupVertical(nullptr);
  text_ = window_->addTextBox("Status");
  window_->endGroup();
  window_->build(true);
  window_->setSize(640, 100);
}

void StatusWindow::show(std::string_view text) {
  if (!window_) return;
  text_->setState(text);
  poll();
}

void StatusWindow::open() {
  if (window_) window_->open();
}

void StatusWindow::close() {
  if (window_) window_->close();
}

void StatusWindow::end() {
  cGuiWindow* window = window_;
  window_ = nullptr;
  text_ = nullptr;
  endGuiWindow(window);
}

void StatusWindow::poll() { cGuiHost::checkForChangedGuiItem(false); }

}  // namespace bw
