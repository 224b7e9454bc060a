// database/validation_report.cpp - printing the findings of a validation run.
#include "database/validation_report.h"

#include <cstdarg>
#include <cstdio>


namespace bw {

void printFinding(bool verbose, const char* format, ...) {
  if (!verbose) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

}  // namespace bw
