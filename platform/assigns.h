// platform/assigns.h - the device and assign table of the DOS layer.
//
// A native path names its device before the first ":" ("PROGDIR:x", ":x").
// The table says what each device name stands for on the host:
//
//   ":"  (empty name)  the root directory "/"
//   PROGDIR:           the user's data folder (below), then the
//                      executable's folder, then share/brindlework beside
//                      the executable's folder (an installed program's
//                      read-only files)
//   RAM:, T:           folders "RAM" and "T" of the private base (below)
//   L:, Libs:          folders L and Libs of each PROGDIR: folder
//   NIL:               /dev/null
//   ENV:, PIPE:        devices without host folders: they answer device
//                      tests only (the environment is read with getVar)
//
// The data folder holds the user's database, its backups and dumps:
// $XDG_DATA_HOME/brindlework (the variable counts when absolute), else
// ~/.local/share/brindlework; $BRINDLEWORK_PROGDIR overrides it (a relative
// one names a folder of the current directory when the table is built).
// Its missing folders are made 0700 by dataFolder(), never by a lookup.
//
// The private base is $XDG_RUNTIME_DIR/brindlework, else (no such variable,
// or a runtime folder where the base cannot be made) brindlework-<uid> in
// $TMPDIR or the system's temporary folder. It and its RAM and T folders
// are made with mode 0700 on first use; a base (or folder) that is a
// symlink, not owned by the effective user or open to group or others is
// refused, and RAM: and T: then fail like an unknown device (218).
//
// Invariants:
//   1. Device names compare without regard to ASCII case.
//   2. A multi-directory assign keeps its folders in the order added;
//      lookups walk them in that order.
//   3. The built-in entries and the data folder's path are made from the
//      environment when the table is first used and again after
//      resetAssigns(); assignAdd entries last until then.
//   4. The table belongs to the program's one task: change it at start-up
//      or in tests, not while another thread translates paths.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace bw::dos {

enum class DeviceKind {
  unknown,  // no such device, volume or assign (218)
  folders,  // stands for one or more host folders
  virtual_  // exists, but has no host folder (ENV:, PIPE:)
};

struct DeviceLookup {
  DeviceKind kind = DeviceKind::unknown;
  std::vector<std::string> folders;  // host folders, in assign order
  int32_t error = 0;                 // DOS code when kind is unknown
};

// What the device `name` (without ":") stands for. RAM: and T: make the
// private base on first use.
DeviceLookup lookupDevice(std::string_view name);

// The same without copying: `folders` points into the table and stays
// valid until the table is next changed.
struct DeviceRef {
  DeviceKind kind = DeviceKind::unknown;
  const std::vector<std::string>* folders = nullptr;
  int32_t error = 0;
};
DeviceRef findDevice(std::string_view name);

// Adds a host folder to the assign `name` (after its existing folders; a
// new name becomes a new assign). For tests and for the program's own
// assigns.
void assignAdd(std::string_view name, std::string_view hostFolder);
// Removes every folder of the assign `name`.
void assignRemove(std::string_view name);
// Forgets assignAdd entries and rebuilds the built-in ones from the
// environment on next use.
void resetAssigns();

// The private base folder, checked (and made when missing). Empty with
// `error` set (218) when it is refused.
struct PrivateBase {
  std::string path;
  int32_t error = 0;
};
PrivateBase privateBase();

// The data folder's path (empty when no variable names one), unmade; the
// one the table was built with.
std::string dataFolderPath();
// The data folder, made when missing and closed to others when it is the
// usual one; `error` says in words why it cannot be had. An existing
// folder named by $BRINDLEWORK_PROGDIR keeps its mode.
struct DataFolder {
  std::string path;
  std::string error;
};
DataFolder dataFolder();

// The folder of the running executable (readlink of /proc/self/exe).
std::string executableFolder();

}  // namespace bw::dos
