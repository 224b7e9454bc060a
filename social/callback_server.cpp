// social/callback_server.cpp - the loopback listener, the request line
// reader and the polled wait.
#include "social/callback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <utility>

namespace bw {
namespace {

constexpr std::string_view kReplyPage =
    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nCache-Control: no-store\r\n\r\n"
    "<html><head><title>Brindlework</title><script type=\"text/javascript\">window.close();</script></head>"
    "<body>Success! Please close this window & return to Brindlework.</body></html>";

constexpr std::string_view kRefusalPage =
    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nCache-Control: no-store\r\n\r\n"
    "<html><head><title>Brindlework</title></head>"
    "<body>The sign-in was refused in the browser; you can close this window.</body></html>";

constexpr std::string_view kNotFound = "HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\n\r\nNot found.\n";

constexpr std::string_view kRefused =
    "HTTP/1.0 400 Bad Request\r\nContent-Type: text/html\r\nCache-Control: no-store\r\n\r\n"
    "<html><head><title>Brindlework</title></head><body>This is not the answer of the sign-in Brindlework is "
    "waiting for. Brindlework goes on waiting: finish the sign-in in the page it opened, or press Cancel in "
    "Brindlework.</body></html>";

constexpr std::string_view kLandingHead =
    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nCache-Control: no-store\r\n\r\n";

std::function<int(int, const sockaddr*, socklen_t)> gBind;
std::function<callbackWebServer::Clock::time_point()> gClock;

int bindSocket(int fd, const sockaddr* address, socklen_t length) {
  return gBind ? gBind(fd, address, length) : ::bind(fd, address, length);
}

callbackWebServer::Clock::time_point now() { return gClock ? gClock() : callbackWebServer::Clock::now(); }

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Sends all of text, or stops when the peer is gone.
void sendAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t sent = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return;
    text.remove_prefix(static_cast<size_t>(sent));
  }
}

// Reads what the peer has already sent, so that closing the connection
// does not reset it before the answer is read.
void drain(int fd) {
  char buffer[1024];
  for (int i = 0; i < 64 && ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0; ++i) {
  }
}

// An accepted connection and what it has sent so far.
struct Connection {
  int fd;
  std::string data;
};

}  // namespace

CallbackRequest parseCallbackRequest(std::string_view data) {
  CallbackRequest request;
  size_t end = data.find('\n');
  if (end == std::string_view::npos) return request;
  std::string_view line = data.substr(0, end);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  request.kind = CallbackRequest::Kind::kOther;
  constexpr std::string_view kGet = "GET ";
  if (line.substr(0, kGet.size()) != kGet) return request;
  line.remove_prefix(kGet.size());
  size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return request;
  std::string_view target = line.substr(0, blank);
  std::string_view version = line.substr(blank + 1);
  if (version.substr(0, 7) != "HTTP/1." || version.size() != 8) return request;
  size_t question = target.find('?');
  if (target.substr(0, question) != kCallbackPath) return request;
  if (question == std::string_view::npos) {
    request.kind = CallbackRequest::Kind::kBare;
  } else {
    request.kind = CallbackRequest::Kind::kCallback;
    request.query = std::string(target.substr(question + 1));
  }
  return request;
}

std::string_view callbackReplyPage() { return kReplyPage; }
std::string_view callbackRefusalPage() { return kRefusalPage; }

void callbackWebServer::setBindForTesting(std::function<int(int, const sockaddr*, socklen_t)> bind) {
  gBind = std::move(bind);
}

void callbackWebServer::setClockForTesting(std::function<Clock::time_point()> clock) { gClock = std::move(clock); }

