// app/child_run_test_support.h - runs the built program as a child process
// with a chosen environment and collects its exit code and output.
#pragma once

#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <map>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace bw::testing_app {

struct ChildResult {
  int rc = -1;          // exit code, or minus the signal that ended it
  std::string output;   // standard output
  std::string errors;   // standard error, when captured
};

struct ChildOptions {
  bool ownGroup = false;       // a process group of its own: kill(-pid) reaches all of it
  bool captureErrors = false;  // standard error into errors (else the test's own)
  std::optional<rlim_t> fileSizeLimit;  // RLIMIT_FSIZE
};

// A started child: its pid and the reading ends of its pipes (-1: none).
struct StartedChild {
  pid_t pid = -1;
  int output = -1;
  int errors = -1;
};

// Starts the built program with arguments (the executable first) and extra
// environment entries (which replace those of the same name; an empty value
// removes it); DISPLAY and WAYLAND_DISPLAY are never passed on.
inline StartedChild startChild(const std::vector<std::string>& arguments,
                               const std::map<std::string, std::string>& extra, const ChildOptions& options = {}) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    const std::string name = v.substr(0, v.find('='));
    if (!extra.contains(name) && name != "DISPLAY" && name != "WAYLAND_DISPLAY") env.push_back(v);
  }
  for (const auto& [name, value] : extra)
    if (!value.empty()) env.push_back(name + "=" + value);
  int out[2], err[2] = {-1, -1};
  if (::pipe(out) != 0) return {};
  if (options.captureErrors && ::pipe(err) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return {};
  }
  ::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (options.ownGroup) ::setpgid(0, 0);
    if (options.fileSizeLimit) {
      const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ::dup2(out[1], 1);
    ::close(out[0]);
    if (options.captureErrors) {
      ::dup2(err[1], 2);
      ::close(err[0]);
    }
    std::vector<char*> argv, envp;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    for (auto& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  if (options.captureErrors) ::close(err[1]);
  return {pid, out[0], err[0]};
}

// Reads the child's pipes to their end, then waits for it. With a limit, a
// child still running after that many seconds is killed (SIGKILL to it, and
// to its group when it has one of its own): its rc is then -SIGKILL and
// timedOut is set.
inline ChildResult finishChild(const StartedChild& child, int limitSeconds = 0, bool* timedOut = nullptr) {
  ChildResult r;
  char buf[4096];
  pollfd fds[2] = {{child.output, POLLIN, 0}, {child.errors, POLLIN, 0}};
  std::string* into[2] = {&r.output, &r.errors};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
  bool killed = false;
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    int wait = -1;
    if (limitSeconds > 0 && !killed) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        ::kill(child.pid, SIGKILL);
        ::kill(-child.pid, SIGKILL);
        killed = true;
      } else {
        wait = static_cast<int>(left.count());
      }
    }
    if (::poll(fds, 2, wait) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        into[i]->append(buf, static_cast<size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  if (timedOut) *timedOut = killed;
  return r;
}

// startChild, then finishChild.
inline ChildResult runChild(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& extra) {
  return finishChild(startChild(arguments, extra));
}

}  // namespace bw::testing_app
