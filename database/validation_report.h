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

namespace bw {

// Prints format with its arguments on standard output when verbose. Numbers
// are passed as long ("%ld").
[[gnu::format(printf, 2, 3)]] void printFinding(bool verbose, const char* format, ...);

// The exception line of a validation run: "EXCEPTION: \"CODE\"; message.\n",
// or "EXCEPTION: \"CODE\".\n" when the message is empty.
void printValidationException(const eException& e);
// Any other exception (an allocation failure) is reported as "MEM".
void printValidationException(const std::exception& e);

// Numbers enter the validation sets as 32-bit keys: a handle or position by
// its low 32 bits (the data area stays below 2^32).
inline intptr_t setKey(int64_t number) { return static_cast<int32_t>(static_cast<uint32_t>(number)); }
inline int64_t fromSetKey(intptr_t key) { return static_cast<int64_t>(static_cast<uint32_t>(key)); }

}  // namespace bw
