// social/callback_server.h - the one-shot web server on this machine that
// catches the browser's redirect at the end of a sign-in and hands its
// query string to the sign-in.
//
// Invariants:
//   1. Only loopback addresses are listened on: 127.0.0.1, and ::1 at the
//      same port when the host has it free. No SO_REUSEPORT, so no other
//      process can take the callback.
//   2. open() never leaves a descriptor behind on failure; the listener
//      lives from a successful open to close() or the destructor; close()
//      twice is harmless.
//   3. waitForRequest never blocks on one connection: it polls the
//      listeners and up to kMaxPending accepted connections (beyond that
//      the oldest is closed), calling the abort functor about every tenth
//      of a second. Connections that close
//      without data are dropped; the first one that delivers bytes decides,
//      on what that one read delivered. Every connection is closed before
//      the call returns.
//   4. Only a request whose first read holds "GET /?" and after it
//      " HTTP/1." gets the reply page; anything else gets no answer.
#pragma once

#include <cstdint>
#include <functional>
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

// The query between "GET /?" and the first " HTTP/1." after it within
// length bytes of data; NIL when either marker is missing.
Str extractCallbackQuery(const char* data, int32_t length);

// The reply page: "HTTP/1.0 200 OK", a text/html type and a page that
// closes the browser window (222 bytes).
std::string_view callbackReplyPage();

class callbackWebServer : public class_base {
  BW_CLASS(callbackWebServer, class_base)
 public:
  static constexpr int kMaxPending = 8;
  static constexpr int kRequestBufferSize = 2000;
  static constexpr int kPollMilliseconds = 100;

  callbackWebServer() = default;
  ~callbackWebServer() override { close(); }
  callbackWebServer(const callbackWebServer&) = delete;
  callbackWebServer& operator=(const callbackWebServer&) = delete;

  // Listens at port (0: any free one; a busy port: the next free one up to
  // 65535). Returns the port, or 0 on failure.
  int32_t open(int32_t port);
  // "http://localhost:" and port.
  Str infoURL(int32_t port) const;
  // The query of the first request, or NIL (abort, no request, an error).
  // abort may be null: then the wait has no end but a request.
  Str waitForRequest(fLoginCallback* abort);
  void close();

  // The IPv4 and (when there is one) IPv6 listeners; -1 when closed.
  int socket() const { return socket_; }
  int socket6() const { return socket6_; }

  // Test seam: replaces bind(2) for every server (empty: the real one).
  static void setBindForTesting(std::function<int(int, const sockaddr*, socklen_t)> bind);

 private:
  int socket_ = -1;
  int socket6_ = -1;
};

class twitterWebServer : public callbackWebServer {
  BW_CLASS(twitterWebServer, callbackWebServer)
};
class facebookWebServer : public callbackWebServer {
  BW_CLASS(facebookWebServer, callbackWebServer)
};

}  // namespace bw
