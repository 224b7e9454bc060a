// platform/dir.cpp - cBaseDir's parent step and cHostDir: open, close,
// flush, attributes, rename, moving to a child, cloning and the kludge
// window.
#include "platform/dir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "core/exception.h"
#include "platform/dos_errors.h"
#include "platform/dos_procs.h"
#include "platform/host_file.h"

namespace bw {
namespace {

constexpr const char kOpenSource[] = "cHostDir.open()";
// R, W and D: what force clears for a writable open.
constexpr uint32_t kWriteAndDelete = dos::kProtWrite | dos::kProtDelete;

}  // namespace

DirSeams& dirSeams() {
  static DirSeams seams;
  return seams;
}

// --- cBaseDir -------------------------------------------------------------------

bool cBaseDir::openParent(bool force) {
  Str current = ExpandPath(getPath());
  Str parent = ExtractSubPath(current);
  if (parent.empty()) {
    // The root has no parent; the empty path would name the current
    // directory instead.
    setError("cBaseDir.openParent()", "dir has no parent");
    return false;
  }
  bool readOnly = infoReadOnly();
  close();
  bool ok = open(parent, readOnly, force);
  if (!ok && !open(current, readOnly, true))
    raise("BUG", "cBaseDir.openParent(); failed to reopen current dir, after failed to open parent");
  return ok;
}

// --- cHostDir: open and close -------------------------------------------------------

struct cHostDir::OpenState {
  dos::Lock shared;
  bool existed = true;
  bool created = false;
  bool examined = false;
};

cHostDir::~cHostDir() {
  if (!isOpen()) return;
  try {
    cHostDir::close();
  } catch (const eException&) {
    // A destructor cannot report; close has released everything.
  }
}

void cHostDir::initialise() {
  if (isOpen()) releaseAll();
  clearError();
  fileInfo_ = dos::FileInfo();
  protectionToRestore_ = 0;
  linkTarget_ = Str();
  linkType_ = 0;
}

bool cHostDir::open(Text dirPath, bool readOnly, bool force) {
  if (isOpen()) raise("EMU", "cHostDir.open(); a dir is already open");
  if (dirPath.isNil()) raise("EMU", "cHostDir.open(); dirPath=NIL");
  if (InvalidDirPath(dirPath)) raise("EMU", "cHostDir.open(); dirPath is invalid");
  clearError();
  setReadOnly(readOnly);
  nativePath_ = ExportPath(dirPath);
  internalPath_ = Str(dirPath.view());
  protectionToRestore_ = 0;
  linkTarget_ = Str();
  linkType_ = 0;
  OpenState state;
  bool ok = false;
  auto undo = [&] {
    state.shared.unLock();
    releaseAll();
    if (state.created) DeletePath(dirPath, true, false);
  };
  try {
    ok = openSteps(dirPath, readOnly, force, state);
  } catch (...) {
    undo();
    throw;
  }
  if (!ok) {
    // Keep the error text: releasing may run DOS calls of its own.
    undo();
  }
  return ok;
}

bool cHostDir::openSteps(Text dirPath, bool readOnly, bool force, OpenState& state) {
  if (dirSeams().refuseOpen && dirSeams().refuseOpen(dirPath)) {
    dos::setIoErr(dos::kErrorObjectInUse);
    setError(kOpenSource, ioErrText("error opening dir"));
    return false;
  }
  auto notADirectory = [&] {
    dos::setIoErr(dos::kErrorObjectWrongType);
    setError(kOpenSource, ioErrText("error opening dir"));
    return false;
  };
  // Look at what is there: a lock that reads nothing, so even a
  // read-protected directory can be examined and, with force, opened.
  // The comment is read at the end: reading it needs the R bit that force
  // may still have to clear.
  state.shared = dos::lock(nativePath_, dos::kSharedLock);
  if (state.shared) {
    if (dos::examine(state.shared, fileInfo_, dos::Detail::full)) {
      state.examined = true;
      if (fileInfo_.entryType < 0) return notADirectory();
      uint32_t word = fileInfo_.protection;
      if (word & dos::kProtRead) {
        if (!force) {
          setError(kOpenSource, "dir is read protected");
          return false;
        }
        word &= ~dos::kProtRead;
        if (!writeProtection(word)) {
          setError(kOpenSource, "could not remove read protection");
          return false;
        }
        protectionToRestore_ |= dos::kProtRead;
        fileInfo_.protection = word;
      }
      if (!readOnly && (word & dos::kProtWrite) && force) {
        word &= ~kWriteAndDelete;
        if (!writeProtection(word)) {
          setError(kOpenSource, "could not remove write protection");
          return false;
        }
        protectionToRestore_ |= kWriteAndDelete;
        fileInfo_.protection = word;
      }
    }
  } else if (dos::ioErr() == dos::kErrorObjectNotFound) {
    state.existed = false;
  }
  if (!readOnly) {
    if (!state.shared && !state.existed) {
      lock_ = dos::createDir(nativePath_);
      state.created = static_cast<bool>(lock_);
    }
    state.shared.unLock();
  } else {
    lock_ = std::move(state.shared);
  }
  if (!lock_) lock_ = dos::lock(nativePath_, readOnly ? dos::kSharedLock : dos::kExclusiveLock);
  if (!lock_ || (!readOnly && !takeGuard())) {
    setError(kOpenSource, ioErrText(state.existed ? "error opening dir" : "dir does not exist"));
    return false;
  }
  struct stat st{};
  if (::fstat(lock_.fd(), &st) == 0) device_ = st.st_dev;
  examineOrRaise("cHostDir.open(); failed to examine directory");
  if (fileInfo_.entryType < 0) return notADirectory();
  return true;
}

bool cHostDir::takeGuard() {
  if (dirSeams().refuseGuard) {
    dos::setIoErr(dos::kErrorObjectInUse);
    return false;
  }
  int fd = ::openat(lock_.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    dos::ioErrFromErrno(errno);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) dos::setIoErr(dos::kErrorObjectInUse);
    else dos::ioErrFromErrno(errno);
    ::close(fd);
    return false;
  }
  guardFd_ = fd;
  return true;
}

