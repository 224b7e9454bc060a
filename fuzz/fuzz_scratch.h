// fuzz/fuzz_scratch.h - a scratch folder for fuzz targets that need files: in
// memory-backed storage when there is one, removed with what it holds when
// the program ends. Opens the clock, which buffered-file writes read.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/clock.h"

namespace bw::fuzzing {

struct ScratchFolder {
  std::string path;
  explicit ScratchFolder(const std::string& name) {
    std::string pattern = (::access("/dev/shm", W_OK) == 0 ? std::string("/dev/shm") : std::string("/tmp")) +
                          "/bw-fuzz-" + name + "-XXXXXX";
    char* made = ::mkdtemp(pattern.data());
    if (!made) std::abort();
    path = made;
    bw::initTimerDevice();
  }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
};

}  // namespace bw::fuzzing
