// gui/host/core/gui_path_request.h - the file and drawer requester of path
// strings without a toolkit: the request made from the gadget's text and
// options, and the answer written back.
//
// Invariants:
//   1. The gadget shows host paths; the request's drawer and file are host
//      texts (the drawer without its final "/"), and the answer is too.
//   2. A request with no drawer starts at the volumes ("/").
//   3. A chosen path is shown, kept as the gadget's text and reported once;
//      a cancelled request changes and reports nothing.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "gui/host/core/gui_input_hosts.h"

namespace bw {

struct GuiPathRequest {
  std::string title;     // "Select File" or "Select Drawer"
  std::string drawer;    // empty: none
  std::string file;      // empty: none
  bool showVolumes;      // no drawer given: start at "/"
  bool drawersOnly;
  bool saveMode;
  bool rejectIcons;      // nothing to reject on Linux; kept for the chooser
};

// The answer of a requester: the drawer and, unless drawers only, the file.
struct GuiPathAnswer {
  std::string drawer;
  std::string file;
};

// The requester for the gadget's current text and options.
GuiPathRequest guiPathStart(cGuiPathStringHost& item);
// Joins the answer (the drawer alone for a drawer gadget), shows it, keeps
// it and reports the gadget.
void guiPathStop(cGuiPathStringHost& item, const GuiPathAnswer& answer);

// The folder a chooser opens in: the request's drawer, else the folder the
// user last chose in, else home (and "/" without a home).
std::string guiChooserFolder(const GuiPathRequest& request, const std::string& lastFolder, const char* home);

// What asks the user: a toolkit dialog, or a test's scripted answer.
using GuiPathChooser = std::function<std::optional<GuiPathAnswer>(const GuiPathRequest&)>;
// Runs the chooser for the gadget (the path button's action); nothing
// happens when it is cancelled.
void guiPathRequest(cGuiPathStringHost& item, const GuiPathChooser& chooser);

}  // namespace bw
