// gui/host/gui_natives.h - the procedures that reach the toolkit objects
// directly: window to front or back, gadget object IDs and the saved gadget
// states, and the picture reader of image items. No Qt type here; each does
// nothing when the object does not exist (the window is not built).
#pragma once

#include <cstdint>
#include <optional>

#include "gui/gui_window.h"
#include "platform/bitmap.h"

namespace bw {

void guiWindowToFront(cGuiWindow* window);
void guiWindowToBack(cGuiWindow* window);
// Gives the item's object its ID: saving and loading the states include it.
void guiItemSetNativeAttr(cGuiItem* item, uint32_t id);
// Store (restore) the state of every gadget with an ID of the application
// (the window's client) in its settings file. Loading shows strings without
// reporting them; ticks, sliders, choices and pages report a change.
void guiAppSaveStates(cGuiWindow* window);
void guiAppLoadSavedStates(cGuiWindow* window);

// Saves what the built window shows as a PNG file (native path); FALSE
// when the window is not built or the file cannot be written.
bool guiSaveScreenshot(cGuiWindow* window, Text nativePath);

// A PNG, JPEG or GIF file (native path) as a 32-bit bitmap, alpha kept.
std::optional<cBitMap> guiReadPicture(Text nativePath);

}  // namespace bw
