// gui/host/gui_app_client.h - cGuiAppClient, the application client on Qt 6
// Widgets, and cGuiWindowHost, its window. This header names no Qt type.
//
// Invariants:
//   1. Qt exists only between build and unbuild: making the client (shell
//      mode) creates nothing. build reuses a QApplication that already
//      exists (and never deletes it), else makes one with the program name
//      as its only argument.
//   2. After build, LC_NUMERIC is "C" again: making the application object
//      applies the user's locale, and C-library numbers stay locale-free.
//   3. With no display at all (QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY
//      unset) build raises "ERR" "cGuiAppClient.build(); failed to create
//      GUI" instead of letting Qt abort.
//   4. Only a built client handles SIGTERM, SIGHUP and SIGINT: each becomes
//      terminate() in the event loop, the kill command whose quit request no
//      dialog takes back, and every open toolkit dialog (the path chooser)
//      is rejected. unbuild puts the previous handlers back.
//   5. No Qt callback lets an exception out: each prints it
//      (printException) and the loop goes on.
#pragma once

#include <memory>

#include <string>

#include "gui/host/core/gui_app_core.h"
#include "gui/host/core/gui_text.h"

namespace bw {

class cGuiAppClient : public cGuiAppClientCore {
  BW_CLASS(cGuiAppClient, cGuiAppClientCore)

 public:
  cGuiAppClient();
  ~cGuiAppClient() override;

  void build(cApp& app) override;
  // Ends every window, puts the signal handlers back and deletes the
  // QApplication when build made it.
  void unbuild() override;
  bool hasApp() const override;
  // WaitForMoreEvents when blocking, else one AllEvents pass.
  void inputPass(bool block) override;
  // The QApplication (0 before build).
  void* infoApplication() const;
  // Where the window placements are kept: $XDG_CONFIG_HOME (else
  // ~/.config) + "/brindlework/<appBase>.ini".
  std::string settingsPath() const;
  // Texts to and from Qt (built from the system encoding at build).
  const GuiTextCodec& infoCodec() const;
  // The application's main window: built without a size or a saved one it
  // takes most of the screen; a window built while it is open becomes its
  // dialog (transient for it, centred on it the first time, Esc its close
  // request). NIL: none; a window that is ended stops being the main one.
  void setMainWindow(cGuiWindow* window) { mainWindow_ = window; }
  cGuiWindow* infoMainWindow() const { return mainWindow_; }

 protected:
  cGuiWindowHostCore* newWindow(Text title) override;

 private:
  struct Native;
  std::unique_ptr<Native> native_;
  cGuiWindow* mainWindow_ = nullptr;
};

class cGuiWindowHost : public cGuiWindowHostCore {
  BW_CLASS(cGuiWindowHost, cGuiWindowHostCore)

 public:
  cGuiWindowHost(Text title, cGuiAppClient* client);
  ~cGuiWindowHost() override;

 protected:
  void nativeBuild(const GuiLayoutNode& root) override;
  void nativeCycleChain(const std::vector<cGuiItem*>& chain, cGuiItem* firstFocus) override;
  void nativeShow(bool open) override;
  GuiPlacement nativePlacement() override;
  void nativeMove(int32_t x, int32_t y) override;
  void nativeResize(int32_t width, int32_t height) override;
  void nativeBusy(bool busy) override;
  void nativeDestroy() override;
  GuiNativeObject nativeObject(Text kind) override;

 private:
  void savePlacement();
  void placeOnShow();
  void centreOnOwner();
  // (x, y): where the window will stand, when placeKnown.
  void fitToScreen(bool placeKnown, int32_t x, int32_t y);
  void scrollContents();
  struct Native;
  std::unique_ptr<Native> native_;
  cGuiAppClient* qtClient_;
};

// Module start-up: makes the one client (without Qt) and registers it with
// the application host. Module end: drops the host's clients
// (cApp::newApp), then deletes the client.
void initGuiHostModule();
void endGuiHostModule();
cGuiAppClient* guiAppClient();

// The application's calls, on the one client.
namespace cGuiHost {
cGuiWindow* CreateGuiWindow(Text title);
GuiChange waitForChangedGuiItem();
GuiChange checkForChangedGuiItem(bool keepOtherWindows);
// The main window of the one client (cGuiAppClient::setMainWindow).
void SetMainWindow(cGuiWindow* window);
// A kill signal asked the program to end (cGuiAppClientCore::terminate);
// FALSE without a client.
bool Terminating();
}  // namespace cGuiHost
// Closes, removes and deletes the window; nothing for NIL or without client.
void endGuiWindow(cGuiWindow* window);

}  // namespace bw
