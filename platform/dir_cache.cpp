// platform/dir_cache.cpp - cDir: cached attributes and extras, the device
// test and flush.
#include "platform/dir_cache.h"

#include "core/exception.h"
#include "platform/host_extra.h"

namespace bw {
namespace {

// The last file system tested by any cDir.
struct LastDirDevice {
  bool known = false;
  dev_t id = 0;
  uint8_t flags = 0;
};
LastDirDevice gLastDirDevice;

bool isLinkKey(ExtraKey key) { return key == kExtraSLNK || key == kExtraHLNK; }

}  // namespace

void forgetLastDirDevice() { gLastDirDevice = LastDirDevice(); }

cDir::~cDir() {
  if (!isOpen()) return;
  try {
    cDir::close();
  } catch (const eException&) {
    // A destructor cannot report; cHostDir's destructor releases the rest.
  }
}

void cDir::initialise() {
  cHostDir::initialise();
  cachedAttributes_ = 0;
  extras_.reset();
  extrasReady_ = false;
  pendingChanges_ = 0;
  deviceFlags_ = 0;
  deviceKnown_ = false;
}

void cDir::loadExtrasFromDisk() {
  extrasReady_ = false;
  extras_.setExtra(this);
  extrasReady_ = true;
}

bool cDir::writeExtrasToDisk() {
  extrasReady_ = false;
  bool ok = cHostDir::setExtra(&extras_);
  extrasReady_ = true;
  return ok;
}

bool cDir::open(Text dirPath, bool readOnly, bool force) {
  if (!cHostDir::open(dirPath, readOnly, force)) return false;
  cachedAttributes_ = cHostDir::getAttributes();
  loadExtrasFromDisk();
  pendingChanges_ = 0;
  if (!readOnly) testDeviceCapabilities(dirPath);
  return true;
}

void cDir::testDeviceCapabilities(Text path) {
  (void)path;  // the open directory's own file system decides
  dev_t id = infoDevice();
  if (deviceKnown_ && deviceId_ == id) return;
  deviceKnown_ = true;
  deviceId_ = id;
  if (gLastDirDevice.known && gLastDirDevice.id == id) {
    deviceFlags_ = gLastDirDevice.flags;
    return;
  }
  // Write the directory's own values back: what the device takes, it keeps.
  deviceFlags_ = 0;
  if (cHostDir::setAttributes(cachedAttributes_, -1)) deviceFlags_ |= kDirDeviceAttributes;
  if (writeExtrasToDisk()) deviceFlags_ |= kDirDeviceExtras;
  gLastDirDevice = {true, id, deviceFlags_};
}

void cDir::close() {
  if (isOpen() && !infoReadOnly()) flush();
  cHostDir::close();
}

void cDir::flush() {
  if (!isOpen()) raise("EMU", "cHostDir.flush(); dir not open");
  if (!infoReadOnly()) {
    bool ok = true;
    if (pendingChanges_ & 2) {
      bool written = writeExtrasToDisk();
      if (deviceFlags_ & kDirDeviceExtras) ok = written;
      // Never keep in the cache what the disk did not take.
      if (!written || !(deviceFlags_ & kDirDeviceExtras)) loadExtrasFromDisk();
    }
    if (pendingChanges_ & 1) ok = cHostDir::setAttributes(cachedAttributes_, -1) && ok;
    pendingChanges_ = 0;
    if (!ok) raise("FILE", "cDir.flush(); failed to set one of more of: attributes, extra");
  }
  cHostDir::flush();
  if (infoReadOnly()) {
    cachedAttributes_ = cHostDir::getAttributes();
    loadExtrasFromDisk();
  }
}

int32_t cDir::getAttributes() {
  if (!isOpen()) raise("EMU", "cHostDir.getAttributes(); dir not open");
  return cachedAttributes_;
}

bool cDir::setAttributes(int32_t values, int32_t mask) {
  if (!isOpen()) raise("EMU", "cHostDir.setAttributes(); dir not open");
  if (infoReadOnly()) raise("EMU", "cDir.setAttributes(); dir opened in read only mode");
  if (!(deviceFlags_ & kDirDeviceAttributes)) {
    setError("cDir.setAttributes()", "not supported by disk");
    return false;
  }
  int32_t supported = getAttributesSupported();
  cachedAttributes_ = (cachedAttributes_ & ~(mask & supported)) | (values & mask & supported);
  pendingChanges_ |= 1;
  return true;
}

bool cDir::setExtra(cExtra* other) {
  bool ok = extras_.setExtra(other);
  pendingChanges_ |= 2;
  if (!ok) setError("cDir.setExtra()", "not supported by host");
  return ok;
}

std::unique_ptr<cExtra> cDir::getExtra() { return extras_.getExtra(); }

ExtraChange cDir::changeExtra(ExtraKey key, const ExtraValue& value) {
  if (!extrasReady_) return cHostDir::changeExtra(key, value);
  // A link change reaches the disk at once.
  if (isLinkKey(key)) flush();
  ExtraChange r = extras_.changeExtra(key, value);
  pendingChanges_ |= 2;
  if (isLinkKey(key)) flush();
  if (!r.ok) setError("cDir.changeExtra()", "not supported by host");
  return r;
}

ExtraQuery cDir::queryExtra(ExtraKey key) {
  if (!extrasReady_) return cHostDir::queryExtra(key);
  return extras_.queryExtra(key);
}

}  // namespace bw
