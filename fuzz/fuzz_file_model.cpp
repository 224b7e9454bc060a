// fuzz/fuzz_file_model.cpp - cFile operation scripts against the byte-vector
// model: the input chooses every operation, position and size; any
// difference in a result, a byte read or the file on disk aborts.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/exception.h"
#include "fuzz/fuzz_scratch.h"
#include "platform/file_model_test_support.h"

namespace {

const std::string& scratchFolder() {
  static const bw::fuzzing::ScratchFolder folder("file");
  return folder.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string host = scratchFolder() + "/model";
  ::unlink(host.c_str());
  bw::setDefaultChunkSize(8);
  size_t at = 0;
  // Each choice takes up to four input bytes; an exhausted input gives 0.
  auto next = [&](uint64_t bound) -> uint64_t {
    uint64_t v = 0;
    for (int i = 0; i < 4 && at < size; ++i) v = (v << 8) | data[at++];
    return bound == 0 ? 0 : v % bound;
  };
  // Small files and chunks keep runs fast; one request in a thousand still
  // goes past the cache.
  bw::testing_model::FileModelRun run(":" + host, host, 256 << 10, 1, 13);
  std::string difference;
  try {
    difference = run.run(next, static_cast<int64_t>(size / 16));
  } catch (const bw::eException&) {
    std::abort();
  }
  if (!difference.empty()) std::abort();
  return 0;
}
