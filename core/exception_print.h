// core/exception_print.h - the runtime's exception line on standard output:
// "EXCEPTION: \"CODE\"; message.\n", or "EXCEPTION: \"CODE\".\n" when the
// message is empty. Code that must not let an exception out (GUI callbacks,
// validation runs) reports through it and goes on.
#pragma once

#include <exception>

#include "core/exception.h"

namespace bw {

void printException(const eException& e);
// Any other exception (an allocation failure) is printed as "MEM" with its
// what() text.
void printException(const std::exception& e);

}  // namespace bw
