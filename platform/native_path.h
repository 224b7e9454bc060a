// platform/native_path.h - native (AmigaDOS-form) paths and their host
// twins, and the name procedures of dos.library (FilePart, PathPart,
// AddPart).
//
// A native path is "device:rest" or, without ":", a path relative to the
// current directory. In the rest, names are separated by "/"; a "/" at the
// start or right after another "/" is a parent step ("/x" is ../x, "a//b"
// is a/../b); a trailing "/" ends the last name and goes.
//
// Invariants:
//   1. Only this layer makes host paths. nativeToHost splits at the first
//      ":" (later ":" belong to names), looks the device up in the assign
//      table and writes each parent step as "..".
//   2. hostToNative is the inverse for host paths: "/x/y" is ":x/y", "//"
//      and "." collapse, ".." is a parent step, a trailing "/" goes, and a
//      relative host path that holds ":" is first made absolute against the
//      current directory (or the given base) so that no name is taken for
//      a device.
//   3. nativeToHost(hostToNative(h)) names the same object as h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/str.h"

namespace bw::dos {

struct HostPaths {
  bool ok = false;
  int32_t error = 0;                // DOS code when !ok (218 unknown device,
                                    // 209 a device without host folders)
  std::vector<std::string> paths;   // one per assign folder, in order
};

// Every host path that a native path may stand for (several for a
// multi-directory assign). Sets IoErr on failure.
HostPaths nativeToHostAll(Text native);

// The number of host paths a native path stands for (0 with IoErr set when
// its device is unknown or has no host folders), and the index-th of them
// built into `host` (its storage is reused).
size_t hostPathCount(Text native);
bool nativeToHostAt(Text native, size_t index, std::string& host);
// Both at once for the first folder: the count, with the first host path in
// `host` when it is not 0.
size_t nativeToHostFirst(Text native, std::string& host);

// The host path of the first folder of the native path's device; empty
// with IoErr set on failure.
bool nativeToHost(Text native, std::string& host);

// The rest of a native path (after the device) as host-relative text:
// names joined by "/", parent steps as "..". Appended to `out`.
void appendHostRest(std::string_view rest, std::string& out);

// The native form of a host path. `base` is the folder that a relative
// path holding ":" is taken against (the current directory when empty).
std::string hostToNative(std::string_view host, std::string_view base = {});

// dos.library FilePart: the last component (after the last "/" or ":"),
// as an index into path.
size_t filePartIndex(std::string_view path);
// dos.library PathPart: the end of the path part (leading "/" belong to
// it), as an index into path.
size_t pathPartIndex(std::string_view path);

// dos.library AddPart into a buffer of `size` bytes (the terminating zero
// included): a part holding ":" replaces the path, each leading "/" of the
// part drops the path's last name, and a "/" goes between the two only when
// needed. False with IoErr 120, and path unchanged, when the result would
// not fit.
bool addPart(std::string& path, std::string_view part, size_t size);

}  // namespace bw::dos
