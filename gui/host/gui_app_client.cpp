// gui/host/gui_app_client.cpp - the application client on Qt: making and
// reusing the QApplication, the input passes, the kill signals, and the
// module's one client.
#include "gui/host/gui_app_client.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <chrono>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "core/exception.h"
#include "core/system_charset.h"
#include "gui/host/core/gui_native_items.h"
#include "gui/host/gui_natives.h"
#include "gui/host/gui_qt_widgets.h"
#include "platform/app_host.h"
#include "platform/dos_env.h"
#include "platform/native_path.h"
#include "platform/path_native.h"

namespace bw {

namespace {

cGuiAppClient* gClient = nullptr;

// The kill signals reach the loop through a pipe: the handler only writes.
int gKillPipe[2] = {-1, -1};
constexpr int kKillSignals[] = {SIGTERM, SIGHUP, SIGINT};

extern "C" void onKillSignal(int) {
  int saved = errno;
  char byte = 1;
  [[maybe_unused]] ssize_t n = write(gKillPipe[1], &byte, 1);
  errno = saved;
}

bool haveDisplay() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value && *value) return true;
  }
  return false;
}

}  // namespace

struct cGuiAppClient::Native {
  bool built = false;
  std::chrono::steady_clock::time_point lastPass;  // of the toolkit's events
  bool ownsApp = false;
  std::string argv0;
  int argc = 1;
  char* argv[2] = {nullptr, nullptr};
  std::unique_ptr<QApplication> app;  // only when this client made it
  std::unique_ptr<QSocketNotifier> killNotifier;
  struct sigaction oldActions[3] = {};
  std::unique_ptr<GuiTextCodec> codec;
};

cGuiAppClient::cGuiAppClient() : native_(std::make_unique<Native>()) {}

cGuiAppClient::~cGuiAppClient() {
  while (cAppResource* r = infoFirstResource()) delete rem(r);
  unbuild();
}

void cGuiAppClient::build(cApp& app) {
  prepareNames(app);
  if (!QCoreApplication::instance()) {
    if (!haveDisplay()) raise("ERR", "cGuiAppClient.build(); failed to create GUI");
    native_->argv0 = std::string(filePartOfCommandPath(dos::programName()));
    if (native_->argv0.empty()) native_->argv0 = "brindlework";
    native_->argv[0] = native_->argv0.data();
    native_->app = std::make_unique<QApplication>(native_->argc, native_->argv);
  }
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
    raise("ERR", "cGuiAppClient.build(); failed to create GUI");
  }
  // Making the application object applied the user's locale.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName(QString::fromStdString(infoAppBase().str()));
  std::string icon;
  std::string iconNative = "PROGDIR:/" + native_->argv0 + ".png";
  if (pathOrDeviceExists(iconNative, 1) && dos::nativeToHost(iconNative, icon)) {
    QApplication::setWindowIcon(QIcon(QString::fromStdString(icon)));
  }
  if (app.isOfClass(cAppHost::kClassName)) {
    auto& host = static_cast<cAppHost&>(app);
    if (!host.getScreen() && !app.infoFullScreen().fullScreen) host.setScreen(QGuiApplication::primaryScreen());
  }
  native_->codec = std::make_unique<GuiTextCodec>(newSystemEncoding());
  guiSetPictureReader(guiReadPicture);

  // SIGTERM, SIGHUP and SIGINT end the program (terminate), from now on
  // only here.
  if (gKillPipe[0] < 0 && pipe2(gKillPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    raise("ERR", "cGuiAppClient.build(); failed to create GUI");
  }
  native_->killNotifier = std::make_unique<QSocketNotifier>(gKillPipe[0], QSocketNotifier::Read);
  QObject::connect(native_->killNotifier.get(), &QSocketNotifier::activated, [this] {
    char drain[64];
    while (read(gKillPipe[0], drain, sizeof drain) > 0) {
    }
    guiGuarded([this] { terminate(); });
    // A toolkit dialog in a loop of its own (the path chooser, its
    // questions) would hold the program until a user answered it.
    for (QWidget* top : QApplication::topLevelWidgets())
      if (auto* dialog = qobject_cast<QDialog*>(top); dialog && dialog->isVisible()) dialog->reject();
  });
  struct sigaction action = {};
  action.sa_handler = onKillSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) sigaction(kKillSignals[i], &action, &native_->oldActions[i]);

  resetRun();
  native_->built = true;
}

void cGuiAppClient::unbuild() {
  if (!native_->built) return;
  // Windows go before the application object their widgets need.
  while (cAppResource* r = infoFirstResource()) delete rem(r);
  native_->built = false;
  for (int i = 0; i < 3; ++i) sigaction(kKillSignals[i], &native_->oldActions[i], nullptr);
  native_->killNotifier.reset();
  native_->app.reset();
}

bool cGuiAppClient::hasApp() const { return native_->built; }

// A long operation polls after every small step, and each pass of the
// toolkit lays out and paints every text changed since the pass before: a
// poll lets the toolkit run at most every kPollPassInterval, so input waits
// no longer than that and a window is drawn at most that often. The texts
// shown meanwhile reach their labels just before the pass.
namespace {
constexpr auto kPollPassInterval = std::chrono::milliseconds(20);
}  // namespace

void cGuiAppClient::inputPass(bool block) {
  const auto now = std::chrono::steady_clock::now();
  if (!block && now - native_->lastPass < kPollPassInterval) return;
  native_->lastPass = now;
  guiApplyPendingShows();
  QCoreApplication::processEvents(block ? QEventLoop::WaitForMoreEvents : QEventLoop::AllEvents);
  guiApplyPendingShows();  // what the pass's callbacks showed
}

void* cGuiAppClient::infoApplication() const { return native_->built ? QCoreApplication::instance() : nullptr; }

std::string cGuiAppClient::settingsPath() const {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base = config && *config ? config : std::string(std::getenv("HOME") ? std::getenv("HOME") : ".") + "/.config";
  return base + "/brindlework/" + infoAppBase().str() + ".ini";
}

const GuiTextCodec& cGuiAppClient::infoCodec() const {
  if (!native_->codec) raise("EPU", "cGuiHost; cApp.build() must be called first");
  return *native_->codec;
}

cGuiWindowHostCore* cGuiAppClient::newWindow(Text title) { return new cGuiWindowHost(title, this); }

// ---- the module ----

void initGuiHostModule() {
  gClient = new cGuiAppClient();
  appHost()->registerClient(gClient);
}

void endGuiHostModule() {
  if (!gClient) return;
  if (appHost()) appHost()->newApp();
  delete gClient;
  gClient = nullptr;
}

cGuiAppClient* guiAppClient() { return gClient; }

namespace {
cGuiAppClient& client() {
  if (!gClient) raise("EPU", "cGuiHost; the GUI host module is not started");
  return *gClient;
}
}  // namespace

cGuiWindow* cGuiHost::CreateGuiWindow(Text title) { return client().createGuiWindow(title); }

void cGuiHost::SetMainWindow(cGuiWindow* window) { client().setMainWindow(window); }
bool cGuiHost::Terminating() { return gClient && gClient->infoTerminating(); }
GuiChange cGuiHost::waitForChangedGuiItem() { return client().waitForChangedGuiItem(); }
GuiChange cGuiHost::checkForChangedGuiItem(bool keep) { return client().checkForChangedGuiItem(keep); }

void endGuiWindow(cGuiWindow* window) {
  if (gClient) gClient->endGuiWindow(window);
}

}  // namespace bw