bool cHostDir::takeLock(bool readOnly) {
  lock_ = dos::lock(nativePath_, readOnly ? dos::kSharedLock : dos::kExclusiveLock);
  if (!lock_) return false;
  if (!readOnly && !takeGuard()) {
    lock_.unLock();
    return false;
  }
  struct stat st{};
  if (::fstat(lock_.fd(), &st) == 0) device_ = st.st_dev;
  return true;
}

void cHostDir::dropLock() {
  if (guardFd_ >= 0) {
    ::close(guardFd_);
    guardFd_ = -1;
  }
  lock_.unLock();
}

bool cHostDir::writeProtection(uint32_t word) {
  if (dirSeams().refuseProtection) {
    dos::setIoErr(dos::kErrorActionNotKnown);
    return false;
  }
  return dos::setProtection(Text(nativePath_), word);
}

void cHostDir::restoreProtection() {
  if (protectionToRestore_ == 0) return;
  fileInfo_.protection |= protectionToRestore_;
  protectionToRestore_ = 0;
  writeProtection(fileInfo_.protection);  // a failure leaves the bits as they are
}

void cHostDir::releaseAll() {
  dropLock();
  if (!nativePath_.isNil()) restoreProtection();
  protectionToRestore_ = 0;
  internalPath_ = Str();
  nativePath_ = Str();
  linkTarget_ = Str();
  linkType_ = 0;
  kludgeActive_ = false;
  relockAtFinish_ = false;
}

void cHostDir::close() {
  if (!isOpen()) raise("EMU", "cHostDir.close(); dir not open");
  releaseAll();
}

void cHostDir::examineOrRaise(const char* message) {
  if (!dos::examine(lock_, fileInfo_, dos::Detail::full)) raise("FILE", message);
  // Reading a comment needs read access to the directory, which listing
  // alone may lack: an unreadable comment counts as none.
  std::optional<std::string> comment = dos::readComment(Text(nativePath_));
  fileInfo_.comment = comment ? std::move(*comment) : std::string();
  fileInfo_.commentRead = comment.has_value();
}

void cHostDir::flush() {
  if (!isOpen()) raise("EMU", "cHostDir.flush(); dir not open");
  examineOrRaise("cHostDir.flush(); failed to examine directory");
  linkTarget_ = Str();
  linkType_ = 0;
}

