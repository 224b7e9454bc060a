// tools/blockfile_selftest.cpp - runs the block file's self-test on
// "ram:/testBlockFile.txt" and exits with its answer (0 when it passed).
#include "database/block_selftests.h"

int main(int argc, char** argv) { return bw::runDatabaseSelfTestProgram(argc, argv, bw::blockFileSelfTest); }
