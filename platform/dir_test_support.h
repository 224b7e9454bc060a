// platform/dir_test_support.h - test helpers for the directory units: a seam
// guard that puts the directory seams back, and running a check in a child
// process under an unprivileged user id, where the host's own permission
// checks apply (the tests may run as root, where they never fail).
// Header only; included by the *_test.cpp files of platform/.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/dir.h"
#include "platform/dos.h"

namespace bw::testing_dirs {

// Puts every directory seam and DOS seam back when it goes.
class SeamGuard {
 public:
  SeamGuard() = default;
  ~SeamGuard() {
    dirSeams() = DirSeams();
    dos::dosSeams() = dos::DosSeams();
  }
  SeamGuard(const SeamGuard&) = delete;
  SeamGuard& operator=(const SeamGuard&) = delete;
};

inline constexpr uid_t kNobody = 65534;

// Runs check in a child process; when the test runs as root the child first
// gives the tree to the unprivileged user (unless tree is empty) and becomes
// it. Returns the child's answer (false when it could not run or crashed).
inline bool runAsUnprivileged(const std::filesystem::path& tree, const std::function<bool()>& check) {
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    if (::geteuid() == 0) {
      std::error_code ec;
      if (!tree.empty()) {
        ::lchown(tree.c_str(), kNobody, kNobody);
        for (auto it = std::filesystem::recursive_directory_iterator(tree, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
          ::lchown(it->path().c_str(), kNobody, kNobody);
      }
      if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
        std::fprintf(stderr, "cannot become user %d\n", static_cast<int>(kNobody));
        ::_exit(3);
      }
    }
    bool ok = false;
    try {
      ok = check();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "unprivileged check raised %s\n", e.what());
      ok = false;
    }
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace bw::testing_dirs
