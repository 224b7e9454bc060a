// core/charset_files.h - where charset table files come from.
//
// The charset loader names its table files by internal path ("L:/Charsets/
// NAME", "Charsets/NAME", "PROGDIR:/Charsets/NAME", "Libs:/Charsets/NAME.txt")
// and reads them through one installed reader, so core never depends on the
// platform layer. Start-up installs a reader (normally the native one below,
// given the PROGDIR: folder); without one no table file exists and only the
// built-in tables load.
//
// Invariants:
//   1. A reader answers the whole content of a regular file, or nothing; it
//      never opens a FIFO, device or directory (such a path counts as missing).
//   2. The reader sees only paths that the loader built from a checked name.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/str.h"

namespace bw {

// Answers the content of the file at an internal path, or nullopt.
using CharsetFileReader = std::function<std::optional<std::string>(const std::string& path)>;

// Installs the reader the charset loader uses (an empty function: none).
void setCharsetFileReader(CharsetFileReader reader);
const CharsetFileReader& charsetFileReader();

// The reader over the host's files: "L:" is progdir/L, "Libs:" progdir/Libs,
// "PROGDIR:" progdir, and a path without a device is relative to the current
// directory. Only regular files are read.
CharsetFileReader makeNativeCharsetFileReader(std::string progdir);

// The whole content of the regular file at a native path, or nullopt when it
// cannot be opened, is not a regular file (FIFOs are never waited on) or
// holds more than maxBytes (also when it grows past them while being read).
std::optional<std::string> readRegularFileUpTo(const std::string& nativePath, int64_t maxBytes);
inline std::optional<std::string> readRegularFile(const std::string& nativePath) {
  return readRegularFileUpTo(nativePath, INT64_MAX);
}

// Splits a file's content into lines: LF ends a line, a CR before it is
// dropped, and the text after the last LF is one more line (so "a\n" gives
// "a" and "", and "" gives one empty line). Each line has capacity
// max(length, 1).
StrChain splitTextFileLines(std::string_view content);

// The lines of the file at an internal path, through the installed reader;
// nullopt when the file cannot be opened.
std::optional<StrChain> readTextFileLines(const std::string& path);

}  // namespace bw
