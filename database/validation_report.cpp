// database/validation_report.cpp - printing the findings of a validation run.
#include "database/validation_report.h"

#include <cstdarg>
#include <cstdio>

#include "core/exception_print.h"

namespace bw {

void printFinding(bool verbose, const char* format, ...) {
  if (!verbose) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

void printValidationException(const eException& e) { printException(e); }

void printValidationException(const std::exception& e) { printValidationException(eException("MEM", e.what())); }

}  // namespace bw
