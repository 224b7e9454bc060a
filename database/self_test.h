// database/self_test.h - the journaled file's self-test, a developer aid that
// nothing in the product calls: nested transactions, overlapping writes and
// a gap through the cache, then the same bytes read back from disk.
#pragma once

#include <cstdio>

namespace bw {

// Runs the self-test on "ram:/testJournal.txt", printing to out. Needs the
// timer device and the journal module.
void journaledFileSelfTest(std::FILE* out);

}  // namespace bw
