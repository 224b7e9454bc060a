// gui/host/core/gui_path_request.cpp - the path string's requester: request
// from the gadget, answer back into it.
#include "gui/host/core/gui_path_request.h"

#include "gui/host/core/gui_app_core.h"

namespace bw {

namespace {

// The shown text: the view's once built, else the stored one.
std::string shownText(cGuiPathStringHost& item) {
  GuiGadgetView* view = guiView(item);
  Str text = view ? view->shownText() : item.infoText();
  return text.isNil() ? std::string() : std::string(text.view());
}

}  // namespace

GuiPathRequest guiPathStart(cGuiPathStringHost& item) {
  std::string text = shownText(item);
  GuiPathRequest request{};
  request.drawersOnly = item.isDrawer();
  request.saveMode = item.isSaveMode();
  request.rejectIcons = !item.isPatternGadget();
  request.title = request.drawersOnly ? "Select Drawer" : "Select File";
  if (request.drawersOnly) {
    request.drawer = text;
  } else if (!text.empty()) {
    size_t slash = text.rfind('/');
    if (slash == std::string::npos) {
      request.file = text;
    } else {
      request.file = text.substr(slash + 1);
      request.drawer = text.substr(0, slash == 0 ? 1 : slash);
    }
  }
  request.showVolumes = request.drawer.empty();
  return request;
}

void guiPathStop(cGuiPathStringHost& item, const GuiPathAnswer& answer) {
  std::string path = answer.drawer;
  if (!item.isDrawer() && !answer.file.empty()) {
    if (!path.empty() && path.back() != '/') path += '/';
    path += answer.file;
  }
  if (GuiGadgetView* view = guiView(item)) view->showText(path);
  item.cGuiPathString::setState(path);
  if (item.isSaveMode()) item.noteChosenForSaving(path);
  cGuiShared& record = guiRecord(item);
  if (record.window) guiNotify(&item, record.window);
}

void guiPathRequest(cGuiPathStringHost& item, const GuiPathChooser& chooser) {
  std::optional<GuiPathAnswer> answer = chooser(guiPathStart(item));
  if (answer) guiPathStop(item, *answer);
}

std::string guiChooserFolder(const GuiPathRequest& request, const std::string& lastFolder, const char* home) {
  if (!request.drawer.empty()) return request.drawer;
  if (!lastFolder.empty()) return lastFolder;
  return home && *home ? std::string(home) : std::string("/");
}

}  // namespace bw
