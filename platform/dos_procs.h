// platform/dos_procs.h - DOS procedures that fill the program's strings,
// the error texts, byte-counted (BCPL) strings and a few wrapped calls.
//
// The "...Into" procedures pass the string's capacity as the buffer size of
// the DOS call they stand for, as AmigaDOS does, so a name of exactly the
// capacity does not fit (the size counts the terminating zero), while
// dosAddPartInto passes capacity + 1 so a joined path of exactly the
// capacity fits. On success the string's length is the length written; on
// failure the string is left alone and ioErr() tells why. Nothing here
// raises for a DOS failure.
#pragma once

#include <cstdint>

#include "core/str.h"
#include "platform/dos.h"

namespace bw {

// Fault into text (buffer size = capacity): the length written, which is
// also the string's new length.
int32_t dosFaultInto(int32_t code, Text header, Str& text);
// GetVar into text: true when the variable exists (length = the characters
// written, at most capacity - 1). IoErr then holds the value's full length.
bool dosGetVarInto(Text name, Str& text, uint32_t flags);
// AddPart into path (buffer size = capacity + 1).
bool dosAddPartInto(Str& path, Text name);
bool dosNameFromFHInto(Str& text, dos::FileHandle& handle);
bool dosNameFromLockInto(Str& text, const dos::Lock& lock);
// The current directory's full name.
bool dosCurrentDirNameInto(Str& text);
bool dosProgramNameInto(Str& text);
bool dosSetVar(Text name, Text value, uint32_t flags);

// The DOS message of code with header ("header: message"; the message
// alone for a NIL header), clipped at header length + 120 characters. The
// caller owns the result.
Str faultText(int32_t code, Text header);
// faultText(IoErr, defaultText) when IoErr is non-zero, else a copy of
// defaultText. The caller owns the result.
Str ioErrText(Text defaultText);

// A byte-counted string: first byte = length modulo 256, then the
// characters. length -1 means the whole text.
Str stringToBSTR(Text text, int32_t length);
// The characters that the first byte of a byte-counted string counts.
Str bstrToString(const Str& bstr);

// The size of an open file; when the host cannot say, found by seeking to
// the end (and back, unless leaveAtEnd). -1 when that fails too.
int64_t dosFileSize64(dos::FileHandle& handle, bool leaveAtEnd);
// Lock without system requesters (there are none on this host).
dos::Lock lockWithoutRequesters(Text name, int32_t access);
// MakeLink: soft links hold the destination's text, hard links need the
// destination to exist.
bool makeDosLink(Text name, Text destination, bool soft);

}  // namespace bw