int32_t callbackWebServer::open(int32_t port) {
  close();
  if (port < 0 || port > 65535) return 0;
  socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (socket_ < 0) return 0;
  for (;;) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bindSocket(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) break;
    int error = errno;
    // The port field holds 16 bits: past 65535 there is nothing to try.
    if (port == 0 || port >= 65535 || (error != EADDRINUSE && error != EADDRNOTAVAIL)) {
      close();
      return 0;
    }
    ++port;
  }
  sockaddr_in bound = {};
  socklen_t length = sizeof bound;
  if (::listen(socket_, kMaxPending) != 0 ||
      ::getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &length) != 0 ||
      bound.sin_addr.s_addr != htonl(INADDR_LOOPBACK)) {
    close();
    return 0;
  }
  return ntohs(bound.sin_port);
}

Str callbackWebServer::infoURL(int32_t port) const {
  return Str("http://127.0.0.1:" + std::to_string(port) + kCallbackPath);
}

void callbackWebServer::close() { closeFd(socket_); }

CallbackWait callbackWebServer::waitForCallback(fLoginCallback* abort, const Check& check) {
  CallbackWait result;
  if (socket_ < 0) return result;
  const Clock::time_point deadline = now() + kWaitLimit;
  std::vector<Connection> pending;
  Clock::time_point lastAbortCall = Clock::now();
  for (bool decided = false; !decided;) {
    std::vector<pollfd> polled{{socket_, POLLIN, 0}};
    for (const Connection& c : pending) polled.push_back({c.fd, POLLIN, 0});
    int ready = ::poll(polled.data(), polled.size(), kPollMilliseconds);
    if (ready < 0 && errno != EINTR) break;

    std::vector<int> finished;
    for (size_t i = 1; i < polled.size() && ready > 0 && !decided; ++i) {
      if (!polled[i].revents) continue;
      Connection& c = pending[i - 1];
      char buffer[1024];
      ssize_t got = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (got <= 0) {
        // Closed before a whole request line, or failed: drop it.
        finished.push_back(c.fd);
        continue;
      }
      c.data.append(buffer, static_cast<size_t>(got));
      CallbackRequest request = parseCallbackRequest(c.data);
      if (request.kind == CallbackRequest::Kind::kIncomplete) {
        if (c.data.size() < kRequestBufferSize) continue;
        request.kind = CallbackRequest::Kind::kOther;
      }
      drain(c.fd);
      if (request.kind == CallbackRequest::Kind::kOther) {
        sendAll(c.fd, kNotFound);
      } else if (request.kind == CallbackRequest::Kind::kBare && !landingPage_.empty()) {
        sendAll(c.fd, std::string(kLandingHead) + landingPage_);
      } else if (const CallbackVerdict verdict = request.kind == CallbackRequest::Kind::kCallback && check
                                                     ? check(Text(request.query))
                                                     : CallbackVerdict::kNotOurs;
                 verdict != CallbackVerdict::kNotOurs) {
        const bool refused = verdict == CallbackVerdict::kRefusal;
        sendAll(c.fd, refused ? kRefusalPage : kReplyPage);
        result = {CallbackWait::End::kAnswered, Str(request.query), refused};
        decided = true;
      } else {
        sendAll(c.fd, kRefused);
      }
      finished.push_back(c.fd);
    }
    for (int fd : finished) {
      ::close(fd);
      std::erase_if(pending, [fd](const Connection& c) { return c.fd == fd; });
    }
    if (decided) break;
    if (polled[0].revents & POLLIN) {
      for (int fd; (fd = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
        // Speculative connections that send nothing must not crowd out the
        // request: beyond the limit the oldest one goes.
        if (static_cast<int>(pending.size()) == kMaxPending) {
          ::close(pending.front().fd);
          pending.erase(pending.begin());
        }
        pending.push_back({fd, {}});
      }
    }
    if (now() >= deadline) {
      result.end = CallbackWait::End::kTimedOut;
      break;
    }
    if (!abort) continue;
    Clock::time_point polledAt = Clock::now();
    if (ready == 0 || polledAt - lastAbortCall >= std::chrono::milliseconds(kPollMilliseconds)) {
      lastAbortCall = polledAt;
      if (abort->call()) {
        result.end = CallbackWait::End::kGaveUp;
        break;
      }
    }
  }
  for (const Connection& c : pending) ::close(c.fd);
  return result;
}

}  // namespace bw
