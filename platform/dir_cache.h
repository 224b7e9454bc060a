// platform/dir_cache.h - cDir, a host directory whose attributes and extras
// are kept in memory and written back at flush, as the buffered file does
// for files.
//
// Invariants:
//   1. While open, getAttributes and queryExtra answer from the caches;
//      setAttributes and changeExtra change them and mark them pending, and
//      nothing reaches the disk before flush (or close) - except a link
//      change, which is flushed at once.
//   2. extrasReady is FALSE only while the cache is copied from or to the
//      disk, so that queryExtra and changeExtra reach the directory itself.
//   3. The first writable open on a file system (st_dev) tests whether
//      attributes (flag 1) and extras (flag 2) can be set there, by writing
//      the directory's own values back. The answer is kept in the object and,
//      for the last file system tested, in the module.
//   4. A failed write of the extras reloads the cache from the disk, so the
//      cache never claims what the directory does not have.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>

#include "platform/dir.h"
#include "platform/host_extra.h"

namespace bw {

inline constexpr uint8_t kDirDeviceAttributes = 1;
inline constexpr uint8_t kDirDeviceExtras = 2;

class cDir : public cHostDir {
  BW_CLASS(cDir, cHostDir)

 public:
  cDir() = default;
  ~cDir() override;

  void initialise() override;
  // Opens as cHostDir does, then loads the caches; a writable open tests
  // the device (invariant 3).
  bool open(Text dirPath, bool readOnly, bool force) override;
  // Flushes a writable directory, then closes.
  void close() override;
  // Writes pending attributes and extras (writable; raises "FILE" "cDir.flush();
  // failed to set one of more of: attributes, extra" when the device should
  // have taken them), examines the directory again, and reloads the caches of
  // a read-only directory.
  void flush() override;

  int32_t getAttributes() override;
  // Changes the cached attributes (those the host supports); FALSE with
  // "not supported by disk" when the device refused attributes.
  bool setAttributes(int32_t values, int32_t mask) override;

  bool setExtra(cExtra* other) override;
  std::unique_ptr<cExtra> getExtra() override;
  ExtraChange changeExtra(ExtraKey key, const ExtraValue& value) override;
  ExtraQuery queryExtra(ExtraKey key) override;

  // Fills the device flags for the open directory's file system.
  virtual void testDeviceCapabilities(Text path);
  uint8_t infoDeviceFlags() const { return deviceFlags_; }

  std::unique_ptr<cHostDir> makeDir() override { return std::make_unique<cDir>(); }

 private:
  void loadExtrasFromDisk();
  bool writeExtrasToDisk();

  int32_t cachedAttributes_ = 0;
  cHostExtra extras_;
  bool extrasReady_ = false;
  uint8_t pendingChanges_ = 0;  // 1 attributes, 2 extras
  uint8_t deviceFlags_ = 0;
  bool deviceKnown_ = false;
  dev_t deviceId_ = 0;
};

// Forgets the last file system tested (module start-up and end).
void forgetLastDirDevice();

}  // namespace bw
