// app/backup_rotation.h - the seven backup copies of "database.soup": the
// rotation at shutdown by file age, and the restore at start-up that
// replaces a database beyond repair by the newest copy left.
//
// Every name is relative to the current directory ("PROGDIR:"); ages are
// modification times in UTC seconds (isFileNewerBy). Renames never replace
// an existing file, and a rename or delete whose source is missing does
// nothing.
//
// Invariants:
//   1. A copy moves only towards older names; bak_1Latest becomes
//      bak_2KnownGood only after a check-only repairDatabase passed (one
//      that fails is set aside under a "database.soup_Corrupt_" name, the
//      live database is marked for repair and the fresh copy dropped,
//      leaving the known-good copies as they were); only bak_2KnownGood is
//      promoted to the daily or weekly name, and to weekly only after a
//      check-only repairDatabase passed. A weekly candidate that fails is
//      set aside under a "database.soup_Corrupt_" name, the live database is
//      marked for repair and the fresh copy dropped; bak_1Latest, checked
//      just before, becomes the known-good copy.
//   2. A backup is checked through a copy of its own: the check opens a
//      database, which writes it, so the backup itself is never written nor
//      made to look newer. The fresh copy of the database is made under an
//      owned "database.soup_Copy_" name and renamed to bak_1Latest last: a
//      run killed or stopped (Ctrl-C raises "BRK") before leaves the backups
//      as they were and its copies to the next start, which deletes them.
//   3. The restore never puts a backup in place of "database.soup" unless
//      the bad database was moved aside first. It takes the newest backup
//      that opens and passes a check-only repair, as a checked copy: the
//      backup itself stays. Only a failed check sets a backup aside (under a
//      "_Corrupt_" name), and only when none passes, so that the next start
//      begins afresh instead of meeting them again. A copy that cannot be
//      renamed into place because another start put a database there first
//      is dropped, and the restore answers so that the caller opens that
//      database; every other ending raises "ERR" (a copy without room on
//      the disk says so, the backups as they were, for the next start).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/str.h"
#include "platform/owned_names.h"

namespace bw {

inline constexpr const char* kDatabaseName = "database.soup";
inline constexpr const char* kDefaultDatabaseName = "database.soup.default";
inline constexpr const char* kBackupDumpName = "database.backup";
inline constexpr const char* kCorruptPrefix = "database.soup_Corrupt_";
// Owned names (platform/owned_names.h) of the copies a run makes for a
// while: the default or a backup checked before it is renamed into place,
// the database moved from an earlier version's folder.
inline constexpr const char* kCopyPrefix = "database.soup_Copy_";
inline constexpr const char* kRestorePrefix = "database.soup_Restore_";
inline constexpr const char* kMovePrefix = "database.soup_Move_";
// Copies of backups that earlier versions' rescues of lost feeds made (the
// rescue reads backups in place now): any left go at the next start.
inline constexpr const char* kRescuePrefix = "database.soup_Rescue_";
inline constexpr const char* kBackupTemp = "database.soup.bak_0Temp";
inline constexpr const char* kBackupLatest = "database.soup.bak_1Latest";
inline constexpr const char* kBackupKnownGood = "database.soup.bak_2KnownGood";
inline constexpr const char* kBackupDaily = "database.soup.bak_3Daily";
inline constexpr const char* kBackupOneDayOld = "database.soup.bak_4OneDayOld";
inline constexpr const char* kBackupWeekly = "database.soup.bak_5Weekly";
inline constexpr const char* kBackupOneWeekOld = "database.soup.bak_6OneWeekOld";

inline constexpr int32_t kCopyInterval = 10800;     // 3 hours
inline constexpr int32_t kDailyInterval = 57600;    // 16 hours
inline constexpr int32_t kWeeklyInterval = 561600;  // 6.5 days

// Shows a status message (GUI mode); empty in shell mode.
using StatusLine = std::function<void(std::string_view)>;

// How a rotation ended.
struct Rotation {
  // A backup failed its check: it was set aside and the user told; the
  // database is marked for repair at the next start.
  bool checkFailed = false;
};

// Rotates the copies after the database was closed. verbose is passed to
// the checks. A fresh copy (or a copy to check) that cannot be made raises
// ("FULL" for a full disk, else "FILE" naming why), a Ctrl-C "BRK"; each
// leaves every backup as it was.
Rotation rotateBackups(bool verbose, const StatusLine& status);

// Deletes the copies runs that ended left (see kCopyPrefix, kRescuePrefix), and a
// "database.soup.bak_0Temp" an earlier version's rotation left.
void removeLeftCopies();

// The backups a restore tries, newest first.
inline constexpr const char* kRestoreOrder[] = {kBackupTemp,   kBackupLatest,  kBackupKnownGood, kBackupDaily,
                                                kBackupOneDayOld, kBackupWeekly, kBackupOneWeekOld};

// Whether any backup of kRestoreOrder is there.
bool anyBackupExists();

// Moves the bad "database.soup" aside (when there is one: databaseMissing
// false), puts a checked copy of the newest good backup in its place,
// marked for validation at the next start, tells the user what it holds and
// raises "ERR". A problem (why the database did not open) opens that one
// report. Answers without raising only when another start put a database
// in place meanwhile: the caller opens that one.
void restoreFromBackup(bool databaseMissing = false, const std::string& problem = "");

// What a database file holds when it passes a check-only repair.
struct CopyCheck {
  bool good = false;
  int64_t feeds = 0;
  int64_t items = 0;
  // Items dropped because their records did not read (dropUnreadable).
  int64_t itemsRemoved = 0;
};

// Opens the database at path (a copy: opening writes it), checks it without
// changing it and counts what it holds; one that passes is left marked for
// validation, with its time. One that does not open, or raises on its
// content, fails; a full disk, a break or no memory passes on. With
// dropUnreadable, a copy whose structures and feeds are sound but some of
// whose items do not read passes too, without those items.
CopyCheck checkCopy(Text path, bool verbose, bool dropUnreadable = false);

// A new unique "database.soup_Corrupt_" name.
Str newCorruptName();
// Sets the repair flag of a database file without making it look newer.
void markForRepair(const char* path);

}  // namespace bw
