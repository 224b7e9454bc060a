// platform/path_procs.h - module state of the path procedures that act on the
// disk by internal path (cPath::ExistsPath, DeletePath, MakeUniquePath,
// ReadLink, declared in path.h): the unique-name seed and a test seam.
//
// MakeUniquePath draws its numbers from a private generator (never the C
// library's rand, which other modules seed for their own use): for each try
// the generator is seeded with the absolute value of the module's seed (2^31
// for INT32_MIN), and its next value is both the number of the try and the
// new seed (one further on when the generator maps a seed onto itself, so
// that no seed repeats one name forever). At most 999 names are tried.
#pragma once

#include <cstdint>
#include <functional>

#include "core/str.h"

namespace bw {

// Module initialiser: the seed becomes the low 32 bits of the local clock
// time (pTime::CurrentTime(0)); needs the timer device open.
void initMakeUniquePathSeed();
// Sets the seed (tests; the start-up value comes from initMakeUniquePathSeed).
void setMakeUniquePathSeed(int32_t seed);

// Test seam: replaces MakeUniquePath's "is this name taken" question
// (cPath::ExistsPath(name, TRUE)); an empty function restores it.
void setMakeUniquePathProbe(std::function<bool(Text)> probe);

}  // namespace bw
