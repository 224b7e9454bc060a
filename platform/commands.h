// platform/commands.h - running commands, opening URLs in the browser, and
// finding a command in the search path.
//
// Nothing here hands text to a shell. A command line is split into words
// (blanks separate, double quotes group, no other escape) and the program
// started with that argument vector. The two URL-opening lines the program
// builds ("URLOpen LINK <url>" and "Run *><>NIL: URLopen "<url>"") go to the
// browser with the URL as one argument, whatever it holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/str.h"

namespace bw {

// The words of a command line: blanks (space, tab) separate, a double quote
// starts or ends a quoted stretch (blanks inside it belong to the word, the
// quotes go), nothing else is special.
std::vector<std::string> splitCommandWords(std::string_view line);

// Runs a command line and waits for it when it runs in the foreground.
// "URLOpen LINK <url>" and "Run ... URLopen "<url>"" open the URL; any other
// line starting with "Run" starts the rest detached. True when the program
// was started (its exit code does not matter), false when it could not be
// found or run.
bool runCommandLine(Text commandLine);

// Opens url in the user's browser: the first ":"-separated entry of
// $BROWSER split at blanks ("%s" replaced by the URL, else the URL added as
// the last argument), else xdg-open; started detached with the URL as one
// argument. True when the browser command was started.
bool openURL(Text url);

// True when name is an executable regular file (after following links) in a
// directory of $PATH (the current directory when PATH is unset); the exact
// name is tried first, then in lower case.
bool findCommandInPath(Text name);

// True when path (native) names an existing file; a soft link counts by
// what it points to.
bool pathIsFile(Text path);

// Result of runCommand.
struct RunCommandResult {
  bool started;
  int32_t returnCode;  // the command's exit code; 20 when it was not started
};

// Starts a command line: quiet sends its standard streams to /dev/null, else
// they are the caller's; asynchronous starts it detached (return code 0);
// currentDirectory (host path, empty: the caller's) is where it runs. The
// stack size and priority have no meaning here and are ignored.
RunCommandResult runCommand(Text command, bool quiet, bool asynchronous, int32_t stackSize, int32_t priority,
                            const std::string& currentDirectory);

}  // namespace bw
