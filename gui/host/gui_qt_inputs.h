// gui/host/gui_qt_inputs.h - the Qt widgets of the input gadgets (included
// only by gui/host/*.cpp): the realisers the layout walk asks first, and the
// path requester's chooser.
#pragma once

#include <QWidget>

#include "gui/host/core/gui_path_request.h"
#include "gui/host/core/gui_text.h"

namespace bw {

class cGuiListHost;

// The widget of an input gadget's object (its record gets its view), or
// nullptr when the item is not an input gadget.
QWidget* guiRealiseInput(cGuiItem* item, const GuiTextCodec& codec);
// The widget of a key button or an image item, or nullptr.
QWidget* guiRealiseNative(cGuiItem* item, const GuiTextCodec& codec);
// The tree view of a list, in a frame with the list's label when it has one.
QWidget* guiRealiseList(cGuiListHost* host, const GuiTextCodec& codec);
// The label column of an input gadget, or nullptr for the others.
QWidget* guiRealiseInputLabel(cGuiItem* item, const GuiTextCodec& codec);

// The chooser the path buttons use: a non-native QFileDialog unless a test
// put its own; an empty chooser puts the dialog back.
void guiSetPathChooser(GuiPathChooser chooser);
const GuiPathChooser& guiPathChooser();

}  // namespace bw
