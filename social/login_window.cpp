// social/login_window.cpp - the sign-in waiting windows and the functors
// that watch them.
#include "social/login_window.h"

#include "news/feed_failure.h"
#include "news/news_config.h"
#include "platform/commands.h"

namespace bw {

NewsGuiWindow* twitterLoginWindow = nullptr;
NewsGuiItem* twitterLoginCancelButton = nullptr;
NewsGuiWindow* facebookLoginWindow = nullptr;
NewsGuiItem* facebookLoginCancelButton = nullptr;

fObtainUserAccessTokenCallback twitterLoginAbortCallback;
fObtainUserAccessTokenCallback_facebook facebookLoginAbortCallback;

bool loginWindowAbortRequested(NewsGuiWindow* window, NewsGuiItem* cancelButton) {
  ChangedGuiItem event = newsUi().checkForChangedGuiItem();
  if (!window) return false;
  const bool own = event.window == window;
  const bool closed = own && !event.item && window->infoCloseRequested(false);
  // A quit gives up at once, whichever window's event the poll took (the
  // kill command queues one for every window); it is kept for the caller,
  // who ends with it.
  if (window->infoQuitRequested(true)) return true;
  if (!own) return false;
  return event.item ? event.item == cancelButton : closed;
}

LoginWaitingWindow::LoginWaitingWindow(NewsGuiWindow*& window, NewsGuiItem*& cancelButton, Text message)
    : published_(window), publishedCancel_(cancelButton) {
  window_ = newsUi().CreateGuiWindow(newsConfig::kProgramName);
  window_->beginGroupVertical();
  window_->addText("")->setState(message);
  NewsGuiItem* cancel = window_->addButton("Cancel");
  window_->endGroup();
  window_->build();
  // Published once built, so that a failed build leaves the globals NIL.
  published_ = window_.get();
  publishedCancel_ = cancel;
}

LoginWaitingWindow::~LoginWaitingWindow() {
  published_ = nullptr;
  publishedCancel_ = nullptr;
}

std::string signInFailureReason(SignInEnd end) {
  switch (end) {
    case SignInEnd::kRefused: return kSignInRefusedReason;
    case SignInEnd::kCancelled: return kSignInCancelledReason;
    default: return {};
  }
}

BrowserLogin waitForBrowserLogin(callbackWebServer& server, NewsGuiWindow*& window, NewsGuiItem*& cancelButton,
                                 fLoginCallback& abort, Text message, Text url, const callbackWebServer::Check& check) {
  LoginWaitingWindow waiting(window, cancelButton, message);
  if (!openURL(url)) return {};
  CallbackWait wait = server.waitForCallback(&abort, check);
  waiting.close();
  if (wait.end == CallbackWait::End::kTimedOut) newsUi().report(newsConfig::kProgramName, kSignInTimedOut, {});
  switch (wait.end) {
    case CallbackWait::End::kAnswered:
      return {std::move(wait.query), wait.refused ? SignInEnd::kRefused : SignInEnd::kSignedIn};
    case CallbackWait::End::kGaveUp: return {Str(), SignInEnd::kCancelled};
    default: return {};
  }
}

}  // namespace bw
