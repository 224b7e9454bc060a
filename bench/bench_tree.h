// bench/bench_tree.h - BenchTree, a folder tree of one benchmark program:
// made afresh under the system's temporary folder, assigned to a DOS device
// so that the layer reaches it, and removed with what it holds at the end.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "platform/assigns.h"

namespace bw::bench {

struct BenchTree {
  std::filesystem::path root;
  // Makes "bw-bench-<name>-<pid>" (removing an old one), lets fill put the
  // entries in, and assigns device to the folder.
  BenchTree(const std::string& name, const std::string& device,
            const std::function<void(const std::filesystem::path& root)>& fill) {
    root = std::filesystem::temp_directory_path() / ("bw-bench-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    fill(root);
    root = std::filesystem::canonical(root);
    bw::dos::assignAdd(device, root.string());
  }
  ~BenchTree() {
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
  }
  BenchTree(const BenchTree&) = delete;
  BenchTree& operator=(const BenchTree&) = delete;
};

}  // namespace bw::bench
