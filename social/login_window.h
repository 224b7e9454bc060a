// social/login_window.h - the small "Waiting for ... login to complete..."
// window a sign-in shows while the user is in the browser, and the abort
// functors that watch it from the callback server's wait.
//
// Invariants:
//   1. twitterLoginWindow / facebookLoginWindow and their Cancel buttons
//      point at the waiting window only while a LoginWaitingWindow holds it;
//      they are NIL again at every end, exceptions included.
//   2. An abort functor polls the user interface once per call and consumes
//      the event: the quit request gives TRUE whatever the event (and is
//      kept for the caller); else an event of another window gives FALSE,
//      and Cancel, or an item-less event of its window with a close request
//      (then cleared), gives TRUE.
//   3. The functors keep no state of their own; one object of each lives for
//      the program (twitterLoginAbortCallback, facebookLoginAbortCallback).
#pragma once

#include <memory>
#include <string>

#include "core/str.h"
#include "news/ui_seam.h"
#include "social/callback_server.h"

namespace bw {

// The waiting windows and their Cancel buttons; NIL while there is none.
extern NewsGuiWindow* twitterLoginWindow;
extern NewsGuiItem* twitterLoginCancelButton;
extern NewsGuiWindow* facebookLoginWindow;
extern NewsGuiItem* facebookLoginCancelButton;

// One poll of the user interface against a waiting window: TRUE to give up
// (invariant 2). FALSE when there is no window.
bool loginWindowAbortRequested(NewsGuiWindow* window, NewsGuiItem* cancelButton);

class fObtainUserAccessTokenCallback : public fTwitterLoginCallback {
  BW_CLASS(fObtainUserAccessTokenCallback, fTwitterLoginCallback)
 public:
  bool call() override { return loginWindowAbortRequested(twitterLoginWindow, twitterLoginCancelButton); }
};

class fObtainUserAccessTokenCallback_facebook : public fFacebookLoginCallback {
  BW_CLASS(fObtainUserAccessTokenCallback_facebook, fFacebookLoginCallback)
 public:
  bool call() override { return loginWindowAbortRequested(facebookLoginWindow, facebookLoginCancelButton); }
};

extern fObtainUserAccessTokenCallback twitterLoginAbortCallback;
extern fObtainUserAccessTokenCallback_facebook facebookLoginAbortCallback;

// The waiting window of one sign-in: titled with the program's name, a text
// showing message and a "Cancel" button, built and opened at once and
// published in the module's two globals; ended and unpublished when the
// guard goes.
class LoginWaitingWindow {
 public:
  LoginWaitingWindow(NewsGuiWindow*& window, NewsGuiItem*& cancelButton, Text message);
  ~LoginWaitingWindow();
  LoginWaitingWindow(const LoginWaitingWindow&) = delete;
  LoginWaitingWindow& operator=(const LoginWaitingWindow&) = delete;

  // Closes the window (it stays published until the guard goes).
  void close() { window_->close(); }

 private:
  NewsGuiWindow*& published_;
  NewsGuiItem*& publishedCancel_;
  std::unique_ptr<NewsGuiBuiltWindow> window_;
};

// How a sign-in ended.
enum class SignInEnd {
  kSignedIn,
  kRefused,    // the user refused it in the browser
  kCancelled,  // the user gave it up in the program (Cancel, close, quit)
  kFailed,     // anything else: no browser, no answer in time, a failed request
};

// The reason a feed's download gives for a sign-in that ended so:
// kSignInRefusedReason, kSignInCancelledReason, or empty (the failure kind
// tells it).
std::string signInFailureReason(SignInEnd end);

struct BrowserLogin {
  Str query;  // the answer's query when kSignedIn or kRefused, else NIL
  SignInEnd end = SignInEnd::kFailed;
};

// The browser leg of a sign-in: shows the waiting window with message, sends
// the browser to url and waits on server (open) for the redirect that check
// takes for its answer, asking abort between polls; the window is ended
// before the return. kFailed when the browser cannot be started or the
// wait's time runs out (which the user is told).
BrowserLogin waitForBrowserLogin(callbackWebServer& server, NewsGuiWindow*& window, NewsGuiItem*& cancelButton,
                                 fLoginCallback& abort, Text message, Text url, const callbackWebServer::Check& check);

// What the user is told when a sign-in's wait runs out.
inline constexpr char kSignInTimedOut[] =
    "No answer came from the web browser within 10 minutes, so the sign-in was given up.";

}  // namespace bw
