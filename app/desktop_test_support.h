// app/desktop_test_support.h - a real X server (Xvfb) with a small window
// manager (openbox) for one test, on a display of its own; DISPLAY points
// at it while it runs.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/feed_commands_test_support.h"
#include "app/gui_user_test_support.h"
#include "platform/spawn.h"

namespace bw::testing_app {

inline bool installed(const char* name) { return !findExecutable(name, executableSearchPath()).empty(); }

// The programs a desktop run needs, or the first that is missing.
inline std::string missingDesktopProgram() {
  for (const char* program : {"Xvfb", "openbox", "xprop", "xwininfo"})
    if (!installed(program)) return program;
  return "";
}

// An X server and a window manager for the test's length.
class Desktop {
 public:
  // On a busy machine either program may take seconds to come up, and a
  // display number may be taken by a server the lock files do not show:
  // each attempt takes the next free number.
  bool start() {
    display_ = 90 + getpid() % 40;
    for (int attempt = 0; attempt < 4; ++attempt, ++display_)
      if (startOn()) return true;
    return false;
  }
  ~Desktop() { stop(); }

 private:
  bool startOn() {
    stop();
    while (std::filesystem::exists("/tmp/.X" + std::to_string(display_) + "-lock")) ++display_;
    const std::string name = ":" + std::to_string(display_);
    SpawnOptions quiet;
    quiet.in = quiet.out = quiet.err = SpawnStdio::kNull;
    quiet.dieWithParent = true;
    SpawnResult server = spawnProcess({"Xvfb", name, "-screen", "0", "1280x800x24", "-nolisten", "tcp"}, quiet);
    if (server.error) return false;
    server_ = std::move(server.child);
    ::setenv("DISPLAY", name.c_str(), 1);
    if (!waitUntil([] { return runProgram({"xprop", "-root"}).code == 0; }, server_)) return false;
    SpawnResult wm = spawnProcess({"openbox", "--sm-disable"}, quiet);
    if (wm.error) return false;
    manager_ = std::move(wm.child);
    return waitUntil(
        [] { return runProgram({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).out.find("window id") != std::string::npos; },
        manager_);
  }
  // Polls until ready answers TRUE, for at most twenty seconds, or until
  // child has ended.
  template <class Ready>
  static bool waitUntil(Ready ready, ChildProcess& child) {
    for (int i = 0; i < 400; ++i) {
      if (ready()) return true;
      ExitStatus ended;
      if (child.tryWait(&ended)) return false;
      usleep(50000);
    }
    return false;
  }
  void stop() {
    for (ChildProcess* child : {&manager_, &server_})
      if (child->valid()) {
        child->terminate(SIGTERM);
        *child = ChildProcess();
      }
  }

  int display_ = 0;
  ChildProcess server_, manager_;
};

// A program test under its own X server and window manager, the toolkit on
// it, with an empty database; skipped where a desktop program is missing.
class DesktopProgramTest : public GuiProgramTest {
 protected:
  void SetUp() override {
    GuiProgramTest::SetUp();
    if (const std::string missing = missingDesktopProgram(); !missing.empty())
      GTEST_SKIP() << missing << " is not installed: no run under a window manager";
    if (QGuiApplication::instance()) GTEST_SKIP() << "Qt already runs in this process on another platform";
    ASSERT_TRUE(desktop_.start()) << "Xvfb and openbox did not come up";
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    makeEmptyDatabase("database.soup");
  }

 private:
  Desktop desktop_;
};

}  // namespace bw::testing_app
