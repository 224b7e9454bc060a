// platform/shell_template.h - the AmigaDOS-style shell template parser.
//
// A program states its parameters as a one-line template of comma-separated
// names with type letters ("FROM/A,TO/K,ALL/S"); the argument line is matched
// against it by keyword and by position. The result stays in module state
// until the next parse or endShellParameters, and GetParam reads it by the
// parameter's index in the template.
//
// Errors are printed to the console as two lines, the second marking the
// offending token between colour escapes, and the parse returns false. An
// argument line ending in a lone "?" prints the template and reads the
// arguments from the console instead.
//
// Single task: the module keeps its state in module variables.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/str.h"

namespace bw {

// Compiles tmpl and parses arguments against it (NIL arguments: the
// program's argument line, argumentString()). quiet suppresses the printed error reports.
// Returns false after a reported template or parameter error; the values
// read before it stay readable. Other exceptions ("BUG", "EPU") pass through.
bool parseShellTemplate(Text tmpl, Text arguments, bool quiet);

// Frees the last parse result (module finaliser).
void endShellParameters();

// Where the parser prints and reads the "?" answer (default stdout and
// stdin); nullptr restores the default. For tests and the fuzz target.
void setShellConsole(std::FILE* out, std::FILE* in);

namespace pShellParameters {

// Type bits of a parameter (the letter after "/").
inline constexpr uint32_t kRequired = 1;     // "A"
inline constexpr uint32_t kKeyword = 2;      // "K"
inline constexpr uint32_t kSwitch = 4;       // "S"
inline constexpr uint32_t kNumber = 8;       // "N"
inline constexpr uint32_t kRestOfLine = 16;  // "F"

// Token classes; a token's class shares a bit with every character it takes.
inline constexpr int TOKEN_NUMBER = 2;
inline constexpr int TOKEN_WORD = 3;
inline constexpr int TOKEN_QUOTED = 4;
inline constexpr int TOKEN_SLASH = 8;
inline constexpr int TOKEN_COMMA = 16;
inline constexpr int TOKEN_EQUALS = 32;
inline constexpr int TOKEN_SPACE = 64;
inline constexpr int TOKEN_END = 128;
inline constexpr int TOKEN_INVALID = 256;

// The value of parameter index of the last parse: the text given (a switch:
// the keyword as typed), NIL when not given. Valid until the next parse.
// An index outside 0..count-1 raises "EPU".
const Str& GetParam(int32_t index);
// The number of parameters of the last parse (1 + the commas of the template).
int32_t infoShellParamCount();

// The compiled keyword table that findStringInList reads: one name chain
// (first name, then aliases) per template item; an item the template did not
// reach has an empty chain.
const std::vector<StrChain>& keywordTable();

// The class of character c given the class of the token so far (0 at its
// start); templateMode chooses the template's alphabet.
int tokenCharClass(unsigned char c, int classSoFar, bool templateMode);

}  // namespace pShellParameters
}  // namespace bw
