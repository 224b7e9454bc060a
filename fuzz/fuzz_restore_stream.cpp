// fuzz/fuzz_restore_stream.cpp - a scripted sequence of transfers reads
// arbitrary bytes through a file stream: each run ends in success or in
// "FILE" (the stream ended) or "BUG" (object numbers out of step), never in
// a crash or a hang.
//
// Input: byte 0 = script length n (mod 64), bytes 1..n = the transfers, the
// rest = the stream's bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <string>

#include "core/exception.h"
#include "fuzz/fuzz_scratch.h"
#include "platform/restore_stream.h"

namespace {

const std::string& scratchFolder() {
  static const bw::fuzzing::ScratchFolder folder("stream");
  return folder.path;
}

void run(bw::cRestoreStreamBase& s, const uint8_t* script, size_t n) {
  std::deque<bw::class_base> objects;
  s.beginStream();
  for (size_t i = 0; i < n; ++i) {
    switch (script[i] % 9) {
      case 0: (void)bw::transferBool(s, false, 0); break;
      case 1: (void)bw::transferByte(s, false, 0); break;
      case 2: (void)bw::transferUnsignedByte(s, false, 0); break;
      case 3: (void)bw::transferShort(s, false, 0); break;
      case 4: (void)bw::transferValue(s, false, 0); break;
      case 5: (void)bw::transferCompactValue(s, false, 0); break;
      case 6: (void)bw::transferBigValue(s, false, 0); break;
      case 7:
        if (!s.transferObject(false, nullptr).seen) s.objectCreationAfter(false, &objects.emplace_back());
        break;
      default: s.objectCreationAfter(false, &objects.emplace_back()); break;
    }
  }
  s.finishStream();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t n = std::min<size_t>(data[0] % 64, size - 1);
  std::string host = scratchFolder() + "/stream";
  FILE* f = std::fopen(host.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(data + 1 + n, 1, size - 1 - n, f);
  std::fclose(f);

  bw::cFile file;
  file.initialise(0);
  if (!file.open(bw::Text(":" + host), true, false, false)) std::abort();
  bw::cRestoreStream_any_cFile stream;
  stream.setFile(&file);
  try {
    run(stream, data + 1, n);
  } catch (const bw::eException& e) {
    if (e.code() != "FILE" && e.code() != "BUG") std::abort();
    if (e.code() == "FILE" && e.message() != "cRestoreStream_any_cFile.read(); unexpected end of stream") std::abort();
  }
  file.close();
  return 0;
}
