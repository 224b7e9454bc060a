// platform/charset_file_reader.h - charset table files through the DOS
// layer's assigns.
//
// The charset loader in core reads its table files through one installed
// reader. This one turns the loader's internal paths ("L:/Charsets/NAME",
// "Charsets/NAME", "PROGDIR:/Charsets/NAME", "Libs:/Charsets/NAME.txt") into
// host paths with the assign table (so L: and Libs: are PROGDIR:L and
// PROGDIR:Libs unless reassigned, and a multi-folder assign is searched in
// order) and reads the first regular file found.
#pragma once

#include "core/charset_files.h"

namespace bw {

// The reader over the assign table.
CharsetFileReader makeDosCharsetFileReader();

// Module initialiser and finaliser: install the reader, and take it away.
void initCharsetFileReader();
void endCharsetFileReader();

}  // namespace bw
