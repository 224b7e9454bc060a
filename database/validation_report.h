// database/validation_report.h - how the database's validations print what
// they find: one line per finding on standard output (only when verbose),
// and the line for an exception that ended a run.
//
// Every layer's validate prints through these, so that findings and the
// exceptions between them come out in the order they happened.
#pragma once

#include <cstdint>
#include <exception>

#include "core/exception.h"
#include "core/exception_print.h"

namespace bw {

// Prints format with its arguments on standard output when verbose. Numbers
// are passed as long ("%ld").
[[gnu::format(printf, 2, 3)]] void printFinding(bool verbose, const char* format, ...);


// The two results a run builds up. A finding that can be mended is mended
// with repair (and the run has repaired something); without repair it makes
// the run invalid.
struct FindingTally {
  bool repair = false;
  bool valid = true;
  bool repaired = false;
  template <class Mend>
  void mendOr(Mend mend) {
    if (repair) {
      mend();
      repaired = true;
    } else {
      valid = false;
    }
  }
};

// Thrown by a validation step after it printed an aborting finding.
struct ValidationAbort {};

// Runs the steps of a validation run: true when they ended normally; an
// aborting finding or an exception (printed when verbose) answers false.
// Nothing escapes.
template <class Steps>
bool runValidationSteps(bool verbose, Steps steps) noexcept {
  try {
    steps();
    return true;
  } catch (const ValidationAbort&) {
  } catch (const eException& e) {
    if (verbose) printException(e);
  } catch (const std::exception& e) {
    if (verbose) printException(e);
  }
  return false;
}

// Numbers enter the validation sets as 32-bit keys: a handle or position by
// its low 32 bits (the data area stays below 2^32).
inline intptr_t setKey(int64_t number) { return static_cast<int32_t>(static_cast<uint32_t>(number)); }
inline int64_t fromSetKey(intptr_t key) { return static_cast<int64_t>(static_cast<uint32_t>(key)); }
// The value a set holds for a handle or position, 0 when absent. A number
// outside 0 .. 2^32 - 1 is never in a set (its low 32 bits could name
// another block).
template <class Set>
intptr_t valueInSet(Set& set, int64_t number) {
  return number == fromSetKey(setKey(number)) ? set.get(setKey(number)) : 0;
}

}  // namespace bw
