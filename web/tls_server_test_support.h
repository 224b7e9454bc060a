// web/tls_server_test_support.h - https servers for tests, with a
// self-signed certificate made for the test (trusted only through
// CURL_CA_BUNDLE or a bundle file naming it): `openssl s_server -WWW` on
// 127.0.0.1 serving the files of a scratch folder, and TLS streams (OpenSSL
// in the test) that make a scripted LoopbackServer speak https.
#pragma once

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/spawn.h"
#include "web/http_test_support.h"

namespace bw::test {

// Runs argv in cwd with no input or output; true when it exits with 0.
inline bool runQuietly(const std::vector<std::string>& argv, const std::string& cwd) {
  SpawnOptions options;
  options.in = options.out = options.err = SpawnStdio::kNull;
  options.workingDirectory = cwd;
  SpawnResult r = spawnProcess(argv, options);
  if (r.error) return false;
  ExitStatus s = r.child.wait();
  return s.exited && s.code == 0;
}

class TlsFileServer {
 public:
  // Empty when openssl is missing: the test then skips.
  static std::string missingTool() {
    const std::string searchPath = executableSearchPath();
    if (findExecutable("openssl", searchPath).empty()) return "openssl is not installed";
    return "";
  }

  // Serves at most `connections` requests; port() is 0 when it did not
  // start.
  explicit TlsFileServer(int connections = 10) {
    if (!runQuietly({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out",
                     "cert.pem", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
                    dir_.path())) {
      return;
    }
    SpawnOptions options;
    options.in = SpawnStdio::kNull;
    options.out = SpawnStdio::kPipe;
    options.err = SpawnStdio::kNull;
    options.workingDirectory = dir_.path();
    SpawnResult server = spawnProcess({"openssl", "s_server", "-accept", "127.0.0.1:0", "-naccept",
                                       std::to_string(connections), "-WWW", "-cert", "cert.pem", "-key", "key.pem"},
                                      options);
    if (server.error) return;
    child_ = std::move(server.child);
    port_ = acceptedPort(child_.stdoutFd());
  }
  ~TlsFileServer() {
    if (child_.valid()) {
      child_.terminate(SIGTERM);
      child_.wait();
    }
  }
  TlsFileServer(const TlsFileServer&) = delete;
  TlsFileServer& operator=(const TlsFileServer&) = delete;

  int port() const { return port_; }
  std::string url(const std::string& name) const {
    return "https://127.0.0.1:" + std::to_string(port_) + "/" + name;
  }
  void put(const std::string& name, const std::string& bytes) const { writeFile(dir_.file(name), bytes); }
  std::string certificate() const { return dir_.file("cert.pem"); }

 private:
  // Reads the s_server's output until its "ACCEPT host:port" line.
  static int acceptedPort(int fd) {
    std::string text;
    char buf[256];
    while (text.find('\n', text.find("ACCEPT")) == std::string::npos) {
      pollfd p = {fd, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) return 0;
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n <= 0) return 0;
      text.append(buf, static_cast<size_t>(n));
    }
    size_t at = text.find("ACCEPT");
    size_t colon = text.find(':', at);
    return colon == std::string::npos ? 0 : std::atoi(text.c_str() + colon + 1);
  }

  ScratchDir dir_;
  ChildProcess child_;
  int port_ = 0;
};

// A certificate and key for 127.0.0.1 made once per test program, and the
// server side of TLS over accepted connections with it.
class TlsStreams {
 public:
  TlsStreams() {
    // SSL_write to a client that has gone raises SIGPIPE, which would end
    // the test program: a write that fails is all the server needs.
    ::signal(SIGPIPE, SIG_IGN);
    if (!runQuietly({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "key.pem", "-out",
                     "cert.pem", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
                    dir_.path()))
      return;
    ctx_ = SSL_CTX_new(TLS_server_method());
    if (SSL_CTX_use_certificate_file(ctx_, dir_.file("cert.pem").c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx_, dir_.file("key.pem").c_str(), SSL_FILETYPE_PEM) != 1) {
      SSL_CTX_free(ctx_);
      ctx_ = nullptr;
    }
  }
  ~TlsStreams() { SSL_CTX_free(ctx_); }
  TlsStreams(const TlsStreams&) = delete;
  TlsStreams& operator=(const TlsStreams&) = delete;
  bool ready() const { return ctx_ != nullptr; }
  std::string certificate() const { return dir_.file("cert.pem"); }

  // For a LoopbackServer: the handshake within 5 s, then TLS records.
  StreamMaker maker() {
    return [this](int fd) -> std::unique_ptr<ServerStream> {
      struct timeval tv = {5, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
      SSL* ssl = SSL_new(ctx_);
      SSL_set_fd(ssl, fd);
      if (SSL_accept(ssl) != 1) {
        SSL_free(ssl);
        return nullptr;
      }
      return std::make_unique<Stream>(fd, ssl);
    };
  }

 private:
  class Stream : public ServerStream {
   public:
    Stream(int fd, SSL* ssl) : ServerStream(fd), ssl_(ssl) {}
    ~Stream() override {
      if (!abandoned_) SSL_shutdown(ssl_);
      SSL_free(ssl_);
    }
    void abandon() override { abandoned_ = true; }
    ssize_t recv(char* p, size_t n) override {
      int r = SSL_read(ssl_, p, static_cast<int>(n));
      return r > 0 ? r : -1;
    }
    ssize_t send(const char* p, size_t n) override {
      int r = SSL_write(ssl_, p, static_cast<int>(n));
      return r > 0 ? r : -1;
    }

   private:
    SSL* ssl_;
    bool abandoned_ = false;
  };
  ScratchDir dir_;
  SSL_CTX* ctx_ = nullptr;
};

// Sets CURL_CA_BUNDLE for its lifetime.
class CurlCaBundle {
 public:
  explicit CurlCaBundle(const std::string& file) { ::setenv("CURL_CA_BUNDLE", file.c_str(), 1); }
  ~CurlCaBundle() { ::unsetenv("CURL_CA_BUNDLE"); }
};

}  // namespace bw::test
