// app/program_identity.cpp - the version string, kept in the binary.
#include "app/program_identity.h"

namespace bw {

[[gnu::used]] const char programVersionString[] = "$VER: Brindlework 1.2 (18.06.2017)";

}  // namespace bw
