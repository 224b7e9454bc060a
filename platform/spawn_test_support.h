// platform/spawn_test_support.h - helpers of the spawner and command tests:
// a temporary folder with recording scripts, environment scopes, and the
// check that no child process is left over.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace bw::testing_support {

namespace fs = std::filesystem;

// A temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "bw-spawn-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() { fs::remove_all(path_); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Writes an executable script.
  std::string script(const std::string& name, const std::string& body) const {
    std::string p = *this / name;
    std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
    ::chmod(p.c_str(), 0755);
    return p;
  }

  // A script that records its arguments, NUL-separated, in <name>.args.
  std::string recorder(const std::string& name) const {
    std::string out = *this / (name + ".args");
    return script(name, "printf '%s\\0' \"$@\" > '" + out + ".tmp'; mv '" + out + ".tmp' '" + out + "'");
  }

 private:
  std::string path_;
};

// The arguments a recorder wrote, waiting up to ten seconds for a detached
// one to run.
inline std::vector<std::string> recordedArgs(const std::string& recorderPath, bool wait = true) {
  std::string file = recorderPath + ".args";
  for (int i = 0; wait && i < 1000 && !fs::exists(file); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> args;
  std::string arg;
  while (std::getline(in, arg, '\0')) args.push_back(arg);
  return args;
}

// Sets (or, with nullptr, unsets) an environment variable for one scope.
class EnvScope {
 public:
  EnvScope(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, hadOld_ = true;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~EnvScope() { hadOld_ ? ::setenv(name_.c_str(), old_.c_str(), 1) : ::unsetenv(name_.c_str()); }

 private:
  std::string name_, old_;
  bool hadOld_ = false;
};

inline std::string readAll(int fd) {
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}

// No child of this process is left over, exited or not.
inline void expectNoChildren() {
  int status;
  errno = 0;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace bw::testing_support
