// database/kill_harness_test_support.h - one run of the kill -9 harness: a
// forked driver commits numbered transactions and reports "committed N" on
// a pipe; the harness kills it with SIGKILL at a random moment and answers
// the last commit the driver reported as complete.
//
// One run in four is killed 0 to 5 ms after the start, wherever it is; the
// others once their first commit is reported (waiting up to 20 s, so a slow
// or loaded machine still sees commits) and 0 to 10 ms more, so the kills
// fall among the commits.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>

namespace bw::testing_journal {

// Forks `driver(reportFd)` (which must never return), kills it and returns
// the last commit number it reported, 0 when none. Fails the test when the
// driver ended by itself.
inline int64_t runAndKill(int run, std::mt19937_64& random, const std::function<void(int)>& driver) {
  int fds[2];
  if (::pipe(fds) != 0) {
    ADD_FAILURE() << "pipe";
    return 0;
  }
  ::fflush(nullptr);
  pid_t child = ::fork();
  if (child < 0) {
    ADD_FAILURE() << "fork";
    return 0;
  }
  if (child == 0) {
    ::close(fds[0]);
    driver(fds[1]);
    ::_exit(5);
  }
  ::close(fds[1]);
  std::string reported;
  char buf[4096];
  auto readFor = [&](std::chrono::microseconds span, bool untilCommit) {
    auto until = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < until) {
      if (untilCommit && reported.find('\n') != std::string::npos) return;
      pollfd p{fds[0], POLLIN, 0};
      if (::poll(&p, 1, 1) > 0) {
        ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n <= 0) return;
        reported.append(buf, static_cast<size_t>(n));
      }
    }
  };
  if (run % 4 == 0) {
    readFor(std::chrono::microseconds(random() % 5000), false);
  } else {
    readFor(std::chrono::seconds(20), true);
    readFor(std::chrono::microseconds(random() % 10000), false);
  }
  ::kill(child, SIGKILL);
  int status = 0;
  EXPECT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status)) << "the driver stopped by itself: " << status;
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) reported.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  // Only a line ended by its line feed was reported whole.
  size_t end = reported.rfind('\n');
  if (end == std::string::npos) return 0;
  size_t at = reported.rfind("committed ", end);
  return at == std::string::npos ? 0 : std::stoll(reported.substr(at + 10, end - at - 10));
}

}  // namespace bw::testing_journal
