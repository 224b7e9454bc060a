// database/block_selftests.h - the self-tests of the two block files, a
// developer aid that nothing in the product calls: an allocation sequence
// on "ram:/testBlockFile.txt", dumps of what the file holds, compaction
// (indexed file) and a reopen, with a validation between the steps.
//
// Both print on standard output and end with "Finished.\n". A failed
// validation raises "BUG" with the number of the check ("1" to "6"); the
// exception is printed after "Finished." and the test answers 20 instead
// of 0, so a failing self-test never passes for a working one.
#pragma once

namespace bw {

// Needs the DOS layer, the timer device and the journal module.
int blockFileSelfTest();
int indexedBlockFileSelfTest();

// The frame of a self-test program: keeps the arguments, starts the modules
// the database needs, runs test and ends the modules; test's answer is the
// exit code (20 when the modules cannot be started).
int runDatabaseSelfTestProgram(int argc, char** argv, int (*test)());

}  // namespace bw
