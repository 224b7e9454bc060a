// platform/dos_errors.cpp - errno to DOS error code translation and the
// texts of the codes.
#include "platform/dos_errors.h"

#include <cerrno>
#include <cstring>

namespace bw::dos {
namespace {

struct IoErrState {
  int32_t code = 0;
  int err = 0;  // the errno behind code, 0 when the layer made it
};

thread_local IoErrState tState;

struct OwnText {
  int32_t code;
  const char* text;
};

// Texts of the codes when no errno stands behind them.
constexpr OwnText kOwnTexts[] = {
    {kErrorNoFreeStore, "not enough memory"},
    {kErrorLineTooLong, "line is too long"},
    {kErrorObjectInUse, "object is in use"},
    {kErrorObjectExists, "object already exists"},
    {kErrorDirNotFound, "directory not found"},
    {kErrorObjectNotFound, "object not found"},
    {kErrorActionNotKnown, "packet request type unknown"},
    {kErrorInvalidComponentName, "invalid filename component"},
    {kErrorInvalidLock, "invalid object lock"},
    {kErrorObjectWrongType, "object is not of required type"},
    {kErrorDiskWriteProtected, "disk is write-protected"},
    {kErrorRenameAcrossDevices, "rename across devices attempted"},
    {kErrorDirectoryNotEmpty, "directory not empty"},
    {kErrorDeviceNotMounted, "device (or volume) is not mounted"},
    {kErrorSeekError, "seek failure"},
    {kErrorCommentTooBig, "comment is too long"},
    {kErrorDiskFull, "disk is full"},
    {kErrorDeleteProtected, "object is protected from deletion"},
    {kErrorWriteProtected, "file is write protected"},
    {kErrorReadProtected, "file is read protected"},
    {kErrorNoMoreEntries, "no more entries in directory"},
    {kErrorNotImplemented, "function not implemented"},
};

std::string hostText(int err) {
  char buf[256];
  // GNU strerror_r returns the text (which may or may not be buf).
  const char* text = strerror_r(err, buf, sizeof buf);
  return text;
}

}  // namespace

int32_t ioErr() { return tState.code; }

void setIoErr(int32_t code) { tState = {code, 0}; }

KeptIoErr::KeptIoErr() : code_(tState.code), err_(tState.err) {}
KeptIoErr::~KeptIoErr() { tState = {code_, err_}; }

int32_t dosCodeForErrno(int err, Access access) {
  switch (err) {
    case 0: return 0;
    case ENOENT:
    case ENOTDIR:
    case ELOOP: return kErrorObjectNotFound;
    case EEXIST: return kErrorObjectExists;
    case EBUSY:
    case ETXTBSY: return kErrorObjectInUse;
    case EISDIR: return kErrorObjectWrongType;
    case ENOTEMPTY: return kErrorDirectoryNotEmpty;
    case EXDEV: return kErrorRenameAcrossDevices;
    case EROFS: return kErrorDiskWriteProtected;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case EACCES:
    case EPERM:
      switch (access) {
        case Access::read: return kErrorReadProtected;
        case Access::write: return kErrorWriteProtected;
        case Access::remove: return kErrorDeleteProtected;
      }
      return kErrorReadProtected;
    case ENAMETOOLONG: return kErrorInvalidComponentName;
    case ENOMEM:
    case EMFILE:
    case ENFILE: return kErrorNoFreeStore;
    default: return kErrnoBase + err;
  }
}

int32_t ioErrFromErrno(int err, Access access) {
  int32_t code = dosCodeForErrno(err, access);
  tState = {code, code == 0 ? 0 : err};
  return code;
}

std::string faultMessage(int32_t code) {
  if (code == 0) return {};
  if (code == tState.code && tState.err != 0) return hostText(tState.err);
  if (code > kErrnoBase) return hostText(code - kErrnoBase);
  for (const OwnText& t : kOwnTexts)
    if (t.code == code) return t.text;
  return "error " + std::to_string(code);
}

std::string fault(int32_t code, Text header) {
  std::string message = faultMessage(code);
  if (message.empty() || header.isNil() || header.nulLength() == 0) return message;
  return std::string(header.nulView()) + ": " + message;
}

}  // namespace bw::dos
