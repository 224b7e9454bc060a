// app/status_window.h - the small window of start-up and shutdown messages
// in GUI mode: one "Status" text box in a window titled with the program's
// name, 640 x 100, built hidden and opened only while a message stands.
//
// Invariants:
//   1. Every message is followed by one non-blocking poll, so the window is
//      drawn while the work goes on; the poll drops other windows' events.
//   2. Without a window (shell mode, or before the host is built) every
//      operation does nothing.
//   3. The window is ended by end() or the destructor, whichever comes first.
#pragma once

#include <string_view>

#include "gui/gui_gadgets.h"
#include "gui/gui_window.h"

namespace bw {

class StatusWindow {
 public:
  StatusWindow() = default;
  StatusWindow(const StatusWindow&) = delete;
  StatusWindow& operator=(const StatusWindow&) = delete;
  ~StatusWindow() { end(); }

  // Makes, builds (closed) and sizes the window on the GUI host.
  void create(std::string_view title);
  // Shows text in the "Status" box and polls once.
  void show(std::string_view text);
  void open();
  void close();
  void end();

  cGuiWindow* window() const { return window_; }
  cGuiTextBox* text() const { return text_; }

 private:
  void poll();
  cGuiWindow* window_ = nullptr;
  cGuiTextBox* text_ = nullptr;
};

}  // namespace bw
