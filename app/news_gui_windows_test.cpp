// app/news_gui_windows_test.cpp - the sign-in waiting window on the Qt host
// (offscreen): events queued the way the host's notifications queue them
// end the callback server's wait, or are consumed.
#include "app/news_gui_windows.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "app/gui_host_test_support.h"
#include "core/ordering.h"
#include "core/system_charset.h"
#include "core/translate.h"
#include "core/unicode.h"
#include "gui/host/gui_app_client.h"
#include "news/ui_seam_test_support.h"
#include "platform/app_host.h"
#include "social/login_window.h"

namespace bw {
namespace {

constexpr char kMessage[] = "Waiting for Twitter login to complete...";

// The scripted interface with the host's windows and poll.
class HostNewsUi : public testing_news::ScriptedNewsUi {
 public:
  std::unique_ptr<NewsGuiBuiltWindow> CreateGuiWindow(Text title) override { return host.CreateGuiWindow(title); }
  ChangedGuiItem checkForChangedGuiItem() override { return host.checkForChangedGuiItem(); }
  NewsGuiWindows host;
};

class WaitingWindowOnHost : public ::testing::Test {
 protected:
  void SetUp() override {
    initMegaListModule();
    initTranslateEngine();
    initTranslateModule();
    initSystemCharset();
    host_ = std::make_unique<testing_app::GuiHostUp>("bw-news-gui-windows");
  }
  void TearDown() override {
    host_.reset();
    endSystemCharset();
    endCharsetModule();
    endTranslateEngine();
    endMegaListModule();
  }
  static int windowCount() { return testing_app::GuiHostUp::windowCount(); }
  cGuiWindowHostCore* waitingHost() {
    return static_cast<cGuiWindowHostCore*>(ui.host.hostWindow(twitterLoginWindow));
  }

  HostNewsUi ui;

 private:
  std::unique_ptr<testing_app::GuiHostUp> host_;
};

TEST_F(WaitingWindowOnHost, CancelCloseAndQuitEachEndTheWait) {
  for (int kind = 0; kind < 3; ++kind) {
    SCOPED_TRACE(kind);
    twitterWebServer server;
    ASSERT_GT(server.open(0), 0);
    {
      LoginWaitingWindow waiting(twitterLoginWindow, twitterLoginCancelButton, kMessage);
      cGuiWindowHostCore* host = waitingHost();
      ASSERT_NE(host, nullptr);
      EXPECT_TRUE(host->infoIsOpen());
      EXPECT_EQ(std::string(host->infoTitle().view()), "Brindlework");
      auto* text = static_cast<cGuiText*>(host->infoRootGroup()->infoFirst());
      EXPECT_EQ(std::string(text->getState().view()), kMessage);
      if (kind == 0) guiNotify(ui.host.hostItem(twitterLoginWindow, twitterLoginCancelButton), host);
      if (kind == 1) guiAppClient()->queueWindowEvent(host);
      if (kind == 2) guiAppClient()->killCommand();
      auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(server.waitForCallback(&twitterLoginAbortCallback, {}).end, CallbackWait::End::kGaveUp);
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
      EXPECT_EQ(guiAppClient()->infoQueued(), 0u);
    }
    EXPECT_EQ(windowCount(), 0);
    EXPECT_EQ(twitterLoginWindow, nullptr);
  }
}

TEST_F(WaitingWindowOnHost, OtherEventsAreConsumed) {
  cGuiWindow* main = cGuiHost::CreateGuiWindow("Main");
  main->beginGroupVertical(nullptr);
  cGuiButton* button = main->addButton("Update");
  main->endGroup();
  main->build(false);
  auto* mainHost = static_cast<cGuiWindowHostCore*>(main);
  LoginWaitingWindow waiting(twitterLoginWindow, twitterLoginCancelButton, kMessage);

  guiNotify(button, mainHost);
  EXPECT_FALSE(twitterLoginAbortCallback.call());
  guiAppClient()->queueWindowEvent(mainHost);  // another window's close request
  EXPECT_FALSE(twitterLoginAbortCallback.call());
  EXPECT_EQ(guiAppClient()->infoQueued(), 0u);

  guiAppClient()->queueChangedItem(nullptr, waitingHost());  // neither request
  EXPECT_FALSE(twitterLoginAbortCallback.call());
  EXPECT_FALSE(main->infoCloseRequested(true));  // the next poll dropped it
  EXPECT_FALSE(waitingHost()->infoCloseRequested(true));
  EXPECT_FALSE(waitingHost()->infoQuitRequested(true));
  guiNotify(static_cast<cGuiItem*>(waitingHost()->infoRootGroup()->infoFirst()), waitingHost());  // the text
  EXPECT_FALSE(twitterLoginAbortCallback.call());
  endGuiWindow(main);
}

}  // namespace
}  // namespace bw
