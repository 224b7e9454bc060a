// fuzz/fuzz_http_response.cpp - fuzzer bytes as http responses through
// socket pairs, read by cHTTP's driver in pieces whose size the fuzzer
// chooses, following redirects.
//
// Input: byte 0 picks the read size (1..64, or 4096 when bit 6 is set),
// byte 1 bit 0 a non-blocking request; the rest is up to four responses
// separated by "\n--next--\n": the first answers the request, each further
// one the next redirect (whatever host and port its Location names; the
// connect is replaced, so nothing leaves this process). Header streams are
// not cut short: an input up to 2 MiB reaches the header limits. Memory is
// bounded by the memory destination's limit and the header limits.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "web/http.h"

namespace {

// The peers of the sockets handed out, kept open (a request sent to a
// closed peer would fail before its response is read) until the input ends.
std::vector<int> gPeers;

// A connected socket whose peer has sent text and shut down its sending.
int preloadedSocket(std::string_view text) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return -1;
  int sendBuffer = 4 << 20;
  ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
  size_t written = 0;
  while (written < text.size()) {
    ssize_t n = ::send(fds[1], text.data() + written, text.size() - written, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  ::shutdown(fds[1], SHUT_WR);
  gPeers.push_back(fds[1]);
  return fds[0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (2u << 20)) return 0;
  // An https Location would start curl: with no curl on the path the open
  // fails instead.
  ::setenv("PATH", "/nonexistent", 1);
  const int32_t bufSize = (data[0] & 0x40) ? 4096 : 1 + data[0] % 64;
  const bool nonBlocking = (data[1] & 1) != 0;
  std::vector<std::string_view> responses;
  std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  static constexpr std::string_view kSeparator = "\n--next--\n";
  while (responses.size() < 3) {
    size_t at = rest.find(kSeparator);
    if (at == std::string_view::npos) break;
    responses.push_back(rest.substr(0, at));
    rest.remove_prefix(at + kSeparator.size());
  }
  responses.push_back(rest);

  size_t next = 1;
  bw::setHttpConnectFunction([&](const std::string&, int32_t) {
    return next < responses.size() ? preloadedSocket(responses[next++]) : -1;
  });
  bw::cHTTP http("fuzz");
  int first = preloadedSocket(responses[0]);
  if (first >= 0 && http.openConnected(first, "h", "p", nonBlocking).result == 0) {
    bw::httpSaveToBuffer memory;
    memory.setMemoryLimit(1 << 20);
    http.saveInit(&memory, nullptr, bufSize);
    for (int i = 0; i < 200000; ++i) {
      if (!http.infoIsOpen()) break;
      bw::cHTTP::Step step = http.saveAppend(nullptr, nullptr);
      if (step.result != 0 || step.finished) break;
    }
    if (http.infoIsOpen()) {
      http.infoProgress();
      http.infoRedirectedURL();
      http.close();  // closes the destination while it lives
    }
  }
  if (http.infoIsOpen()) http.close();
  bw::setHttpConnectFunction({});
  for (int fd : gPeers) ::close(fd);
  gPeers.clear();
  return 0;
}
