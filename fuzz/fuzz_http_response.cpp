// fuzz/fuzz_http_response.cpp - fuzzer bytes as an http response through a
// socket pair, read by cHTTP in pieces whose size the fuzzer chooses.
//
// Input: byte 0 picks the read size (1..64), byte 1 bit 0 a non-blocking
// request; the rest is the response. Redirects are read but never followed
// (following one would connect elsewhere). Memory is bounded by the memory
// destination's limit and the header-line limit.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "web/http.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 100000) return 0;
  const int32_t bufSize = 1 + data[0] % 64;
  const bool nonBlocking = (data[1] & 1) != 0;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  int sendBuffer = 1 << 20;
  ::setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
  const char* response = reinterpret_cast<const char*>(data + 2);
  size_t length = size - 2, written = 0;
  while (written < length) {
    ssize_t n = ::send(fds[1], response + written, length - written, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) break;
    written += static_cast<size_t>(n);
  }
  ::shutdown(fds[1], SHUT_WR);

  bw::cHTTP http("fuzz");
  http.openConnected(fds[0], "h", "p", nonBlocking);
  if (http.sendRequest() == 0) {
    bw::cHTTP::Status status = http.getStatus();
    if (status.redirect) {
      http.getRedirect(bufSize);
    } else if (status.status >= 0) {
      bw::httpSaveToBuffer memory;
      memory.setMemoryLimit(1 << 20);
      http.saveInit(&memory, nullptr, bufSize);
      for (int i = 0; i < 200000; ++i) {
        bw::cHTTP::Step step = http.saveAppend(nullptr, nullptr);
        if (step.result != 0 || step.finished) break;
      }
      http.infoProgress();
    }
  }
  http.close();
  ::close(fds[1]);
  return 0;
}
