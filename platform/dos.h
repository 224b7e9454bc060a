// platform/dos.h - the file model of the DOS layer: locks, examining,
// directory scans, files, protection, comments, dates, renames, deletes,
// links and names, with AmigaDOS semantics over POSIX.
//
// Every procedure takes native paths (see native_path.h) and reports
// failure by its result, with the DOS error code left in ioErr()
// (dos_errors.h). Nothing here raises.
//
// Invariants:
//   1. A Lock is an O_PATH|O_CLOEXEC descriptor; a FileHandle an ordinary
//      O_CLOEXEC descriptor. Both close on destruction (UnLock, Close).
//   2. Locks and handles of this process on one object obey AmigaDOS
//      sharing: an exclusive lock (or a MODE_NEWFILE handle) is refused
//      (202) while any other lock or handle on the object is held, and
//      nothing is granted while an exclusive one is.
//   3. Lock and open follow soft links; examinePath with followLinks false,
//      DirScan and deleteFile see a link itself.
//   4. Protection bits 0-3 are active low as on the Amiga and come from the
//      owner's mode bits: R (8) set when u-r is missing, W (4) when u-w is,
//      E (2) when u-x is; D (1) mirrors W. Bits 9-11 are group x, w, r and
//      bits 13-15 others' x, w, r (set = allowed). H, S, P, A read 0 and are
//      ignored when set. setuid, setgid and sticky are kept.
//   5. The layer enforces R, W and D itself (it may run as root): opening a
//      read-protected file fails with 224, writing into a write-protected
//      one with 223, deleting a delete-protected object with 222.
//   6. rename never replaces an existing object (203); renameReplacing is
//      the one call that does. After either, the folder of the new name is
//      fsynced.
//   7. An examined date is the local time of st_mtime in whole seconds;
//      FileInfo keeps st_mtime beside it so that setting the examined date
//      back never moves the file by an hour in the repeated hour of autumn.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "core/str.h"
#include "platform/time.h"

namespace bw::dos {

// Lock access.
inline constexpr int32_t kSharedLock = -2;
inline constexpr int32_t kExclusiveLock = -1;
// Open modes.
inline constexpr int32_t kModeReadWrite = 1004;  // existing or new, not truncated
inline constexpr int32_t kModeOldFile = 1005;    // existing only
inline constexpr int32_t kModeNewFile = 1006;    // new or truncated
// Seek modes.
inline constexpr int32_t kOffsetBeginning = -1;
inline constexpr int32_t kOffsetCurrent = 0;
inline constexpr int32_t kOffsetEnd = 1;
// Entry types.
inline constexpr int32_t kTypeRoot = 1;
inline constexpr int32_t kTypeDir = 2;
inline constexpr int32_t kTypeSoftLink = 3;
inline constexpr int32_t kTypeFile = -3;
inline constexpr int32_t kTypePipe = -5;
// Protection bits.
inline constexpr uint32_t kProtDelete = 1;
inline constexpr uint32_t kProtExecute = 2;
inline constexpr uint32_t kProtWrite = 4;
inline constexpr uint32_t kProtRead = 8;
// Longest comment.
inline constexpr size_t kMaxCommentLength = 79;
// Attribute bits that can be kept on this host: readable and writable
// (deletable follows writable; hold is not kept).
inline constexpr int32_t kSupportedAttributes = 6;

// What examining an object gives (the AmigaDOS FileInfoBlock).
struct FileInfo {
  int32_t entryType = 0;
  std::string name;  // the object's own name (empty for the root)
  uint32_t protection = 0;
  int64_t size = 0;
  DateStamp date;  // local time, whole seconds
  std::string comment;
  bool commentRead = false;  // false when examined without the comment
  // Host facts behind the date: st_mtime (UTC) to the nanosecond.
  int64_t mtimeSeconds = 0;
  int64_t mtimeNanoseconds = 0;
};

// How much a scan or an examination reads.
enum class Detail {
  type,     // name and type only
  full,     // and protection, size, date
  comment,  // and the comment
};

class Lock {
 public:
  Lock() = default;  // no lock (the AmigaDOS 0)
  Lock(Lock&& other) noexcept;
  Lock& operator=(Lock&& other) noexcept;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  ~Lock() { unLock(); }

  explicit operator bool() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  int32_t access() const { return access_; }
  void unLock();

 private:
  friend Lock adoptLock(int fd, int32_t access);
  int fd_ = -1;
  int32_t access_ = kSharedLock;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

class FileHandle {
 public:
  FileHandle() = default;
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { close(); }

  explicit operator bool() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  bool writable() const { return writable_; }
  // Close; false when the host reported an error on close.
  bool close();

