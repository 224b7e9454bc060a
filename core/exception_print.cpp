// core/exception_print.cpp - the exception line.
#include "core/exception_print.h"

#include <cstdio>

namespace bw {

void printException(const eException& e) {
  if (e.message().empty()) {
    std::printf("EXCEPTION: \"%s\".\n", e.code().c_str());
  } else {
    std::printf("EXCEPTION: \"%s\"; %s.\n", e.code().c_str(), e.message().c_str());
  }
  std::fflush(stdout);
}

void printException(const std::exception& e) { printException(eException("MEM", e.what())); }

}  // namespace bw
