// platform/app_frame.h - the application frame: the application description
// (cApp, cAppHost), its toolkit clients (cAppClient) and their resources
// (cAppResource).
//
// The frame is the toolkit-independent skeleton an interactive run hangs on.
// It draws nothing and knows no toolkit; a client (the GUI host) turns the
// description into real objects when the application is built.
//
// Invariants:
//   1. Clients are kept in registration order; the application never owns or
//      deletes a client.
//   2. built is true only between a build() that finished and the next
//      unbuild(). A client build() that raises leaves built false, so build()
//      can run again; clients built before the failing one stay built.
//   3. fullWindow and fullScreen are never both true; only newApp() and
//      unbuild() clear them. The full-screen sizes survive both.
//   4. A client owns the resources in its list: deleting the client deletes
//      them, in list order. rem() hands one back to the caller. A resource
//      is listed exactly when it is its owner's first resource or has a
//      predecessor; rem() clears both links.
//   5. Every failure raises before anything is changed.
//
// The five texts are kept as copies, so callers need not keep theirs alive.
#pragma once

#include <cstdint>

#include "core/object.h"
#include "core/str.h"

namespace bw {

class cApp;
class cAppClient;

// Something a client made for the application and keeps (a window).
class cAppResource : public class_base {
  BW_CLASS(cAppResource, class_base)

 public:
  cAppResource() = default;
  cAppResource(const cAppResource&) = delete;
  cAppResource& operator=(const cAppResource&) = delete;
  // A resource deleted while still listed takes itself out of the list, so
  // the client never keeps a dangling entry.
  ~cAppResource() override;

  cAppResource* infoNextResource() const { return nextResource_; }
  cAppResource* infoPrevResource() const { return prevResource_; }
  // The client that added it last (rem() does not clear it).
  cAppClient* infoOwnerClient() const { return ownerClient_; }

 private:
  friend class cAppClient;
  cAppResource* nextResource_ = nullptr;
  cAppResource* prevResource_ = nullptr;
  cAppClient* ownerClient_ = nullptr;
};

// A toolkit binding. The base class's build steps do nothing.
class cAppClient : public class_base {
  BW_CLASS(cAppClient, class_base)

 public:
  cAppClient() = default;
  cAppClient(const cAppClient&) = delete;
  cAppClient& operator=(const cAppClient&) = delete;
  // Deletes every resource still in the list, in list order.
  ~cAppClient() override;

  // Called for every client of a build() before any client's build().
  virtual void beforeBuild(cApp& app) { (void)app; }
  // Makes the toolkit objects from the application's texts and mode.
  virtual void build(cApp& app) { (void)app; }
  // Disposes of what build() made; harmless when nothing was built.
  virtual void unbuild() {}
  // Changes the shown state of what was built (false iconifies).
  virtual void minimise(cApp& app, bool flag) { (void)app, (void)flag; }

  // Appends res to the list and takes ownership of it. NIL raises "EMU".
  void add(cAppResource* res);
  // Unlinks res and gives ownership back to the caller. Raises "BUG" when
  // res is not in this client's list.
  cAppResource* rem(cAppResource* res);
  // True when res is in this client's list.
  bool holds(const cAppResource* res) const;
  cAppResource* infoFirstResource() const { return firstResource_; }
  cAppResource* infoLastResource() const { return lastResource_; }
  cAppClient* infoNextClient() const { return nextClient_; }

 private:
  friend class cApp;
  cAppClient* nextClient_ = nullptr;
  cAppResource* firstResource_ = nullptr;
  cAppResource* lastResource_ = nullptr;
};

// Result of cApp::infoFullScreen.
struct FullScreenInfo {
  bool fullScreen;
  int32_t width;
  int32_t height;
};

// The application description, its client list and its build state.
class cApp : public class_base {
  BW_CLASS(cApp, class_base)

 public:
  cApp() = default;
  cApp(const cApp&) = delete;
  cApp& operator=(const cApp&) = delete;

  // Back to a fresh description: no clients, no texts, no mode, unbuilt.
  // The full-screen sizes are kept.
  virtual void newApp();
  // Clears the texts and the mode flags and marks the application unbuilt
  // (clients stay registered), then calls every client's unbuild().
  virtual void unbuild();
  // Appends client to the list; NIL raises "EMU". The caller keeps
  // ownership and must keep the client alive while it is registered.
  void registerClient(cAppClient* client);

  // Each stores a copy of the text (NIL clears it) and returns the app.
  cApp& initTitle(Text text);
  cApp& initVersion(Text text);
  cApp& initCopyright(Text text);
  cApp& initAuthor(Text text);
  cApp& initDescription(Text text);
  // Raises "EMU" when full screen was chosen; may be repeated.
  cApp& initFullWindow();
  // Raises "EMU" when full window was chosen.
  cApp& initFullScreen(int32_t width, int32_t height);

  // Runs every client's beforeBuild(), then every client's build(), in
  // registration order. Raises "EMU" when built or untitled.
  void build();
  // Raises "EMU" unless built; passes flag to every client's minimise().
  void minimise(bool flag);

  const Str& infoTitle() const { return title_; }
  const Str& infoVersion() const { return version_; }
  const Str& infoCopyright() const { return copyright_; }
  const Str& infoAuthor() const { return author_; }
  const Str& infoDescription() const { return description_; }
  bool infoFullWindow() const { return fullWindow_; }
  FullScreenInfo infoFullScreen() const { return {fullScreen_, fullScreenWidth_, fullScreenHeight_}; }
  bool infoBuilt() const { return built_; }
  cAppClient* infoFirstClient() const { return firstClient_; }

 private:
  void clearDescription();

  cAppClient* firstClient_ = nullptr;
  cAppClient* lastClient_ = nullptr;
  Str title_, version_, copyright_, author_, description_;
  bool fullWindow_ = false;
  bool fullScreen_ = false;
  int32_t fullScreenWidth_ = 0;
  int32_t fullScreenHeight_ = 0;
  bool built_ = false;
};

// The class of the one global application: adds the screen windows open on.
class cAppHost : public cApp {
  BW_CLASS(cAppHost, cApp)

 public:
  // An opaque handle of the screen; nullptr when none was set.
  using Screen = void*;

  void newApp() override;
  void unbuild() override;

  // Raises "EMU" when a screen is already set (until newApp() or unbuild()).
  void setScreen(Screen screen);
  Screen getScreen() const { return screen_; }

 private:
  Screen screen_ = nullptr;
};

}  // namespace bw
