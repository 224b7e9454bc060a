// social/callback_server.h - the web server on this machine that catches
// the browser's redirect at the end of a sign-in and hands its query string
// to the sign-in.
//
// Invariants:
//   1. It listens on 127.0.0.1 only, at exactly the port its address names
//      (infoURL spells the address out, so no name lookup can send the
//      browser to ::1 or elsewhere). No SO_REUSEPORT, so no other process
//      can share the port; open() fails when the address cannot be held.
//   2. open() never leaves a descriptor behind on failure; the listener
//      lives from a successful open to close() or the destructor; close()
//      twice is harmless.
//   3. Only "GET <kCallbackPath>?<query>" can end a wait, and only when the
//      sign-in's check takes the query for its answer: it gets the success
//      page, or the refusal page when the answer is the user's refusal;
//      both are sent with Cache-Control: no-store (the address may hold a
//      token). A GET of the path without a query gets the landing page when
//      there is one. Any other method or path gets 404, a query that is not
//      the answer an error page; either way the wait goes on.
//   4. waitForCallback never blocks on one connection: it polls the
//      listener and up to kMaxPending connections (beyond that the oldest
//      is closed), reading each request line as it comes, and calls the
//      abort functor about every tenth of a second. It ends on an accepted
//      callback, the abort, or kWaitLimit after it began by the server's
//      clock. Every connection is closed before it returns.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/socket.h>

#include "core/object.h"
#include "core/str.h"

namespace bw {

// What the sign-in's waiting window says: TRUE (call() answers true) to
// give up the wait.
class fLoginCallback : public function {
  BW_CLASS(fLoginCallback, function)
 public:
  virtual bool call() { return false; }
};
class fTwitterLoginCallback : public fLoginCallback {
  BW_CLASS(fTwitterLoginCallback, fLoginCallback)
};
class fFacebookLoginCallback : public fLoginCallback {
  BW_CLASS(fFacebookLoginCallback, fLoginCallback)
};

// The path every callback address names.
inline constexpr char kCallbackPath[] = "/callback";

// One request line as the server reads it.
struct CallbackRequest {
  enum class Kind {
    kIncomplete,  // no line end yet: read on
    kOther,       // not a GET of the callback path (404)
    kBare,        // GET of the path without a query
    kCallback,    // GET of the path with a query (possibly empty)
  };
  Kind kind = Kind::kIncomplete;
  std::string query;
};

// The first line of data (up to CR LF or LF): "GET <path>[?query] HTTP/1.x"
// with path exactly kCallbackPath, and nothing else, makes a callback.
CallbackRequest parseCallbackRequest(std::string_view data);

// The success page: "HTTP/1.0 200 OK", a text/html type, no-store and a
// page that closes the browser window (247 bytes).
std::string_view callbackReplyPage();
// The page of a refused sign-in: "The sign-in was refused in the browser;
// you can close this window."
std::string_view callbackRefusalPage();

// What a sign-in makes of a callback's query.
enum class CallbackVerdict {
  kNotOurs,  // not the answer waited for: refused, the wait goes on
  kAnswer,   // the answer: the user agreed
  kRefusal,  // the answer: the user refused the sign-in
};

// How a wait ended.
struct CallbackWait {
  enum class End { kAnswered, kGaveUp, kTimedOut, kFailed };
  End end = End::kFailed;
  Str query;             // the accepted query when kAnswered, else NIL
  bool refused = false;  // kAnswered with the user's refusal
};

class callbackWebServer : public class_base {
  BW_CLASS(callbackWebServer, class_base)
 public:
  using Clock = std::chrono::steady_clock;
  // Whether the query is the answer this sign-in waits for, and which.
  using Check = std::function<CallbackVerdict(Text query)>;

  static constexpr int kMaxPending = 8;
  static constexpr int kRequestBufferSize = 8192;
  static constexpr int kPollMilliseconds = 100;
  static constexpr std::chrono::minutes kWaitLimit{10};

  callbackWebServer() = default;
  ~callbackWebServer() override { close(); }
  callbackWebServer(const callbackWebServer&) = delete;
  callbackWebServer& operator=(const callbackWebServer&) = delete;

  // Listens on 127.0.0.1 at port (0: any free one; a busy port: the next
  // free one up to 65535). Returns the port, or 0 on failure.
  int32_t open(int32_t port);
  // "http://127.0.0.1:<port>/callback".
  Str infoURL(int32_t port) const;
  // The page a GET of the path without a query gets (a whole HTML
  // document); empty: such a request is refused like a wrong query.
  void setLandingPage(std::string html) { landingPage_ = std::move(html); }
  // Serves requests until check takes a callback for its answer, abort (may be null)
  // gives up, or kWaitLimit passes.
  CallbackWait waitForCallback(fLoginCallback* abort, const Check& check);
  void close();

  // The listener; -1 when closed.
  int socket() const { return socket_; }

  // Test seams: replace bind(2) and the clock for every server (empty: the
  // real ones).
  static void setBindForTesting(std::function<int(int, const sockaddr*, socklen_t)> bind);
  static void setClockForTesting(std::function<Clock::time_point()> clock);

 private:
  int socket_ = -1;
  std::string landingPage_;
};

class twitterWebServer : public callbackWebServer {
  BW_CLASS(twitterWebServer, callbackWebServer)
};
class facebookWebServer : public callbackWebServer {
  BW_CLASS(facebookWebServer, callbackWebServer)
};

}  // namespace bw
