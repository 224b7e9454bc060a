// platform/dos_host.h - host helpers shared by the units of the DOS layer
// (not for use outside platform/dos_*.cpp): the process's table of locks
// and handles, descriptor names, examination records and the choice of a
// native path's host path.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/dos.h"

namespace bw::dos {

// The extended attribute that holds an object's comment.
inline constexpr char kCommentAttribute[] = "user.xdg.comment";

// Sharing of locks and handles within the process (dos.h, invariant 2).
bool acquire(dev_t dev, ino_t ino, bool exclusive);
void release(dev_t dev, ino_t ino, bool exclusive);
bool inUse(dev_t dev, ino_t ino);

// "/proc/self/fd/<fd>" and the host path a descriptor names.
std::string fdPath(int fd);
bool fdHostPath(int fd, std::string& host);
std::string_view baseName(std::string_view host);
std::string dirName(const std::string& host);

int32_t entryTypeOf(const struct stat& st);
// The comment attribute of a host path ("" when none or not supported).
std::optional<std::string> commentOf(const std::string& path, bool follow);
// The comment an examination reports: one that can't be read for lack of
// permission counts as none, since the object itself could be examined.
std::optional<std::string> examinedCommentOf(const std::string& path, bool follow);
// Puts that comment into info (marked read); false when it cannot be read.
bool readExaminedComment(FileInfo& info, const std::string& path, bool follow);
// Fills an examination record from stat data.
void fillInfo(FileInfo& info, const struct stat& st, std::string_view name, Detail detail);

// The first host path of a native path where the object exists, built into
// host; IoErr set (205 or the host's reason) when there is none.
bool existingHost(Text native, bool follow, std::string& host, struct stat* st = nullptr);
// The host path where a new object of that native name goes: where it
// already exists, else in the assign's first folder.
bool targetHost(Text native, std::string& host);
// fsync of the folder holding a host path.
void syncFolderOf(const std::string& host);

// Makes a Lock of an O_PATH descriptor (closing it on failure: 202 when the
// object is held exclusively).
Lock adoptLock(int fd, int32_t access);

}  // namespace bw::dos
