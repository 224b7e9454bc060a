// fuzz/fuzz_shell_template.cpp - random templates against random argument
// lines. The input's first line is the template, the rest the arguments. The
// parse runs quietly with the console on /dev/null (a lone "?" would
// otherwise wait for the terminal) and must answer true or false: any
// exception escaping it is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/shell_template.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::FILE* devNullOut = std::fopen("/dev/null", "w");
  static std::FILE* devNullIn = std::fopen("/dev/null", "r");
  std::string in(reinterpret_cast<const char*>(data), size);
  size_t cut = in.find('\n');
  std::string tmpl = in.substr(0, cut);
  std::string args = cut == std::string::npos ? std::string() : in.substr(cut + 1);
  bw::setShellConsole(devNullOut, devNullIn);
  bool ok = bw::parseShellTemplate(bw::Text(tmpl), bw::Text(args), true);
  if (ok) {
    for (int32_t i = 0; i < bw::pShellParameters::infoShellParamCount(); ++i)
      (void)bw::pShellParameters::GetParam(i);
  }
  bw::setShellConsole(nullptr, nullptr);
  bw::endShellParameters();
  return 0;
}
