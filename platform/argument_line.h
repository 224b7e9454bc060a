// platform/argument_line.h - the program's argument line: the command line as
// one text, the way the shell template parser reads it.
//
// The line is argv[1..] joined by single blanks. An empty argument, or one
// holding a blank or a tab, is wrapped in double quotes (its own double
// quotes are dropped, as the template parser has no escape for them). "=" is
// left alone, so "TO=b" keeps its meaning for the parser. One trailing line
// feed of the joined line is dropped.
#pragma once

#include "core/str.h"

namespace bw {

// The argument line of argv[1..argc-1]; argv[0] (the program) is skipped.
Str argumentLineFromArgv(int argc, const char* const* argv);

// Remembers the process's arguments for initArgumentString. Call it before
// the module initialisers run; without it /proc/self/cmdline is read.
void setProgramArguments(int argc, const char* const* argv);

// Module initialiser: builds the argument line once and keeps it until
// endArgumentString. initArgumentStringCopy is the same procedure.
void initArgumentString();
inline void initArgumentStringCopy() { initArgumentString(); }
// Module finaliser: forgets the line (it reads NIL afterwards).
void endArgumentString();

// The kept argument line; NIL before initArgumentString and after
// endArgumentString.
const Str& argumentString();

}  // namespace bw
