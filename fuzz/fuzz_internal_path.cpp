// fuzz/fuzz_internal_path.cpp - every internal-path procedure on arbitrary
// text: no crash, ExportPath raises "EPU" exactly when the validity test of
// the path's form says invalid, and importing an export by form gives a
// valid path of the same form back; expanding never fails but by "EPU".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/exception.h"
#include "platform/path.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using bw::cPath;
  std::string_view in(reinterpret_cast<const char*>(data), size);
  bw::Text t(in);

  (void)cPath::ImportFilePath(t);
  (void)cPath::ImportDirPath(t);
  (void)cPath::InvalidDirName(t);
  (void)cPath::InvalidFileName(t);
  bw::PathNameSpan span = cPath::FindName(t);
  check(span.position >= 0 && span.length >= 0 &&
        static_cast<size_t>(span.position) + static_cast<size_t>(span.length) == size);
  check(cPath::ExtractName(t).length() == span.length);
  bw::Str sub = cPath::ExtractSubPath(t);
  check(in.substr(0, static_cast<size_t>(sub.length())) == sub.view());
  (void)cPath::ExtractDevice(t);

  bool dir = in.empty() || in.back() == '/';
  bool invalid = dir ? cPath::InvalidDirPath(t) : cPath::InvalidFilePath(t);
  bool raised = false;
  bw::Str native;
  try {
    native = cPath::ExportPath(t);
  } catch (const bw::eException& e) {
    raised = true;
    check(e.code() == "EPU" && e.message() == "cPath(); ExportPath(); path is invalid");
  }
  check(raised == invalid);
  if (!raised) {
    bw::Str back = dir ? cPath::ImportDirPath(native) : cPath::ImportFilePath(native);
    check(!(dir ? cPath::InvalidDirPath(back) : cPath::InvalidFilePath(back)));
  }
  // Expanding asks the disk (read only); a malformed path raises "EPU".
  try {
    bw::Str expanded = cPath::ExpandPath(t);
    check(!expanded.isNil());
  } catch (const bw::eException& e) {
    check(e.code() == "EPU");
  }
  return 0;
}
