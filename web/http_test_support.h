// web/http_test_support.h - test helpers: a scripted HTTP server on
// 127.0.0.1 (or ::1) in a thread of the test (plain, or TLS through
// tls_server_test_support.h), a request run to its end, and compressed
// bodies that inflate far beyond their size.
//
// The server accepts at most `connections` connections and stops by itself
// (after the last one, or after 10 s without one). For each connection it
// reads the request (header block and a Content-Length body), hands it to
// the script, and writes the reply's segments with a pause between them.
// StuckLookup puts a name lookup that never answers in front of requests.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "web/http.h"
#include "web/http_resolver.h"

namespace bw::test {

// Calls saveAppend until the request fails or finishes, waiting on isReady
// between steps when it is non-blocking; the last step.
inline cHTTP::Step runToEnd(cHTTP& http, bool nonBlocking, int32_t waitMs = 1000) {
  cHTTP::Step s;
  do {
    if (nonBlocking) http.isReady(waitMs);
    s = http.saveAppend(nullptr, nullptr);
  } while (s.result == 0 && !s.finished);
  return s;
}

// A socket listening on 127.0.0.1 (or ::1 alone) at a port the system
// picks (set in *port), with room for backlog pending connections; -1 when
// the address cannot be bound (no IPv6 here).
inline int listenLoopback(int backlog, int* port, bool ipv6 = false) {
  int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_storage s = {};
  socklen_t len;
  if (ipv6) {
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    auto& a = reinterpret_cast<sockaddr_in6&>(s);
    a.sin6_family = AF_INET6;
    a.sin6_addr = in6addr_loopback;
    len = sizeof a;
  } else {
    auto& a = reinterpret_cast<sockaddr_in&>(s);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    len = sizeof a;
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&s), len) != 0 || ::listen(fd, backlog) != 0) {
    ::close(fd);
    *port = 0;
    return -1;
  }
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&s), &len);
  *port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6&>(s).sin6_port : reinterpret_cast<sockaddr_in&>(s).sin_port);
  return fd;
}

// Sends all n bytes; false at the first failed send (the peer is gone).
inline bool sendAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// What one accepted connection speaks: plain bytes here, TLS in
// tls_server_test_support.h. recv waits up to 5 s and answers like ::recv.
class ServerStream {
 public:
  virtual ~ServerStream() = default;
  virtual ssize_t recv(char* p, size_t n) {
    pollfd w = {fd_, POLLIN, 0};
    if (::poll(&w, 1, 5000) <= 0) return -1;
    return ::recv(fd_, p, n, 0);
  }
  virtual ssize_t send(const char* p, size_t n) { return ::send(fd_, p, n, MSG_NOSIGNAL); }
  // The connection will be reset: no closing word of the protocol's own.
  virtual void abandon() {}
  explicit ServerStream(int fd) : fd_(fd) {}

 protected:
  int fd_;
};
inline bool sendAll(ServerStream& stream, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = stream.send(p, n);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}
// Makes the stream of an accepted connection; nullptr drops it.
using StreamMaker = std::function<std::unique_ptr<ServerStream>(int fd)>;

struct Reply {
  std::vector<std::string> segments;
  int pauseMs = 0;           // between segments
  bool readRequest = true;   // false: reply (or close) without reading
  int holdOpenMs = 0;        // keep the connection open after the reply
  bool reset = false;        // end with a reset (RST) instead of a close
};

class LoopbackServer {
 public:
  using Script = std::function<Reply(const std::string& request, int index)>;

  LoopbackServer(Script script, int connections, bool ipv6 = false, StreamMaker streams = {})
      : script_(std::move(script)), connections_(connections), ipv6_(ipv6), streams_(std::move(streams)) {
    listener_ = listenLoopback(512, &port_, ipv6);
    if (listener_ >= 0) thread_ = std::thread([this] { run(); });
  }
  // One fixed reply for every connection.
  LoopbackServer(Reply reply, int connections, bool ipv6 = false, StreamMaker streams = {})
      : LoopbackServer([reply](const std::string&, int) { return reply; }, connections, ipv6, std::move(streams)) {}
  bool listening() const { return listener_ >= 0; }
  ~LoopbackServer() { join(); }

  int port() const { return port_; }
  std::string url(const std::string& path = "") const {
    return std::string(streams_ ? "https" : "http") + (ipv6_ ? "://[::1]:" : "://127.0.0.1:") + std::to_string(port_) +
           "/" + path;
  }
  void join() {
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
  }
  std::vector<std::string> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  static std::string readRequest(int fd) {
    ServerStream plain(fd);
    return readRequest(plain);
  }
  static std::string readRequest(ServerStream& stream) {
    std::string in;
    char buf[4096];
    size_t headerEnd = std::string::npos;
    size_t want = 0;
    for (;;) {
      ssize_t n = stream.recv(buf, sizeof buf);
      if (n <= 0) break;
      in.append(buf, static_cast<size_t>(n));
      if (headerEnd == std::string::npos) {
        headerEnd = in.find("\r\n\r\n");
        if (headerEnd == std::string::npos) continue;
        size_t cl = in.find("Content-Length: ");
        want = headerEnd + 4 + (cl != std::string::npos && cl < headerEnd ? std::strtoul(in.c_str() + cl + 16, nullptr, 10) : 0);
      }
      if (in.size() >= want) break;
    }
    return in;
  }

