// platform/spawn.cpp - starts programs from an argument vector, never
// through a shell.
//
// Invariants:
//   1. Descriptors the child gets: 0, 1 and 2 as chosen; every other one is
//      closed (or close-on-exec) before the program runs.
//   2. A ChildProcess is reaped exactly once: by wait(), a tryWait() that saw
//      it end, or its destructor.
//   3. A detached program is the child of a short-lived intermediate process
//      that is reaped before spawnDetached returns, so it is never this
//      process's child and leaves no zombie here.
#include "platform/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

extern char** environ;

namespace bw {
namespace {

ExitStatus statusFrom(int raw) {
  ExitStatus s;
  if (WIFEXITED(raw)) {
    s.exited = true;
    s.code = WEXITSTATUS(raw);
  } else if (WIFSIGNALED(raw)) {
    s.signal = WTERMSIG(raw);
  }
  return s;
}

std::vector<char*> argvPointers(const std::vector<std::string>& argv) {
  std::vector<char*> out;
  out.reserve(argv.size() + 1);
  for (const std::string& a : argv) out.push_back(const_cast<char*>(a.c_str()));
  out.push_back(nullptr);
  return out;
}

bool isExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The attributes every child gets: default signal dispositions, an empty
// signal mask, and optionally a process group of its own.
class SpawnAttributes {
 public:
  explicit SpawnAttributes(bool ownProcessGroup) {
    posix_spawnattr_init(&attr_);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr_, &all);
    posix_spawnattr_setsigmask(&attr_, &none);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (ownProcessGroup) {
      flags |= POSIX_SPAWN_SETPGROUP;
      posix_spawnattr_setpgroup(&attr_, 0);
    }
    posix_spawnattr_setflags(&attr_, flags);
  }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attr_); }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_;
};

class FileActions {
 public:
  FileActions() { posix_spawn_file_actions_init(&actions_); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// The end of a forked child's start (after its standard streams are set):
// every other descriptor close-on-exec, default signals and an empty mask,
// the folder, then the program; when that fails its errno goes to
// reportFd. Only async-signal-safe calls.
[[noreturn]] void execInChild(const char* program, char** args, char** env, const char* cwd, int reportFd) {
  ::syscall(SYS_close_range, 3U, ~0U, 4U /* CLOSE_RANGE_CLOEXEC */);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);
  int e = 0;
  if (cwd && ::chdir(cwd) != 0) {
    e = errno;
  } else {
    ::execve(program, args, env);
    e = errno;
  }
  (void)!::write(reportFd, &e, sizeof e);
  ::_exit(127);
}

}  // namespace

// ---------------------------------------------------------------------------
// ChildProcess
// ---------------------------------------------------------------------------

ChildProcess::ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    release();
    pid_ = std::exchange(other.pid_, -1);
    stdoutFd_ = std::exchange(other.stdoutFd_, -1);
    stderrFd_ = std::exchange(other.stderrFd_, -1);
    reaped_ = std::exchange(other.reaped_, false);
    groupLeader_ = std::exchange(other.groupLeader_, false);
    status_ = other.status_;
  }
  return *this;
}

ChildProcess::~ChildProcess() { release(); }

void ChildProcess::release() {
  closeStdout();
  closeStderr();
  if (pid_ > 0 && !reaped_) wait();
  pid_ = -1;
}

void ChildProcess::closeStdout() { closeFd(stdoutFd_); }

void ChildProcess::closeStderr() { closeFd(stderrFd_); }

ExitStatus ChildProcess::wait() {
  if (pid_ <= 0 || reaped_) return status_;
  int raw = 0;
  pid_t r;
  do {
    r = ::waitpid(pid_, &raw, 0);
  } while (r < 0 && errno == EINTR);
  reaped_ = true;
  if (r == pid_) status_ = statusFrom(raw);
  return status_;
}

