// app/window_sizes.h - where the companion windows open: the contents
// window beside the main window, and the dialogs' width from their owner.
//
// Invariants:
//   1. Both only set sizes and positions; neither builds, opens nor raises
//      beyond what the window's own queries raise (a host window that was
//      never built nor sized has no size yet: "EMU").
//   2. Divisions truncate toward zero.
#pragma once

#include <cstdint>

#include "gui/gui_window.h"

namespace bw {

inline constexpr int32_t kDialogMinWidth = 640;
inline constexpr int32_t kDialogHeight = 50;

// contents: half the main window's width, its full height, at its position.
void sizeContentsWindow(cGuiWindow* mainWindow, cGuiWindow* contentsWindow);

// window: the larger of kDialogMinWidth and half the owner's width, by
// kDialogHeight.
void sizeDialogWindow(cGuiWindow* owner, cGuiWindow* window);

}  // namespace bw
