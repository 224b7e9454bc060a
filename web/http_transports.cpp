// web/http_transports.cpp - the https transport (the real curl, started
// from an argument vector with its output and errors on two pipes), the
// "file" transport, and the HTTP module's start and end.
//
// curl is told to print the status line and header lines before the body
// (-i), to fail on an HTTP error status (-f), to stay quiet but report
// errors (-s -S), to speak HTTP/1.1 (so the status line always starts
// "HTTP/1."), to take "[]{}" in URLs literally (--globoff) and to hide a
// proxy's CONNECT reply. -q keeps ~/.curlrc out. Certificates are always
// checked: against "curl-ca-bundle.crt" when the caller asks and it is
// there, else against the system's store (or $CURL_CA_BUNDLE). curl's
// --max-time is the request's whole-request limit, and curl dies with
// this process.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "core/string_procs.h"
#include "platform/commands.h"
#include "platform/dos_errors.h"
#include "platform/links.h"
#include "platform/path_native.h"
#include "web/http.h"
#include "web/http_resolver.h"

namespace bw {
namespace {

// curl processes of closed requests that were sent SIGINT and have not been
// reaped yet.
std::mutex gPendingMutex;
std::vector<ChildProcess>* gPending = nullptr;
fHttpSaveCallback* gSaveCallbackInstance = nullptr;

void reapPendingLocked() {
  if (!gPending) return;
  std::erase_if(*gPending, [](ChildProcess& child) { return child.tryWait(nullptr); });
}

std::string quoteForLog(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"'\\$`") == std::string::npos) return arg;
  std::string out = "'";
  for (char c : arg) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

}  // namespace

void initHTTPModule() {
  std::lock_guard<std::mutex> lock(gPendingMutex);
  if (!gPending) gPending = new std::vector<ChildProcess>();
  if (!gSaveCallbackInstance) gSaveCallbackInstance = new fHttpSaveCallback();
}

void endHTTPModule() {
  std::lock_guard<std::mutex> lock(gPendingMutex);
  if (gPending) {
    for (ChildProcess& child : *gPending) {
      child.terminate(SIGKILL);
      child.wait();
    }
    delete gPending;
    gPending = nullptr;
  }
  delete gSaveCallbackInstance;
  gSaveCallbackInstance = nullptr;
  stopHostResolver();
}

void cHTTP::stopCurl() {
  curl_.closeStdout();
  curl_.closeStderr();
  ExitStatus ended;
  if (curl_.tryWait(&ended)) {
    curl_ = ChildProcess();
  } else {
    curl_.terminate(SIGINT);  // the Ctrl-C break; we do not wait for it
    std::lock_guard<std::mutex> lock(gPendingMutex);
    if (!gPending) gPending = new std::vector<ChildProcess>();
    gPending->push_back(std::move(curl_));
    curl_ = ChildProcess();
  }
  std::lock_guard<std::mutex> lock(gPendingMutex);
  reapPendingLocked();
}