  // Read: the bytes read (fewer only at the end), -1 on failure. Loops over
  // partial reads and EINTR.
  int64_t read(void* buffer, int64_t length);
  // Write: the bytes written (all, or -1 on failure).
  int64_t write(const void* buffer, int64_t length);
  // Seek: the position before the move, -1 on failure (219 for a bad
  // position).
  int64_t seek(int64_t position, int32_t mode);
  int64_t position();
  bool setPosition(int64_t position, int32_t mode = kOffsetBeginning);
  // ChangeFileSize: the new size relative to mode; false on failure.
  bool changeSize(int64_t size, int32_t mode = kOffsetBeginning);
  // GetFileSize: -1 on failure.
  int64_t size();
  // Flush: fsync.
  bool flush();
  // ExamineFH.
  bool examine(FileInfo& info, Detail detail = Detail::comment);
  // NameFromFH: the full native name; nullopt on failure.
  std::optional<std::string> name();

 private:
  friend FileHandle openHandle(int fd, bool writable, bool exclusive, dev_t dev, ino_t ino);
  int fd_ = -1;
  bool writable_ = false;
  bool exclusive_ = false;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

// Lock (shared or exclusive); an empty lock on failure.
Lock lock(Text native, int32_t access = kSharedLock);
// DupLock: a new shared lock on the same object.
Lock dupLock(const Lock& lock);
// ParentDir: a shared lock on the folder holding the object; empty (with
// IoErr 0) for the root.
Lock parentDir(const Lock& lock);
// CurrentDir: makes the locked folder the current directory and answers a
// new lock on the one that was current before (give it back the same way).
// An empty lock with IoErr when either cannot be had; the current directory
// is then unchanged.
Lock currentDir(const Lock& lock);
// Examine the object of a lock.
bool examine(const Lock& lock, FileInfo& info, Detail detail = Detail::comment);
// Examine by path, following soft links or not.
bool examinePath(Text native, bool followLinks, FileInfo& info, Detail detail = Detail::comment);
// NameFromLock: the full native name (":home/x"); nullopt on failure.
std::optional<std::string> nameFromLock(const Lock& lock);

// ExAll / ExNext: the entries of a locked folder without "." and "..".
class DirScan {
 public:
  explicit DirScan(const Lock& folder, Detail detail = Detail::type);
  DirScan(const DirScan&) = delete;
  DirScan& operator=(const DirScan&) = delete;
  ~DirScan();
  bool ok() const { return dir_ != nullptr; }
  // The next entry; false at the end (IoErr 232) or on failure.
  bool next(FileInfo& entry);

 private:
  void* dir_ = nullptr;  // DIR*
  Detail detail_;
};

// Open a file in one of the modes above; an empty handle on failure. A
// file it makes gets the creation mode (below) less the umask.
FileHandle open(Text native, int32_t mode);

// The mode of files that open() makes: 0666 unless set. The program sets
// 0600, so that its database, backups and dumps are the user's alone.
void setCreationMode(mode_t mode);

// SetProtection: the mode that the protection word stands for.
bool setProtection(Text native, uint32_t protection);
// The protection word of a host mode, and back (keeping setuid, setgid and
// sticky of `current`).
uint32_t protectionFromMode(mode_t mode);
mode_t modeFromProtection(uint32_t protection, mode_t current);

// SetComment: an empty or NIL comment removes it; longer than 79 bytes
// fails with 220; a host without user attributes fails with 209.
bool setComment(Text native, Text comment);
// The comment of an object (empty when it has none); nullopt on failure.
std::optional<std::string> readComment(Text native, bool followLinks = true);

// SetFileDate to a local date stamp. When `examined` holds what an earlier
// examination gave and its date equals `date`, its exact st_mtime is put
// back; otherwise the local time is turned into UTC, choosing, in the hour
// that repeats when summer time ends, the reading nearest the file's
// earlier time.
bool setFileDate(Text native, const DateStamp& date, const FileInfo* examined = nullptr);

// Rename, never replacing an existing object (203).
bool rename(Text from, Text to);
// Rename replacing an existing file (for intended replacements only).
bool renameReplacing(Text from, Text to);
// DeleteFile: a file, a soft link itself, or an empty folder (216 when not
// empty); 222 when the object's D bit is set.
bool deleteFile(Text native);
// CreateDir: an exclusive lock on the new folder (mode 0777 less umask);
// empty on failure (203 when the name exists).
Lock createDir(Text native);
// MakeLink: a soft link holding `destination` (a native path, stored as
// its host form), or a hard link to the object `destination` names.
bool makeLink(Text name, Text destination, bool soft);
// ReadLink: the target of a soft link as native text (relative targets
// stay relative); nullopt when it is not a soft link (212) or on failure.
std::optional<std::string> readLink(Text native);

// Seams for tests: pretend the host lacks renameat2's no-replace flag or
// user extended attributes.
struct DosSeams {
  bool noRenameNoReplace = false;
  bool noUserXattr = false;
};
DosSeams& dosSeams();

}  // namespace bw::dos
