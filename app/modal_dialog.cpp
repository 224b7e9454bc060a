// app/modal_dialog.cpp - the modal dialog frame.
#include "app/modal_dialog.h"

#include <algorithm>

#include "gui/host/gui_app_client.h"

namespace bw {

ModalDialog::ModalDialog(Text title) : window_(cGuiHost::CreateGuiWindow(title)) {}

ModalDialog::~ModalDialog() { endGuiWindow(window_); }

cGuiKeyButton* ModalDialog::addOkButton() { return addKeyButton(window_, "OK", 10); }

ModalDialog::Buttons ModalDialog::addButtonRow(Text cancelText, bool okDisabled) {
  window_->beginGroupHorizontal(nullptr);
  Buttons buttons{addOkButton(), nullptr};
  buttons.ok->setDisabled(okDisabled);
  buttons.cancel = window_->addButton(cancelText);
  window_->endGroup();
  window_->endGroup();
  return buttons;
}

void ModalDialog::open(cGuiWindow* mainWindow, int32_t height) {
  window_->build(true);
  int32_t width = mainWindow ? mainWindow->infoWidth() / 2 : 0;
  window_->setSize(std::max(kDialogMinimumWidth, width), height);
  window_->open();
}

ModalDialog::Event ModalDialog::next() {
  for (;;) {
    GuiChange change = cGuiHost::waitForChangedGuiItem();
    if (change.window != window_) {
      if (window_->infoQuitRequested(true)) return {nullptr, false, true};
      continue;
    }
    if (change.item) return {change.item, false, false};
    if (window_->infoQuitRequested(true)) return {nullptr, false, true};
    if (window_->infoCloseRequested(false)) return {nullptr, true, false};
  }
}

}  // namespace bw
