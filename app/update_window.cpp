// app/update_window.cpp - building and ending the "Update feeds" window.
#include "app/update_window.h"

#include "gui/host/gui_app_client.h"

namespace bw {

UpdateWindowRecord buildUpdateWindow(NewsGuiWindows& windows) {
  UpdateWindowRecord r;
  cGuiWindow* w = cGuiHost::CreateGuiWindow("Update feeds");
  r.window = w;
  w->initSaveID(guiSaveId("UpdF"));
  w->beginGroupVertical(nullptr);
  r.feedText = w->addText("Feed");
  r.statusText = w->addText("Status");
  r.progressText = w->addText("Progress");
  w->beginGroupHorizontal(nullptr);
  r.buttonPage = w->beginGroupPage(nullptr);
  r.pauseButton = w->addButton("Pause");
  r.resumeButton = w->addButton("Resume");
  w->endGroup();
  r.cancelButton = w->addButton("Cancel");
  w->endGroup();
  w->endGroup();
  w->build(true);

  feedProgressGui& p = r.progress;
  p.window = windows.adoptWindow(w);
  p.feedText = windows.adoptText(p.window, r.feedText);
  p.stepText = windows.adoptText(p.window, r.statusText);
  p.progressText = windows.adoptText(p.window, r.progressText);
  p.pauseResumePage = windows.adoptPage(p.window, r.buttonPage);
  p.pauseButton = windows.adoptItem(p.window, r.pauseButton);
  p.resumeButton = windows.adoptItem(p.window, r.resumeButton);
  p.cancelButton = windows.adoptItem(p.window, r.cancelButton);
  return r;
}

void endUpdateWindow(UpdateWindowRecord& record, NewsGuiWindows& windows) {
  if (!record.window) return;
  windows.forget(record.progress.window);
  endGuiWindow(record.window);
  record = UpdateWindowRecord();
}

}  // namespace bw
