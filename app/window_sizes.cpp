// app/window_sizes.cpp - sizing the contents window and the dialogs.
#include "app/window_sizes.h"

#include <algorithm>

namespace bw {

void sizeContentsWindow(cGuiWindow* mainWindow, cGuiWindow* contentsWindow) {
  contentsWindow->setSize(mainWindow->infoWidth() / 2, mainWindow->infoHeight());
  const GuiPosition at = mainWindow->getPosition();
  contentsWindow->setPosition(at.x, at.y);
}

void sizeDialogWindow(cGuiWindow* owner, cGuiWindow* window) {
  window->setSize(std::max(kDialogMinWidth, owner->infoWidth() / 2), kDialogHeight);
}

}  // namespace bw
