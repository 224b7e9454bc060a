// social/callback_server.cpp - the loopback listeners, the polled wait and
// the request extractor.
#include "social/callback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <string_view>
#include <utility>

namespace bw {
namespace {

constexpr std::string_view kReplyPage =
    "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"
    "<html><head><title>Brindlework</title><script type=\"text/javascript\">window.close();</script></head>"
    "<body>Success! Please close this window & return to Brindlework.</body></html>";

std::function<int(int, const sockaddr*, socklen_t)> gBind;

int bindSocket(int fd, const sockaddr* address, socklen_t length) {
  return gBind ? gBind(fd, address, length) : ::bind(fd, address, length);
}

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// A non-blocking IPv4 listener on 127.0.0.1, starting at port and moving up
// past busy ports; the port it got, or 0 with nothing left open.
int32_t listenLoopback4(int32_t port, int* fd) {
  *fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (*fd < 0) return 0;
  for (;;) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bindSocket(*fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) break;
    int error = errno;
    // The port field holds 16 bits: past 65535 there is nothing to try.
    if (port == 0 || port >= 65535 || (error != EADDRINUSE && error != EADDRNOTAVAIL)) {
      closeFd(*fd);
      return 0;
    }
    ++port;
  }
  if (::listen(*fd, callbackWebServer::kMaxPending) != 0) {
    closeFd(*fd);
    return 0;
  }
  sockaddr_in bound = {};
  socklen_t length = sizeof bound;
  ::getsockname(*fd, reinterpret_cast<sockaddr*>(&bound), &length);
  return ntohs(bound.sin_port);
}

// A listener on ::1 at exactly that port, or -1 (no IPv6 loopback, or the
// port is taken there).
int listenLoopback6(int32_t port) {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  sockaddr_in6 address = {};
  address.sin6_family = AF_INET6;
  address.sin6_port = htons(static_cast<uint16_t>(port));
  address.sin6_addr = in6addr_loopback;
  if (bindSocket(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, callbackWebServer::kMaxPending) != 0) {
    closeFd(fd);
  }
  return fd;
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

}  // namespace

Str extractCallbackQuery(const char* data, int32_t length) {
  std::string_view received(data, length > 0 ? static_cast<size_t>(length) : 0);
  size_t get = received.find("GET /?");
  if (get == std::string_view::npos) return Str();
  size_t start = get + 6;
  size_t end = received.find(" HTTP/1.", start);
  if (end == std::string_view::npos) return Str();
  return Str(received.substr(start, end - start));
}

std::string_view callbackReplyPage() { return kReplyPage; }

void callbackWebServer::setBindForTesting(std::function<int(int, const sockaddr*, socklen_t)> bind) {
  gBind = std::move(bind);
}

int32_t callbackWebServer::open(int32_t port) {
  close();
  if (port < 0 || port > 65535) return 0;
  int32_t got = listenLoopback4(port, &socket_);
  if (got == 0) return 0;
  socket6_ = listenLoopback6(got);
  return got;
}

Str callbackWebServer::infoURL(int32_t port) const { return Str("http://localhost:" + std::to_string(port)); }

void callbackWebServer::close() {
  closeFd(socket_);
  closeFd(socket6_);
}

Str callbackWebServer::waitForRequest(fLoginCallback* abort) {
  if (socket_ < 0) return Str();
  std::vector<int> pending;
  Str query;
  auto lastAbortCall = std::chrono::steady_clock::now();
  for (bool decided = false; !decided;) {
    std::vector<pollfd> polled;
    for (int listener : {socket_, socket6_}) {
      if (listener >= 0) polled.push_back({listener, POLLIN, 0});
    }
    size_t firstConnection = polled.size();
    for (int fd : pending) polled.push_back({fd, POLLIN, 0});
    int ready = ::poll(polled.data(), polled.size(), abort ? kPollMilliseconds : -1);
    if (ready < 0 && errno != EINTR) break;

    for (size_t i = 0; i < firstConnection && ready > 0; ++i) {
      if (!(polled[i].revents & POLLIN)) continue;
      for (int fd; (fd = ::accept4(polled[i].fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        // Speculative connections that send nothing must not crowd out the
        // request: beyond the limit the oldest one goes.
        if (static_cast<int>(pending.size()) == kMaxPending) {
          ::close(pending.front());
          pending.erase(pending.begin());
        }
        pending.push_back(fd);
      }
    }
    for (size_t i = firstConnection; i < polled.size() && ready > 0 && !decided; ++i) {
      if (!polled[i].revents) continue;
      char buffer[kRequestBufferSize];
      ssize_t got = ::recv(polled[i].fd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (got > 0) {
        // The first connection that sends anything decides, on this one read.
        query = extractCallbackQuery(buffer, static_cast<int32_t>(got));
        if (!query.isNil()) sendAll(polled[i].fd, kReplyPage);
        decided = true;
      }
      // Closed without data, or failed: drop it.
      ::close(polled[i].fd);
      std::erase(pending, polled[i].fd);
    }
    if (decided || !abort) continue;
    auto now = std::chrono::steady_clock::now();
    if (ready == 0 || now - lastAbortCall >= std::chrono::milliseconds(kPollMilliseconds)) {
      lastAbortCall = now;
      if (abort->call()) break;
    }
  }
  for (int fd : pending) ::close(fd);
  return query;
}

}  // namespace bw
