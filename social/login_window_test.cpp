// social/login_window_test.cpp - the abort functors against a scripted user
// interface: which events give up the wait and which are only consumed (the
// wait ending on them runs on the GUI host in app/news_gui_windows_test.cpp).
#include "social/login_window.h"

#include <gtest/gtest.h>

#include "news/ui_seam_test_support.h"

namespace bw {
namespace {

using testing_news::ScriptedNewsUi;
using testing_news::ScriptedWindow;

struct Flags {
  bool close, quit;
};

TEST(LoginAbort, WhatEachEventMeans) {
  ScriptedNewsUi ui;
  LoginWaitingWindow waiting(twitterLoginWindow, twitterLoginCancelButton, "Waiting for Twitter login to complete...");
  ScriptedWindow& window = *ui.windows.at(0);
  ScriptedWindow other(ui, "other");
  NewsGuiItem* text = window.texts.at(0).get();
  struct Case {
    const char* name;
    ChangedGuiItem event;
    Flags before;
    bool abort;
  } cases[] = {
      {"nothing happened", {}, {false, false}, false},
      {"Cancel", {twitterLoginCancelButton, &window}, {false, false}, true},
      {"another item of the window", {text, &window}, {false, false}, false},
      {"close request", {nullptr, &window}, {true, false}, true},
      {"quit request", {nullptr, &window}, {false, true}, true},
      {"both requests", {nullptr, &window}, {true, true}, true},
      {"window event without a request", {nullptr, &window}, {false, false}, false},
      {"another window's Cancel-like event", {twitterLoginCancelButton, &other}, {false, false}, false},
      {"another window's close request", {nullptr, &other}, {true, true}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedWindow& target = c.event.window == &other ? other : window;
    target.closeRequested = c.before.close;
    target.quitRequested = c.before.quit;
    ui.events = {c.event};
    EXPECT_EQ(twitterLoginAbortCallback.call(), c.abort);
    EXPECT_TRUE(ui.events.empty());  // consumed either way
    // Only the waiting window's own close request is read and cleared; a
    // quit request stays for the caller, who ends with it.
    bool read = c.event.window == &window && !c.event.item;
    EXPECT_EQ(target.closeRequested, c.before.close && !read);
    EXPECT_EQ(target.quitRequested, c.before.quit);
  }
  // A quit gives up at the first poll, whichever window's event it takes.
  window.quitRequested = true;
  for (ChangedGuiItem event : {ChangedGuiItem{}, ChangedGuiItem{nullptr, &other}}) {
    ui.events = {event};
    EXPECT_TRUE(twitterLoginAbortCallback.call());
    EXPECT_TRUE(window.quitRequested);
  }
  window.quitRequested = false;
  // The Facebook functor watches only its own window.
  ui.events = {{twitterLoginCancelButton, &window}};
  EXPECT_FALSE(facebookLoginAbortCallback.call());
}

}  // namespace
}  // namespace bw