 private:
  void run() {
    for (int i = 0; i < connections_; ++i) {
      pollfd p = {listener_, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) return;
      int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      serve(fd, i);
    }
  }
  void serve(int fd, int index) {
    std::unique_ptr<ServerStream> stream = streams_ ? streams_(fd) : std::make_unique<ServerStream>(fd);
    if (!stream) {
      ::close(fd);
      return;
    }
    Reply probe = script_("", -1 - index);  // ask whether to read first
    std::string request;
    if (probe.readRequest) request = readRequest(*stream);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    Reply reply = probe.readRequest ? script_(request, index) : probe;
    for (size_t s = 0; s < reply.segments.size(); ++s) {
      if (s > 0 && reply.pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
      if (!sendAll(*stream, reply.segments[s].data(), reply.segments[s].size())) break;
    }
    if (reply.holdOpenMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.holdOpenMs));
    if (reply.reset) {
      struct linger hard = {1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      stream->abandon();
    }
    stream.reset();
    ::close(fd);
  }

  Script script_;
  int connections_;
  bool ipv6_ = false;
  StreamMaker streams_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
};

// An IPv4 address ("127.0.0.2") with port 0, as a resolver answers it.
inline sockaddr_storage loopbackAddress(const char* dotted) {
  sockaddr_storage s = {};
  auto& a = reinterpret_cast<sockaddr_in&>(s);
  a.sin_family = AF_INET;
  ::inet_pton(AF_INET, dotted, &a.sin_addr);
  return s;
}

// For its lifetime, name lookups of `host` never answer (their threads are
// let go at the end, or after 60 s, so that a request that waits for them
// fails its test instead of hanging it) and every other name is 127.0.0.1.
class StuckLookup {
 public:
  explicit StuckLookup(std::string host) : gate_(std::make_shared<Gate>()) {
    setHostResolveFunction([gate = gate_, host = std::move(host)](const std::string& asked,
                                                                   std::vector<sockaddr_storage>* found) {
      if (asked == host) {
        gate->wait();
        return EHOSTUNREACH;
      }
      found->push_back(loopbackAddress("127.0.0.1"));
      return 0;
    });
  }
  ~StuckLookup() {
    gate_->release();
    setHostResolveFunction({});
    stopHostResolver();
  }
  StuckLookup(const StuckLookup&) = delete;
  StuckLookup& operator=(const StuckLookup&) = delete;

 private:
  struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    void wait() {
      std::unique_lock<std::mutex> lock(mutex);
      opened.wait_for(lock, std::chrono::seconds(60), [this] { return open; });
    }
    void release() {
      std::lock_guard<std::mutex> lock(mutex);
      open = true;
      opened.notify_all();
    }
  };
  std::shared_ptr<Gate> gate_;
};

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bwhttpXXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Puts dir first on PATH for the lifetime of the object.
class PathPrefix {
 public:
  explicit PathPrefix(const std::string& dir) {
    const char* old = ::getenv("PATH");
    old_ = old ? old : "";
    std::string now = dir + (old_.empty() ? "" : ":" + old_);
    ::setenv("PATH", now.c_str(), 1);
  }
  ~PathPrefix() { ::setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

// A deflate stream that inflates to about `bytes` zero bytes: one literal
// zero, then copies of 258 bytes at distance 1, in fixed Huffman codes
// (13 bits a copy, so 1 GiB takes some 6.5 MB). A compressed body that
// would take the reader's memory.
inline std::string deflateBomb(int64_t bytes) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  auto put = [&](uint32_t value, int n) {  // value's bits, lowest first
    bits |= value << count;
    for (count += n; count >= 8; count -= 8, bits >>= 8) out += static_cast<char>(bits & 0xff);
  };
  auto putCode = [&](uint32_t code, int n) {  // a Huffman code, highest bit first
    for (int i = n - 1; i >= 0; --i) put((code >> i) & 1, 1);
  };
  put(1, 1);             // the last block,
  put(1, 2);             // fixed codes
  putCode(0x30, 8);      // the literal 0
  for (int64_t done = 1; done + 258 <= bytes; done += 258) {
    putCode(0xc5, 8);    // length 258
    putCode(0, 5);       // distance 1
  }
  putCode(0, 7);         // end of block
  if (count > 0) out += static_cast<char>(bits & 0xff);
  return out;
}

// The gzip member around a deflate stream (its check sum left 0: readers
// that would inflate it find out only at its end).
inline std::string gzipOf(const std::string& deflated) {
  return std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10) + deflated + std::string(8, '\0');
}

// data as a gzip member of stored (uncompressed) blocks: a second layer.
inline std::string gzipStored(const std::string& data) {
  std::string deflated;
  for (size_t at = 0;;) {
    const size_t n = std::min<size_t>(data.size() - at, 65535);
    const bool last = at + n == data.size();
    deflated += static_cast<char>(last ? 1 : 0);
    for (uint16_t v : {static_cast<uint16_t>(n), static_cast<uint16_t>(~n)}) {
      deflated += static_cast<char>(v & 0xff);
      deflated += static_cast<char>(v >> 8);
    }
    deflated.append(data, at, n);
    at += n;
    if (last) return gzipOf(deflated);
  }
}

}  // namespace bw::test
