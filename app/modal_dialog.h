// app/modal_dialog.h - the frame every modal dialog of the feed commands
// shares: a host window made on the spot and ended on every way out, sized
// from the main window, and served by its own loop over the one wait.
//
// Invariants:
//   1. The window is ended (closed when open) when the dialog goes, also
//      when an exception passes through.
//   2. next() answers only this window's events: a gadget of it, its close
//      request, or the application's quit request (the kill command's
//      window event); events of other windows are consumed and dropped.
//   3. The quit request is left set, so the command loop sees it too.
#pragma once

#include <cstdint>

#include "gui/gui_gadgets.h"
#include "gui/gui_window.h"
#include "gui/host/core/gui_native_items.h"

namespace bw {

inline constexpr int32_t kDialogMinimumWidth = 640;
inline constexpr int32_t kFeedDialogHeight = 320;

class ModalDialog {
 public:
  explicit ModalDialog(Text title);
  ~ModalDialog();
  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;

  cGuiWindow* window() const { return window_; }
  cGuiWindow* operator->() const { return window_; }
  // "OK" answering the Return key.
  cGuiKeyButton* addOkButton();
  // The dialog's last row, "OK" (disabled when asked) beside the cancel
  // button, and the end of the window's root group.
  struct Buttons {
    cGuiKeyButton* ok;
    cGuiButton* cancel;
  };
  Buttons addButtonRow(Text cancelText, bool okDisabled = false);
  // Builds hidden, sizes to the larger of 640 and half the main window's
  // width (truncated) by height, and opens.
  void open(cGuiWindow* mainWindow, int32_t height = kFeedDialogHeight);

  struct Event {
    cGuiItem* item = nullptr;  // a gadget of this window, or NIL
    bool close = false;        // the window's close request
    bool quit = false;         // the application's quit request
  };
  Event next();

 private:
  cGuiWindow* window_;
};

}  // namespace bw
