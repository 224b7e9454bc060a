// bench/child_run.h - runs a program a benchmark compares as a child and
// measures that child alone: wall time, user CPU and its own peak resident
// memory.
//
// Invariants:
//   1. The peak is the child's VmHWM, read from /proc at its exit stop
//      (ptrace's PTRACE_EVENT_EXIT, before the kernel drops its memory). The
//      ru_maxrss wait4 reaps will not do: a child started by vfork or
//      posix_spawn runs in its parent's memory until exec, and the kernel
//      keeps the larger of that peak and the program's own, so every child
//      of a large benchmark showed the benchmark's size.
//   2. When the peak cannot be read (ptrace refused) peakMiB is negative;
//      wall time, user CPU and status are measured all the same.
//   3. Standard input, output and error are /dev/null; argv[0] without a
//      slash is looked up in PATH.
#pragma once

#include <fcntl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <vector>

namespace bw::bench {

struct ChildRun {
  double wall = 0, user = 0;
  double peakMiB = -1;  // negative: not known
  int status = -1;      // exit code, or 128 + the signal
};

// The VmHWM line of /proc/PID/status in KiB, -1 without one (a process
// whose memory is gone).
inline long peakKiBOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

inline ChildRun runMeasured(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  // Everything the child needs is made before fork: it may only exec.
  std::vector<std::string> argText(argv), envText(env);
  std::vector<char*> args, envp;
  for (std::string& a : argText) args.push_back(a.data());
  for (std::string& e : envText) envp.push_back(e.data());
  args.push_back(nullptr);
  envp.push_back(nullptr);
  const bool search = argv.at(0).find('/') == std::string::npos;

  ChildRun run;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return run;
  if (pid == 0) {
    ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd) ::dup2(null, fd);
    if (search)
      ::execvpe(args[0], args.data(), envp.data());
    else
      ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  long peakKiB = -1;
  bool traced = false;
  for (;;) {
    if (::wait4(pid, &status, 0, &usage) != pid) {
      if (errno == EINTR) continue;
      return run;
    }
    if (!WIFSTOPPED(status)) break;
    int forward = WSTOPSIG(status);
    if (!traced && forward == SIGTRAP) {
      // Stopped after exec: from now on stop at the exit too.
      traced = ::ptrace(PTRACE_SETOPTIONS, pid, nullptr,
                        PTRACE_O_TRACEEXIT | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL) == 0;
      forward = 0;
    } else if (forward == SIGTRAP && (status >> 16) == PTRACE_EVENT_EXEC) {
      forward = 0;  // a further exec (a wrapper script's): its program is measured
    } else if (forward == SIGTRAP && (status >> 16) == PTRACE_EVENT_EXIT) {
      peakKiB = peakKiBOf(pid);
      forward = 0;
    }
    ::ptrace(PTRACE_CONT, pid, nullptr, forward);
  }
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.user = static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
  run.peakMiB = peakKiB < 0 ? -1 : static_cast<double>(peakKiB) / 1024.0;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace bw::bench
