// platform/dos_errors.h - DOS error codes, the per-thread IoErr and the
// texts that Fault gives for them.
//
// Every call of the DOS layer that fails leaves a DOS error code behind,
// read with ioErr() right after the call (the AmigaDOS IoErr). Host failures
// are translated from errno by ioErrFromErrno(); the layer's own refusals
// (an unknown device, a delete-protected object, a name that does not fit a
// buffer, the end of a directory scan) set their code with setIoErr().
//
// Invariants:
//   1. The state is thread-local: a call on one thread never changes what
//      ioErr() answers on another.
//   2. A code made from errno remembers that errno, so fault() words it with
//      the host's own text (strerror); codes the layer makes itself have
//      short texts of our own.
//   3. Codes above 1000 are 1000 + an errno the table does not name.
#pragma once

#include <cstdint>
#include <string>

#include "core/str.h"

namespace bw::dos {

// AmigaDOS error codes that the layer produces.
inline constexpr int32_t kErrorNoFreeStore = 103;
inline constexpr int32_t kErrorLineTooLong = 120;
inline constexpr int32_t kErrorObjectInUse = 202;
inline constexpr int32_t kErrorObjectExists = 203;
inline constexpr int32_t kErrorDirNotFound = 204;
inline constexpr int32_t kErrorObjectNotFound = 205;
inline constexpr int32_t kErrorActionNotKnown = 209;
inline constexpr int32_t kErrorInvalidComponentName = 210;
inline constexpr int32_t kErrorInvalidLock = 211;
inline constexpr int32_t kErrorObjectWrongType = 212;
inline constexpr int32_t kErrorDiskWriteProtected = 214;
inline constexpr int32_t kErrorRenameAcrossDevices = 215;
inline constexpr int32_t kErrorDirectoryNotEmpty = 216;
inline constexpr int32_t kErrorDeviceNotMounted = 218;
inline constexpr int32_t kErrorSeekError = 219;
inline constexpr int32_t kErrorCommentTooBig = 220;
inline constexpr int32_t kErrorDiskFull = 221;
inline constexpr int32_t kErrorDeleteProtected = 222;
inline constexpr int32_t kErrorWriteProtected = 223;
inline constexpr int32_t kErrorReadProtected = 224;
inline constexpr int32_t kErrorNoMoreEntries = 232;
inline constexpr int32_t kErrorNotImplemented = 236;
// Base of the codes that carry an errno the table does not name.
inline constexpr int32_t kErrnoBase = 1000;

// What a failing call was doing: EACCES and EPERM become 224 for reading,
// 223 for writing and 222 for deleting.
enum class Access { read, write, remove };

// The last error of this thread (0 when the last call that sets it
// succeeded).
int32_t ioErr();
// Sets the last error to a code of the layer's own (no errno behind it).
void setIoErr(int32_t code);
// Translates errno `err` for an operation of kind `access`, stores it as the
// last error (remembering err) and returns the code.
int32_t ioErrFromErrno(int err, Access access = Access::read);
// The DOS code for errno `err`, without storing anything.
int32_t dosCodeForErrno(int err, Access access = Access::read);

// Keeps this thread's last error (its code and the errno behind it) while
// clean-up calls run, and puts it back when it ends: the reason of the
// failure stays the one told.
class KeptIoErr {
 public:
  KeptIoErr();
  ~KeptIoErr();
  KeptIoErr(const KeptIoErr&) = delete;
  KeptIoErr& operator=(const KeptIoErr&) = delete;

 private:
  int32_t code_;
  int err_;
};

// The message of `code`: the host's text for the errno behind it when the
// code is this thread's last error made from errno, or carries an errno
// (above 1000); else our own short text ("error 999" for unknown codes).
// Empty for code 0.
std::string faultMessage(int32_t code);

// Fault: "header: message", or the message alone when the header is NIL or
// empty. Empty for code 0.
std::string fault(int32_t code, Text header);

}  // namespace bw::dos