Text cHostDir::getPath() const {
  if (!isOpen()) raise("EMU", "cHostDir.getPath(); dir not open");
  return Text(internalPath_);
}

// --- attributes and rename ------------------------------------------------------------

int32_t cHostDir::getAttributes() {
  if (!isOpen()) raise("EMU", "cHostDir.getAttributes(); dir not open");
  return attributesFromProtection(fileInfo_.protection);
}

int32_t cHostDir::getAttributesSupported() {
  if (!isOpen()) raise("EMU", "cHostDir.getAttributesSupported(); dir not open");
  return dos::kSupportedAttributes;
}

bool cHostDir::setAttributes(int32_t values, int32_t mask) {
  if (!isOpen()) raise("EMU", "cHostDir.setAttributes(); dir not open");
  if (infoReadOnly()) raise("EMU", "cHostDir.setAttributes(); dir opened in read only mode");
  int32_t attributes = (cHostDir::getAttributes() & ~mask) | (values & mask);
  uint32_t old = fileInfo_.protection;
  uint32_t word = protectionWithAttributes(old, attributes);
  openKludgeBegin();
  bool ok = writeProtection(word);
  if (!ok) {
    setError("cHostDir.setAttributes()", ioErrText("error setting dir protection bits"));
  } else {
    protectionToRestore_ &= ~(old ^ word);
    fileInfo_.protection = word;
  }
  openKludgeFinish();
  return ok;
}

bool cHostDir::setPath(Text newPath) {
  if (!isOpen()) raise("EMU", "cHostDir.setPath(); dir not open");
  if (infoReadOnly()) raise("EMU", "cHostDir.setPath(); dir opened in read only mode");
  if (newPath.isNil()) raise("EMU", "cHostDir.setPath(); path=NILA");
  if (InvalidDirPath(newPath)) raise("EMU", "cHostDir.setPath(); path is invalid");
  Str exported = ExportPath(newPath);
  openKludgeBegin();
  // The lock follows the directory to its new name.
  bool ok = dos::rename(nativePath_, exported);
  if (!ok) {
    setError("cHostDir.setPath()", ioErrText("error renaming host dir"));
  } else {
    internalPath_ = Str(newPath.view());
    nativePath_ = std::move(exported);
  }
  openKludgeFinish();
  return ok;
}

// --- kludge window, child, clone -------------------------------------------------------

void cHostDir::openKludgeBegin() {
  if (!isOpen() || kludgeActive_) raise("BUG", "cHostDir.openKludgeBegin(); kludge already started");
  kludgeActive_ = true;
}

void cHostDir::openKludgeFinish() {
  if (!kludgeActive_) raise("BUG", "cHostDir.openKludgeFinish(); kludge already finished");
  kludgeActive_ = false;
  if (!relockAtFinish_) return;
  relockAtFinish_ = false;
  dropLock();
  if (!takeLock(infoReadOnly())) {
    protectionToRestore_ = 0;
    releaseAll();
    raise("BUG", "cHostDir.openKludgeFinish(); kludge failed");
  }
}

bool cHostDir::openChild(Text relativePath, bool force) {
  if (!isOpen()) raise("EMU", "cHostDir.openChild(); dir not open");
  if (relativePath.isNil() || InvalidDirPath(relativePath))
    raise("EMU", "cHostDir.openChild(); relativePath is invalid");
  std::string child(internalPath_.view());
  child.append(relativePath.view());
  Str kept = internalPath_;
  bool readOnly = infoReadOnly();
  close();
  bool ok = false;
  try {
    ok = open(Text(child), readOnly, force);
  } catch (...) {
    if (!isOpen()) open(kept, readOnly, true);
    throw;
  }
  if (!ok && !open(kept, readOnly, true))
    raise("BUG", "cHostDir.openChild(); failed to reopen current dir, after failed to open child");
  return ok;
}

std::unique_ptr<cHostDir> cHostDir::cloneDir(bool writable) {
  if (!isOpen()) raise("EMU", "cHostDir.clone(); dir not open");
  // A writable directory holds the exclusive lock: no second writer.
  if (writable && !infoReadOnly()) return nullptr;
  std::unique_ptr<cHostDir> copy = makeDir();
  copy->initialise();
  if (!copy->open(internalPath_, !writable, false)) return nullptr;
  return copy;
}

}  // namespace bw
