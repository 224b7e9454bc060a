// platform/dir.h - cBaseDir, the abstract directory of the file layer, and
// cHostDir, a directory on the host held through a DOS lock.
//
// A directory object names one directory by its internal path (ending in
// "/"), holds a lock on it while open, and offers the path object's
// operations (open, close, flush, attributes, rename, extras) plus moving to
// the parent or a child and listing its entries (cDirEntryList).
//
// Invariants of cHostDir:
//   1. lock_ is held exactly while the object is open (inside a kludge
//      window too: only a link change, which replaces the directory, drops
//      it and takes it again at the finish).
//   2. A writable open also holds guardFd_, a read descriptor of the
//      directory with flock(LOCK_EX|LOCK_NB): the exclusive lock as other
//      processes see it. A second writer anywhere gets 202.
//   3. The lock is an O_PATH descriptor, so a read-protected directory can
//      be locked and examined before force clears its R bit; a descriptor
//      that reads the directory is opened only after that.
//   4. Protection bits that open cleared (force) are set again at close
//      unless setAttributes changed them meanwhile.
//   5. A failed open releases everything it took and deletes a directory
//      that it made itself - never one that was there before.
//   6. Only directories open: a path naming a file fails with IoErr 212.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "core/str.h"
#include "platform/dir_entry_list.h"
#include "platform/dos.h"
#include "platform/path.h"

namespace bw {

class cBaseDir : public cPath {
  BW_CLASS(cBaseDir, cPath)

 public:
  // Prepares a new object; nothing here.
  virtual void initialise() {}
  // Moves the open object to its parent directory (same mode). On failure
  // the object is open on its old directory again and FALSE returned; a
  // directory without a parent fails with "dir has no parent". Raises "BUG"
  // "cBaseDir.openParent(); failed to reopen current dir, after failed to
  // open parent" when even the way back fails.
  virtual bool openParent(bool force);
  // Moves the open object to relativePath below it (same mode).
  virtual bool openChild(Text relativePath, bool force) = 0;
  // The entries of the open directory; null here.
  virtual std::unique_ptr<cDirEntryList> makeEntryList() { return nullptr; }
};

class cHostDir : public cBaseDir {
  BW_CLASS(cHostDir, cBaseDir)

 public:
  cHostDir() = default;
  ~cHostDir() override;
  cHostDir(const cHostDir&) = delete;
  cHostDir& operator=(const cHostDir&) = delete;

  // Clears the object for a new life (closed, no last error).
  void initialise() override;
  // Opens dirPath. readOnly takes a shared lock; writable creates a missing
  // directory and takes the exclusive lock. force clears R (and, writable,
  // W and D) for the time the directory is open. Last errors (source
  // "cHostDir.open()"): "dir is read protected", "could not remove read
  // protection", "could not remove write protection", "dir does not exist"
  // and "error opening dir" (with the DOS text). Raises "EMU" for an open
  // object, NIL or an invalid directory path, "FILE" "cHostDir.open();
  // failed to examine directory".
  bool open(Text dirPath, bool readOnly, bool force) override;
  void close() override;
  // Examines the directory again and forgets what was read of its link.
  void flush() override;
  bool isOpen() const override { return static_cast<bool>(lock_); }
  Text getPath() const override;

  int32_t getAttributes() override;
  int32_t getAttributesSupported() override;
  bool setAttributes(int32_t values, int32_t mask) override;
  // Renames the open directory; never replaces an existing object.
  bool setPath(Text newPath) override;

  bool openChild(Text relativePath, bool force) override;
  // Raises "FILE" (after printing a line to standard output) when the
  // directory cannot be listed.
  std::unique_ptr<cDirEntryList> makeEntryList() override;

  std::unique_ptr<cPath> make() override { return makeDir(); }
  std::unique_ptr<cPath> clone(bool writable) override { return cloneDir(writable); }
  virtual std::unique_ptr<cHostDir> makeDir() { return std::make_unique<cHostDir>(); }
  // A second object of this class open on the same directory, read-only
  // unless writable; null when it cannot be opened and when a writable clone
  // of a writable directory is asked for.
  virtual std::unique_ptr<cHostDir> cloneDir(bool writable);

  // Bracket a DOS call on the directory's own name. The lock stays; a link
  // change that replaces the directory takes it again at the finish.
  virtual void openKludgeBegin();
  virtual void openKludgeFinish();

  bool setExtra(cExtra* other) override;
  std::unique_ptr<cExtra> getExtra() override;
  ExtraChange changeExtra(ExtraKey key, const ExtraValue& value) override;
  ExtraQuery queryExtra(ExtraKey key) override;

  // The native path of the open directory (tests and the walks).
  Text infoNativePath() const { return nativePath_; }

 protected:
  // The host facts of the open directory (its file system, for the device
  // capability cache).
  dev_t infoDevice() const { return device_; }

 private:
  friend struct DiskExtras;
  struct OpenState;
  bool openSteps(Text dirPath, bool readOnly, bool force, OpenState& state);
  void releaseAll();
  void restoreProtection();
  // SetProtection on the directory's own name (the test seam may refuse).
  bool writeProtection(uint32_t word);
  // The examined facts of the open directory.
  const dos::FileInfo& info() const { return fileInfo_; }
  bool takeLock(bool readOnly);
  bool takeGuard();
  void dropLock();
  void examineOrRaise(const char* message);
  void readLinkInfo();
  bool changeLink(int32_t kind, const Str& target);

  Str internalPath_;
  Str nativePath_;
  dos::FileInfo fileInfo_;
  dos::Lock lock_;
  int guardFd_ = -1;
  dev_t device_ = 0;
  uint32_t protectionToRestore_ = 0;
  Str linkTarget_;
  int32_t linkType_ = 0;
  bool kludgeActive_ = false;
  bool relockAtFinish_ = false;
};

// Test seams: refuse opening a path (the internal path is passed), refuse
// the writer's guard after the lock (a step that fails late), or make every
// protection change of a directory fail as a host without them would.
struct DirSeams {
  std::function<bool(Text)> refuseOpen;
  bool refuseGuard = false;
  bool refuseProtection = false;
};
DirSeams& dirSeams();

}  // namespace bw
