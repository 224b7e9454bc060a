// app/child_run_test_support.h - runs the built program as a child process
// with a chosen environment and collects its exit code and output.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace bw::testing_app {

struct ChildResult {
  int rc = -1;
  std::string output;
};

// Runs the built program with arguments and extra environment entries (which
// replace those of the same name; an empty value removes it); answers its
// exit code and output.
inline ChildResult runChild(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    const std::string name = v.substr(0, v.find('='));
    if (!extra.contains(name) && name != "DISPLAY" && name != "WAYLAND_DISPLAY") env.push_back(v);
  }
  for (const auto& [name, value] : extra)
    if (!value.empty()) env.push_back(name + "=" + value);
  int out[2];
  if (::pipe(out) != 0) return {};
  ::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    std::vector<char*> argv, envp;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    for (auto& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ChildResult r;
  char buf[4096];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) r.output.append(buf, static_cast<size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return r;
}

}  // namespace bw::testing_app
