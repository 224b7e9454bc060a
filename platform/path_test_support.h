// platform/path_test_support.h - test helpers for the path units: a private
// host folder assigned to a device name, entries made in it with
// std::filesystem, and a current-directory guard.
// Header only; included by the *_test.cpp files of platform/.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "core/raise_test_support.h"
#include "platform/assigns.h"

namespace bw::testing_paths {

namespace fs = std::filesystem;

inline std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A fresh host folder, assigned to `device` ("Work" unless told) for the
// test's lifetime; everything in it is removed afterwards.
class TempTree {
 public:
  explicit TempTree(std::string device = "Work") : device_(std::move(device)) {
    static std::atomic<int> counter{0};
    root_ = fs::temp_directory_path() /
            ("bw-paths-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(root_);
    fs::create_directories(root_);
    root_ = fs::canonical(root_);
    dos::assignAdd(device_, root_.string());
  }
  ~TempTree() {
    dos::assignRemove(device_);
    std::error_code ec;
    // Give every folder its bits back so that removal can enter it.
    for (auto it = fs::recursive_directory_iterator(root_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(root_, ec);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const fs::path& host() const { return root_; }
  fs::path host(const std::string& rel) const { return root_ / rel; }
  // The native name of rel below the device ("Work:rel").
  std::string native(const std::string& rel = "") const { return device_ + ":" + rel; }
  // The internal name of rel below the device ("Work:/rel").
  std::string internal(const std::string& rel = "") const { return device_ + ":/" + rel; }

  void file(const std::string& rel, const std::string& content = "x") const {
    fs::create_directories(host(rel).parent_path());
    std::ofstream(host(rel), std::ios::binary) << content;
  }
  void dir(const std::string& rel) const { fs::create_directories(host(rel)); }
  void symlink(const std::string& target, const std::string& rel) const {
    fs::create_directories(host(rel).parent_path());
    fs::create_symlink(target, host(rel));
  }
  // Removes the owner's write bit (the DOS layer then reports W and D set).
  void protect(const std::string& rel) const {
    fs::permissions(host(rel), fs::perms::owner_write, fs::perm_options::remove);
  }
  void readProtect(const std::string& rel) const {
    fs::permissions(host(rel), fs::perms::owner_read, fs::perm_options::remove);
  }

 private:
  std::string device_;
  fs::path root_;
};

// Changes the current directory for the guard's lifetime.
class CwdGuard {
 public:
  explicit CwdGuard(const fs::path& to) : old_(fs::current_path()) { fs::current_path(to); }
  ~CwdGuard() {
    std::error_code ec;
    fs::current_path(old_, ec);
  }
  CwdGuard(const CwdGuard&) = delete;
  CwdGuard& operator=(const CwdGuard&) = delete;

 private:
  fs::path old_;
};

// The native name the system gives a host path (":" + the path without its
// leading "/").
inline std::string nativeOfHost(const fs::path& host) {
  std::string h = host.string();
  return ":" + h.substr(1);
}

}  // namespace bw::testing_paths
