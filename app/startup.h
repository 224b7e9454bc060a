// app/startup.h - the program's start-up and shut-down sequence.
#pragma once

namespace bw {

// Runs the program with the process's arguments and returns its exit code:
// 0 when nothing was raised, a program exit's return value (exitProgram),
// 10 for "ERR", 20 for any other exception.
int runBrindlework(int argc, char** argv);

}  // namespace bw
