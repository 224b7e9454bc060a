// platform/dos_env.cpp - environment, Ctrl-C, delays, program name and the
// current directory.
#include "platform/dos_env.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>

#include "platform/dos_errors.h"
#include "platform/native_path.h"

namespace bw::dos {
namespace {

std::atomic<bool> gBreak{false};
bool gHandlerInstalled = false;

bool gTerminationBreaks = false;

extern "C" void onSigInt(int) { gBreak.store(true, std::memory_order_relaxed); }

void setAction(int signal, void (*handler)(int)) {
  struct sigaction sa{};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;  // an interrupted system call goes on
  ::sigaction(signal, &sa, nullptr);
}

bool validName(Text name) {
  if (name.isNil()) return false;
  std::string_view n = name.nulView();
  return !n.empty() && n.find('=') == std::string_view::npos;
}

}  // namespace

std::optional<std::string> getVar(Text name, uint32_t) {
  if (!validName(name)) {
    setIoErr(kErrorObjectNotFound);
    return std::nullopt;
  }
  std::string key(name.nulView());
  const char* v = std::getenv(key.c_str());
  if (!v) {
    setIoErr(kErrorObjectNotFound);
    return std::nullopt;
  }
  setIoErr(0);
  return std::string(v);
}

bool setVar(Text name, Text value, uint32_t) {
  if (!validName(name)) {
    setIoErr(kErrorInvalidComponentName);
    return false;
  }
  std::string key(name.nulView());
  std::string text = value.isNil() ? std::string() : std::string(value.nulView());
  if (::setenv(key.c_str(), text.c_str(), 1) != 0) {
    ioErrFromErrno(errno, Access::write);
    return false;
  }
  setIoErr(0);
  return true;
}

bool deleteVar(Text name, uint32_t) {
  if (!validName(name)) {
    setIoErr(kErrorObjectNotFound);
    return false;
  }
  std::string key(name.nulView());
  ::unsetenv(key.c_str());
  setIoErr(0);
  return true;
}

void installBreakHandler() {
  if (gHandlerInstalled) return;
  setAction(SIGINT, onSigInt);
  gHandlerInstalled = true;
}

void breakOnTermination() {
  for (int signal : {SIGTERM, SIGHUP}) setAction(signal, onSigInt);
  gTerminationBreaks = true;
}

bool checkBreak() { return gBreak.exchange(false, std::memory_order_relaxed); }

void signalBreak() { gBreak.store(true, std::memory_order_relaxed); }

namespace {
std::atomic<bool> gShellMode{false};
}  // namespace

bool shellMode() { return gShellMode.load(std::memory_order_relaxed); }

void setShellMode(bool on) { gShellMode.store(on, std::memory_order_relaxed); }

void delay(int32_t ticks) {
  if (ticks <= 0) return;
  int64_t ms = static_cast<int64_t>(ticks) * 20;
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>((ms % 1000) * 1000000)};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::string programName() { return program_invocation_name ? program_invocation_name : ""; }

std::optional<std::string> currentDirName() {
  std::string buf(256, '\0');
  for (;;) {
    if (::getcwd(buf.data(), buf.size())) {
      buf.resize(std::char_traits<char>::length(buf.c_str()));
      setIoErr(0);
      return hostToNative(buf);
    }
    if (errno != ERANGE) {
      ioErrFromErrno(errno);
      return std::nullopt;
    }
    buf.resize(buf.size() * 2);
  }
}

bool setCurrentDir(Text native) {
  HostPaths all = nativeToHostAll(native);
  if (!all.ok) return false;
  int firstErr = 0;
  for (const std::string& p : all.paths) {
    if (::chdir(p.c_str()) == 0) {
      setIoErr(0);
      return true;
    }
    if (firstErr == 0 || firstErr == ENOENT) firstErr = errno;
  }
  ioErrFromErrno(firstErr == ENOTDIR ? ENOTDIR : firstErr);
  if (firstErr == ENOTDIR) setIoErr(kErrorObjectWrongType);
  return false;
}

namespace {

// A reader of the output that goes away ("UpdateAll | head") and a file size
// limit (ulimit -f) would end the process by a signal in the middle of a
// commit; ignored, they come back as failed writes (EPIPE: the console text
// is lost; EFBIG: "FULL", raised and told like a full disk).
constexpr int kWriteSignals[] = {SIGPIPE, SIGXFSZ};

}  // namespace

void initDosLayer() {
  installBreakHandler();
  for (int signal : kWriteSignals) setAction(signal, SIG_IGN);
}

void endDosLayer() {
  if (gTerminationBreaks) {
    for (int signal : {SIGTERM, SIGHUP}) setAction(signal, SIG_DFL);
    gTerminationBreaks = false;
  }
  if (!gHandlerInstalled) return;
  setAction(SIGINT, SIG_DFL);
  for (int signal : kWriteSignals) setAction(signal, SIG_DFL);
  gHandlerInstalled = false;
}

}  // namespace bw::dos
