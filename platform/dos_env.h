// platform/dos_env.h - the process side of the DOS layer: environment
// variables, the Ctrl-C flag, delays, the program's name and the current
// directory, and the run mode (shell or GUI).
//
// Invariants:
//   1. Variables are the process environment (ENV:); the AmigaDOS global
//      and local flags are accepted and ignored. An unset variable is not an
//      empty one.
//   2. SIGINT only sets an atomic flag (installBreakHandler; SIGTERM and
//      SIGHUP too after breakOnTermination); long
//      operations poll it with checkBreak(), which clears it. Between
//      initDosLayer and endDosLayer SIGPIPE and SIGXFSZ are ignored: a
//      write they would have ended the process at fails instead.
//   3. Failures set ioErr() like the rest of the layer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/str.h"

namespace bw::dos {

// GetVar flags (accepted, not used on this host).
inline constexpr uint32_t kGlobalOnly = 0x100;
inline constexpr uint32_t kLocalOnly = 0x200;

// GetVar: the value, or nullopt when the variable is not set (IoErr 205).
std::optional<std::string> getVar(Text name, uint32_t flags = 0);
// SetVar; false for a NIL or empty name or one holding "=".
bool setVar(Text name, Text value, uint32_t flags = 0);
// DeleteVar; deleting an unset variable succeeds.
bool deleteVar(Text name, uint32_t flags = 0);

// Installs the SIGINT handler that sets the break flag (idempotent).
void installBreakHandler();
// SIGTERM and SIGHUP set the break flag too from now on (shell mode: a
// session's end stops the update as Ctrl-C does); endDosLayer puts their
// default actions back.
void breakOnTermination();
// True when Ctrl-C arrived since the last call; clears the flag.
bool checkBreak();
// Sets the flag as SIGINT does.
void signalBreak();

// Delay: sleeps ticks x 20 ms (the whole time, even when interrupted).
void delay(int32_t ticks);

// GetProgramName: the name the program was started by.
std::string programName();

// The current directory's full native name (":home/x"); nullopt on failure.
std::optional<std::string> currentDirName();
// CurrentDir by name; false with IoErr on failure.
bool setCurrentDir(Text native);

// The run mode: true once `main` has chosen the shell update, where no window
// can exist (no GUI toolkit is created). False until set; layers that would
// open a window or a browser read it to fail at once instead.
bool shellMode();
void setShellMode(bool on);

// Module initialiser and finaliser of the DOS layer: install the break
// handler and ignore SIGPIPE and SIGXFSZ; the finaliser puts the default
// actions back.
void initDosLayer();
void endDosLayer();

}  // namespace bw::dos