int32_t cHTTP::openHttps(std::string_view path, int32_t port) {
  {
    std::lock_guard<std::mutex> lock(gPendingMutex);
    reapPendingLocked();
  }
  dos::setIoErr(0);
  if (!deviceExists("PIPE:")) {
    std::fputs("WARNING: Cannot download using https as PIPE: is not installed.\n", stdout);
    return -1;
  }
  if (!findCommandInPath("Curl")) {
    std::fputs("WARNING: Cannot download using https as Curl is not in the command path.\n", stdout);
    std::fflush(stdout);
    return -1;
  }
  std::string url = "https://" + host_.str();
  if (port != -1) url += ":" + std::to_string(port);
  url += "/" + escapeRequestPath(path);

  std::vector<std::string> argv = {"curl", "-q", url, "-f", "-i", "-s", "-S", "--connect-timeout", "20",
                                   "--max-time", std::to_string(wholeLimit().count())};
  if (useCaBundle_ && pathOrDeviceExists("curl-ca-bundle.crt", 1)) {
    argv.push_back("--cacert");
    argv.push_back("curl-ca-bundle.crt");
  }
  argv.push_back("-H");
  argv.push_back("User-Agent:" + (userAgent_.isNil() ? std::string() : userAgent_.str()));
  if (!postData_.isNil()) {
    argv.push_back("-H");
    argv.push_back("Content-Type:");
  }
  if (!extraHeaders_.isNil()) {
    for (const Str& line : splitLines(extraHeaders_).chain) {
      if (line.empty()) continue;
      argv.push_back("-H");
      argv.push_back(line.str());
    }
  }
  if (!postData_.isNil()) {
    argv.push_back("--data-raw");
    argv.push_back(body_);
  }
  argv.push_back("--http1.1");
  argv.push_back("--globoff");
  argv.push_back("--suppress-connect-headers");

  commandText_.clear();
  for (const std::string& arg : argv) {
    if (!commandText_.empty()) commandText_ += ' ';
    commandText_ += quoteForLog(arg);
  }

  SpawnOptions options;
  options.in = SpawnStdio::kNull;
  options.out = SpawnStdio::kPipe;
  options.err = SpawnStdio::kPipe;
  options.ownProcessGroup = true;
  options.dieWithParent = true;
  SpawnResult spawned = spawnProcess(argv, options);
  if (spawned.error != 0 || !spawned.child.valid()) {
    dos::ioErrFromErrno(spawned.error ? spawned.error : ENOENT);
    return -1;
  }
  curl_ = std::move(spawned.child);
  // Reads never block: a blocking request waits in poll, within its
  // deadlines.
  ::fcntl(curl_.stdoutFd(), F_SETFL, ::fcntl(curl_.stdoutFd(), F_GETFL) | O_NONBLOCK);
  return 0;
}

int32_t cHTTP::openFile(std::string_view path) {
  dos::setIoErr(0);
  std::string_view host = host_.view();
  if (!postData_.isNil() || !(host.empty() || host == "localhost")) return -1;
  file_ = dos::open(Str(":" + std::string(path)), dos::kModeOldFile);
  return file_ ? 0 : -1;
}

bool cHTTP::curlEnded() {
  if (!curl_.valid()) return true;
  for (;;) {
    ExitStatus ended;
    if (curl_.tryWait(&ended)) {
      curlExit_ = ended.exited ? ended.code : 128 + ended.signal;
      return true;
    }
    if (nonBlocking_ && !waitForData_) return false;
    if (infoPastDeadline()) {
      failWith(ETIMEDOUT);
      return true;
    }
    ::usleep(2000);
  }
}

int32_t cHTTP::statusFromCurlErrors() {
  int fd = curl_.stderrFd();
  if (fd < 0) return -1;
  // curl has ended: whatever it wrote is there.
  char text[101] = {};
  ssize_t n;
  do {
    n = ::read(fd, text, 100);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return -1;
  static constexpr char kMarker[] = "The requested URL returned error: ";
  const char* at = std::strstr(text, kMarker);
  if (!at) return -1;
  int32_t start = static_cast<int32_t>(at - text) + static_cast<int32_t>(sizeof kMarker - 1);
  ValueAt v = valueAt(Text(text), start, -1);
  if (v.position == start) return -1;
  std::string_view rest(text + std::min<int32_t>(v.position + 1, static_cast<int32_t>(std::strlen(text))));
  size_t lf = rest.find('\n');
  statusText_ = Str(rest.substr(0, lf));
  return v.value;
}

// Ready when curl's output has data or has ended; after its end, once curl
// has exited (so that its exit status can be read without waiting).
bool cHTTP::curlIsReady(int32_t milliseconds) {
  const auto until = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (inputEnded_) {
      if (curl_.tryWait(nullptr)) return true;
    } else {
      int fd = curl_.stdoutFd();
      if (fd < 0) return true;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
      struct pollfd p = {fd, POLLIN, 0};
      int r = ::poll(&p, 1, static_cast<int>(std::max<int64_t>(left, 0)));
      if (r > 0 && p.revents != 0) return true;
      if (r < 0 && errno != EINTR) return false;
    }
    if (Clock::now() >= until) return false;
    if (inputEnded_) ::usleep(1000);
  }
}

}  // namespace bw