bool ChildProcess::tryWait(ExitStatus* status) {
  if (pid_ > 0 && !reaped_) {
    int raw = 0;
    pid_t r = ::waitpid(pid_, &raw, WNOHANG);
    if (r == 0) return false;
    reaped_ = true;
    if (r == pid_) status_ = statusFrom(raw);
  }
  if (status) *status = status_;
  return true;
}

void ChildProcess::terminate(int sig) {
  if (pid_ <= 0 || reaped_) return;
  ::kill(groupLeader_ ? -pid_ : pid_, sig);
}

// ---------------------------------------------------------------------------
// Look-up and spawning
// ---------------------------------------------------------------------------

std::string executableSearchPath() {
  if (const char* path = ::getenv("PATH")) return path;
  size_t n = ::confstr(_CS_PATH, nullptr, 0);
  std::string def(n, '\0');
  if (n) ::confstr(_CS_PATH, def.data(), n);
  if (!def.empty() && def.back() == '\0') def.pop_back();
  return def;
}

std::string findExecutable(const std::string& name, const std::string& searchPath) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return isExecutableFile(name) ? name : std::string();
  size_t start = 0;
  for (;;) {
    size_t colon = searchPath.find(':', start);
    std::string dir =
        searchPath.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    std::string candidate = dir.empty() ? name : dir + "/" + name;
    if (isExecutableFile(candidate)) return candidate;
    if (colon == std::string::npos) return {};
    start = colon + 1;
  }
}

namespace {

// fork and exec with the parent-death signal set in the child before exec
// (posix_spawn cannot set it). Between fork and exec only async-signal-safe
// calls are made; everything else is prepared here.
SpawnResult forkWithParentDeath(const std::vector<std::string>& argv, const SpawnOptions& options) {
  SpawnResult result;
  std::string program = findExecutable(argv[0], executableSearchPath());
  if (program.empty()) {
    result.error = ENOENT;
    return result;
  }
  std::vector<char*> args = argvPointers(argv);
  char** env = environ;
  const char* cwd = options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();
  int outFds[2] = {-1, -1}, errFds[2] = {-1, -1}, report[2] = {-1, -1};
  auto closeAll = [&] {
    for (int* fd : {&outFds[0], &outFds[1], &errFds[0], &errFds[1], &report[0], &report[1]}) closeFd(*fd);
  };
  if ((options.out == SpawnStdio::kPipe && ::pipe2(outFds, O_CLOEXEC) != 0) ||
      (options.err == SpawnStdio::kPipe && ::pipe2(errFds, O_CLOEXEC) != 0) || ::pipe2(report, O_CLOEXEC) != 0) {
    result.error = errno;
    closeAll();
    return result;
  }
  const pid_t parent = ::getpid();
  pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);  // the parent died before prctl
    if (options.ownProcessGroup) ::setpgid(0, 0);
    auto toNull = [](int fd) {
      int n = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
      if (n >= 0 && n != fd) {
        ::dup2(n, fd);
        ::close(n);
      }
    };
    if (options.in == SpawnStdio::kNull) toNull(0);
    if (options.out == SpawnStdio::kNull) toNull(1);
    if (options.err == SpawnStdio::kNull) toNull(2);
    if (outFds[1] >= 0) ::dup2(outFds[1], 1);
    if (errFds[1] >= 0) ::dup2(errFds[1], 2);
    execInChild(program.c_str(), args.data(), env, cwd, report[1]);
  }
  if (pid < 0) {
    result.error = errno;
    closeAll();
    return result;
  }
  if (options.ownProcessGroup) ::setpgid(pid, pid);  // whichever runs first
  closeFd(outFds[1]);
  closeFd(errFds[1]);
  closeFd(report[1]);
  int e = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &e, sizeof e);
  } while (n < 0 && errno == EINTR);
  closeFd(report[0]);
  if (n == static_cast<ssize_t>(sizeof e)) {
    // exec failed: reap the child and report why.
    int raw;
    while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    closeFd(outFds[0]);
    closeFd(errFds[0]);
    result.error = e;
    return result;
  }
  result.child = ChildProcess(pid, outFds[0], options.ownProcessGroup, errFds[0]);
  return result;
}

}  // namespace

