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
//      live database is marked for repair and bak_0Temp removed, leaving
//      the known-good copies as they were); only bak_2KnownGood is
//      promoted to the daily or weekly name, and to weekly only after a
//      check-only repairDatabase passed. A weekly candidate that fails is
//      set aside under a "database.soup_Corrupt_" name, the live database is
//      marked for repair and bak_0Temp removed; bak_1Latest, checked just
//      before, becomes the known-good copy.
//   2. The restore never puts a backup in place of "database.soup" unless
//      the bad database was moved aside first; it always ends by raising
//      "ERR".
//   3. The restore takes the newest backup that opens and passes a
//      check-only repair, as a checked copy: the backup itself stays. Only
//      when none passes are the backups set aside (under "_Corrupt_" names),
//      so that the next start begins afresh instead of meeting them again.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/str.h"

namespace bw {

inline constexpr const char* kDatabaseName = "database.soup";
inline constexpr const char* kDefaultDatabaseName = "database.soup.default";
inline constexpr const char* kBackupDumpName = "database.backup";
inline constexpr const char* kCorruptPrefix = "database.soup_Corrupt_";
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

// Rotates the copies after the database was closed. verbose is passed to
// the checks. A fresh copy that cannot be made raises ("FULL" for a full
// disk, else "FILE"), leaving every backup as it was.
void rotateBackups(bool verbose, const StatusLine& status);

// The backups a restore tries, newest first.
inline constexpr const char* kRestoreOrder[] = {kBackupTemp,   kBackupLatest,  kBackupKnownGood, kBackupDaily,
                                                kBackupOneDayOld, kBackupWeekly, kBackupOneWeekOld};

// Whether any backup of kRestoreOrder is there.
bool anyBackupExists();

// Moves the bad "database.soup" aside (when there is one: databaseMissing
// false), puts a checked copy of the newest good backup in its place,
// marked for validation at the next start, tells the user what it holds and
// raises "ERR". A problem (why the database did not open) opens that one
// report.
[[noreturn]] void restoreFromBackup(bool databaseMissing = false, const std::string& problem = "");

// A new unique "database.soup_Corrupt_" name.
Str newCorruptName();
// Sets the repair flag of a database file without making it look newer.
void markForRepair(const char* path);

}  // namespace bw
