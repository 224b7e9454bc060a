// platform/amiga_dos.h - pAmigaDos: names of locks, handles, variables, the
// current directory and the program as new strings of the needed size, and
// joining path parts.
//
// Every result is a new string that the caller owns; NIL means failure,
// with ioErr() telling why. The name procedures start with 128 characters
// and double while the name does not fit, up to 64 KiB.
#pragma once

#include <cstdint>

#include "core/str.h"
#include "platform/dos.h"

namespace bw::pAmigaDos {

// The last component of a native path (FilePart).
Str strLastComponent(Text native);
// Everything before the last component (PathPart).
Str strPathPart(Text native);
// path (or, with pathPartOnly, its PathPart) with part added by AddPart.
// Raises "BUG" "pAmigaDos; strJoinPart(); the allocated string was too
// small" if the join does not fit (it always does).
Str strJoinPart(Text path, Text part, bool pathPartOnly);
Str strNameFromLock(const dos::Lock& lock);
Str strNameFromFH(dos::FileHandle& handle);
// The lock's full name with name added; NIL when either step fails.
Str strPathOfLockAndName(const dos::Lock& lock, Text name);
// The value of a variable; NIL when it is not set, "" when it is empty.
Str strGetVar(Text name, uint32_t flags);
Str strSafeGetNameOfCurrentDir();
Str strSafeGetProgramName();

}  // namespace bw::pAmigaDos

namespace bw {
using pAmigaDos::strGetVar;
using pAmigaDos::strJoinPart;
using pAmigaDos::strLastComponent;
using pAmigaDos::strNameFromFH;
using pAmigaDos::strNameFromLock;
using pAmigaDos::strPathOfLockAndName;
using pAmigaDos::strPathPart;
using pAmigaDos::strSafeGetNameOfCurrentDir;
using pAmigaDos::strSafeGetProgramName;
}  // namespace bw