SpawnResult spawnProcess(const std::vector<std::string>& argv, const SpawnOptions& options) {
  SpawnResult result;
  if (argv.empty() || argv[0].empty()) {
    result.error = EINVAL;
    return result;
  }
  if (options.dieWithParent) return forkWithParentDeath(argv, options);
  FileActions actions;
  int pipeFds[2] = {-1, -1};
  auto nullStream = [&](int fd) {
    posix_spawn_file_actions_addopen(actions.get(), fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  };
  if (options.in == SpawnStdio::kNull) nullStream(0);
  if (options.out == SpawnStdio::kNull) nullStream(1);
  if (options.err == SpawnStdio::kNull) nullStream(2);
  if (options.out == SpawnStdio::kPipe) {
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
      result.error = errno;
      return result;
    }
    posix_spawn_file_actions_adddup2(actions.get(), pipeFds[1], 1);
  }
  int errFds[2] = {-1, -1};
  if (options.err == SpawnStdio::kPipe) {
    if (::pipe2(errFds, O_CLOEXEC) != 0) {
      result.error = errno;
      closeFd(pipeFds[0]);
      closeFd(pipeFds[1]);
      return result;
    }
    posix_spawn_file_actions_adddup2(actions.get(), errFds[1], 2);
  }
  if (!options.workingDirectory.empty())
    posix_spawn_file_actions_addchdir_np(actions.get(), options.workingDirectory.c_str());
  posix_spawn_file_actions_addclosefrom_np(actions.get(), 3);

  SpawnAttributes attributes(options.ownProcessGroup);
  std::vector<char*> args = argvPointers(argv);
  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, args[0], actions.get(), attributes.get(), args.data(), environ);
  closeFd(pipeFds[1]);
  closeFd(errFds[1]);
  if (rc != 0) {
    closeFd(pipeFds[0]);
    closeFd(errFds[0]);
    result.error = rc;
    return result;
  }
  result.child = ChildProcess(pid, pipeFds[0], options.ownProcessGroup, errFds[0]);
  return result;
}

int spawnDetached(const std::vector<std::string>& argv, const std::string& workingDirectory) {
  if (argv.empty() || argv[0].empty()) return EINVAL;
  // Everything the children need is prepared here: between fork and exec
  // only async-signal-safe calls are made.
  std::string program = findExecutable(argv[0], executableSearchPath());
  if (program.empty()) return ENOENT;
  std::vector<char*> args = argvPointers(argv);
  char** env = environ;
  const char* cwd = workingDirectory.empty() ? nullptr : workingDirectory.c_str();
  int devNull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devNull < 0) return errno;
  int report[2];  // the grandchild's errno when exec fails; EOF when it ran
  if (::pipe2(report, O_CLOEXEC) != 0) {
    int e = errno;
    ::close(devNull);
    return e;
  }

  pid_t middle = ::fork();
  if (middle == 0) {
    ::setsid();
    pid_t grandchild = ::fork();
    if (grandchild != 0) {
      if (grandchild < 0) {
        int e = errno;
        (void)!::write(report[1], &e, sizeof e);
      }
      ::_exit(0);
    }
    ::dup2(devNull, 0);
    ::dup2(devNull, 1);
    ::dup2(devNull, 2);
    execInChild(program.c_str(), args.data(), env, cwd, report[1]);
  }
  int error = middle < 0 ? errno : 0;
  ::close(report[1]);
  ::close(devNull);
  if (middle > 0) {
    int raw;
    while (::waitpid(middle, &raw, 0) < 0 && errno == EINTR) {
    }
    int e = 0;
    ssize_t n;
    do {
      n = ::read(report[0], &e, sizeof e);
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof e)) error = e;
  }
  ::close(report[0]);
  return error;
}

}  // namespace bw
